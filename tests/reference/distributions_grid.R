# A wide grid over every distribution routine (stats/distributions.cpp): extreme tails, degrees of
# freedom below 1 and in the millions and beyond, probabilities near 0 and 1, binomials of up to a
# million trials. Read by tests/stats/distributions_grid_test.cpp; its figures are in docs/numerics.md.
#
# Run from the repository root:  Rscript tests/reference/distributions_grid.R
# Writes tests/data/reference/distributions_grid.csv with the columns
#   function, a1..a4 (arguments in call order), expected, exact, approximation
# `exact` is R's own function. `expected` is what our routine is meant to return: R's function
# too, except where one of the library's documented approximations or iteration limits is in
# effect; there it is that algorithm written afresh in R (tests/reference/approximations.R) and
# `approximation` names it, so the distance it causes is |expected - exact|.

source(file.path("tests", "reference", "approximations.R"))
out <- if (length(commandArgs(TRUE)) > 0) commandArgs(TRUE)[1] else "tests/data/reference"
rows <- list()
add <- function(fn, args, exact, expected = exact, approximation = "") {
  a <- c(args, rep(NA, 4 - length(args)))
  rows[[length(rows) + 1]] <<- data.frame(fn = fn, a1 = a[1], a2 = a[2], a3 = a[3], a4 = a[4],
                                          expected = expected, exact = exact, approximation = approximation)
}
# A continued fraction cut off by its term limit or coefficient test counts as in effect where it
# moves the result by more than rounding does; the incomplete gamma sums where they ran out of
# terms, or where their stopping rule (a term too small to change the sum) ended them early by
# more than the 1.5e-11 that R's gamma density, their prefactor here, can be off.
gammaWhy <- function(expected, exact) {
  if (gammaCutOff) "999-term incomplete gamma"
  else if (!isTRUE(abs(expected - exact) <= 1e-10 * abs(exact))) "incomplete gamma stopping rule"
  else ""
}
differs <- function(expected, exact) !isTRUE(abs(expected - exact) <= 1e-13 * abs(exact) + 1e-300)

# --- Normal ---
for (z in c(-38, -37.5, -30, -20, -10, -8.3, -5, -1.5, -1, -1e-8, 0, 1e-8, 0.7, 1.96, 5, 8.3, 10, 38))
  add("normcdfz", z, pnorm(z))
for (r in list(c(-40, 10, 2), c(1e10, 0, 1e9), c(3e-10, 1e-10, 1e-10), c(100, 98, 15)))
  add("normcdf", r, pnorm(r[1], r[2], r[3]))
for (r in list(c(0, 0, 1e-10), c(3, 0, 1), c(37, 0, 1), c(1e10, 0, 1e9), c(5e-10, 1e-10, 1e-10), c(-30, 0, 1)))
  add("dnormpdf", r, dnorm(r[1], r[2], r[3]))
for (p in c(1e-300, 1e-100, 1e-20, 1e-10, 1e-5, 1e-3, 0.025, 0.3, 0.5, 0.7, 0.975, 0.999, 1 - 1e-5, 1 - 1e-10,
            1 - 1e-15))
  add("normZForConfidence", p, qnorm(p), normZ(p), "closed-form normal quantile")

# --- Student t ---
for (df in c(0.1, 0.5, 1, 3, 30, 1000, 1e6, 1e12, 1e15))
  for (x in c(0, 1, 5, 50, 1e5))
    add("dtpdf", c(x, 0, 1, df), dt(x, df))
for (df in c(0.1, 0.5, 1, 2.5, 10, 30, 100, 1000, 1001, 1e5, 1e10))
  for (t in c(-1e10, -1e5, -100, -40, -10, -3, -1, -1e-3, 0, 0.5, 2, 10, 40, 1e5)) {
    exact <- pt(t, df)
    expected <- tcdfAlg(t, df)
    why <- if (df > 1000) "normal limit above 1000 df" else if (differs(expected, exact)) "100-term continued fraction" else ""
    add("tcdf", c(t, df), exact, if (why == "") exact else expected, why)
  }
for (r in list(c(-1e9, 0, 0.1, 3), c(12, 10, 2, 5), c(-50, 0, 1, 2000)))
  add("tcdf", r, pt((r[1] - r[2]) / r[3], r[4]),
      tcdfAlg((r[1] - r[2]) / r[3], r[4]), if (r[4] > 1000) "normal limit above 1000 df" else "")
for (df in c(1, 2, 3, 7, 30, 1000, 1e6, 1e10, 1e21))
  for (p in c(1e-10, 1e-5, 5e-4, 0.025, 0.25, 0.49))
    add("tForConfidence", c(p, df), qt(p, df, lower.tail = FALSE), hillT(p, df), "Hill's t quantile")

