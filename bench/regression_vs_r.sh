#!/usr/bin/env bash
# Times our least squares and logistic regression against R's lm.fit and glm.fit
# on the same data in one run: R generates 100,000 x 10 predictors (plus a
# constant) with a linear and a 0/1 response, writes them to a file, times its
# own fits, then regression_bench fits the very same file.
#
# Usage: bench/regression_vs_r.sh [build-dir]     (default: build/release)
# Both sides resolve BLAS through the system's alternatives (or LD_LIBRARY_PATH).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
cmake --build "$build" --target regression_bench -j2 >/dev/null
bench="$build/bench/regression_bench"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
data="$tmp/regression.bin"

Rscript - "$data" >"$tmp/r.txt" <<'RCODE'
args <- commandArgs(TRUE)
set.seed(20240601)
n <- 100000; p <- 10
X <- matrix(rnorm(n * p), n, p)
eta <- as.vector(0.5 + X %*% rep(c(0.3, -0.3), length.out = p))
ylin <- eta + rnorm(n)
ybin <- as.numeric(runif(n) < plogis(eta))
con <- file(args[1], "wb")
writeBin(c(n, p, ylin, ybin, as.vector(X)), con, endian = "little")
close(con)

Xc <- cbind(X, 1)
time_ms <- function(f, reps = 10) {
  f()  # warm-up
  median(replicate(reps, { s <- Sys.time(); f(); as.numeric(Sys.time() - s, units = "secs") })) * 1000
}
cat("lm.fit", time_ms(function() lm.fit(Xc, ylin)), "\n")
cat("glm.fit", time_ms(function() glm.fit(Xc, ybin, family = binomial())),
    glm.fit(Xc, ybin, family = binomial())$iter, "\n")
RCODE

TABULIX_REGRESSION_DATA="$data" "$bench" --benchmark_repetitions=10 \
  --benchmark_report_aggregates_only=true --benchmark_format=json 2>/dev/null >"$tmp/ours.json"

# The JSON report lists "name" before "real_time" within each run's record.
median_of() {  # name field
  awk -v want="$1/real_time_median" -v field="\"$2\":" '
    /"name":/ { gsub(/[",]/, "", $2); name = $2 }
    $1 == field && name == want { gsub(/,/, "", $2); print $2 + 0; exit }' "$tmp/ours.json"
}
iterations_of() {
  awk -v want="$1/real_time_median" '
    /"name":/ { gsub(/[",]/, "", $2); name = $2 }
    /"numIter":/ && name == want { gsub(/,/, "", $2); print $2 + 0; exit }' "$tmp/ours.json"
}
ols=$(median_of BM_Ols real_time)
logit=$(median_of BM_Logit real_time)
ols_cpu=$(median_of BM_Ols cpu_time)
logit_cpu=$(median_of BM_Logit cpu_time)
our_iter=$(iterations_of BM_Logit)
lm=$(awk '$1 == "lm.fit" { print $2 }' "$tmp/r.txt")
glm=$(awk '$1 == "glm.fit" { print $2 }' "$tmp/r.txt")
glm_iter=$(awk '$1 == "glm.fit" { print $3 }' "$tmp/r.txt")

awk -v ols="$ols" -v logit="$logit" -v olsc="$ols_cpu" -v logitc="$logit_cpu" -v lm="$lm" -v glm="$glm" -v gi="$glm_iter" -v oi="$our_iter" 'BEGIN {
  printf "100,000 x 10 predictors + constant, medians of 10 runs (ms)\n"
  printf "%-20s %10s %10s %8s   %s\n", "", "tabulix", "R", "ratio", "target"
  printf "%-20s %10.1f %10.1f %8.2f   <= 50 ms and <= 1.0 x lm.fit: %s\n", "least squares", ols, lm, ols / lm,
         (ols <= 50 && ols <= lm) ? "met" : "MISSED"
  printf "%-20s %10.1f %10.1f %8.2f   <= 50 ms and <= 0.5 x glm.fit: %s\n", "logistic", logit, glm, logit / glm,
         (logit <= 50 && logit <= 0.5 * glm) ? "met" : "MISSED"
  printf "(CPU time of the calling thread: least squares %.1f ms, logistic %.1f ms)\n", olsc, logitc
  printf "(logistic: tabulix stopped in iteration %d, glm.fit after %d iterations)\n", oi, gi
}'
echo "BLAS of regression_bench: $(ldd "$bench" | awk '/openblas|libblas/ { print $3 }' | xargs -r readlink -f | sort -u | tr '\n' ' ')"
