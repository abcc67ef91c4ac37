#!/usr/bin/env bash
# Times the statistics benchmarks of two builds in one session: each program of the "before" build
# and of the "after" build is run in turn, several rounds, and the medians of the CPU times are
# compared (CPU time, because other work on a shared machine inflates wall-clock time; BLAS is
# kept to one thread so that CPU time covers all of it).
#
# Usage: bench/stats_before_after.sh BEFORE_BUILD_DIR AFTER_BUILD_DIR [rounds]
# Both build directories must hold bench/{distributions,descriptive,regression,fit}_bench, e.g. a
# build of main in a second worktree (with these benchmark sources copied in) and this tree's build.
set -euo pipefail
before=$1
after=$2
rounds=${3:-3}
# One BLAS thread, so that the CPU time of the calling thread is all the work.
export OPENBLAS_NUM_THREADS=1 OMP_NUM_THREADS=1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

for round in $(seq "$rounds"); do
  for prog in distributions_bench descriptive_bench regression_bench fit_bench; do
    for side in before after; do
      dir=$([ "$side" = before ] && echo "$before" || echo "$after")
      [ -x "$dir/bench/$prog" ] || continue
      # Console output: the CSV reporter rejects counters that only some benchmarks set.
      if ! "$dir/bench/$prog" --benchmark_min_time=0.2 --benchmark_color=false >"$tmp/out" 2>"$tmp/err"; then
        echo "$side $prog failed:" >&2
        tail -5 "$tmp/err" >&2
      fi
      # Name, real time, unit, CPU time, unit: CPU time converted to ns.
      awk -v side="$side" '$1 ~ /^BM_/ {
        f = $5 == "ms" ? 1e6 : $5 == "us" ? 1e3 : $5 == "s" ? 1e9 : 1
        print side, $1, $4 * f }' "$tmp/out" >>"$tmp/times"
    done
  done
done

# Median CPU time per benchmark and side; the ratio after / before.
awk '
  { t[$2, $1] = t[$2, $1] " " $3; names[$2] = 1 }
  function median(s,   a, n, i, j, x) {
    n = split(s, a, " ")
    for (i = 2; i <= n; i++) { x = a[i]; for (j = i - 1; j >= 1 && a[j] > x; j--) a[j + 1] = a[j]; a[j + 1] = x }
    return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
  }
  END {
    printf "%-34s %14s %14s %8s\n", "benchmark (CPU time, ns)", "before", "after", "ratio"
    for (name in names) {
      b = median(t[name, "before"]); a = median(t[name, "after"])
      printf "%-34s %14.1f %14.1f %8.3f%s\n", name, b, a, a / b, (a > 1.1 * b ? "  SLOWER" : "")
    }
  }' "$tmp/times" | sort
