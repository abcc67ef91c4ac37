# Reference values for the distribution routines (stats/distributions.cpp).
#
# Run from the source root:  Rscript tests/reference/distributions.R
# Writes tests/data/reference/distributions.csv with the columns
#   function, a1..a4 (arguments in call order, NA when unused), expected, exact
# `expected` is R's own function at the arguments; `exact` is left empty (the
# column is kept so that both reference tables read alike). The wide grid with
# the extreme tails is tests/reference/distributions_grid.R.

out <- if (length(commandArgs(TRUE)) > 0) commandArgs(TRUE)[1] else "tests/data/reference"
rows <- list()
add <- function(fn, args, expected, exact = NA) {
  a <- c(args, rep(NA, 4 - length(args)))
  rows[[length(rows) + 1]] <<- data.frame(
    fn = fn, a1 = a[1], a2 = a[2], a3 = a[3], a4 = a[4],
    expected = expected, exact = exact)
}

# --- Normal ---
for (z in c(-8, -5, -3, -1.96, -1, -0.5, 0, 0.3, 1, 1.645, 1.96, 2.5, 3, 5, 8))
  add("normcdfz", z, pnorm(z))
for (r in list(c(0, 0, 1), c(12, 10, 2), c(7.5, 10, 2), c(-3, 1, 0.5), c(100, 98, 15)))
  add("normcdf", r, pnorm(r[1], r[2], r[3]))
for (r in list(c(0, 0, 1), c(1, 0, 1), c(12, 10, 2), c(-3, 1, 0.5), c(100, 98, 15), c(40, 0, 1)))
  add("dnormpdf", r, dnorm(r[1], r[2], r[3]))
for (p in c(1e-6, 0.001, 0.01, 0.025, 0.05, 0.1, 0.25, 0.4, 0.5, 0.6, 0.75, 0.9, 0.95, 0.975, 0.99, 0.999,
            1 - 1e-6))
  add("normZForConfidence", p, qnorm(p))

# --- Student t ---
for (df in c(1, 2, 3, 4.5, 5, 10, 29, 30, 100, 500, 1000, 1001, 5000)) {
  for (t in c(-6, -3, -2, -1, -0.5, 0, 0.5, 1, 1.5, 2, 2.5, 3, 4, 6, 10)) {
    add("tcdf", c(t, df), pt(t, df))
  }
}
for (r in list(c(12, 10, 2, 5), c(7, 10, 2, 5), c(0.5, 0, 0.25, 30), c(3, 1, 1, 2000)))
  add("tcdf", r, pt((r[1] - r[2]) / r[3], r[4]))
for (r in list(c(0, 0, 1, 1), c(1, 0, 1, 3), c(12, 10, 2, 5), c(-2, 1, 0.5, 10), c(0.3, 0, 1, 60), c(2, 0, 1, 200)))
  add("dtpdf", r, dt((r[1] - r[2]) / r[3], r[4]))
for (df in c(1, 2, 3, 4, 5, 7, 10, 20, 30, 60, 120, 1000, 1e6, 1e21))
  for (p in c(0.0005, 0.005, 0.025, 0.05, 0.1, 0.25, 0.4))
    add("tForConfidence", c(p, df), qt(p, df, lower.tail = FALSE))

# --- Chi-square ---
for (df in c(1, 2, 3, 5, 10, 25, 50, 100))
  for (x in c(0, 0.001, 0.5, 1, 2, 3.841, 5, 10, 20, 50, 100, 200))
    add("chicdf", c(x, df), pchisq(x, df, lower.tail = FALSE))
for (df in c(1, 2, 5, 10, 30, 100))
  for (p in c(0.005, 0.025, 0.05, 0.5, 0.95, 0.975, 0.995))
    add("chiXForConfidence", c(p, df), qchisq(p, df))
# The one-argument form: one degree of freedom at 1 - 2 (1 - p).
for (p in c(0.6, 0.75, 0.9, 0.95, 0.975, 0.99))
  add("chiXForConfidence", p, qchisq(1 - 2 * (1 - p), 1))
# Density of v = (x - mean)^2 obs / (mean (1 - mean)) under one degree of freedom.
for (r in list(c(0.55, 0.5, 100), c(0.3, 0.25, 40), c(0.9, 0.5, 10), c(0.52, 0.5, 1000), c(0.1, 0.2, 50)))
  add("dchipdf", r, dchisq((r[1] - r[2])^2 * r[3] / (r[2] * (1 - r[2])), 1))

