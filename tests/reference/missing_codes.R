# Reference figures of tests/browse/variable_edit_test.cpp: declared
# missing-value codes read as NA. Run with Rscript; the test states them.
x <- c(1, 2, 999, 4, -1, 6, 8, 999.0)
y <- c(3, 5, 100, 8, 50, 13, 17, 70)
x[x %in% c(999, -1)] <- NA
cat(sprintf("n %d mean %.17g sd %.17g median %.17g max %.17g\n",
            sum(!is.na(x)), mean(x, na.rm = TRUE), sd(x, na.rm = TRUE),
            median(x, na.rm = TRUE), max(x, na.rm = TRUE)))
# lm drops the rows with NA: the regressor it fits on.
print(model.frame(y ~ x)$x)
answer <- c("yes", "n/a", "no", "yes", "n/a", "no", "yes", NA)
answer[answer == "n/a"] <- NA
print(table(answer))
