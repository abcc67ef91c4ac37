# The library's documented approximations and truncated algorithms, written in R from their
# published formulas, for the reference scripts (source it from the repository root).
# Each gives what our routine is meant to return, so a test can compare against it tightly and
# separately measure its distance from R's exact function.

# Inverse error function in closed form with a = 0.140012; in the tails 1 - y^2 (y = 2p - 1) is
# formed as the equal 4p(1 - p), which does not cancel.
normZ <- function(p) {
  a <- 0.140012
  y <- 2 * p - 1
  L <- if (p >= 1e-3 && p <= 1 - 1e-3) log(1 - y^2) else log(4 * p * (1 - p))
  c <- 2 / (pi * a)
  e <- sqrt(sqrt((c + L / 2)^2 - L / a) - (c + L / 2))
  ifelse(p < 0.5, -sqrt(2), sqrt(2)) * e
}

# Hill (1970), algorithm 396, with P the two-tailed probability 2p.
hillT <- function(p, n) {
  if (n > 1e20) return(abs(normZ(p)))
  P <- 2 * p
  if (n == 1) return(1 / tan(pi * P / 2))
  if (n == 2) return(sqrt(2 / (P * (2 - P)) - 2))
  a <- 1 / (n - 0.5)
  b <- 48 / a^2
  c <- ((20700 * a / b - 98) * a - 16) * a + 96.36
  d <- ((94.5 / (b + c) - 3) / b + 1) * sqrt(a * pi / 2) * n
  y <- (d * P)^(2 / n)
  if ((n < 2.1 && P > 0.5) || y > a + 0.05) {
    x <- normZ(P / 2)
    y2 <- x^2
    if (n < 5) c <- c + 0.3 * (n - 4.5) * (x + 0.6)
    c <- (((0.05 * d * x - 5) * x - 7) * x - 2) * x + b + c
    y <- (((((0.4 * y2 + 6.3) * y2 + 36) * y2 + 94.5) / c - y2 - 3) / b + 1) * x
    y <- expm1(a * y^2)
  } else {
    y <- ((1 / (((n + 6) / (n * y) - 0.089 * d - 0.822) * (n + 2) * 3) + 0.5 / (n + 4)) * y - 1) *
      (n + 1) / (n + 2) + 1 / y
  }
  sqrt(n * y)
}

wilsonHilferty <- function(p, df) {
  k <- 2 / (9 * df)
  df * (1 - k + normZ(p) * sqrt(k))^3
}

# I_x(a, b) by the continued fraction cut off after 100 terms or once two successive
# coefficients differ by less than 1e-14, with y = 1 - x given separately. The prefactor
# x^a y^b / B(a, b) comes from R's own beta density.
betaFraction <- function(x, y, a, b) {
  if (x == 0) return(0)
  d <- numeric(101); d[1] <- 1; last <- 0
  for (m in 1:100) {
    k <- m %/% 2
    d[m + 1] <- if (m %% 2 == 1) -(a + k) * (a + b + k) * x / ((a + 2 * k) * (a + 2 * k + 1)) else
      k * (b - k) * x / ((a + 2 * k - 1) * (a + 2 * k))
    last <- m
    if (isTRUE(abs(d[m + 1] - d[m]) < 1e-14)) break
  }
  f <- 1 + d[last + 1]
  if (last > 1) for (m in (last - 1):1) f <- 1 + d[m + 1] / f
  # R's beta density takes 1 - x from x; read it on the smaller of x and y.
  front <- if (x <= y) dbeta(x, a, b, log = TRUE) else dbeta(y, b, a, log = TRUE)
  exp(front + log(x) + log(y)) / a / f
}
# Both tails: the fraction on the side x <= (a + 1) / (a + b + 2), the other tail its complement.
betaTails <- function(x, y, a, b) {
  if (x > (a + 1) / (a + b + 2)) { u <- betaFraction(y, x, b, a); c(1 - u, u) }
  else { l <- betaFraction(x, y, a, b); c(l, 1 - l) }
}
incompleteBetaAlg <- function(x, a, b) betaTails(x, 1 - x, a, b)[1]
tcdfAlg <- function(t, df) {
  if (df > 1000) return(pnorm(t))
  s <- sqrt(t * t + df)
  small <- df / (2 * s) / (s + abs(t)); large <- (s + abs(t)) / (2 * s)
  if (t < 0) betaTails(small, large, df / 2, df / 2)[1] else betaTails(large, small, df / 2, df / 2)[1]
}
fcdfAlg <- function(f, df1, df2) {
  s <- df1 * f + df2
  betaTails(df2 / s, df1 * f / s, df2 / 2, df1 / 2)[1]
}

# Incomplete gamma: series below x = a + 1, Laguerre continued fraction above, each at most
# 999 terms; x^a e^-x / Gamma(a) from R's gamma density. gammaCutOff is set when a sum ran out of
# terms before it settled.
gammaCutOff <- FALSE
gammaFactor <- function(a, x) exp(dgamma(x, a, log = TRUE) + log(x))
pGammaAlg <- function(a, x) {
  if (x >= a + 1) return(1 - qGammaAlg(a, x))
  if (x == 0) return(0)
  term <- gammaFactor(a, x) / a; sum <- term
  for (k in 1:999) {
    term <- term * x / (a + k); nxt <- sum + term
    if (isTRUE(nxt == sum)) return(nxt)
    sum <- nxt
  }
  gammaCutOff <<- TRUE
  sum
}
qGammaAlg <- function(a, x) {
  if (x < a + 1) return(1 - pGammaAlg(a, x))
  la <- 1; lb <- x + 1 - a; w <- gammaFactor(a, x); sum <- w / lb
  for (k in 2:999) {
    nxt <- ((k - 1 - a) * (lb - la) + (k + x) * lb) / k
    la <- lb; lb <- nxt
    w <- w * (k - 1 - a) / k
    s2 <- sum + w / (la * lb)
    if (isTRUE(s2 == sum)) return(s2)
    sum <- s2
  }
  gammaCutOff <<- TRUE
  sum
}