# --- F ---
for (d in list(c(1, 1), c(1, 10), c(2, 5), c(3, 20), c(5, 100), c(10, 10), c(20, 3), c(50, 200), c(4, 1000)))
  for (f in c(0, 0.1, 0.5, 1, 1.5, 2, 3, 5, 10, 50))
    add("fcdf", c(f, d), pf(f, d[1], d[2], lower.tail = FALSE))

# --- Binomial ---
for (r in list(c(3, 0.5, 10), c(0, 0.3, 12), c(12, 0.3, 12), c(7, 0.25, 40), c(50, 0.5, 100), c(1, 0.01, 300)))
  add("bipdf", r, dbinom(r[1], r[3], r[2]))
for (r in list(c(3.7, 0.5, 10.9), c(7.2, 0.25, 40.5), c(0.5, 0.3, 12)))
  add("dbipdf", r, dbinom(trunc(r[1]), trunc(r[3]), r[2]))
# Two-sided exact test p-value: 1 - 1/2 of the mass of outcomes no more likely
# than x. Only cases without near-ties in the comparison are kept, since a tie
# broken by rounding could go either way.
bicdfRule <- function(x, p, n) {
  d <- dbinom(0:n, n, p)
  1 - 0.5 * sum(d[d <= dbinom(x, n, p) * (1 + 1e-7)])
}
nearTie <- function(x, p, n) {
  others <- dbinom(setdiff(0:n, x), n, p)
  any(abs(others / dbinom(x, n, p) - 1) < 1e-7)
}
for (r in list(c(5, 0.5, 10), c(10, 0.5, 20), c(2, 0.3, 15), c(9, 0.3, 15), c(0, 0.1, 25),
               c(30, 0.4, 60), c(18, 0.4, 60), c(40, 0.75, 50), c(3, 0.5, 9), c(1, 0.5, 9))) {
  # With p = 0.5 the mirrored outcomes are exact ties, equal in both computations.
  if (r[2] == 0.5 || !nearTie(r[1], r[2], r[3])) add("bicdf", r, bicdfRule(r[1], r[2], r[3]))
}

# --- Helpers ---
for (a in c(0.5, 1, 2.5, 10, 50, 200))
  for (x in c(0.001, 0.1, 1, a + 0.5, a + 1, a + 2, 3 * a, 10 * a)) {
    add("p_gamma", c(a, x), pgamma(x, a))
    add("q_gamma", c(a, x), pgamma(x, a, lower.tail = FALSE))
  }
for (ab in list(c(0.5, 0.5), c(1, 1), c(2.5, 4), c(10, 20), c(60, 50), c(300, 0.5), c(1000, 1000)))
  {
    add("logBeta", ab, lbeta(ab[1], ab[2]))
    add("betaFunction", ab, beta(ab[1], ab[2]))
  }
for (ab in list(c(0.5, 0.5), c(1, 3), c(2.5, 4), c(10, 20), c(60, 50), c(5, 0.5), c(250, 250)))
  for (x in c(0, 0.01, 0.2, 0.45, 0.5, 0.55, 0.8, 0.99, 1))
    add("incompleteBeta", c(x, ab), pbeta(x, ab[1], ab[2]))
# C(n, k) p^k (1-p)^(n-k), also where n! or p^k alone would overflow or underflow.
for (r in list(c(10, 3, 0.5), c(20, 0, 0.2), c(20, 20, 0.2), c(100, 37, 0.4), c(300, 150, 0.5),
               c(1000, 10, 0.01), c(500, 250, 0.5), c(1000, 500, 0.5), c(2000, 1000, 0.5)))
  add("binomialTerm", r, dbinom(r[2], r[1], r[3]))
for (x in c(-2.5, -1.5, -0.5, -0.49, 0, 0.49, 0.5, 1.5, 2.5, 1e15 + 0.5))
  add("roundHalfUp", x, floor(x + 0.5))

table <- do.call(rbind, rows)
fmt <- function(v) ifelse(is.na(v), "", sprintf("%.17g", v))
lines <- paste(table$fn, fmt(table$a1), fmt(table$a2), fmt(table$a3), fmt(table$a4),
               fmt(table$expected), fmt(table$exact), sep = ",")
dir.create(out, showWarnings = FALSE, recursive = TRUE)
writeLines(c("function,a1,a2,a3,a4,expected,exact", lines), file.path(out, "distributions.csv"))
cat(length(lines), "rows written to", file.path(out, "distributions.csv"), "\n")
