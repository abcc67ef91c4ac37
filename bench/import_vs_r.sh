#!/usr/bin/env bash
# Times a whole import (100,000 x 20 mixed columns) against R reading the same
# file with data.table::fread and summarising every column, in one run; then
# the 100,000 x 500 import with its peak memory.
#   bench/import_vs_r.sh [BUILD_DIR]      (default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
bench=$build/bench/import_bench
tabulix=$build/cli/tabulix
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

$bench --generate "$work/mixed20.csv" 100000 20
echo "== Tabulix import, 100,000 x 20 ($(du -h "$work/mixed20.csv" | cut -f1))"
IMPORT_BENCH_FILE="$work/mixed20.csv" $bench --benchmark_min_time=3 2>/dev/null | grep BM_
# The whole `tabulix import` process, as a user runs it: median of 5.
for i in 1 2 3 4 5; do
  rm -f "$work/w20.tbx"
  /usr/bin/time -f '%e %U %S' -o "$work/t" $tabulix import "$work/mixed20.csv" -o "$work/w20.tbx" >/dev/null 2>&1
  awk '{ printf "%.0f %.0f\n", $1 * 1000, ($2 + $3) * 1000 }' "$work/t"
done | sort -n | awk '{ w[NR] = $1; c[NR] = $2 } END { printf "tabulix import process: median %d ms wall, %d ms CPU over 5 runs\n", w[3], c[3] }' | tee "$work/ours"

echo "== R: data.table::fread + mean, sd, quartiles or table per column"
Rscript -e '
suppressMessages(library(data.table))
f <- commandArgs(TRUE)[1]
run <- function() {
  d <- fread(f, na.strings = "")
  for (v in names(d)) {
    x <- d[[v]]
    if (is.numeric(x)) { mean(x, na.rm = TRUE); sd(x, na.rm = TRUE); quantile(x, c(.25, .5, .75), na.rm = TRUE) }
    else table(x)
  }
}
run()
t <- sapply(1:5, function(i) system.time(run())[["elapsed"]])
cat(sprintf("R fread+summaries: median %.0f ms over 5 runs\n", 1000 * median(t)))
' "$work/mixed20.csv" | tee "$work/r"
awk 'FNR == 1 && FILENAME ~ /ours$/ { o = $5 } FILENAME ~ /r$/ { r = $4 } END { if (r > 0) printf "ratio (process wall / R): %.2f\n", o / r }' "$work/ours" "$work/r"
echo "load: $(cut -d' ' -f1-3 /proc/loadavg)"

$bench --generate "$work/mixed500.csv" 100000 500
echo "== Tabulix import, 100,000 x 500 ($(du -h "$work/mixed500.csv" | cut -f1)), wall time and peak memory"
/usr/bin/time -f "wall %e s, peak RSS %M KB" $tabulix import "$work/mixed500.csv" -o "$work/w500.tbx" 2>&1 >/dev/null | tail -1
