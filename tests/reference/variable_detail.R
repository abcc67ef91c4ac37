# Reference figures of the variable detail analysis on R's airquality
# (Ozone, with missing values), faithful (eruptions) and quakes (mag), over
# all rows and over rows 1-100. Writes the data the C++ test imports and the
# figures it compares with.
#   Rscript tests/reference/variable_detail.R   (from the repository root)
out <- "tests/data/reference"
n <- 1000
pad <- function(x) { y <- rep(NA, n); y[seq_along(x)] <- x; y }
d <- data.frame(ozone = pad(airquality$Ozone), eruptions = pad(faithful$eruptions), mag = pad(quakes$mag))
write.csv(d, file.path(out, "detail_data.csv"), row.names = FALSE, na = "", quote = FALSE)

figures <- function(x) {
  x <- x[!is.na(x)]
  n <- length(x); m <- mean(x); s <- sd(x)
  q <- quantile(x, c(.25, .5, .75), type = 7)
  iqr <- q[[3]] - q[[1]]
  inside <- x[x >= q[[1]] - 1.5 * iqr & x <= q[[3]] + 1.5 * iqr]
  v0 <- mean(x^2) - m^2
  tab <- table(x)
  mode <- as.numeric(names(tab)[order(-as.vector(tab), names(tab))][1])
  c(obsNumeric = n, levels = length(unique(x)), min = min(x), pc25 = q[[1]], pc50 = q[[2]], pc75 = q[[3]],
    max = max(x), mean = m, sd = s, rms = sqrt(mean(x^2)), variance = s^2,
    meanAbsDev = mean(abs(x - m)), range = max(x) - min(x), midrange = min(x) + (max(x) - min(x)) / 2,
    coeffVar = s / m, skew = mean((x - m)^3) / v0^1.5, kurtosis = mean((x - m)^4) / v0^2 - 3,
    sum = sum(x), ciMean0 = m - qt(.975, n - 1) * s / sqrt(n), ciMean1 = m + qt(.975, n - 1) * s / sqrt(n),
    ciVariance0 = (n - 1) * s^2 / qchisq(.975, n - 1), ciVariance1 = (n - 1) * s^2 / qchisq(.025, n - 1),
    lower_fence = min(inside), upper_fence = max(inside), outliers = sum(x < min(inside) | x > max(inside)),
    mode = mode)
}
rows <- list()
for (v in names(d)) {
  for (subset in c("all", "first100")) {
    x <- if (subset == "all") d[[v]] else d[[v]][1:100]
    f <- figures(x)
    rows[[length(rows) + 1]] <- data.frame(variable = v, rows = subset, key = names(f), value = sprintf("%.17g", f))
  }
}
write.csv(do.call(rbind, rows), file.path(out, "detail_expected.csv"), row.names = FALSE, quote = FALSE)
