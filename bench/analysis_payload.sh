#!/usr/bin/env bash
# What the user waits for, per analysis kind on a 100,000-row workspace:
#   - through `tabulix serve` as the page uses it: POST /api/analyze, then the
#     job's result (polled until finished): bytes the page receives and the
#     round trip's wall time and the server's CPU time;
#   - the whole `tabulix analyze` process: wall and CPU time, JSON bytes;
#   - the PDF report: bytes and the whole process's wall and CPU time;
#   - the compute alone in-process on the open workspace, without and with
#     the screen's charts as SVG (bench/kinds_bench).
# The baseline, timed in the same run, is R reading the same CSV's numbers
# and fitting the same model (Rscript; skipped when R is absent).
# Targets: page payload <= 1 MB, round trip <= 300 ms, process <= 100 ms,
# PDF <= 1 MB and <= 300 ms.
#   bench/analysis_payload.sh [BINARY]   (default build/release/cli/tabulix)
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${1:-build/release/cli/tabulix}
[ -x "$bin" ] || { echo "analysis_payload: no binary at $bin" >&2; exit 2; }
work=$(mktemp -d)
pid=
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$work"' EXIT
docs=$work/docs
mkdir -p "$docs"
runs=${RUNS:-5}

awk 'BEGIN { srand(5); print "x,y,z,flag,group,band";
  for (i = 1; i <= 100000; i++) { x = rand() * 100; z = rand() * 10;
    y = 3 + 0.5 * x - 2 * z + 20 * (rand() - 0.5);
    printf "%.4f,%.4f,%.4f,%d,g%d,b%d\n", x, y, z, (y + 30 * (rand() - 0.5) > 25) ? 1 : 0, i % 2, int(rand() * 4) } }' > "$work/rows.csv"
"$bin" --locale en_US import "$work/rows.csv" -o "$docs/rows.tbx" --delimiter comma --decimal . >/dev/null 2>&1
ws=$docs/rows.tbx

# kind (2: two samples) | CLI options | server body (variables numbered from 0: x y z flag group band)
kinds=(
  "detail|--left x|{\"kind\":\"detail\",\"left\":0}"
  "correlation|--left x --right y|{\"kind\":\"correlation\",\"left\":0,\"right\":1}"
  "linear|--left y --columns x,z|{\"kind\":\"linear\",\"left\":1,\"columns\":[0,2]}"
  "logistic|--left flag --columns x,z|{\"kind\":\"logistic\",\"left\":3,\"columns\":[0,2]}"
  "means|--left x --set expected=50|{\"kind\":\"means\",\"left\":0,\"settings\":{\"expected\":\"50\"}}"
  "means2|--left x --right z --set samples=2|{\"kind\":\"means\",\"left\":0,\"right\":2,\"settings\":{\"samples\":\"2\"}}"
  "proportions|--left flag --set expected=0.5|{\"kind\":\"proportions\",\"left\":3,\"settings\":{\"expected\":\"0.5\"}}"
  "summarize|--left x --right group|{\"kind\":\"summarize\",\"left\":0,\"right\":4}"
  "twoway|--left group --right band|{\"kind\":\"twoway\",\"left\":4,\"right\":5}"
)

# Median of numbers on stdin.
median() { sort -g | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }
# Wall and CPU milliseconds of one command, as "wall cpu".
timed() {
  /usr/bin/time -f '%e %U %S' -o "$work/t" "$@" >"$work/o" 2>"$work/e" || { echo "analysis_payload: failed: $*" >&2; cat "$work/e" >&2; exit 1; }
  tail -n 1 "$work/t" | awk '{ printf "%.0f %.0f\n", $1 * 1000, ($2 + $3) * 1000 }'
}

"$bin" serve --documents "$docs" --port 0 --locale en_US >"$work/out" 2>"$work/err" &
pid=$!
url=
for _ in $(seq 1 500); do
  url=$(sed -n 's/^Open \(http[^ ]*\)$/\1/p' "$work/out")
  [ -n "$url" ] && break
  sleep 0.01
