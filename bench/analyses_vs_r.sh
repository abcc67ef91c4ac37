#!/usr/bin/env bash
# Times the bivariate analysis and the linear and logistic regressions with 10
# regressors on 100,000 rows against R's cor.test + lm + summary and glm +
# summary on the same data, in one run. R generates the data; tabulix imports
# it; analyses_bench computes each analysis from the request to its JSON.
#   bench/analyses_vs_r.sh [BUILD_DIR]      (default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
cmake --build "$build" --target analyses_bench tabulix -j2 >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

Rscript - "$work/data.csv" >"$work/r.txt" <<'RCODE'
set.seed(20261206)
n <- 100000; p <- 10
X <- matrix(round(rnorm(n * p), 6), n, p, dimnames = list(NULL, paste0("x", 1:p)))
eta <- as.vector(0.5 + X %*% rep(c(0.3, -0.3), length.out = p))
d <- data.frame(X, y = round(eta + rnorm(n), 6), b = as.numeric(runif(n) < plogis(eta)))
write.csv(d, commandArgs(TRUE)[1], row.names = FALSE, quote = FALSE)
d <- read.csv(commandArgs(TRUE)[1])  # time on the data as read back, like ours
# Median wall and CPU (user + system) time over 7 runs: on a loaded machine
# the wall time counts waiting for a core, so both sides report both.
time <- function(f) {
  f()
  t <- sapply(1:7, function(i) { s <- system.time(f()); c(s[["elapsed"]], s[["user.self"]] + s[["sys.self"]]) })
  sprintf("wall %.1f ms, cpu %.1f ms", 1000 * median(t[1, ]), 1000 * median(t[2, ]))
}
f <- as.formula(paste("y ~", paste(colnames(X), collapse = " + ")))
g <- as.formula(paste("b ~", paste(colnames(X), collapse = " + ")))
cat(sprintf("R cor.test + lm(y ~ x1) + summary: median %s\n",
            time(function() { cor.test(d$x1, d$y); summary(lm(y ~ x1, d)) })))
cat(sprintf("R lm(y ~ 10 regressors) + summary: median %s\n", time(function() summary(lm(f, d)))))
cat(sprintf("R glm(b ~ 10 regressors, binomial) + summary: median %s\n",
            time(function() summary(glm(g, binomial, d)))))
RCODE
"$build/cli/tabulix" import "$work/data.csv" -o "$work/data.tbx" >/dev/null 2>&1

echo "== Tabulix: request to JSON, 100,000 rows (bivariate; 10 regressors): wall, then cpu time"
TABULIX_ANALYSES_BENCH_TBX="$work/data.tbx" "$build/bench/analyses_bench" --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true 2>/dev/null | grep -E "BM_.*median"
echo "== R, same data, same run"
cat "$work/r.txt"
