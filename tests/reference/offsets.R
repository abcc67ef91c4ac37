# Reference figures on ill-conditioned data: values with 13 and 7 common
# leading digits (1e12 and 1e6 offsets), ten timestamps one second apart and
# nine values 123456789.000000001 ... 9 that doubles cannot tell apart; and
# the conventions the analyses follow (residual sign, McFadden's pseudo-R²,
# cor.test's p-value, binom.test's one-tailed p, a one-way ANOVA with a
# single-observation group). Writes the data the C++ tests import and the
# figures they compare with.
#   Rscript tests/reference/offsets.R   (from the repository root)
out <- "tests/data/reference"
set.seed(20261207)
n <- 30
u <- round(runif(n, 0, 3), 3)
off12 <- sprintf("%.3f", 1e12 + u)
v <- round(rnorm(n, 0, 2), 4)
off6 <- sprintf("%.4f", 1e6 + v)
y <- round(3 + 2 * u + rnorm(n, 0, 0.5), 3)
ts <- format(as.POSIXct("2026-03-01 08:00:00", tz = "UTC") + 0:9, "%Y-%m-%d %H:%M:%S")
nines <- sprintf("123456789.00000000%d", 1:9)
pad <- function(x) { z <- rep("", n); z[seq_along(x)] <- x; z }
d <- data.frame(off12 = off12, off6 = off6, y = sprintf("%.3f", y), ts = pad(ts), nines = pad(nines),
                stringsAsFactors = FALSE)
write.csv(d, file.path(out, "offsets_data.csv"), row.names = FALSE, quote = FALSE)

rows <- list()
put <- function(case, key, value) {
  rows[[length(rows) + 1]] <<- data.frame(case = case, key = key, value = sprintf("%.17g", value))
}
detail <- function(name, x) {
  m <- mean(x); s <- sd(x); k <- length(x)
  v0 <- mean((x - m)^2)
  put(name, "mean", m); put(name, "sd", s); put(name, "variance", s^2)
  put(name, "rms", sqrt(mean(x^2))); put(name, "sum", sum(x))
  put(name, "meanAbsDev", mean(abs(x - m)))
  if (s > 0) {
    put(name, "skew", mean((x - m)^3) / v0^1.5); put(name, "kurtosis", mean((x - m)^4) / v0^2 - 3)
  }
  put(name, "ciMean0", m - qt(.975, k - 1) * s / sqrt(k)); put(name, "ciMean1", m + qt(.975, k - 1) * s / sqrt(k))
  put(name, "ciVariance0", (k - 1) * s^2 / qchisq(.975, k - 1))
  put(name, "ciVariance1", (k - 1) * s^2 / qchisq(.025, k - 1))
}
x12 <- as.numeric(off12); x6 <- as.numeric(off6); yy <- as.numeric(d$y)
detail("off12", x12)
detail("off6", x6)
detail("ts", as.numeric(as.POSIXct(ts, tz = "UTC")))
detail("nines", as.numeric(nines))
# R's mean of the nine values rounds to 123456789, so its deviations are 0 and
# one unit in the last place and sd() gives 2^-26 / 2; the doubles themselves
# (seven at 123456789, two one unit above) have these figures, from the unit
# counts exactly.
k <- c(rep(0, 7), 1, 1); ulp <- 2^-26; k0 <- mean((k - mean(k))^2)
put("nines_exact", "sd", sd(k) * ulp); put("nines_exact", "variance", var(k) * ulp^2)
put("nines_exact", "meanAbsDev", mean(abs(k - mean(k))) * ulp)
put("nines_exact", "skew", mean((k - mean(k))^3) / k0^1.5)
put("nines_exact", "kurtosis", mean((k - mean(k))^4) / k0^2 - 3)

