# Reference figures of the bivariate analysis and of the linear and logistic
# regression analyses (tests/analyses/bivariate_regression_test.cpp), from R's
# trees, swiss, longley, stackloss and CO2 data sets.
#
# Run from the repository root:  Rscript tests/reference/bivariate_regression.R
# Writes the data sets as CSV files (analysis_<name>.csv) and the figures as
# analysis_expected.txt: one line per figure, "case.key" followed by
# comma-separated numbers ("%.17g").
out <- file.path("tests", "data", "reference")
lines <- character()
put <- function(case, entries) {
  for (key in names(entries))
    lines <<- c(lines, paste(c(paste0(case, ".", key), sprintf("%.17g", as.numeric(entries[[key]]))), collapse = ","))
}
save <- function(name, df) write.csv(df, file.path(out, paste0("analysis_", name, ".csv")), row.names = FALSE, quote = FALSE)

# --- Bivariate: cor.test and lm of y on x --------------------------------
bivariate <- function(case, x, y, rows = seq_along(x)) {
  x <- x[rows]; y <- y[rows]
  n <- length(x)
  ct <- cor.test(x, y)
  fit <- summary(lm(y ~ x))
  cf <- fit$coefficients[c("x", "(Intercept)"), ]
  r <- unname(ct$estimate)
  put(case, list(rows = rows, n = n, r = r, t = unname(ct$statistic), df = unname(ct$parameter),
                 p_t = ct$p.value,                                   # R's t-based p
                 p_fisher = 2 * pnorm(-abs(atanh(r) * sqrt(n - 3))),  # Fisher's z with the exact normal
                 ci = ct$conf.int,                                    # Fisher-z with qnorm(0.975)
                 coeffs = cf[, 1], se = cf[, 2], t_reg = cf[, 3], p_reg = cf[, 4],
                 r2 = fit$r.squared, r2adj = fit$adj.r.squared, rmse = fit$sigma,
                 xmin = min(x), xmax = max(x)))
}
save("trees", trees)
bivariate("trees", trees$Girth, trees$Volume)
save("swiss", swiss)
# Fertility on Education in the mostly Catholic provinces.
bivariate("swiss_catholic", swiss$Education, swiss$Fertility, which(swiss$Catholic > 50))

# --- Linear regression against lm ----------------------------------------
linear <- function(case, df, yvar, xvars) {
  fit <- lm(as.formula(paste(yvar, "~", paste(xvars, collapse = " + "))), data = df)
  s <- summary(fit)
  cf <- s$coefficients[c(xvars, "(Intercept)"), ]  # the constant comes last
  put(case, list(coeffs = cf[, 1], se = cf[, 2], t = cf[, 3], p = cf[, 4], N = nrow(df),
                 r2 = s$r.squared, r2adj = s$adj.r.squared, rmse = s$sigma,
                 residuals = residuals(fit)))  # observed minus fitted
}
linear("swiss", swiss, "Fertility", c("Agriculture", "Examination", "Education", "Catholic", "Infant.Mortality"))
save("longley", longley)
# Nearly collinear regressors: a test of the least squares' numerical soundness.
linear("longley", longley, "Employed", c("GNP.deflator", "GNP", "Unemployed", "Armed.Forces", "Population", "Year"))
save("stackloss", stackloss)
linear("stackloss", stackloss, "stack.loss", c("Air.Flow", "Water.Temp", "Acid.Conc."))

# --- Logistic regression against glm(binomial) ---------------------------
co2 <- data.frame(Type = as.character(CO2$Type), Treatment = as.character(CO2$Treatment),
                  conc = CO2$conc, uptake = CO2$uptake)
save("co2", co2)
# Mississippi coded 1; the binary regressor is coded 1 for "chilled", the
# level that is not the first row's.
d <- data.frame(y = as.numeric(co2$Type == "Mississippi"), chilled = as.numeric(co2$Treatment == "chilled"),
                conc = co2$conc, uptake = co2$uptake)
fit <- glm(y ~ chilled + conc + uptake, family = binomial, data = d)
s <- summary(fit)
cf <- s$coefficients[c("chilled", "conc", "uptake", "(Intercept)"), ]
p <- fitted(fit)
ll <- as.numeric(logLik(fit))
# Area under the ROC curve by the trapezoid rule over every distinct threshold.
roc_auc <- function(p, y) {
  th <- sort(unique(c(Inf, p, -Inf)), decreasing = TRUE)
  tpr <- sapply(th, function(t) mean(p[y == 1] >= t)); fpr <- sapply(th, function(t) mean(p[y == 0] >= t))
  sum(diff(fpr) * (head(tpr, -1) + tail(tpr, -1)) / 2)
}
# McFadden's null: the intercept-only model.
ll0 <- as.numeric(logLik(glm(y ~ 1, data = d, family = binomial())))
put("co2", list(coeffs = cf[, 1], se = cf[, 2], z = cf[, 3], p = cf[, 4], N = nrow(d), LL = ll,
                LL0 = ll0, pseudoR2 = 1 - ll / ll0, AIC = AIC(fit),
                AUC = roc_auc(p, d$y)))
writeLines(lines, file.path(out, "analysis_expected.txt"))
