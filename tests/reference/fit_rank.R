# Reference fits for rank-deficient designs (tests/analyses/fit_test.cpp), from R's lm, which
# drops a column that adds nothing to the columns before it (QR with tolerance 1e-7).
#
# Run from the repository root:  Rscript tests/reference/fit_rank.R
# Writes tests/data/reference/regression_rank_*.txt, one "name,values..." line each ("%.17g";
# NA for the coefficients lm drops). The x columns are listed in the order they are passed to the
# fit wrapper, the constant not among them; coefficient lists follow that order, constant last.

out_dir <- file.path("tests", "data", "reference")
dir.create(out_dir, recursive = TRUE, showWarnings = FALSE)

write_case <- function(name, entries) {
  lines <- vapply(names(entries), function(key) {
    v <- as.numeric(entries[[key]])
    paste(c(key, ifelse(is.na(v), "NA", sprintf("%.17g", v))), collapse = ",")
  }, character(1))
  writeLines(lines, file.path(out_dir, paste0("regression_rank_", name, ".txt")))
}

rank_case <- function(name, df, yvar, xvars) {
  fit <- lm(as.formula(paste(yvar, "~", paste(xvars, collapse = " + "))), data = df)
  s <- summary(fit)
  ord <- c(xvars, "(Intercept)")
  cf <- coef(fit)[ord]                       # NA where lm dropped the column
  se <- tv <- pv <- rep(NA_real_, length(ord)); names(se) <- ord
  kept <- rownames(s$coefficients)
  se[kept] <- s$coefficients[, 2]
  tv <- setNames(rep(NA_real_, length(ord)), ord); tv[kept] <- s$coefficients[, 3]
  pv <- setNames(rep(NA_real_, length(ord)), ord); pv[kept] <- s$coefficients[, 4]
  cols <- lapply(xvars, function(v) df[[v]]); names(cols) <- paste0("x.", xvars)
  write_case(name, c(list(y = df[[yvar]]), cols,
                     list(coeffs = cf, se = se[ord], t = tv[ord], p = pv[ord], yhat = fitted(fit),
                          r2 = s$r.squared, r2adj = s$adj.r.squared, rmse = s$sigma,
                          dropped = which(is.na(cf)) - 1)))
}

# A column that is the sum of two others: only a QR of the whole design sees it.
sw <- swiss
sw$AgEd <- sw$Agriculture + sw$Education
rank_case("swiss_aged", sw, "Fertility",
          c("Agriculture", "Examination", "Education", "Catholic", "Infant.Mortality", "AgEd"))

# A "constant" whose values differ in the last bit: 0.3 and 0.1 + 0.2 = 0.30000000000000004.
mt <- mtcars
mt$c <- ifelse(seq_len(nrow(mt)) %% 3 == 0, 0.1 + 0.2, 0.3)
stopifnot(length(unique(mt$c)) == 2)
rank_case("near_constant", mt, "mpg", c("wt", "c", "hp"))

# Shares that add up to one with the constant: lm keeps the constant and drops the last share.
set.seed(7)
n <- 40
a <- runif(n); b <- runif(n) * (1 - a)
shares <- data.frame(a = a, b = b, rest = 1 - a - b, y = 2 + 3 * a - b + rnorm(n))
rank_case("shares", shares, "y", c("a", "b", "rest"))
