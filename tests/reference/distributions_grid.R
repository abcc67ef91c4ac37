# A wide grid over every distribution routine (stats/distributions.cpp): extreme tails down to
# 1e-300, degrees of freedom from 0.01 to 1e7 and beyond, probabilities near 0 and 1, binomials of up
# to a million trials. Read by tests/stats/distributions_test.cpp; its figures are in
# docs/numerics.md.
#
# Run from the repository root:  Rscript tests/reference/distributions_grid.R
# Writes tests/data/reference/distributions_grid.csv with the columns
#   function, a1..a4 (arguments in call order), expected, r, source
# `expected` is the exact value; `r` is what R's own function returns. They differ only where R's
# function is itself an approximation (pt above 4e5 degrees of freedom, qt inverting it) and
# `source` then names the exact form used (tests/reference/exact_quantiles.R).

source(file.path("tests", "reference", "exact_quantiles.R"))
out <- if (length(commandArgs(TRUE)) > 0) commandArgs(TRUE)[1] else "tests/data/reference"
rows <- list()
add <- function(fn, args, r, expected = r, source = "") {
  a <- c(args, rep(NA, 4 - length(args)))
  rows[[length(rows) + 1]] <<- data.frame(fn = fn, a1 = a[1], a2 = a[2], a3 = a[3], a4 = a[4],
                                          expected = expected, r = r, source = source)
}

# --- Normal ---
for (z in c(-38.4, -38, -37.5, -30, -20, -10, -8.3, -5, -3, -1.5, -1, -1e-8, 0, 1e-8, 0.7, 1.96, 3, 5, 8.3,
            10, 38))
  add("normcdfz", z, pnorm(z))
for (r in list(c(-40, 10, 2), c(1e10, 0, 1e9), c(3e-10, 1e-10, 1e-10), c(100, 98, 15)))
  add("normcdf", r, pnorm(r[1], r[2], r[3]))
for (r in list(c(0, 0, 1e-10), c(3, 0, 1), c(37, 0, 1), c(1e10, 0, 1e9), c(5e-10, 1e-10, 1e-10), c(-30, 0, 1)))
  add("dnormpdf", r, dnorm(r[1], r[2], r[3]))
for (p in c(1e-300, 1e-200, 1e-100, 1e-50, 1e-20, 1e-15, 1e-10, 1e-5, 1e-3, 0.01, 0.025, 0.075, 0.3, 0.5, 0.7,
            0.925, 0.975, 0.999, 1 - 1e-5, 1 - 1e-10, 1 - 1e-15))
  add("normZForConfidence", p, qnorm(p))

# --- Student t ---
for (df in c(0.1, 0.5, 1, 3, 30, 1000, 1e6, 1e12, 1e15))
  for (x in c(0, 1, 5, 50, 1e5))
    add("dtpdf", c(x, 0, 1, df), dt(x, df))
for (df in c(0.1, 0.5, 1, 2.5, 10, 30, 100, 1000, 1001, 1499, 1e4, 1e5, 4e5, 1e6, 1e7, 1e8, 1e10, 1e12, 1e15))
  for (t in c(-1e10, -1e5, -100, -40, -10, -3, -1.32, -1, -1e-3, 0, 0.5, 1.32, 2, 10, 40, 1e5)) {
    big <- df > 4e5
    add("tcdf", c(t, df), pt(t, df), exactPt(t, df), if (big) "pbeta form of pt" else "")
  }
for (r in list(c(-1e9, 0, 0.1, 3), c(12, 10, 2, 5), c(-50, 0, 1, 2000)))
  add("tcdf", r, pt((r[1] - r[2]) / r[3], r[4]))
for (df in c(0.5, 1, 1.05, 1.2, 2, 3, 5, 7, 30, 1000, 1e5, 1e6, 1e7, 1e9, 1e21))
  for (p in c(1e-300, 1e-100, 1e-20, 1e-10, 1e-5, 5e-4, 0.025, 0.25, 0.49, 0.75, 0.975, 1 - 1e-10)) {
    r <- qt(p, df, lower.tail = FALSE)
    exact <- if (p < 0.5) exactQtUpper(p, df) else -exactQtUpper(1 - p, df)
    if (is.finite(exact)) add("tForConfidence", c(p, df), r, exact, "qt polished by Newton steps on pbeta")
  }

