# Reference groups of recoding into categories (tests/derive/recode_test.cpp):
# R's cut(x, c(-Inf, cuts, Inf), right = FALSE) with the cut points of each
# method, on airquality's Ozone (with NA), ages around their breaks, values
# with a large offset, heavy ties and negatives.
#
# Run from the repository root:  Rscript tests/reference/recode.R
# Writes tests/data/reference/recode_cases.csv, one line per case:
# case,method,k,x,cuts,groups -- x, cuts and groups separated by ";",
# numbers as "%.17g", NA as an empty field, groups as cut's 1-based codes.
out <- file.path("tests", "data", "reference", "recode_cases.csv")

# Equal-width bins: the K-1 inner edges over [min, max], rounded to the
# fewest significant digits from 3 that keep them increasing and in (min, max].
bin_cuts <- function(x, k) {
  lo <- min(x, na.rm = TRUE); hi <- max(x, na.rm = TRUE)
  edges <- lo + (hi - lo) * (1:(k - 1)) / k
  for (d in 3:17) {
    cuts <- signif(edges, d)
    if (cuts[1] > lo && cuts[k - 1] <= hi && all(diff(cuts) > 0)) break
  }
  cuts
}
# Quantile groups: type 7 quantiles at i/K, ties merged and a cut at the
# minimum dropped.
quantile_cuts <- function(x, k) {
  q <- unique(unname(quantile(x, (1:(k - 1)) / k, type = 7, na.rm = TRUE)))
  q[q > min(x, na.rm = TRUE)]
}

num <- function(v) ifelse(is.na(v), "", sprintf("%.17g", v))
rows <- character()
case <- function(name, method, k, x, cuts) {
  g <- as.integer(cut(x, c(-Inf, cuts, Inf), right = FALSE))
  rows <<- c(rows, paste(name, method, k, paste(num(x), collapse = ";"), paste(num(cuts), collapse = ";"),
                         paste(ifelse(is.na(g), "", g), collapse = ";"), sep = ","))
}

ages <- c(12, 18, 25, 30, 49.5, 50, 71, 17.999, 18.0000001, NA, 29.99999999999, 50)
case("ages", "breaks", 3, ages, c(18, 30, 50))
oz <- airquality$Ozone
case("ozone_bins", "bins", 4, oz, bin_cuts(oz, 4))
case("ozone_bins7", "bins", 7, oz, bin_cuts(oz, 7))
case("ozone_quantiles", "quantiles", 5, oz, quantile_cuts(oz, 5))
case("ozone_deciles", "quantiles", 10, oz, quantile_cuts(oz, 10))
set.seed(25)
offset <- 1e9 + round(rnorm(40, sd = 3), 3)
case("offset_bins", "bins", 3, offset, bin_cuts(offset, 3))
case("offset_quantiles", "quantiles", 4, offset, quantile_cuts(offset, 4))
ties <- c(rep(1, 8), 2, 3, 4, 5)
case("ties_quantiles", "quantiles", 4, ties, quantile_cuts(ties, 4))
neg <- c(-12, -10, -7.5, -5, -0.001, 0, 3, -10.0000001)
case("negative_breaks", "breaks", 3, neg, c(-10, -5, 0))
case("tiny_bins", "bins", 3, c(1e-9, 2e-9, 3.5e-9, 4e-9), bin_cuts(c(1e-9, 2e-9, 3.5e-9, 4e-9), 3))
writeLines(c("case,method,k,x,cuts,groups", rows), out)
