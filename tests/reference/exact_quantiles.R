# Reference forms of the t distribution and of the t and chi-square quantiles that hold to full
# double precision everywhere (source it from the repository root).
#
# R's pt switches to a normal expansion above 4e5 degrees of freedom (its relative error grows in
# the tails), and qt inverts that pt; exactPt is R's pt without that branch (the incomplete beta
# function at t^2 / (df + t^2) or at df / (df + t^2), whichever side is small), and the quantiles
# below polish R's own qt and qchisq with Newton steps on the logarithms of these accurate tails.

exactPt <- function(t, df) {
  if (is.infinite(t)) return(if (t < 0) 0 else 1)
  nx <- 1 + (t / df) * t
  two <- if (df > t * t) pbeta(t * t / (df + t * t), 0.5, df / 2, lower.tail = FALSE)
         else pbeta(1 / nx, df / 2, 0.5)
  if (t <= 0) two / 2 else 1 - two / 2
}
# ln P(T > t) for t > 0.
exactLogUpperT <- function(t, df) {
  # Beyond t = 1e150 (where df / t^2 underflows for large t) the two-sided tail is the leading
  # term of its series in y = df / t^2, y^(df/2) / ((df/2) B(df/2, 1/2)), relative error below y.
  if (t > 1e150) return(df / 2 * (log(df) - 2 * log(t)) - log(df / 2) - lbeta(df / 2, 0.5) - log(2))
  two <- if (df > t * t) pbeta(t * t / (df + t * t), 0.5, df / 2, lower.tail = FALSE, log.p = TRUE)
         else pbeta(df / (df + t * t), df / 2, 0.5, log.p = TRUE)
  two - log(2)
}
# t with upper tail p (p < 1/2), Newton steps in u = ln t on ln P(T > t) = ln p.
exactQtUpper <- function(p, df) {
  t <- qt(p, df, lower.tail = FALSE)
  if (!is.finite(t) || t <= 0) return(t)
  for (i in 1:6) {
    lt <- exactLogUpperT(t, df)
    # d ln tail / d ln t = -t dt(t) / tail
    # dt overflows in t^2 beyond 1e150: there its logarithm is taken in the form
    # ln Gamma((df + 1) / 2) - ln Gamma(df / 2) - ln(df pi) / 2 - (df + 1) / 2 (2 ln t - ln df).
    ld <- if (t > 1e150) lgamma((df + 1) / 2) - lgamma(df / 2) - log(df * pi) / 2 -
      (df + 1) / 2 * (2 * log(t) - log(df)) else dt(t, df, log = TRUE)
    step <- (lt - log(p)) * exp(lt - log(t) - ld)
    if (!is.finite(step)) break
    t <- t * exp(step)
  }
  t
}
# Chi-square value with lower tail p, Newton steps in u = ln x on the smaller tail.
exactQchisq <- function(p, df) {
  x <- qchisq(p, df)
  if (!is.finite(x) || x <= 0) return(x)
  lower <- p <= 0.5
  target <- if (lower) log(p) else log1p(-p)
  for (i in 1:6) {
    lf <- pchisq(x, df, lower.tail = lower, log.p = TRUE)
    slope <- exp(log(x) + dchisq(x, df, log = TRUE) - lf)  # |d ln tail / d ln x|
    x <- x * exp(if (lower) -(lf - target) / slope else (lf - target) / slope)
  }
  x
}