# --- Chi-square ---
for (df in c(0.01, 0.5, 1, 2, 10, 100, 1e4, 1e5, 1e6, 1e7))
  for (x in unique(c(1e-10, 0.01, 1, 3.84, 10, 92.2, 200, 1000, 1e4, df, df - 3 * sqrt(2 * df),
                     df + 5 * sqrt(2 * df), df + 20 * sqrt(2 * df))))
    if (x > 0) add("chicdf", c(x, df), pchisq(x, df, lower.tail = FALSE))
for (df in c(0.5, 1, 2, 3, 10, 100, 1e4, 1e6, 1e7))
  for (p in c(1e-300, 1e-100, 1e-10, 0.001, 0.025, 0.5, 0.975, 0.999, 1 - 1e-10)) {
    exact <- exactQchisq(p, df)
    if (exact >= 1e-300) add("chiXForConfidence", c(p, df), qchisq(p, df), exact,
                             "qchisq polished by Newton steps on pchisq")
  }
# The one-degree form: the value with lower tail 1 - 2 (1 - p), that is qnorm(p)^2 (R's qchisq at the
# rounded 1 - 2 (1 - p) differs from it by that rounding).
for (p in c(0.5001, 0.6, 0.9, 0.975, 0.999, 1 - 1e-10))
  add("chiXForConfidence", p, qchisq(1 - 2 * (1 - p), 1), qnorm(p)^2, "qnorm(p)^2")
for (r in list(c(0.55, 0.5, 100), c(0.5000001, 0.5, 10), c(0.9, 0.5, 100), c(0.7, 0.5, 1000), c(0.01, 0.2, 5)))
  add("dchipdf", r, dchisq((r[1] - r[2])^2 * r[3] / (r[2] * (1 - r[2])), 1))

# --- F ---
for (d in list(c(0.5, 0.5), c(1, 1), c(1, 1e5), c(2, 1e5), c(3, 30), c(5, 1e6), c(30, 3), c(100, 100),
               c(1100, 1100), c(1e4, 1e4), c(1e5, 2), c(1e6, 1e6), c(1e7, 10)))
  for (f in c(1e-6, 0.01, 0.5, 1, 1.05, 2, 10, 100, 1e4, 1e6))
    add("fcdf", c(f, d), pf(f, d[1], d[2], lower.tail = FALSE))

# --- Random points (fixed seed) between the grid lines: t, the quantiles, chi-square and F ---
set.seed(7)
for (i in 1:400) {
  df <- 10^runif(1, -0.5, 7)
  t <- sign(runif(1) - 0.5) * 10^runif(1, -3, 2)
  add("tcdf", c(t, df), pt(t, df), exactPt(t, df), if (df > 4e5) "pbeta form of pt" else "")
  p <- 10^runif(1, -250, log10(0.49))
  q <- exactQtUpper(p, df)
  if (is.finite(q)) add("tForConfidence", c(p, df), qt(p, df, lower.tail = FALSE), q, "qt polished by Newton steps on pbeta")
  p <- 10^runif(1, -250, 0)
  x <- exactQchisq(p, df)
  if (is.finite(x) && x > 1e-300) add("chiXForConfidence", c(p, df), qchisq(p, df), x, "qchisq polished by Newton steps on pchisq")
  x <- df * 10^runif(1, -1, 0.5)
  add("chicdf", c(x, df), pchisq(x, df, lower.tail = FALSE))
  f <- 10^runif(1, -1, 1)
  d2 <- 10^runif(1, -0.3, 6)
  add("fcdf", c(f, df, d2), pf(f, df, d2, lower.tail = FALSE))
}

# --- Binomial ---
for (n in c(10, 100, 101, 344, 400, 1000, 1e5, 1e6))
  for (p in c(1e-6, 0.01, 0.3, 0.5, 0.99))
    for (k in unique(round(c(0, 1, n * p, n / 3, n / 2 - 3 * sqrt(n), n / 2, n - 1, n)))) {
      if (k < 0 || k > n) next
      add("binomialTerm", c(n, k, p), dbinom(k, n, p))
      if (n <= 1e5 && p >= 0.3) add("bipdf", c(k, p, n), dbinom(k, n, p))
    }
for (r in list(c(3.7, 0.5, 400.9), c(170.2, 0.5, 400), c(33333.9, 0.3, 1e5 + 0.5)))
  add("dbipdf", r, dbinom(trunc(r[1]), trunc(r[3]), r[2]))
