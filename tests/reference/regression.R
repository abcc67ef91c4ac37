# Reference values for the regression routines (tests/stats/regression_test.cpp
# and tests/analyses/fit_test.cpp), computed by R from R's own data sets.
#
# Run from the repository root:  Rscript tests/reference/regression.R
# Writes tests/data/reference/regression_*.txt. Each line is a name followed by
# comma-separated numbers ("%.17g"); the data and R's results share one file.

out_dir <- file.path("tests", "data", "reference")
dir.create(out_dir, recursive = TRUE, showWarnings = FALSE)

write_case <- function(name, entries) {
  lines <- vapply(names(entries), function(key) {
    v <- as.numeric(entries[[key]])
    paste(c(key, sprintf("%.17g", v)), collapse = ",")
  }, character(1))
  writeLines(lines, file.path(out_dir, paste0("regression_", name, ".txt")))
}

# Data columns as "x.<name>" entries, in design order, with the constant last.
design_entries <- function(df, vars) {
  cols <- lapply(vars, function(v) df[[v]])
  names(cols) <- paste0("x.", vars)
  c(cols, list(x.const = rep(1, nrow(df))))
}

# --- Ordinary least squares against lm -----------------------------------
ols_case <- function(name, df, yvar, xvars) {
  f <- as.formula(paste(yvar, "~", paste(xvars, collapse = " + ")))
  fit <- lm(f, data = df)
  s <- summary(fit)
  ord <- c(xvars, "(Intercept)")  # our design puts the constant last
  cf <- s$coefficients[ord, , drop = FALSE]
  write_case(name, c(
    list(y = df[[yvar]]), design_entries(df, xvars),
    list(coeffs = cf[, 1], se = cf[, 2], t = cf[, 3], p = cf[, 4],
         yhat = fitted(fit), residuals = residuals(fit),  # observed minus fitted
         r2 = s$r.squared, r2adj = s$adj.r.squared, rmse = s$sigma)))
}
ols_case("ols_mtcars", mtcars, "mpg", c("wt", "hp", "qsec", "am"))
ols_case("ols_iris", iris, "Sepal.Length", c("Sepal.Width", "Petal.Length", "Petal.Width"))

# --- Logistic regression against glm --------------------------------------
# McFadden's null: the intercept-only model, n1 ln p + n0 ln(1 - p).
logLik0 <- function(y) { p <- mean(y); sum(y) * log(p) + (length(y) - sum(y)) * log(1 - p) }
logit_case <- function(name, df, yvar, xvars) {
  f <- as.formula(paste(yvar, "~", paste(xvars, collapse = " + ")))
  fit <- glm(f, data = df, family = binomial(),
             control = glm.control(epsilon = 1e-15, maxit = 100))
  s <- summary(fit)
  ord <- c(xvars, "(Intercept)")
  cf <- s$coefficients[ord, , drop = FALSE]
  n <- nrow(df)
  write_case(name, c(
    list(y = df[[yvar]]), design_entries(df, xvars),
    list(coeffs = cf[, 1], se = cf[, 2], z = cf[, 3], p = cf[, 4], yhat = fitted(fit),
         LL = as.numeric(logLik(fit)), LL0 = logLik0(df[[yvar]]), AIC = AIC(fit))))
}
logit_case("logit_mtcars", mtcars, "am", c("hp", "wt"))
logit_case("logit_infert", infert, "case", c("spontaneous", "induced", "age"))

