#!/usr/bin/env bash
# Times deriving one variable over 100,000 rows (values on a worker Model,
# then the column, cells, statistics and type added and saved) against R
# computing the same column with transform() and writing it, in one run.
#   bench/derive_vs_r.sh [BUILD_DIR]      (default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== Tabulix: derive one variable over 100,000 rows, written, with statistics and type"
$build/bench/derive_bench --benchmark_min_time=2 | grep BM_

echo "== R: transform() + write of the new column, same data"
Rscript -e '
out <- commandArgs(TRUE)[1]
r <- 1:100000
d <- data.frame(x = ifelse(r %% 20 == 0, NA, ((r * 7919) %% 100000) / 100), y = r %% 97 + 0.5)
time <- function(f) { f(); t <- sapply(1:7, function(i) system.time(f())[["elapsed"]]); 1000 * median(t) }
csv <- function(col) write.csv(col, out, row.names = FALSE, na = "")
log10w <- function() { e <- transform(d, v = log10(x)); csv(e["v"]) }
sumw <- function() { e <- transform(d, v = x + y); csv(e["v"]) }
zw <- function() { e <- transform(d, v = (x - mean(x, na.rm = TRUE)) / sd(x, na.rm = TRUE)); csv(e["v"]) }
cat(sprintf("R transform log10(x) + write.csv: median %.0f ms over 7 runs\n", time(log10w)))
cat(sprintf("R transform x+y + write.csv: median %.0f ms over 7 runs\n", time(sumw)))
cat(sprintf("R transform Z(x) + write.csv: median %.0f ms over 7 runs\n", time(zw)))
if (requireNamespace("data.table", quietly = TRUE)) {
  fw <- function() { e <- transform(d, v = log10(x)); data.table::fwrite(e["v"], out) }
  cat(sprintf("R transform log10(x) + data.table::fwrite: median %.0f ms over 7 runs\n", time(fw)))
}
' "$work/column.csv"
