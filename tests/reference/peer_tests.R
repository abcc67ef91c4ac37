# Reference values of the group, rank, normality, exact-table and rank-correlation statistics
# (source it from the repository root): writes tests/data/reference/peer_tests.tsv.
#
# A "data" line gives a case's data once: groups separated by ";", values within a group by ","
# (a table is its rows). Every other line: case, routine, options, key, value (17 significant
# digits); a key "k[i]" is the i-th value (from 0) of a list.
# The data are R's own data sets, seeded samples, the same with a large offset (ill-conditioned
# sums of squares), and samples whose p-values are tiny.

out <- character()
fmt <- function(v) sprintf("%.17g", v)
seen <- character()
enc <- function(groups) paste(vapply(groups, function(g) paste(fmt(g), collapse = ","), ""), collapse = ";")
put <- function(case, fn, opts, groups, values) {
  if (!(case %in% seen)) {
    seen <<- c(seen, case)
    out <<- c(out, paste("data", case, enc(groups), sep = "\t"))
  }
  for (k in names(values)) {
    v <- values[[k]]
    for (i in seq_along(v)) {
      key <- if (length(v) > 1) paste0(k, "[", i - 1, "]") else k
      out <<- c(out, paste(case, fn, opts, key, fmt(v[[i]]), sep = "\t"))
    }
  }
}

set.seed(20261207)
groupSets <- list(
  plants = split(PlantGrowth$weight, PlantGrowth$group),
  sprays = split(InsectSprays$count, InsectSprays$spray),
  chicks = split(chickwts$weight, chickwts$feed),
  unequal = list(rnorm(7, 10, 1), rnorm(15, 11, 3), rnorm(30, 10.5, 0.5), rnorm(4, 12, 6)),
  offset = lapply(split(PlantGrowth$weight, PlantGrowth$group), function(g) g + 1e9),
  tiny = list(rnorm(200, 0, 1), rnorm(200, 1.5, 1), rnorm(200, 3, 1))
)

for (case in names(groupSets)) {
  gs <- groupSets[[case]]
  y <- unlist(gs); g <- factor(rep(seq_along(gs), lengths(gs)))
  a <- summary(aov(y ~ g))[[1]]
  ssb <- a[1, "Sum Sq"]; ssw <- a[2, "Sum Sq"]; msw <- a[2, "Mean Sq"]
  put(case, "anova", "", gs, list(dfBetween = a[1, "Df"], dfWithin = a[2, "Df"], ssBetween = ssb,
      ssWithin = ssw, msBetween = a[1, "Mean Sq"], msWithin = msw, F = a[1, "F value"],
      p = a[1, "Pr(>F)"], eta2 = ssb / (ssb + ssw), omega2 = (ssb - a[1, "Df"] * msw) / (ssb + ssw + msw)))
  w <- oneway.test(y ~ g, var.equal = FALSE)
  put(case, "welch", "", gs, list(F = w$statistic, df1 = w$parameter[1], df2 = w$parameter[2], p = w$p.value))
  med <- ave(y, g, FUN = median)
  b <- summary(aov(abs(y - med) ~ g))[[1]]
  put(case, "levene", "", gs, list(F = b[1, "F value"], df1 = b[1, "Df"], df2 = b[2, "Df"], p = b[1, "Pr(>F)"]))
  t <- TukeyHSD(aov(y ~ g))$g
  # TukeyHSD's rows are "j-i" for i < j (diff = mean j - mean i), in the order (2-1, 3-1, ..., 3-2, ...).
  put(case, "tukey", "", gs, list(diff = t[, "diff"], lower = t[, "lwr"], upper = t[, "upr"], p = t[, "p adj"]))
  # Games-Howell by its formula: q = |diff| / sqrt((s2i/ni + s2j/nj) / 2), Welch's df per pair.
  k <- length(gs); m <- sapply(gs, mean); v <- sapply(gs, var); n <- lengths(gs)
  gh <- list(diff = c(), lower = c(), upper = c(), p = c())
  for (i in 1:(k - 1)) for (j in (i + 1):k) {
    d <- m[j] - m[i]; se <- sqrt(v[i] / n[i] + v[j] / n[j])
    df <- (v[i] / n[i] + v[j] / n[j])^2 / ((v[i] / n[i])^2 / (n[i] - 1) + (v[j] / n[j])^2 / (n[j] - 1))
    q <- qtukey(0.95, k, df) / sqrt(2)
    gh$diff <- c(gh$diff, d); gh$lower <- c(gh$lower, d - q * se); gh$upper <- c(gh$upper, d + q * se)
    gh$p <- c(gh$p, ptukey(abs(d) / se * sqrt(2), k, df, lower.tail = FALSE))
  }
  put(case, "gamesHowell", "", gs, gh)
  kw <- kruskal.test(y ~ g)
  put(case, "kruskal", "", gs, list(H = kw$statistic, df = kw$parameter, p = kw$p.value))
  # Dunn's z per pair (i < j: mean rank j - mean rank i, as TukeyHSD orders its pairs) with the tie correction, Holm's adjustment.
  r <- rank(y); N <- length(y); ties <- table(y)
  s2 <- N * (N + 1) / 12 - sum(ties^3 - ties) / (12 * (N - 1))
  rb <- tapply(r, g, mean)
  dz <- c(); dp <- c()
  for (i in 1:(k - 1)) for (j in (i + 1):k) {
    z <- (rb[j] - rb[i]) / sqrt(s2 * (1 / n[i] + 1 / n[j]))
    dz <- c(dz, z); dp <- c(dp, 2 * pnorm(-abs(z)))
  }
  put(case, "dunn", "", gs, list(z = dz, p = dp, pAdjusted = p.adjust(dp, "holm")))
}

