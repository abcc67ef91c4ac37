#!/usr/bin/env bash
# What the history of undoable steps adds to a 100,000-row workspace after
# 50 editing sessions: the file's size before and after, and the bytes the
# steps' images take (tabulix history --json). Each session edits CELLS
# cells (default 1) of random rows and variables, as `tabulix edit` does
# (one process per session, statistics recomputed).
#
# Usage: bench/history_size.sh [TABULIX] [CELLS] [SESSIONS]
set -euo pipefail
tabulix=${1:-build/release/cli/tabulix}
cells=${2:-1}
sessions=${3:-50}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Ten variables like the example's: integers, decimals, a date, a category.
awk 'BEGIN {
  srand(42);
  print "id,ozone,solar,wind,temp,month,day,date,group,score";
  for (i = 1; i <= 100000; i++)
    printf "%d,%d,%d,%.1f,%d,%d,%d,2024-%02d-%02d,%s,%.3f\n", i, int(rand() * 170), int(rand() * 330),
      rand() * 20, 55 + int(rand() * 40), 1 + int(rand() * 12), 1 + int(rand() * 28), 1 + int(rand() * 12),
      1 + int(rand() * 28), (rand() < 0.5 ? "control" : "treated"), rand() * 100
}' > "$tmp/w.csv"
"$tabulix" import "$tmp/w.csv" -o "$tmp/w.tbx" >/dev/null 2>&1
before=$(stat -c %s "$tmp/w.tbx")
names=(id ozone solar wind temp month day date group score)
RANDOM=7
start=$(date +%s.%N)
for s in $(seq "$sessions"); do
  args=()
  for c in $(seq "$cells"); do
    row=$(( (RANDOM * 32768 + RANDOM) % 100000 + 1 ))
    args+=(--set "$row:${names[$((RANDOM % 10))]}=$((RANDOM % 1000))")
  done
  "$tabulix" edit "$tmp/w.tbx" "${args[@]}" >/dev/null
done
end=$(date +%s.%N)
after=$(stat -c %s "$tmp/w.tbx")
"$tabulix" history "$tmp/w.tbx" --json > "$tmp/h.json"
steps=$(grep -o '"name"' "$tmp/h.json" | wc -l)
images=$(grep -o '"bytes":[0-9]*' "$tmp/h.json" | cut -d: -f2 | paste -sd+ | bc)
echo "sessions: $sessions of $cells cell(s) each; steps kept: $steps"
echo "file before: $before bytes; after: $after bytes (+$((after - before)), $(( (after - before) * 100 / before ))%)"
echo "history images: $images bytes ($(( images * 1000 / after )) per mille of the file)"
echo "time for the sessions: $(echo "$end - $start" | bc) s"
