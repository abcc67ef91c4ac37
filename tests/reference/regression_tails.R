# Fits whose coefficient p-values are far below 1e-16 (tests/stats/regression_test.cpp), from lm
# and glm, which take them from the upper tail directly.
#
# Run from the repository root:  Rscript tests/reference/regression_tails.R
# Writes tests/data/reference/regression_tail_{ols,logit}.txt in the layout of regression.R
# (design columns "x.<name>" with the constant last; coefficient lists in that order).

out_dir <- file.path("tests", "data", "reference")
write_case <- function(name, entries) {
  lines <- vapply(names(entries), function(key)
    paste(c(key, sprintf("%.17g", as.numeric(entries[[key]]))), collapse = ","), character(1))
  writeLines(lines, file.path(out_dir, paste0("regression_", name, ".txt")))
}
set.seed(11)

# A nearly exact line: t in the thousands with 48 residual degrees of freedom.
x <- 1:50
y <- 2 + 3 * x + rnorm(50, 0, 0.05)
s <- summary(lm(y ~ x))$coefficients[c("x", "(Intercept)"), ]
write_case("tail_ols", list(y = y, x.x = x, x.const = rep(1, 50), coeffs = s[, 1], se = s[, 2],
                            t = s[, 3], p = s[, 4]))

# A strong but not separating logistic effect: Wald z near 20.
n <- 3000
u <- rnorm(n)
yb <- as.numeric(runif(n) < plogis(0.3 + 2.5 * u))
g <- summary(glm(yb ~ u, family = binomial(), control = glm.control(epsilon = 1e-15, maxit = 100)))
cf <- g$coefficients[c("u", "(Intercept)"), ]
write_case("tail_logit", list(y = yb, x.u = u, x.const = rep(1, n), coeffs = cf[, 1], z = cf[, 3], p = cf[, 4]))