# Studentized range. R's ptukey is accurate to about 1e-7 for moderate df but only to 1e-4 at
# df = 2, and qtukey to 1e-4; the reference is the defining double integral by nested integrate()
# at tight tolerances, and its quantile by uniroot on it (R's own values differ from these by less
# than R's stated accuracy).
rangeCdf <- function(w, k) integrate(function(z) k * dnorm(z) * (pnorm(z) - pnorm(z - w))^(k - 1),
  -Inf, Inf, rel.tol = 1e-13, subdivisions = 1000)$value
tukeyCdf <- function(q, k, df) integrate(function(s) sapply(s, function(si) {
  d <- exp(log(2) + df / 2 * log(df / 2) - lgamma(df / 2) + (df - 1) * log(si) - df * si^2 / 2)
  if (d == 0) 0 else d * rangeCdf(q * si, k) }), 0, Inf, rel.tol = 1e-12, subdivisions = 1000)$value
for (k in c(2, 3, 5, 10, 20)) for (df in c(2, 5, 10, 30, 120, 1e4)) for (q in c(0.5, 2, 3.5, 6)) {
  put(paste0("ptukey_", k, "_", df, "_", q), "ptukey", paste(q, k, df), list(), list(p = tukeyCdf(q, k, df)))
}
for (k in c(2, 4, 20)) for (df in c(2, 10, 120)) {
  q <- uniroot(function(q) tukeyCdf(q, k, df) - 0.95, qtukey(0.95, k, df) * c(0.99, 1.01), tol = 1e-13)$root
  put(paste0("qtukey_", k, "_", df), "qtukey", paste(0.95, k, df), list(), list(q = q))
}

# Shapiro-Wilk.
swSets <- list(n3 = c(1, 2, 4), n5 = c(2.1, 3.3, 3.4, 5.0, 9.9), n11 = rexp(11), n12 = rnorm(12),
  n50 = rnorm(50), n500 = rexp(500), n5000 = rnorm(5000), offset = rnorm(40) + 1e7, cars = mtcars$mpg,
  skew = exp(rnorm(300)))
for (case in names(swSets)) {
  s <- shapiro.test(swSets[[case]])
  put(paste0("sw_", case), "shapiro", "", list(swSets[[case]]), list(W = s$statistic, p = s$p.value))
}

# Two-way tables: Fisher's exact test, its odds ratio, G-squared.
tables <- list(tea = matrix(c(3, 1, 1, 3), 2), job = matrix(c(1, 2, 1, 0, 3, 3, 6, 1, 10, 10, 14, 9, 6, 7, 12, 11), 4),
  zero = matrix(c(0, 5, 7, 3), 2), big = matrix(c(120, 80, 95, 140), 2), r3 = matrix(c(2, 5, 1, 4, 0, 6, 3, 2, 7), 3))
for (case in names(tables)) {
  m <- tables[[case]]
  rows <- lapply(seq_len(nrow(m)), function(i) m[i, ])
  f <- fisher.test(m)
  vals <- list(p = f$p.value)
  if (all(dim(m) == 2)) {
    # fisher.test finds the odds ratio and its limits by uniroot with tolerance 1.2e-4 on (0, 1)
    # or on 1 / psi, so far from 1 they hold only two or three digits; these are the same
    # equations of the noncentral hypergeometric distribution solved in ln psi to 1e-13.
    k <- sum(m[1, ]); x <- m[1, 1]; lo <- max(0, k - sum(m[, 2])); hi <- min(k, sum(m[, 1]))
    support <- lo:hi; logdc <- dhyper(support, sum(m[, 1]), sum(m[, 2]), k, log = TRUE)
    dn <- function(lpsi) { d <- logdc + lpsi * support; d <- exp(d - max(d)); d / sum(d) }
    solve <- function(f) exp(uniroot(f, c(-60, 60), tol = 1e-13)$root)
    est <- if (x == lo) 0 else if (x == hi) Inf else solve(function(t) sum(support * dn(t)) - x)
    lower <- if (x == lo) 0 else solve(function(t) sum(dn(t)[support >= x]) - 0.025)
    upper <- if (x == hi) Inf else solve(function(t) sum(dn(t)[support <= x]) - 0.025)
    vals <- c(vals, list(estimate = est, lower = lower, upper = upper, estimateR = f$estimate,
      lowerR = f$conf.int[1], upperR = f$conf.int[2]))
  }
  put(paste0("fisher_", case), "fisher", "", rows, vals)
  e <- outer(rowSums(m), colSums(m)) / sum(m)
  g2 <- 2 * sum(ifelse(m > 0, m * log(m / e), 0))
  df <- (nrow(m) - 1) * (ncol(m) - 1)
  put(paste0("g2_", case), "gtest", "", rows, list(G2 = g2, df = df, p = pchisq(g2, df, lower.tail = FALSE)))
  cs <- suppressWarnings(chisq.test(m, correct = FALSE))
  put(paste0("stdres_", case), "stdres", "", rows, list(r = as.vector(t(cs$stdres))))
}

