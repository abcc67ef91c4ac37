# Reference values for the descriptive statistics (stats/descriptive.cpp).
#
# Run from the source root:  Rscript tests/reference/descriptive.R
# Writes to tests/data/reference/:
#   descriptive_data.csv      set,x,y          the sample data sets
#   descriptive.csv           set,statistic,arg,expected
#   descriptive_kdensity.csv  set,i,x,y        the kernel density curves
#
# Conventions of our routines, reproduced here:
# - skewness and kurtosis are moment ratios with the biased variance,
#   m3 / m2^1.5 and m4 / m2^2 (kurtosis not reduced by 3);
# - percentiles interpolate at position (n - 1) p / 100, which is R's
#   quantile type 7, except that a percent with integer part 0 gives the
#   minimum and one with integer part 100 the maximum;
# - the density curve sums normal kernels of sd h = sd / 5 centred on the
#   data over 100 grid points from min - sd in steps of (max - min + 2 sd) / 100
#   and is scaled to a maximum of 1 (R's density() bins the data, so the sum
#   is formed directly with dnorm).

out <- if (length(commandArgs(TRUE)) > 0) commandArgs(TRUE)[1] else "tests/data/reference"
set.seed(20240601)

sets <- list(
  small = list(x = c(1, 2, 3, 4), y = c(2, 1, 4, 3)),
  normal = list(x = rnorm(500, 10, 3), y = NULL),
  skewed = list(x = rexp(60, 0.5), y = NULL),
  # A large common offset: the deviation sums carry the rounding error of the mean.
  offset = list(x = 1e9 + c(4, 7, 13, 16, 0.5, 9.25), y = NULL),
  ties = list(x = c(5, 3, 5, 5, 1, 3, 9, 5), y = NULL),
  pair = list(x = NULL, y = NULL)
)
px <- runif(80, 0, 20)
sets$pair <- list(x = px, y = 3 - 0.7 * px + rnorm(80, 0, 2))

moment <- function(x, k) mean((x - mean(x))^k)
stats <- list()
addStat <- function(set, name, arg, value) {
  stats[[length(stats) + 1]] <<- data.frame(set = set, statistic = name, arg = arg, expected = value)
}
percents <- c(0, 0.5, 1, 5, 10, 25, 33, 50, 66.6, 75, 90, 99, 99.5, 100)
curves <- list()
for (name in names(sets)) {
  x <- sets[[name]]$x
  addStat(name, "mean", NA, mean(x))
  addStat(name, "variance", NA, var(x))
  addStat(name, "varianceBiased", NA, moment(x, 2))
  addStat(name, "sdNormal", NA, sd(x))
  addStat(name, "skewness", NA, moment(x, 3) / moment(x, 2)^1.5)
  addStat(name, "kurtosis", NA, moment(x, 4) / moment(x, 2)^2)
  for (p in percents) {
    v <- if (trunc(p) == 0) min(x) else if (trunc(p) == 100) max(x) else
      unname(quantile(x, p / 100, type = 7))
    addStat(name, "percentile", p, v)
  }
  if (!is.null(sets[[name]]$y)) addStat(name, "correlation", NA, cor(x, sets[[name]]$y))
  s <- sd(x)
  lo <- min(x) - s
  hi <- max(x) + s
  grid <- lo + (hi - lo) * (0:99) / 100
  dens <- sapply(grid, function(g) sum(dnorm(x, g, s / 5)))
  curves[[name]] <- data.frame(set = name, i = 0:99, x = grid, y = dens / max(abs(dens)))
}

fmt <- function(v) ifelse(is.na(v), "", sprintf("%.17g", v))
dir.create(out, showWarnings = FALSE, recursive = TRUE)
data <- do.call(rbind, lapply(names(sets), function(n) {
  y <- sets[[n]]$y
  data.frame(set = n, x = sets[[n]]$x, y = if (is.null(y)) NA else y)
}))
writeLines(c("set,x,y", paste(data$set, fmt(data$x), fmt(data$y), sep = ",")),
           file.path(out, "descriptive_data.csv"))
st <- do.call(rbind, stats)
writeLines(c("set,statistic,arg,expected", paste(st$set, st$statistic, fmt(st$arg), fmt(st$expected), sep = ",")),
           file.path(out, "descriptive.csv"))
cu <- do.call(rbind, curves)
writeLines(c("set,i,x,y", paste(cu$set, cu$i, fmt(cu$x), fmt(cu$y), sep = ",")),
           file.path(out, "descriptive_kdensity.csv"))
cat("written", nrow(data), "data rows,", nrow(st), "statistics,", nrow(cu), "curve points\n")
