# Reference values for derived variables (derive/derive.cpp), computed by R
# on its airquality data set.
#
# Run from the source root:  Rscript tests/reference/derive.R
# Writes to tests/data/reference/:
#   derive_airquality.csv  the inputs (Ozone, Wind, S) and one column per case
#                          with the expected values; an empty field is missing
#   derive_cases.csv       case, code, x, y, c, and R's mean, sd and the
#                          quartiles (quantile type 7) of the expected values
#
# S = (Temp - 78) / 10 gives negative values, zeros and values beyond [-1, 1]
# for the logarithms, roots, arcsine and divisions. Rules reproduced here:
# a non-finite result is missing; min and max ignore a missing operand;
# a comparison with a missing x is false, so x != c is 1 there; rescale and
# Z use the minimum, maximum, mean and standard deviation of x's numbers.

out <- if (length(commandArgs(TRUE)) > 0) commandArgs(TRUE)[1] else "tests/data/reference"
aq <- datasets::airquality
d <- data.frame(Ozone = aq$Ozone, Wind = aq$Wind, S = (aq$Temp - 78) / 10)

fin <- function(v) ifelse(is.finite(v), v, NA)
cmp <- function(x, test, missing) ifelse(is.na(x), missing, as.numeric(test))
cases <- list(
  list(300, "Ozone", "", NA, function(x, y, c) log10(x)),
  list(300, "S", "", NA, function(x, y, c) log10(x)),
  list(301, "S", "", NA, function(x, y, c) log10(x + 1)),
  list(306, "Ozone", "", NA, function(x, y, c) log(x)),
  list(307, "S", "", NA, function(x, y, c) log(x + 1)),
  list(338, "S", "", NA, function(x, y, c) abs(x)),
  list(308, "Wind", "", 1.5, function(x, y, c) x^c),
  list(308, "S", "", 0.5, function(x, y, c) x^c),
  list(303, "S", "", NA, function(x, y, c) sqrt(x)),
  list(304, "S", "", NA, function(x, y, c) asin(x)),
  list(309, "Ozone", "", 2.5, function(x, y, c) x + c),
  list(310, "Ozone", "", 2.5, function(x, y, c) x - c),
  list(311, "Ozone", "", 4, function(x, y, c) x / c),
  list(312, "Ozone", "", -0.3, function(x, y, c) x * c),
  list(313, "Ozone", "", 2.5, function(x, y, c) (x + c) * 0.5),
  list(314, "Ozone", "", 31.5, function(x, y, c) pmin(x, c, na.rm = TRUE)),
  list(315, "Ozone", "", 31.5, function(x, y, c) pmax(x, c, na.rm = TRUE)),
  list(316, "Ozone", "Wind", NA, function(x, y, c) x + y),
  list(317, "Ozone", "Wind", NA, function(x, y, c) x - y),
  list(318, "Ozone", "Wind", NA, function(x, y, c) x / y),
  list(318, "Wind", "S", NA, function(x, y, c) x / y),
  list(319, "Ozone", "Wind", NA, function(x, y, c) x * y),
  list(320, "Ozone", "Wind", NA, function(x, y, c) (x + y) * 0.5),
  list(321, "Ozone", "S", NA, function(x, y, c) pmin(x, y, na.rm = TRUE)),
  list(322, "Ozone", "S", NA, function(x, y, c) pmax(x, y, na.rm = TRUE)),
  list(339, "Ozone", "", NA, function(x, y, c) (x - min(x, na.rm = TRUE)) / diff(range(x, na.rm = TRUE))),
  list(327, "Ozone", "", NA, function(x, y, c) (x - mean(x, na.rm = TRUE)) / sd(x, na.rm = TRUE)),
  list(327, "Wind", "", NA, function(x, y, c) (x - mean(x, na.rm = TRUE)) / sd(x, na.rm = TRUE)),
  list(329, "Ozone", "", 23, function(x, y, c) cmp(x, x == c, 0)),
  list(330, "Ozone", "", 31, function(x, y, c) cmp(x, x >= c, 0)),
  list(331, "Ozone", "", 31, function(x, y, c) cmp(x, x > c, 0)),
  list(332, "Ozone", "", 31, function(x, y, c) cmp(x, x <= c, 0)),
  list(333, "Ozone", "", 31, function(x, y, c) cmp(x, x < c, 0)),
  list(340, "Ozone", "", 23, function(x, y, c) cmp(x, x != c, 1)),
  list(334, "", "", 7.25, function(x, y, c) rep(c, nrow(d)))
)

values <- d
summary <- data.frame()
for (i in seq_along(cases)) {
  k <- cases[[i]]
  x <- if (k[[2]] == "") NULL else d[[k[[2]]]]
  y <- if (k[[3]] == "") NULL else d[[k[[3]]]]
  v <- fin(k[[5]](x, y, k[[4]]))
  name <- sprintf("case%02d", i)
  values[[name]] <- v
  q <- quantile(v, c(0.25, 0.5, 0.75), na.rm = TRUE, type = 7)
  summary <- rbind(summary, data.frame(case = name, code = k[[1]], x = k[[2]], y = k[[3]],
                                       c = ifelse(is.na(k[[4]]), "", format(k[[4]], digits = 17)),
                                       obs = sum(!is.na(v)), mean = mean(v, na.rm = TRUE),
                                       sd = sd(v, na.rm = TRUE), pc25 = q[[1]], pc50 = q[[2]], pc75 = q[[3]]))
}

num <- function(df) {
  for (n in names(df)) if (is.numeric(df[[n]])) df[[n]] <- ifelse(is.na(df[[n]]), "", format(df[[n]], digits = 17, trim = TRUE))
  df
}
write.csv(num(values), file.path(out, "derive_airquality.csv"), row.names = FALSE, quote = FALSE)
write.csv(num(summary), file.path(out, "derive_cases.csv"), row.names = FALSE, quote = FALSE)