done
[ -n "$url" ] || { echo "analysis_payload: the server did not start" >&2; exit 1; }
# A server that prints an access token trades it for a cookie on the first request.
curl -sf -o /dev/null -c "$work/jar" "$url"
url=${url%%\?*}
api() { curl -sf -b "$work/jar" -H 'X-Tabulix-Request: 1' -H 'Content-Type: application/json' "$@"; }
api -o /dev/null -d '{"name":"rows.tbx"}' "${url}api/workspaces/open"

# The server's CPU milliseconds so far (user + system, from /proc).
server_cpu() { awk -v hz="$(getconf CLK_TCK)" '{ printf "%.0f\n", ($14 + $15) * 1000 / hz }' "/proc/$pid/stat"; }
# One compute as the page does it: prints "milliseconds bytes server-cpu-milliseconds".
round_trip() {
  local start id cpu
  cpu=$(server_cpu)
  start=$(date +%s%N)
  id=$(api -d "$1" "${url}api/analyze" | sed -n 's/.*"job":"\([^"]*\)".*/\1/p')
  [ -n "$id" ] || { echo "analysis_payload: no job for $1" >&2; exit 1; }
  while :; do
    api "${url}api/jobs/$id" >"$work/job"
    if grep -q '"finished":true' "$work/job"; then
      if grep -q '"result":{"error"' "$work/job"; then echo "analysis_payload: $1: $(head -c 300 "$work/job")" >&2; exit 1; fi
      break
    fi
    sleep 0.005
  done
  echo "$((($(date +%s%N) - start) / 1000000)) $(stat -c %s "$work/job") $(($(server_cpu) - cpu))"
}

echo "load: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores, $runs runs (medians)"
printf '%-14s %10s %15s %11s %11s %10s %11s %11s\n' kind "page bytes" "round wall/cpu" "cli wall" "cli cpu" "cli bytes" "pdf bytes" "pdf wall/cpu"
for k in "${kinds[@]}"; do
  IFS='|' read -r label opts body <<<"$k"
  kind=${label%2}
  : >"$work/rt"; : >"$work/cw"; : >"$work/cc"; : >"$work/pw"; : >"$work/pc"
  for _ in $(seq 1 "$runs"); do
    round_trip "$body" >>"$work/rt"
    # shellcheck disable=SC2086
    read -r w c < <(timed "$bin" --locale en_US analyze "$ws" "$kind" $opts)
    echo "$w" >>"$work/cw"; echo "$c" >>"$work/cc"
    cli_bytes=$(stat -c %s "$work/o")
    # shellcheck disable=SC2086
    read -r w c < <(timed "$bin" --locale en_US analyze "$ws" "$kind" $opts --pdf "$work/r.pdf")
    echo "$w" >>"$work/pw"; echo "$c" >>"$work/pc"
  done
  printf '%-14s %10s %9s/%-5s %11s %11s %10s %11s %5s/%-5s\n' "$label" \
    "$(awk '{ print $2 }' "$work/rt" | median)" "$(awk '{ print $1 }' "$work/rt" | median)" \
    "$(awk '{ print $3 }' "$work/rt" | median)" \
    "$(median <"$work/cw")" "$(median <"$work/cc")" "$cli_bytes" "$(stat -c %s "$work/r.pdf")" \
    "$(median <"$work/pw")" "$(median <"$work/pc")"
done

# The compute alone, as the server's job runs it on the open workspace
# (target 50 ms), and with the screen's charts drawn as SVG.
kinds_bench=$(dirname "$bin")/../bench/kinds_bench
if [ -x "$kinds_bench" ]; then
  echo "in-process, workspace open (ms, real time):"
  TABULIX_KINDS_BENCH_TBX=$ws "$kinds_bench" 2>/dev/null | awk '/\/real_time/ { split($1, p, "/"); printf "  %-12s %-11s %6.1f\n", p[1], p[2], $2 }'
fi

if command -v Rscript >/dev/null; then
  read -r w c < <(timed Rscript -e "d <- data.table::fread('$work/rows.csv'); invisible(cor.test(d\$x, d\$y)); invisible(summary(lm(y ~ x + z, d))); invisible(summary(glm(flag ~ x + z, binomial, d))); invisible(t.test(x ~ group, d))")
  echo "baseline R (fread, cor.test, lm, glm, t.test in one process): wall $w ms, cpu $c ms"
fi
