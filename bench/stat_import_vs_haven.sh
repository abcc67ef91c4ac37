#!/usr/bin/env bash
# Times a whole import of a 100,000 x 20 SPSS file with value labels (read in
# the child process, stored, every variable's statistics and type) against R
# reading the same file with haven::read_sav and summarising every column
# (mean, sd, quartiles, or a table of the labels), in one run.
#   bench/stat_import_vs_haven.sh [BUILD_DIR]      (default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
bench=$build/bench/import_bench
tabulix=$build/cli/tabulix
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Columns cycle through: a number, a labelled 1-5 code, a labelled yes/no,
# a date and a number with user-defined missing 99; about 2% system-missing.
Rscript -e '
suppressMessages(library(haven))
set.seed(20261206)
n <- 100000
cols <- list()
for (k in 0:19) {
  kind <- k %% 5
  v <- switch(kind + 1,
    round(50 + 15 * rnorm(n), 3),
    labelled(sample(1:5, n, TRUE), c(north = 1, south = 2, east = 3, west = 4, islands = 5)),
    labelled(sample(0:1, n, TRUE), c(no = 0, yes = 1)),
    as.Date("2000-01-01") + sample(0:8765, n, TRUE),
    labelled_spss(ifelse(runif(n) < 0.05, 99, round(runif(n) * 80, 1)), c(Refused = 99), na_values = 99))
  v[runif(n) < 0.02] <- NA
  cols[[sprintf("v%d", k)]] <- v
}
write_sav(as.data.frame(cols), commandArgs(TRUE)[1])
' "$work/labelled20.sav"

echo "== Tabulix import of a 100,000 x 20 .sav with value labels ($(du -h "$work/labelled20.sav" | cut -f1))"
IMPORT_BENCH_FILE="$work/labelled20.sav" $bench --benchmark_min_time=3 | grep BM_
/usr/bin/time -f "tabulix import: wall %e s, peak RSS %M KB" $tabulix import "$work/labelled20.sav" -o "$work/w.tbx" 2>&1 >/dev/null | tail -1

echo "== R: haven::read_sav + mean, sd, quartiles or table per column"
Rscript -e '
suppressMessages(library(haven))
f <- commandArgs(TRUE)[1]
run <- function() {
  d <- read_sav(f, user_na = FALSE)
  for (v in names(d)) {
    x <- d[[v]]
    if (is.labelled(x)) table(as_factor(x))
    else if (inherits(x, "Date")) quantile(as.numeric(x), c(.25, .5, .75), na.rm = TRUE)
    else { mean(x, na.rm = TRUE); sd(x, na.rm = TRUE); quantile(x, c(.25, .5, .75), na.rm = TRUE) }
  }
}
run()
t <- sapply(1:5, function(i) system.time(run())[["elapsed"]])
cat(sprintf("R read_sav+summaries: median %.0f ms over 5 runs\n", 1000 * median(t)))
' "$work/labelled20.sav"