# t-tests: one sample against 1e12 + 1.5, Welch's two-sample on the halves.
t1 <- t.test(x12, mu = 1e12 + 1.5)
put("t1_off12", "t", t1$statistic); put("t1_off12", "p", t1$p.value)
t2 <- t.test(x12[1:15], x12[16:30])
put("t2_off12", "t", t2$statistic); put("t2_off12", "df", t2$parameter); put("t2_off12", "p", t2$p.value)
t6 <- t.test(x6, mu = 1e6)
put("t1_off6", "t", t6$statistic); put("t1_off6", "p", t6$p.value)

# Correlation and regression of y on the 1e12 regressor; lm on the centred
# regressor gives the slope the raw one carries.
ct <- cor.test(x12, yy)
put("cor_off12", "r", ct$estimate); put("cor_off12", "t", ct$statistic); put("cor_off12", "p", ct$p.value)
put("cor_off12", "ci0", ct$conf.int[1]); put("cor_off12", "ci1", ct$conf.int[2])
xc <- x12 - mean(x12)
fit <- lm(yy ~ xc)
put("lm_off12", "slope", coef(fit)[[2]]); put("lm_off12", "slopeSe", summary(fit)$coefficients[2, 2])
put("lm_off12", "intercept", coef(fit)[[1]] - coef(fit)[[2]] * mean(x12))
put("lm_off12", "r2", summary(fit)$r.squared)
put("lm_off12", "residual1", residuals(fit)[[1]])
fit6 <- lm(yy ~ x6)
put("lm_off6", "slope", coef(fit6)[[2]]); put("lm_off6", "r2", summary(fit6)$r.squared)

# Conventions. McFadden's pseudo-R² on mtcars am ~ wt + hp, null = intercept only.
g <- glm(am ~ wt + hp, data = mtcars, family = binomial)
g0 <- glm(am ~ 1, data = mtcars, family = binomial)
put("logit_mtcars", "LL", logLik(g)); put("logit_mtcars", "LL0", logLik(g0))
put("logit_mtcars", "r2adj", 1 - as.numeric(logLik(g)) / as.numeric(logLik(g0)))
put("logit_mtcars", "residual1", residuals(g, type = "response")[[1]])
# binom.test one-tailed: 7 successes of 10 against 0.4.
put("binom_7_10", "less", binom.test(7, 10, 0.4, alternative = "less")$p.value)
put("binom_7_10", "greater", binom.test(7, 10, 0.4, alternative = "greater")$p.value)
put("binom_7_10", "two", binom.test(7, 10, 0.4)$p.value)
# One-way ANOVA with a group of one observation.
ay <- c(1, 2, 3, 4, 5, 6, 10); ag <- c("a", "a", "a", "b", "b", "b", "c")
a <- summary(aov(ay ~ factor(ag)))[[1]]
put("anova_single", "F", a[["F value"]][1]); put("anova_single", "p", a[["Pr(>F)"]][1])
# The CI of the variance of two values 1 and 2.
put("civar_n2", "ciVariance0", 0.5 / qchisq(.975, 1)); put("civar_n2", "ciVariance1", 0.5 / qchisq(.025, 1))
# NIST StRD SmLs data through aov, for comparison (the tests use the certified F).
smls <- function(base, per) {
  mid <- c(1.4, 1.3, 1.5, 1.3, 1.5, 1.3, 1.5, 1.3, 1.5) - 1.4
  yv <- c(); gv <- c()
  for (i in 1:9) {
    dev <- c(0, rep(c(-0.1, 0.1), (per - 1) / 2))
    yv <- c(yv, base + 0.4 + mid[i] + dev + 1); gv <- c(gv, rep(i, per))
  }
  summary(aov(yv ~ factor(gv)))[[1]][["F value"]][1]
}
put("smls_aov", "F_1e12_21", smls(1e12 - 1, 21)); put("smls_aov", "F_1e12_2001", smls(1e12 - 1, 2001))
write.csv(do.call(rbind, rows), file.path(out, "offsets_expected.csv"), row.names = FALSE, quote = FALSE)
