#!/usr/bin/env bash
# Times the import of a 100,000 x 20 .xlsx workbook (reading, storing, every
# variable's statistics and type) against R's readxl::read_xlsx and openpyxl
# in read-only mode reading the same file, in one run.
#   bench/xlsx_vs_readxl.sh [BUILD_DIR]      (default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
bench=$build/bench/xlsx_bench
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

$bench --generate "$work/mixed20.xlsx" 100000 20
echo "== Tabulix, 100,000 x 20 workbook ($(du -h "$work/mixed20.xlsx" | cut -f1)): reading alone, whole import"
XLSX_BENCH_FILE="$work/mixed20.xlsx" $bench | grep BM_

echo "== R: readxl::read_xlsx (reading alone)"
Rscript -e '
suppressMessages(library(readxl))
f <- commandArgs(TRUE)[1]
d <- read_xlsx(f)
stopifnot(nrow(d) == 100000)
t <- sapply(1:5, function(i) system.time(read_xlsx(f))[["elapsed"]])
cat(sprintf("readxl::read_xlsx: median %.0f ms over 5 runs\n", 1000 * median(t)))
' "$work/mixed20.xlsx"

echo "== Python: openpyxl read-only, every cell value (reading alone, one run)"
/usr/bin/python3 - "$work/mixed20.xlsx" <<'PY'
import sys, time
import openpyxl
t = time.perf_counter()
wb = openpyxl.load_workbook(sys.argv[1], read_only=True)
n = sum(1 for row in wb.active.iter_rows(values_only=True))
wb.close()
print(f"openpyxl read-only: {1000 * (time.perf_counter() - t):.0f} ms for {n} rows")
PY
