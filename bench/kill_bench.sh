#!/bin/sh
# The long run of the data-safety tests: many more kills during saves,
# editing saves and imports than CI runs, and, as root, an import onto a
# real full file system (a small tmpfs).
#
#   bench/kill_bench.sh BUILD_DIR [ROUNDS [SERVER_ROUNDS]]
#
# ROUNDS (default 1000) is the number of kills for each of the kill tests
# (saves, imports over an existing workspace); SERVER_ROUNDS (default 100)
# the number of `tabulix serve` processes killed during an import that
# replaces a workspace. Prints the figures each test reports; exits non-zero
# when a test fails, i.e. when a killed process or a full disk left a
# damaged or partial workspace.
set -eu
build=${1:?usage: kill_bench.sh BUILD_DIR [ROUNDS]}
rounds=${2:-1000}
server_rounds=${3:-100}
status=0

for t in "$build/tests/engine_tests --gtest_filter=Store.KilledSaves*:StoreFaults.*" \
         "$build/tests/import_tests --gtest_filter=Importer.KilledImports*"; do
  start=$(date +%s)
  # shellcheck disable=SC2086
  if ! TABULIX_KILL_ROUNDS=$rounds $t > /tmp/kill_bench.$$ 2>&1; then
    status=1
    grep -E "Failure|FAILED|round" /tmp/kill_bench.$$ | head -20
  fi
  grep "figures" /tmp/kill_bench.$$ || true
  echo "  ($(( $(date +%s) - start )) s)"
done
rm -f /tmp/kill_bench.$$

# The server killed during an import that replaces a workspace (the one it
# has open): afterwards the old workspace is there byte for byte, or the
# whole new one; never a part. Each kill lands at a random moment of the
# time one whole import takes (measured first, with the page's polling, so
# a little longer than the import itself).
tabulix=$build/cli/tabulix
dir=$(mktemp -d)
mkdir -p "$dir/docs" "$dir/web"
echo '<!doctype html><title>Tabulix</title>' > "$dir/web/index.html"
awk 'BEGIN { print "a,b,c"; for (i = 1; i <= 15000; i++) printf "%d,x%d,yes\n", i, i % 7 }' > "$dir/docs/big.csv"
printf 'p,q\n1,2\n3,4\n' > "$dir/old.csv"
"$tabulix" import "$dir/old.csv" -o "$dir/old.tbx" > /dev/null 2>&1
extra=""
"$tabulix" serve --help 2>&1 | grep -q -- --no-token && extra=--no-token
start_server() {
  : > "$dir/out"
  # shellcheck disable=SC2086
  "$tabulix" serve --documents "$dir/docs" --port 0 --web "$dir/web" $extra > "$dir/out" 2>&1 &
  spid=$!
  url=""
  for _ in $(seq 200); do
    url=$(sed -n 's/^Open \(http[^?]*\).*/\1/p' "$dir/out" | sed 's:/$::')
    [ -n "$url" ] && break
    sleep 0.02
  done
}
post() {
  curl -s -X POST -H 'X-Tabulix-Request: 1' -H 'Content-Type: application/json' -d "$2" "$url$1"
}
begin_import() {
  cp "$dir/old.tbx" "$dir/docs/k.tbx"
  post /api/workspaces/open '{"name":"k.tbx"}' > /dev/null
  post /api/workspaces/create '{"mode":"import","name":"k","file":"big.csv","replace":true}' |
    sed -n 's/.*"job":"\([^"]*\)".*/\1/p'
}
start=$(date +%s)
start_server
t0=$(date +%s%N)
job=$(begin_import)
until curl -s "$url/api/jobs/$job" | grep -q '"finished":true'; do sleep 0.01; done
whole_us=$(( ($(date +%s%N) - t0) / 1000 ))
kill "$spid"; wait "$spid" 2> /dev/null || true
kept=0 replaced=0 partial=0 unstarted=0
for round in $(seq "$server_rounds"); do
  start_server
  job=$(begin_import)
  if [ -z "$job" ]; then unstarted=$((unstarted + 1)); kill -9 "$spid"; wait "$spid" 2> /dev/null || true; continue; fi
  sleep "$(awk -v r="$round" -v w="$whole_us" 'BEGIN { srand(r); printf "%.6f", rand() * w * 0.8 / 1e6 }')"
  kill -9 "$spid"; wait "$spid" 2> /dev/null || true
  if cmp -s "$dir/docs/k.tbx" "$dir/old.tbx"; then
    kept=$((kept + 1))
  elif "$tabulix" info "$dir/docs/k.tbx" 2> /dev/null | grep '"observations":15000' | grep -q '"variables":3}'; then
    replaced=$((replaced + 1))
  else
    partial=$((partial + 1)); echo "server round $round: a partial workspace"
  fi
done
echo "[ figures  ] $server_rounds server kills during imports over the open workspace:" \
  "$kept kept it byte for byte, $replaced replaced it whole, $partial partial, $unstarted not started" \
  "(one import: $((whole_us / 1000)) ms)"
echo "  ($(( $(date +%s) - start )) s)"
[ "$partial" = 0 ] && [ "$unstarted" = 0 ] || status=1
# The next start removes what the killed imports left.
start_server
kill "$spid"; wait "$spid" 2> /dev/null || true
left=$(find "$dir/docs" -name '.*' -type f | wc -l)
echo "  hidden files left after a restart: $left"
[ "$left" = 0 ] || status=1
rm -rf "$dir"

# A real full disk: an import that does not fit leaves no workspace or one
# that opens, and says that it failed.
if [ "$(id -u)" = 0 ] && command -v mount > /dev/null; then
  dir=$(mktemp -d)
  if mount -t tmpfs -o size=1m tmpfs "$dir" 2> /dev/null; then
    csv=$(mktemp)
    awk 'BEGIN { print "a,b,c"; for (i = 1; i <= 60000; i++) printf "%d,text %d,%d.5\n", i, i % 97, i }' > "$csv"
    if "$build/cli/tabulix" import "$csv" -o "$dir/full.tbx" > /dev/null 2> "$dir.err"; then
      echo "full disk: the import claimed success"; status=1
    else
      echo "full disk: import failed as it should: $(tail -1 "$dir.err")"
    fi
    if [ -e "$dir/full.tbx" ] && ! "$build/cli/tabulix" info "$dir/full.tbx" > /dev/null; then
      echo "full disk: the workspace left behind does not open"; status=1
    else
      echo "full disk: no damaged workspace left"
    fi
    # Over an existing workspace: it stays byte for byte.
    rm -f "$dir/full.tbx"
    printf 'p\n1\n' > "$dir.small.csv"
    "$build/cli/tabulix" import "$dir.small.csv" -o "$dir/full.tbx" > /dev/null 2>&1
    cp "$dir/full.tbx" "$dir.before"
    if "$build/cli/tabulix" import "$csv" -o "$dir/full.tbx" > /dev/null 2>&1; then
      echo "full disk: the import over a workspace claimed success"; status=1
    elif cmp -s "$dir/full.tbx" "$dir.before" && [ -z "$(find "$dir" -name '.*' -type f)" ]; then
      echo "full disk: the workspace it was to replace is unchanged, nothing hidden left"
    else
      echo "full disk: the workspace it was to replace changed"; status=1
    fi
    rm -f "$dir.small.csv" "$dir.before"
    umount "$dir"
    rm -f "$csv" "$dir.err"
  fi
  rmdir "$dir"
fi
exit $status
