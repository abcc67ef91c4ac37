# Reference figures of the regressions' model tables, the correlation's rank
# coefficients and the detail's normality test: longley (ill-conditioned,
# regressors near collinear) and swiss for the linear model, mtcars' am for
# the logistic one (glm with tight convergence), swiss for Spearman and
# Kendall (ties), longley for Shapiro-Wilk. Writes the logistic data and
# model_figures_expected.tsv (case, key, value).
#   Rscript tests/reference/model_figures.R   (from the repository root)
out <- "tests/data/reference"
cars <- mtcars[, c("am", "mpg", "wt", "hp")]
write.csv(cars, file.path(out, "model_mtcars.csv"), row.names = FALSE, quote = FALSE)
rows <- list()
put <- function(case, key, value) {
  for (i in seq_along(value))
    rows[[length(rows) + 1]] <<- data.frame(case = case, key = if (length(value) > 1) paste0(key, i - 1) else key,
                                            value = sprintf("%.17g", value[i]))
}
linear <- function(case, data, y) {
  f <- lm(reformulate(setdiff(names(data), y), y), data = data)
  s <- summary(f)
  put(case, "F", s$fstatistic[1]); put(case, "df1", s$fstatistic[2]); put(case, "df2", s$fstatistic[3])
  put(case, "p", pf(s$fstatistic[1], s$fstatistic[2], s$fstatistic[3], lower.tail = FALSE))
  # confint in the order regressors, then the constant.
  ci <- confint(f)
  ci <- rbind(ci[-1, , drop = FALSE], ci[1, , drop = FALSE])
  put(case, "lower", ci[, 1]); put(case, "upper", ci[, 2])
  xs <- setdiff(names(data), y)
  put(case, "beta", coef(f)[xs] * sapply(data[xs], sd) / sd(data[[y]]))
  vif <- sapply(xs, function(x) 1 / (1 - summary(lm(reformulate(setdiff(xs, x), x), data = data))$r.squared))
  put(case, "vif", vif)
}
longley_data <- read.csv(file.path(out, "analysis_longley.csv"))
swiss_data <- read.csv(file.path(out, "analysis_swiss.csv"))
linear("longley", longley_data, "Employed")
linear("swiss", swiss_data, "Fertility")

g <- glm(am ~ mpg + wt + hp, family = binomial, data = cars, control = glm.control(epsilon = 1e-14, maxit = 100))
b <- coef(g); ci <- confint.default(g)
o <- c(2:length(b), 1)
put("logit", "or", exp(b[o])); put("logit", "or_lower", exp(ci[o, 1])); put("logit", "or_upper", exp(ci[o, 2]))
put("logit", "chisq", g$null.deviance - g$deviance); put("logit", "df", g$df.null - g$df.residual)
put("logit", "p", pchisq(g$null.deviance - g$deviance, g$df.null - g$df.residual, lower.tail = FALSE))
n <- nrow(cars); l0 <- -g$null.deviance / 2; l1 <- as.numeric(logLik(g))
put("logit", "nagelkerke", (1 - exp(2 * (l0 - l1) / n)) / (1 - exp(2 * l0 / n)))
pred <- fitted(g) > 0.5
put("logit", "accuracy", mean(pred == (cars$am == 1)))
put("logit", "sensitivity", sum(pred & cars$am == 1) / sum(cars$am == 1))
put("logit", "specificity", sum(!pred & cars$am == 0) / sum(cars$am == 0))

for (pair in list(c("Fertility", "Education"), c("Examination", "Agriculture"))) {
  case <- paste(pair, collapse = "_")
  x <- swiss_data[[pair[1]]]; y <- swiss_data[[pair[2]]]
  sp <- suppressWarnings(cor.test(x, y, method = "spearman", exact = FALSE))
  kd <- cor.test(x, y, method = "kendall", exact = FALSE)
  put(case, "rho", sp$estimate); put(case, "rho_p", sp$p.value)
  put(case, "tau", kd$estimate); put(case, "tau_p", kd$p.value)
}
sw <- shapiro.test(longley_data$Employed)
put("longley_employed", "W", sw$statistic); put("longley_employed", "p", sw$p.value)
write.table(do.call(rbind, rows), file.path(out, "model_figures_expected.tsv"), sep = "\t", row.names = FALSE,
            quote = FALSE)