# --- The documented Newton-Raphson loop and ROC walk, written afresh in R ---
# Gives the iteration at which the loop stops and the ROC points, which glm
# does not report in this form.
irls_roc <- function(y, X) {
  n <- length(y); k <- ncol(X)
  beta <- rep(0, k); pprev <- rep(-1, n); tol <- n * 1e-10
  r <- 0; deltas <- c()
  repeat {
    eta <- as.vector(X %*% beta)
    p <- 1 / (exp(-eta) + 1)
    w <- pmax(p * (1 - p), 1e-13)
    z <- w * eta + (y - p)
    delta <- sum(abs(p - pprev)); deltas <- c(deltas, delta)
    LL <- sum(y * log(pmax(p, 1e-10)) + (1 - y) * log(pmax(1 - p, 1e-10)))
    if (delta < tol) { converged <- TRUE; num_iter <- r; break }
    pprev <- p
    Ci <- chol2inv(chol(crossprod(X * sqrt(w))))
    beta <- as.vector(Ci %*% crossprod(X, z))
    if (r + 1 >= 200) { converged <- FALSE; num_iter <- 200; break }
    r <- r + 1
  }
  pos <- numeric(100); neg <- numeric(100)
  for (i in seq_len(n)) for (t in 0:floor(99 * p[i])) {
    if (y[i] == 1) pos[t + 1] <- pos[t + 1] + 1 else neg[t + 1] <- neg[t + 1] + 1
  }
  P <- pos[1]; N <- n - P
  roc <- c(); auc <- 0; prev <- NULL
  for (t in 1:100) {
    if (!is.null(prev) && pos[t] == prev[1] && neg[t] == prev[2]) next
    tpr <- pos[t] / P; fpr <- neg[t] / N
    if (!is.null(prev)) auc <- auc + abs(fpr - prev[4]) * (min(tpr, prev[3]) + 0.5 * abs(tpr - prev[3]))
    roc <- c(roc, tpr, fpr)
    prev <- c(pos[t], neg[t], tpr, fpr)
  }
  list(coeffs = beta, numIter = num_iter, converged = as.numeric(converged), LL = LL, LL0 = logLik0(y),
       roc = roc, AUC = auc, deltas = deltas)
}
small_case <- function(name, y, xs) {
  X <- cbind(do.call(cbind, xs), 1)
  res <- irls_roc(y, X)
  cols <- xs; names(cols) <- paste0("x.", names(xs))
  write_case(name, c(list(y = y), cols, list(x.const = rep(1, length(y))), res))
}
small_case("logit_groups", c(0, 0, 0, 1, 0, 1, 1, 1), list(g = c(0, 0, 0, 0, 1, 1, 1, 1)))
small_case("logit_roc_mtcars", mtcars$am, list(wt = mtcars$wt))

# --- One-way analysis of variance against aov ------------------------------
anova_case <- function(name, values, groups) {
  groups <- factor(groups)
  s <- summary(aov(values ~ groups))[[1]]
  split_values <- split(values, groups)
  entries <- split_values
  names(entries) <- paste0("group", seq_along(split_values))
  write_case(name, c(entries, list(F = s[1, "F value"], p = s[1, "Pr(>F)"],
                                   means = sapply(split_values, mean),
                                   sds = sapply(split_values, sd))))
}
anova_case("anova_iris", iris$Sepal.Length, iris$Species)
anova_case("anova_toothgrowth", ToothGrowth$len, ToothGrowth$dose)

# The 0/1 form: each group's sd is sqrt(p (1 - p)) of its proportion p, so the
# within-group sum of squares is p (1 - p) (obs - 1); F from those sums.
binary_groups <- split(mtcars$am, mtcars$cyl)
obs <- sapply(binary_groups, length); prop <- sapply(binary_groups, mean)
grand <- sum(prop * obs) / sum(obs)
ssb <- sum(obs * (prop - grand)^2); ssw <- sum(prop * (1 - prop) * (obs - 1))
df1 <- length(obs) - 1; df2 <- sum(obs) - length(obs)
f_binary <- (ssb / df1) / (ssw / df2)
entries <- binary_groups; names(entries) <- paste0("group", seq_along(binary_groups))
write_case("anova_binary", c(entries, list(F = f_binary, p = pf(f_binary, df1, df2, lower.tail = FALSE),
                                           means = prop, sds = sqrt(prop * (1 - prop)))))

# --- Chi-square test of a frequency table against chisq.test ----------------
chi_case <- function(name, tab, phi = NA) {
  tab <- unclass(as.matrix(tab))
  test <- suppressWarnings(chisq.test(tab, correct = FALSE))
  rows <- lapply(seq_len(nrow(tab)), function(i) tab[i, ])
  names(rows) <- paste0("row", seq_len(nrow(tab)))
  chi <- unname(test$statistic)
  v <- sqrt(chi / (sum(tab) * (min(dim(tab)) - 1)))
  write_case(name, c(rows, list(chi = chi, df = unname(test$parameter), p = test$p.value,
                                cramersV = v, phi = phi)))
}
chi_case("chi_haireye", margin.table(HairEyeColor, c(1, 2)))
chi_case("chi_cylgear", table(mtcars$cyl, mtcars$gear))
# For a 2 x 2 table phi is the Pearson correlation of the two 0/1 variables.
chi_case("chi_amvs", table(mtcars$am, mtcars$vs), phi = cor(mtcars$am, mtcars$vs))