# Two-sided rule 1 - (mass of outcomes no more likely than x) / 2. Mirrored outcomes of p = 1/2
# are exact ties (R's densities of k and n - k may differ in the last bit, hence the 1e-7);
# other cases are kept only without near-ties, which rounding could decide either way.
bicdfRule <- function(x, p, n) {
  d <- dbinom(0:n, n, p)
  1 - 0.5 * sum(d[d <= dbinom(x, n, p) * (1 + 1e-7)])
}
nearTie <- function(x, p, n) {
  others <- dbinom(setdiff(0:n, x), n, p)
  any(abs(others / dbinom(x, n, p) - 1) < 1e-7)
}
for (n in c(344, 400, 1000, 10000, 1e5))
  for (x in unique(round(c(n / 2, n / 2 - 2 * sqrt(n), n / 2 - 6 * sqrt(n), n / 2 + 9 * sqrt(n)))))
    add("bicdf", c(x, 0.5, n), bicdfRule(x, 0.5, n))
for (r in list(c(100, 0.3, 400), c(150, 0.3, 400), c(2900, 0.3, 10000), c(40, 0.01, 3000)))
  if (!nearTie(r[1], r[2], r[3])) add("bicdf", r, bicdfRule(r[1], r[2], r[3]))

# Both binomial tails (R's pbinom), P(X <= x) and P(X >= x), across the bulk and far into the tails.
for (n in c(10, 100, 1000, 1e4, 1e5, 1e6))
  for (p in c(1e-6, 0.01, 0.3, 0.5, 0.99)) {
    s <- sqrt(n * p * (1 - p))
    for (k in unique(round(c(0, 1, n * p - 8 * s, n * p - 2 * s, n * p, n * p + 2 * s, n * p + 8 * s, n / 2,
                             n - 1, n)))) {
      if (k < 0 || k > n) next
      add("biLowerTail", c(k, p, n), pbinom(k, n, p))
      add("biUpperTail", c(k, p, n), pbinom(k - 1, n, p, lower.tail = FALSE))
    }
  }

# --- Incomplete gamma, beta function, incomplete beta ---
for (a in c(1e-3, 0.5, 5, 100, 1e4, 1e5, 1e6, 5e6))
  for (x in c(1e-10, 0.1 * a, 0.5 * a, a - 3 * sqrt(a), a, a + 1, a + 3 * sqrt(a), 1.5 * a, 3 * a, 10 * a,
              a + 10 * sqrt(a))) {
    if (x <= 0) next
    add("p_gamma", c(a, x), pgamma(x, a))
    add("q_gamma", c(a, x), pgamma(x, a, lower.tail = FALSE))
  }
for (a in c(1e-3, 0.5, 3, 30, 1e3, 1e6, 1e12, 1e15))
  for (b in c(1e-3, 0.5, 30, 1e6, 1e15)) {
    add("logBeta", c(a, b), lbeta(a, b))
    add("betaFunction", c(a, b), beta(a, b))
  }
for (ab in list(c(0.01, 0.01), c(0.5, 0.5), c(0.5, 30), c(5, 5), c(30, 0.5), c(100, 3), c(550, 550),
                c(1e4, 1e4), c(1e5, 10), c(0.5, 5e6), c(5e6, 5e6)))
  for (x in c(1e-300, 1e-10, 1e-7, 0.01, 0.3, 0.5, 0.7, 0.99, 1 - 1e-10))
    add("incompleteBeta", c(x, ab), pbeta(x, ab[1], ab[2]))
for (x in c(-1e15 - 0.5, -0.5, 0.49999999999999994, 2.5, 4503599627370495.5))
  add("roundHalfUp", x, floor(x + 0.5))

table <- do.call(rbind, rows)
fmt <- function(v) ifelse(is.nan(v), "NaN", ifelse(is.na(v), "", sprintf("%.17g", v)))
lines <- paste(table$fn, fmt(table$a1), fmt(table$a2), fmt(table$a3), fmt(table$a4),
               fmt(table$expected), fmt(table$r), table$source, sep = ",")
dir.create(out, showWarnings = FALSE, recursive = TRUE)
writeLines(c("function,a1,a2,a3,a4,expected,r,source", lines), file.path(out, "distributions_grid.csv"))
cat(length(lines), "rows written to", file.path(out, "distributions_grid.csv"), "\n")
