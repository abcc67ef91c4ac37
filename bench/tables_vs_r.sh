#!/usr/bin/env bash
# Times, in one run and on the same 100,000 rows, the one-way ANOVA by a
# 20-level variable and a 20 x 20 two-way table from request to JSON
# (bench/tables_bench) against R: aov + tapply(quantile) + density per
# group, and table + chisq.test.
#   bench/tables_vs_r.sh [BUILD_DIR]      (default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
cmake --build "$build" --target tables_bench -j2 >/dev/null

echo "== Tabulix: request to JSON on a worker Model, 100,000 rows"
"$build/bench/tables_bench" --benchmark_min_time=2 | grep BM_

echo "== R, same data"
Rscript -e '
r <- 1:100000
lv <- function(p, r, m) paste0(p, (r * m) %% 37 %% 20 + 1)
d <- data.frame(value = ifelse(r %% 50 == 0, NA, ((r * 7919) %% 100000) / 100),
                g = lv("g", r, 1), a = lv("a", r, 3), b = lv("b", r %/% 7, 5))
time <- function(f) { f(); t <- sapply(1:7, function(i) system.time(f())[["elapsed"]]); 1000 * median(t) }
anova <- function() {
  x <- d[!is.na(d$value), ]
  s <- summary(aov(value ~ g, data = x))
  q <- tapply(x$value, x$g, quantile, probs = c(0, .25, .5, .75, 1))
  k <- tapply(x$value, x$g, function(v) density(v, n = 100))
  list(s, q, k)
}
twoway <- function() { t <- table(d$a, d$b); chisq.test(t, correct = FALSE) }
cat(sprintf("R aov + tapply(quantile) + density per group: median %.1f ms over 7 runs\n", time(anova)))
cat(sprintf("R table + chisq.test (20 x 20): median %.1f ms over 7 runs\n", time(twoway)))
'
