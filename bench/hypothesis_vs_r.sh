#!/usr/bin/env bash
# Times the hypothesis tests of means and of proportions on 100,000 rows
# against R's t.test, binom.test, prop.test and mcnemar.test on the same
# data, in one run. R generates the data; tabulix imports it;
# hypothesis_bench computes each test from the request to its JSON (curves
# and layouts included). The statistics and p-values of both sides are
# printed last, so a fast but wrong answer shows.
#   bench/hypothesis_vs_r.sh [BUILD_DIR]      (default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
cmake --build "$build" --target hypothesis_bench tabulix -j2 >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

Rscript - "$work/data.csv" >"$work/r.txt" <<'RCODE'
set.seed(20261206)
n <- 100000
g <- sample(c("a", "b"), n, replace = TRUE)
x <- round(rnorm(n, 0.02 + 0.01 * (g == "b")), 6)
y <- round(x + rnorm(n, -0.005, 0.5), 6)
y[sample(n, 1000)] <- NA  # the paired test drops these rows
ok <- ifelse(runif(n) < 0.5 + 0.01 * (g == "b"), "yes", "no")
ok2 <- ifelse(runif(n) < 0.9, ok, ifelse(ok == "yes", "no", "yes"))
ok2[runif(n) < 0.02] <- "yes"
d <- data.frame(x, y, g, ok, ok2)
write.csv(d, commandArgs(TRUE)[1], row.names = FALSE, quote = FALSE, na = "")
d <- read.csv(commandArgs(TRUE)[1])  # time on the data as read back, like ours
# Median wall and CPU (user + system) time over 7 runs: on a loaded machine
# the wall time counts waiting for a core, so both sides report both.
time <- function(f) {
  f()
  t <- sapply(1:7, function(i) { s <- system.time(f()); c(s[["elapsed"]], s[["user.self"]] + s[["sys.self"]]) })
  sprintf("wall %.1f ms, cpu %.1f ms", 1000 * median(t[1, ]), 1000 * median(t[2, ]))
}
one <- function() t.test(d$x, mu = 0.01)
welch <- function() t.test(d$x[d$g == "a"], d$x[d$g == "b"])
paired <- function() t.test(d$x, d$y, paired = TRUE)
binom <- function() binom.test(sum(d$ok == "yes"), nrow(d), 0.5)
prop1 <- function() prop.test(sum(d$ok == "yes"), nrow(d), 0.5, correct = FALSE)
prop2 <- function() {
  a <- d$ok[d$g == "a"]; b <- d$ok[d$g == "b"]
  prop.test(c(sum(a == "yes"), sum(b == "yes")), c(length(a), length(b)), correct = FALSE)
}
mcnemar <- function() mcnemar.test(table(d$ok, d$ok2), correct = FALSE)
cat(sprintf("R t.test(x, mu = 0.01): median %s\n", time(one)))
cat(sprintf("R t.test(x[g == a], x[g == b]) (Welch): median %s\n", time(welch)))
cat(sprintf("R t.test(x, y, paired = TRUE): median %s\n", time(paired)))
cat(sprintf("R binom.test(yes, n, 0.5): median %s\n", time(binom)))
cat(sprintf("R prop.test(yes, n, 0.5, correct = FALSE): median %s\n", time(prop1)))
cat(sprintf("R prop.test(two groups, correct = FALSE): median %s\n", time(prop2)))
cat(sprintf("R mcnemar.test(table(ok, ok2), correct = FALSE): median %s\n", time(mcnemar)))
show <- function(name, h) cat(sprintf("figures R %-22s statistic %.10g p %.10g\n", name,
                                      if (is.null(h$statistic)) 0 else h$statistic, h$p.value))
show("one-sample t", one()); show("Welch t", welch()); show("paired t", paired())
show("binomial", binom()); show("chi-square (2 groups)", prop2()); show("McNemar", mcnemar())
RCODE
"$build/cli/tabulix" import "$work/data.csv" -o "$work/data.tbx" >/dev/null 2>&1

echo "== Tabulix: request to JSON, 100,000 rows (curves and layouts included): wall, then cpu time"
TABULIX_HYPOTHESIS_BENCH_TBX="$work/data.tbx" "$build/bench/hypothesis_bench" --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true 2>/dev/null | grep -E "BM_.*median"
echo "== R, same data, same run"
grep -v '^figures' "$work/r.txt"
echo "== Figures (statistic, p): R, then tabulix (Welch and McNemar here: R's are the same tests)"
grep '^figures' "$work/r.txt" | sed 's/^figures //'
ours() {
  "$build/cli/tabulix" analyze "$work/data.tbx" "$@" |
    sed -E 's/.*"p":([^,}]*).*"t":([^,}]*).*/\2 \1/' | { read -r t p; echo "statistic $t p $p"; }
}
printf '%-24s %s\n' "one-sample t" "$(ours means --left x --set expected=0.01)"
printf '%-24s %s\n' "Welch t" "$(ours means --left x --right x --where 'g = a' --where2 'g = b' --set samples=2)"
printf '%-24s %s\n' "paired t" "$(ours means --left x --right y --set samples=2 --set isPaired=1)"
printf '%-24s %s\n' "binomial" "$(ours proportions --left ok --set expected=0.5 --set leftLevel1=yes)"
printf '%-24s %s\n' "chi-square (2 groups)" "$(ours proportions --left ok --right ok --where 'g = a' --where2 'g = b' \
  --set samples=2 --set leftLevel1=yes --set rightLevel1=yes)"
printf '%-24s %s\n' "McNemar" "$(ours proportions --left ok --right ok2 --set samples=2 --set isPaired=1 \
  --set leftLevel1=yes --set rightLevel1=yes)"
