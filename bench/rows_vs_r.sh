#!/usr/bin/env bash
# Times rowsWhere against R's which() on the same data: R writes a
# 100,000-row CSV (x, y normal; g one of a-d), reads it back and times which()
# for one condition (x > 0.5) and three (x > -0.5, y < 0.5, g == "a");
# tabulix imports the same file and filters_bench times the same conditions
# from a fresh store context each time.
#
# Usage: bench/rows_vs_r.sh [build-dir]     (default: build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
cmake --build "$build" --target filters_bench tabulix -j2 >/dev/null
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

Rscript - "$tmp/rows.csv" >"$tmp/r.txt" <<'RCODE'
args <- commandArgs(TRUE)
set.seed(7)
n <- 100000
d <- data.frame(x = round(rnorm(n), 6), y = round(rnorm(n), 6), g = sample(c("a", "b", "c", "d"), n, TRUE))
write.csv(d, args[1], row.names = FALSE, quote = FALSE)
d <- read.csv(args[1])
time_ms <- function(f, reps = 20) {
  f()
  median(replicate(reps, { s <- Sys.time(); f(); as.numeric(Sys.time() - s, units = "secs") })) * 1000
}
cat("one", time_ms(function() which(d$x > 0.5)), "\n")
cat("three", time_ms(function() which(d$x > -0.5 & d$y < 0.5 & d$g == "a")), "\n")
RCODE

"$build/cli/tabulix" --locale en_US import "$tmp/rows.csv" -o "$tmp/rows.tbx" >/dev/null 2>&1
TABULIX_ROWS_WORKSPACE="$tmp/rows.tbx" "$build/bench/filters_bench" --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true 2>/dev/null | tee "$tmp/ours.txt" | grep median

ours() { awk -v n="$1_median" '$1 == n { print $2 }' "$tmp/ours.txt"; }
r() { awk -v n="$1" '$1 == n { print $2 }' "$tmp/r.txt"; }
one=$(ours BM_RowsWhereOneNumeric); three=$(ours BM_RowsWhereThree)
printf 'one condition:    tabulix %.2f ms (target 20), R which() %.2f ms, ratio %.1f\n' "$one" "$(r one)" "$(echo "$one / $(r one)" | bc -l)"
printf 'three conditions: tabulix %.2f ms (target 40), R which() %.2f ms, ratio %.1f\n' "$three" "$(r three)" "$(echo "$three / $(r three)" | bc -l)"