# --- Chi-square ---
for (df in c(0.01, 0.5, 1, 2, 10, 100, 1e4, 1e6))
  for (x in c(1e-10, 0.01, 1, 3.84, 10, 92.2, 200, 1000, 1e4, df + 5 * sqrt(2 * df))) {
    exact <- pchisq(x, df, lower.tail = FALSE)
    gammaCutOff <- FALSE
    expected <- qGammaAlg(df / 2, x / 2)
    why <- gammaWhy(expected, exact)
    add("chicdf", c(x, df), exact, if (why == "") exact else expected, why)
  }
for (df in c(0.5, 1, 3, 10, 100, 1e4, 1e6))
  for (p in c(1e-10, 0.001, 0.025, 0.5, 0.975, 0.999, 1 - 1e-10))
    add("chiXForConfidence", c(p, df), qchisq(p, df), wilsonHilferty(p, df), "Wilson-Hilferty")
for (p in c(0.5001, 0.6, 0.9, 0.975, 0.999, 1 - 1e-10))
  add("chiXForConfidence", p, qchisq(1 - 2 * (1 - p), 1), wilsonHilferty(1 - 2 * (1 - p), 1), "Wilson-Hilferty")
for (r in list(c(0.55, 0.5, 100), c(0.5000001, 0.5, 10), c(0.9, 0.5, 100), c(0.7, 0.5, 1000), c(0.01, 0.2, 5)))
  add("dchipdf", r, dchisq((r[1] - r[2])^2 * r[3] / (r[2] * (1 - r[2])), 1))

# --- F ---
for (d in list(c(0.5, 0.5), c(1, 1), c(1, 1e5), c(2, 1e5), c(3, 30), c(5, 1e6), c(30, 3), c(100, 100),
               c(1100, 1100), c(1e4, 1e4), c(1e5, 2)))
  for (f in c(1e-6, 0.01, 0.5, 1, 1.05, 2, 10, 100, 1e4, 1e6)) {
    exact <- pf(f, d[1], d[2], lower.tail = FALSE)
    expected <- fcdfAlg(f, d[1], d[2])
    why <- if (differs(expected, exact)) "100-term continued fraction" else ""
    add("fcdf", c(f, d), exact, if (why == "") exact else expected, why)
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

# --- Incomplete gamma, beta function, incomplete beta ---
for (a in c(1e-3, 0.5, 5, 100, 1e4, 1e6))
  for (x in c(1e-10, 0.1 * a, 0.5 * a, a, a + 1, 1.5 * a, 3 * a, 10 * a, a + 10 * sqrt(a))) {
    for (fn in c("p_gamma", "q_gamma")) {
      lower <- fn == "p_gamma"
      exact <- pgamma(x, a, lower.tail = lower)
      gammaCutOff <- FALSE
      expected <- if (lower) pGammaAlg(a, x) else qGammaAlg(a, x)
      why <- gammaWhy(expected, exact)
      add(fn, c(a, x), exact, if (why == "") exact else expected, why)
    }
  }
for (a in c(1e-3, 0.5, 3, 30, 1e3, 1e6, 1e12, 1e15))
  for (b in c(1e-3, 0.5, 30, 1e6, 1e15)) {
    add("logBeta", c(a, b), lbeta(a, b))
    add("betaFunction", c(a, b), beta(a, b))
  }
for (ab in list(c(0.01, 0.01), c(0.5, 0.5), c(0.5, 30), c(5, 5), c(30, 0.5), c(100, 3), c(550, 550),
                c(1e4, 1e4), c(1e5, 10)))
  for (x in c(1e-300, 1e-10, 0.01, 0.3, 0.5, 0.7, 0.99, 1 - 1e-10)) {
    exact <- pbeta(x, ab[1], ab[2])
    expected <- incompleteBetaAlg(x, ab[1], ab[2])
    why <- if (differs(expected, exact)) "100-term continued fraction" else ""
    add("incompleteBeta", c(x, ab), exact, if (why == "") exact else expected, why)
  }
for (x in c(-1e15 - 0.5, -0.5, 0.49999999999999994, 2.5, 4503599627370495.5))
  add("roundHalfUp", x, floor(x + 0.5))

table <- do.call(rbind, rows)
fmt <- function(v) ifelse(is.nan(v), "NaN", ifelse(is.na(v), "", sprintf("%.17g", v)))
lines <- paste(table$fn, fmt(table$a1), fmt(table$a2), fmt(table$a3), fmt(table$a4),
               fmt(table$expected), fmt(table$exact), table$approximation, sep = ",")
dir.create(out, showWarnings = FALSE, recursive = TRUE)
writeLines(c("function,a1,a2,a3,a4,expected,exact,approximation", lines), file.path(out, "distributions_grid.csv"))
cat(length(lines), "rows written to", file.path(out, "distributions_grid.csv"), "\n")
