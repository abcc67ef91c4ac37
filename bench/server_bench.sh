#!/usr/bin/env bash
# Times `tabulix serve` as a browser meets it, over loopback HTTP:
#   - start-up: from starting the process to the first answered request;
#   - the Browse grid of a 100,000-row workspace (first request after opening
#     the workspace, and repeated);
#   - the Variables screen of a 500-variable workspace (first and repeated).
# The baseline, timed in the same run, is GET /api/status: one round trip
# through the same server that touches the shared Model but reads no cells.
# Targets: grid <= 300 ms, variables <= 200 ms, start < 1 s.
#   bench/server_bench.sh [BINARY]   (default build/release/cli/tabulix)
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${1:-build/release/cli/tabulix}
[ -x "$bin" ] || { echo "server_bench: no binary at $bin" >&2; exit 2; }
command -v curl >/dev/null || { echo "server_bench: needs curl" >&2; exit 2; }
work=$(mktemp -d)
pid=
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$work"' EXIT
docs=$work/docs
mkdir -p "$docs"
runs=${RUNS:-15}

echo "Generating workspaces..." >&2
awk 'BEGIN { srand(7); print "id,group,x,y,when,label";
  for (i = 1; i <= 100000; i++)
    printf "%d,g%d,%.3f,%.2f,%02d/%02d/20%02d,item %d\n", i, i % 12, rand() * 100, rand() * 1e4, 1 + i % 12, 1 + i % 28, 10 + i % 10, i % 977 }' \
  > "$work/rows.csv"
awk 'BEGIN { srand(11); for (c = 1; c <= 500; c++) printf "%sv%d", (c > 1 ? "," : ""), c; print "";
  for (r = 1; r <= 200; r++) { for (c = 1; c <= 500; c++) printf "%s%s", (c > 1 ? "," : ""), (c % 5 == 0 ? "lvl" int(rand() * 6) : sprintf("%.2f", rand() * 100)); print "" } }' \
  > "$work/wide.csv"
"$bin" --locale en_US import "$work/rows.csv" -o "$docs/rows.tbx" --delimiter comma --decimal . >/dev/null 2>&1
"$bin" --locale en_US import "$work/wide.csv" -o "$docs/wide.tbx" --delimiter comma --decimal . >/dev/null 2>&1

now_ms() { date +%s%3N; }

# Start-up: process start to the first answered request.
start=$(now_ms)
"$bin" serve --documents "$docs" --port 0 --locale en_US >"$work/out" 2>"$work/err" &
pid=$!
url=
for _ in $(seq 1 500); do
  url=$(sed -n 's/^Open \(http[^ ]*\)$/\1/p' "$work/out")
  [ -n "$url" ] && break
  sleep 0.005
done
[ -n "$url" ] || { echo "server_bench: the server did not start" >&2; cat "$work/err" >&2; exit 1; }
curl -sf -o /dev/null "${url}api/status"
startup=$(($(now_ms) - start))

post() { curl -sf -o /dev/null -H 'X-Tabulix-Request: 1' -H 'Content-Type: application/json' -d "$2" "${url}$1"; }
# Prints the seconds of one GET.
get_time() { curl -sf -o /dev/null -w '%{time_total}\n' "${url}$1"; }
# Median, in milliseconds, of a list of seconds.
median_ms() { sort -g | awk '{ a[NR] = $1 } END { m = (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2; printf "%.1f", m * 1000 }'; }
max_ms() { sort -g | tail -1 | awk '{ printf "%.1f", $1 * 1000 }'; }

# Timings: first request after opening (each run reopens), and repeated.
measure() { # path workspace
  local first=() warm=()
  for _ in $(seq 1 "$runs"); do
    post api/workspaces/open "{\"name\":\"$2\"}"
    first+=("$(get_time "$1")")
    warm+=("$(get_time "$1")")
  done
  printf '%s\n' "${first[@]}" > "$work/first"
  printf '%s\n' "${warm[@]}" > "$work/warm"
  echo "$(median_ms < "$work/first") $(max_ms < "$work/first") $(median_ms < "$work/warm")"
}

status_times=()
for _ in $(seq 1 "$runs"); do status_times+=("$(get_time api/status)"); done
baseline=$(printf '%s\n' "${status_times[@]}" | median_ms)
read -r grid_first grid_max grid_warm < <(measure api/browse rows.tbx)
read -r vars_first vars_max vars_warm < <(measure api/variables wide.tbx)
cells=$(curl -sf "${url}api/browse" >/dev/null; post api/workspaces/open '{"name":"rows.tbx"}'; curl -sf "${url}api/browse" | grep -o '"cellCount":[0-9]*')
cards=$(post api/workspaces/open '{"name":"wide.tbx"}'; curl -sf "${url}api/variables" | grep -o '"total":[0-9]*')

printf '%-44s %10s %10s %10s\n' "server_bench ($runs runs)" "median ms" "max ms" "repeat ms"
printf '%-44s %10s\n' "baseline: GET /api/status" "$baseline"
printf '%-44s %10s %10s %10s\n' "Browse grid, 100,000 rows ($cells)" "$grid_first" "$grid_max" "$grid_warm"
printf '%-44s %10s %10s %10s\n' "Variables, 500 variables ($cards)" "$vars_first" "$vars_max" "$vars_warm"
printf '%-44s %10s\n' "start-up to first answer" "$startup"
awk -v g="$grid_max" -v v="$vars_max" -v s="$startup" 'BEGIN {
  ok = (g <= 300 && v <= 200 && s < 1000);
  printf "targets (grid <= 300, variables <= 200, start < 1000): %s\n", ok ? "met" : "MISSED"; exit ok ? 0 : 1 }'