# Wilcoxon signed-rank and rank-sum tests, as wilcox.test with its defaults and conf.int = TRUE.
one <- list(small = c(1.83, 0.50, 1.62, 2.48, 1.68, 1.88, 1.55, 3.06, 1.30), ties = c(1, 2, 2, 3, 3, 3, 4, 5, 0, -1),
  large = rnorm(80, 0.3), zeros = c(0, 0, 1, 2, -1, 3, 4, 2.5, -0.5, 6),
  tiny = c(1.2, 3.4, -0.5, 2.2))
for (case in names(one)) for (alt in c("two.sided", "less", "greater")) {
  x <- one[[case]]
  w <- suppressWarnings(wilcox.test(x, mu = 0.2 * (case == "large"), alternative = alt, conf.int = TRUE))
  put(paste0("signed_", case, "_", alt), "signedRank", paste(alt, 0.2 * (case == "large")), list(x),
      list(W = w$statistic, p = w$p.value, estimate = w$estimate, lower = w$conf.int[1], upper = w$conf.int[2],
           level = attr(w$conf.int, "conf.level")))
}
two <- list(small = list(c(0.80, 0.83, 1.89, 1.04, 1.45, 1.38, 1.91, 1.64, 0.73, 1.46), c(1.15, 0.88, 0.90, 0.74, 1.21)),
  tiny = list(c(1.1, 2.3, 0.7), c(3.1, 2.9)),
  ties = list(c(1, 2, 2, 3, 4, 4, 5), c(2, 3, 3, 4, 6, 6, 7, 8)),
  large = list(rnorm(60), rnorm(70, 0.4)),
  sleep = split(sleep$extra, sleep$group))
for (case in names(two)) for (alt in c("two.sided", "less", "greater")) {
  xy <- two[[case]]
  w <- suppressWarnings(wilcox.test(xy[[1]], xy[[2]], alternative = alt, conf.int = TRUE))
  put(paste0("ranksum_", case, "_", alt), "rankSum", paste(alt, 0), xy,
      list(W = w$statistic, p = w$p.value, estimate = w$estimate, lower = w$conf.int[1], upper = w$conf.int[2],
           level = attr(w$conf.int, "conf.level")))
}

# Friedman's test: blocks are the groups of the data (one value per treatment).
fr <- list(rounding = matrix(c(5.40, 5.50, 5.55, 5.85, 5.70, 5.75, 5.20, 5.60, 5.50, 5.55, 5.50, 5.40,
  5.90, 5.85, 5.70, 5.45, 5.55, 5.60, 5.40, 5.40, 5.35, 5.45, 5.50, 5.35, 5.25, 5.15, 5.00), ncol = 3, byrow = TRUE),
  warp = matrix(warpbreaks$breaks[1:27], ncol = 3))
for (case in names(fr)) {
  m <- fr[[case]]
  f <- friedman.test(m)
  put(paste0("friedman_", case), "friedman", "", lapply(seq_len(nrow(m)), function(i) m[i, ]),
      list(chisq = f$statistic, df = f$parameter, p = f$p.value))
}

# Rank correlations, as cor.test(method = ..., exact = FALSE).
pairs <- list(cars = list(mtcars$mpg, mtcars$wt), air = list(airquality$Ozone[!is.na(airquality$Ozone)],
  airquality$Temp[!is.na(airquality$Ozone)]), ties = list(c(1, 2, 2, 3, 3, 3, 4, 5, 5, 6), c(2, 1, 3, 3, 5, 4, 4, 6, 7, 7)),
  neg = list(1:30 + rnorm(30), 30:1 + rnorm(30)), big = list(x <- rnorm(3000), x + rnorm(3000)))
for (case in names(pairs)) {
  xy <- pairs[[case]]
  s <- suppressWarnings(cor.test(xy[[1]], xy[[2]], method = "spearman", exact = FALSE))
  k <- suppressWarnings(cor.test(xy[[1]], xy[[2]], method = "kendall", exact = FALSE))
  put(paste0("rankcor_", case), "rankCorrelation", "", xy,
      list(rho = s$estimate, rhoP = s$p.value, tau = k$estimate, tauP = k$p.value))
}

writeLines(out, "tests/data/reference/peer_tests.tsv")
