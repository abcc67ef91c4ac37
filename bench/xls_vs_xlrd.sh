#!/usr/bin/env bash
# Times, in one run and on the same file, reading a 65,535 x 20 .xls sheet
# written by xlwt (numbers as RK and NUMBER records, shared strings, dates):
# xlrd (python3-xlrd, every cell value turned into text) and our reader
# (xls_bench --read: every cell converted to text as the import gets it).
# Each figure is the best wall time of 5 runs (xlrd: 3), page cache warm.
#
# Usage: bench/xls_vs_xlrd.sh [build-dir]     (default: build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
cmake --build "$build" --target xls_bench -j2 >/dev/null
bench="$build/bench/xls_bench"
py=/usr/bin/python3   # Debian's python, which has xlwt and xlrd

data="$build/bench/xls_bench_65535x20.xls"
if [ ! -f "$data" ]; then
  "$py" - "$data" <<'PY'
import datetime, random, sys
import xlwt
random.seed(1)
wb = xlwt.Workbook()
ws = wb.add_sheet("Data")
date = xlwt.easyxf(num_format_str="M/D/YY")
levels = ["level %d" % i for i in range(1000)]
for r in range(65535):
    row = ws.row(r)
    for c in range(20):
        if c < 8:
            row.set_cell_number(c, random.random() * 1000)
        elif c < 12:
            row.set_cell_number(c, random.randrange(100000))
        elif c < 18:
            ws.write(r, c, random.choice(levels))
        else:
            ws.write(r, c, datetime.date(2000, 1, 1) + datetime.timedelta(days=random.randrange(9000)), date)
    if r % 1000 == 0:
        ws.flush_row_data()
wb.save(sys.argv[1])
PY
fi
bytes=$(stat -c %s "$data")

xlrd_out=$("$py" - "$data" <<'PY'
import sys, time
import xlrd
best = best_cpu = None
for _ in range(3):
    t0 = time.perf_counter()
    c0 = time.process_time()
    book = xlrd.open_workbook(sys.argv[1])
    sheet = book.sheet_by_index(0)
    fields = 0
    for r in range(sheet.nrows):
        texts = [str(v) for v in sheet.row_values(r)]
        fields += len(texts)
    t = time.perf_counter() - t0
    c = time.process_time() - c0
    best = t if best is None or t < best else best
    best_cpu = c if best_cpu is None or c < best_cpu else best_cpu
print("%.4f %.4f %d %d" % (best, best_cpu, sheet.nrows, fields))
PY
)
read -r xlrd_s xlrd_cpu xlrd_rows xlrd_fields <<<"$xlrd_out"
read -r ours_s ours_cpu ours_lines ours_fields <<<"$("$bench" --read="$data" --repeat=5)"

printf 'Input: %d bytes, xlwt, 65,535 rows x 20 columns\n' "$bytes"
printf '  xlrd (open + all cell values as text): %8.3f s wall, %8.3f s CPU  (%d rows, %d fields)\n' \
  "$xlrd_s" "$xlrd_cpu" "$xlrd_rows" "$xlrd_fields"
printf '  tabulix readXlsSheet (all cells text): %8.3f s wall, %8.3f s CPU  (%d lines, %d fields)\n' \
  "$ours_s" "$ours_cpu" "$ours_lines" "$ours_fields"
awk -v a="$ours_s" -v b="$xlrd_s" 'BEGIN { printf "  wall ratio ours / xlrd: %.2f; target at most 1.0 s: %s\n", a / b, (a <= 1.0 ? "met" : "NOT met") }'
