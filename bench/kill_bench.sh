#!/bin/sh
# The long run of the data-safety tests: many more kills during saves,
# editing saves and imports than CI runs, and, as root, an import onto a
# real full file system (a small tmpfs).
#
#   bench/kill_bench.sh BUILD_DIR [ROUNDS]
#
# ROUNDS (default 1000) is the number of kills for each of the two kill
# tests. Prints the figures each test reports; exits non-zero when a test
# fails, i.e. when a killed process or a full disk left a damaged workspace.
set -eu
build=${1:?usage: kill_bench.sh BUILD_DIR [ROUNDS]}
rounds=${2:-1000}
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
    umount "$dir"
    rm -f "$csv" "$dir.err"
  fi
  rmdir "$dir"
fi
exit $status
