#!/usr/bin/env bash
# The variable detail and the data set export against R on the same data, in
# one run. R writes a 100,000 x 20 CSV (x normal, other columns mixed), times
# summary + quantile + sd + hist + qqnorm on x, and write.csv and
# data.table::fwrite of the whole table; tabulix imports the same file, then
# detail_bench times the detail and its PDF, and `tabulix export` the data set
# export (with its peak memory).
#
# Usage: bench/detail_vs_r.sh [build-dir]     (default: build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
cmake --build "$build" --target detail_bench tabulix -j2 >/dev/null
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

Rscript - "$tmp/d.csv" "$tmp" >"$tmp/r.txt" <<'RCODE'
suppressMessages(library(data.table))
args <- commandArgs(TRUE)
set.seed(3)
n <- 100000
d <- data.frame(x = round(rnorm(n, 50, 10), 4))
for (j in 2:20) d[[paste0("v", j)]] <- if (j %% 3 == 0) sample(c("red", "green", "blue"), n, TRUE) else round(runif(n) * 1000, 2)
fwrite(d, args[1])
d <- fread(args[1])
time_ms <- function(f, reps = 5) {
  f()
  median(replicate(reps, { s <- Sys.time(); f(); as.numeric(Sys.time() - s, units = "secs") })) * 1000
}
x <- d$x
cat("detail", time_ms(function() { summary(x); quantile(x, c(.25, .5, .75)); sd(x); hist(x, plot = FALSE); qqnorm(x, plot.it = FALSE) }), "\n")
cat("write.csv", time_ms(function() write.csv(d, file.path(args[2], "w.csv"), row.names = FALSE), 3), "\n")
cat("fwrite", time_ms(function() fwrite(d, file.path(args[2], "f.csv")), 3), "\n")
RCODE

"$build/cli/tabulix" --locale en_US import "$tmp/d.csv" -o "$tmp/d.tbx" >/dev/null 2>&1
TABULIX_DETAIL_WORKSPACE="$tmp/d.tbx" "$build/bench/detail_bench" --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true 2>/dev/null | tee "$tmp/ours.txt" | grep median
best=999999
for i in 1 2 3; do
  start=$(date +%s%N)
  /usr/bin/time -f "%M" -o "$tmp/mem.txt" "$build/cli/tabulix" export "$tmp/d.tbx" "$tmp/ours.csv" >/dev/null
  ms=$(( ($(date +%s%N) - start) / 1000000 ))
  [ "$ms" -lt "$best" ] && best=$ms
done
r() { awk -v n="$1" '$1 == n { print $2 }' "$tmp/r.txt"; }
ours() { awk -v n="$1_median" '$1 == n { print $2 }' "$tmp/ours.txt"; }
printf 'detail of 100,000 values: tabulix %s ms (target 100), R summary+quantile+sd+hist+qqnorm %.1f ms\n' "$(ours BM_Detail)" "$(r detail)"
printf 'its PDF with charts: tabulix %s ms (target 150)\n' "$(ours BM_DetailPdf)"
printf 'export of 100,000 x 20: tabulix %d ms (target 500), peak %d MB (target 200); R write.csv %.0f ms, fwrite %.0f ms\n' \
  "$best" "$(( $(cat "$tmp/mem.txt") / 1024 ))" "$(r write.csv)" "$(r fwrite)"
