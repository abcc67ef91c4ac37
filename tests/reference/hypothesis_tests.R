# Reference figures for the hypothesis tests: writes the data sets the C++
# tests load (tests/data/reference/hypothesis_data_*.csv) and the expected
# statistic, degrees of freedom, p-value and summaries of each case
# (hypothesis_expected.csv). Run from the repository root:
#   Rscript tests/reference/hypothesis_tests.R
out <- "tests/data/reference"

# sleep: extra sleep by drug (group), 10 patients (ID) measured twice; the
# paired layout has one row per patient with both drugs.
sleep_wide <- data.frame(drug1 = sleep$extra[sleep$group == 1], drug2 = sleep$extra[sleep$group == 2])
write.csv(sleep_wide, file.path(out, "hypothesis_data_sleep.csv"), row.names = FALSE, quote = FALSE)
write.csv(mtcars[, c("mpg", "am")], file.path(out, "hypothesis_data_mtcars.csv"), row.names = FALSE, quote = FALSE)
write.csv(PlantGrowth, file.path(out, "hypothesis_data_plants.csv"), row.names = FALSE, quote = FALSE)
tg <- ToothGrowth
tg$high <- ifelse(tg$len > 20, "yes", "no")
write.csv(tg, file.path(out, "hypothesis_data_tooth.csv"), row.names = FALSE, quote = FALSE)
# A 2 x 2 paired table (before, after) as rows: 20 (0,0), 12 (0,1), 4 (1,0), 14 (1,1).
pairs <- data.frame(before = rep(c("no", "no", "yes", "yes"), c(20, 12, 4, 14)),
                    after = rep(c("no", "yes", "no", "yes"), c(20, 12, 4, 14)))
write.csv(pairs, file.path(out, "hypothesis_data_pairs.csv"), row.names = FALSE, quote = FALSE)

rows <- list()
add <- function(case, stat, df, p, meanX = NA, meanY = NA, seX = NA, seY = NA, seDiff = NA) {
  rows[[length(rows) + 1]] <<- data.frame(case = case, stat = stat, df = df, p = p, meanX = meanX,
                                          meanY = meanY, seX = seX, seY = seY, seDiff = seDiff)
}
alt <- c("two.sided", "less", "greater")  # tails 0, 1, 2
se <- function(v) sd(v) / sqrt(length(v))

# One-sample t on PlantGrowth's control weights against 5.2, every tail.
ctrl <- PlantGrowth$weight[PlantGrowth$group == "ctrl"]
for (tails in 0:2) {
  r <- t.test(ctrl, mu = 5.2, alternative = alt[tails + 1])
  add(paste0("t1_plants_", tails), r$statistic, r$parameter, r$p.value, mean(ctrl), NA, se(ctrl), NA, se(ctrl))
}
# One-sample z from pnorm (same statistic, normal tail).
z <- (mean(ctrl) - 5.2) / se(ctrl)
add("z1_plants_0", z, 0, 2 * pnorm(-abs(z)), mean(ctrl), NA, se(ctrl), NA, se(ctrl))

# Welch's two-sample t on ToothGrowth len by supp (OJ vs VC), every tail.
oj <- ToothGrowth$len[ToothGrowth$supp == "OJ"]
vc <- ToothGrowth$len[ToothGrowth$supp == "VC"]
sed <- sqrt(se(oj)^2 + se(vc)^2)
for (tails in 0:2) {
  r <- t.test(oj, vc, alternative = alt[tails + 1])
  add(paste0("t2_tooth_", tails), r$statistic, r$parameter, r$p.value, mean(oj), mean(vc), se(oj), se(vc), sed)
}
# Welch's t with unequal sizes and variances: mtcars mpg by am (19 automatic, 13 manual).
auto <- mtcars$mpg[mtcars$am == 0]; manual <- mtcars$mpg[mtcars$am == 1]
for (tails in 0:2) {
  r <- t.test(auto, manual, alternative = alt[tails + 1])
  add(paste0("t2_mtcars_", tails), r$statistic, r$parameter, r$p.value, mean(auto), mean(manual), se(auto),
      se(manual), sqrt(se(auto)^2 + se(manual)^2))
}
# Two-sample z on the same groups from pnorm.
z <- (mean(oj) - mean(vc)) / sed
add("z2_tooth_0", z, -1, 2 * pnorm(-abs(z)), mean(oj), mean(vc), se(oj), se(vc), sed)
# PlantGrowth trt1 vs trt2 (two groups of one variable); var.equal = TRUE
# shows that the Welch figures are not the pooled ones.
t1 <- PlantGrowth$weight[PlantGrowth$group == "trt1"]
t2 <- PlantGrowth$weight[PlantGrowth$group == "trt2"]
r <- t.test(t1, t2)
add("t2_plants_0", r$statistic, r$parameter, r$p.value, mean(t1), mean(t2), se(t1), se(t2),
    sqrt(se(t1)^2 + se(t2)^2))
r <- t.test(t1, t2, var.equal = TRUE)
add("t2pooled_plants_0", r$statistic, r$parameter, r$p.value)

# Paired t on sleep (drug1 - drug2), every tail.
d <- sleep_wide$drug1 - sleep_wide$drug2
for (tails in 0:2) {
  r <- t.test(sleep_wide$drug1, sleep_wide$drug2, paired = TRUE, alternative = alt[tails + 1])
  add(paste0("tp_sleep_", tails), r$statistic, r$parameter, r$p.value, mean(d), NA, se(d), NA, se(d))
}

# Exact binomial, one sample: ToothGrowth high = "yes" against 0.5 and 0.3.
# The two-sided p is the sum of the outcomes no more likely than k; binom.test
# uses the same rule (with a 1e-7 relative tolerance on ties). One tail is
# binom.test's: tails 1 is "less", 2 "greater".
k <- sum(tg$high == "yes"); n <- nrow(tg)
for (p0 in c(0.5, 0.3)) {
  dens <- dbinom(0:n, n, p0)
  P <- sum(dens[dens <= dens[k + 1]])
  stopifnot(abs(P - binom.test(k, n, p0)$p.value) < 1e-12)
  m <- k / n
  for (tails in 0:2) {
    p <- binom.test(k, n, p0, alternative = c("two.sided", "less", "greater")[tails + 1])$p.value
    add(sprintf("binom1_tooth_%g_%d", p0, tails), 0, 0, p, m, NA, sqrt(m * (1 - m) / n), NA, sqrt(m * (1 - m) / n))
  }
}

# Chi-square on two samples: high by supp, prop.test without correction.
kx <- sum(tg$high[tg$supp == "OJ"] == "yes"); ky <- sum(tg$high[tg$supp == "VC"] == "yes")
for (tails in 0:2) {
  r <- prop.test(c(kx, ky), c(30, 30), correct = FALSE)
  P <- r$p.value
  diff <- kx / 30 - ky / 30
  p <- if (tails == 0) P else if ((tails == 1 && diff > 0) || (tails == 2 && diff < 0)) 1 - P / 2 else P / 2
  add(paste0("chi2_tooth_", tails), r$statistic, r$parameter, p, kx / 30, ky / 30)
}

# Two-sample z on the same proportions, unpooled standard errors, from pnorm.
px <- kx / 30; py <- ky / 30
sx <- sqrt(px * (1 - px) / 30); sy <- sqrt(py * (1 - py) / 30)
z <- (px - py) / sqrt(sx^2 + sy^2)
add("z2prop_tooth_0", z, -1, 2 * pnorm(-abs(z)), px, py, sx, sy, sqrt(sx^2 + sy^2))

# McNemar without correction on the paired table, and the exact binomial on
# its discordant pairs (b = 12 of 16).
tab <- table(factor(pairs$before, c("no", "yes")), factor(pairs$after, c("no", "yes")))
b <- tab[1, 2]; c <- tab[2, 1]
for (tails in 0:2) {
  r <- mcnemar.test(tab, correct = FALSE)
  P <- r$p.value
  p <- if (tails == 0) P else if ((tails == 1 && b > c) || (tails == 2 && b < c)) 1 - P / 2 else P / 2
  add(paste0("mcnemar_pairs_", tails), r$statistic, r$parameter, p)
  dens <- dbinom(0:(b + c), b + c, 0.5)
  P <- sum(dens[dens <= dens[b + 1]])
  stopifnot(abs(P - binom.test(b, b + c)$p.value) < 1e-12)
  p <- binom.test(b, b + c, 0.5, alternative = c("two.sided", "less", "greater")[tails + 1])$p.value
  add(paste0("binomp_pairs_", tails), 0, 0, p)
}

res <- do.call(rbind, rows)
# The two-sided 95% interval, Cohen's d and Shapiro-Wilk per sample of each
# case (whatever its tails): t.test's conf.int, mean +- qnorm(0.975) se for
# the z-tests, prop.test(correct = FALSE)'s Wilson and difference intervals.
extras <- function(case) {
  sw <- function(v) { s <- shapiro.test(v); c(s$statistic, s$p.value) }
  pooled_d <- function(x, y) (mean(x) - mean(y)) /
    sqrt(((length(x) - 1) * var(x) + (length(y) - 1) * var(y)) / (length(x) + length(y) - 2))
  two <- function(x, y, z) {
    ci <- if (z) (mean(x) - mean(y)) + c(-1, 1) * qnorm(0.975) * sqrt(se(x)^2 + se(y)^2) else t.test(x, y)$conf.int
    c(ci, pooled_d(x, y), sw(x), sw(y))
  }
  if (grepl("^t1_plants|^z1_plants", case)) {
    ci <- if (grepl("^z", case)) mean(ctrl) + c(-1, 1) * qnorm(0.975) * se(ctrl) else t.test(ctrl)$conf.int
    return(c(ci, (mean(ctrl) - 5.2) / sd(ctrl), sw(ctrl), NA, NA))
  }
  if (grepl("^t2_tooth", case)) return(two(oj, vc, FALSE))
  if (grepl("^z2_tooth", case)) return(two(oj, vc, TRUE))
  if (grepl("^t2_mtcars", case)) return(two(auto, manual, FALSE))
  if (grepl("^t2_plants", case)) return(two(t1, t2, FALSE))
  if (grepl("^tp_sleep", case)) return(c(t.test(d)$conf.int, mean(d) / sd(d), sw(d), NA, NA))
  if (grepl("^binom1_tooth", case)) return(c(prop.test(k, n, correct = FALSE)$conf.int, rep(NA, 5)))
  if (grepl("^chi2_tooth|^z2prop_tooth", case))
    return(c(prop.test(c(kx, ky), c(30, 30), correct = FALSE)$conf.int, rep(NA, 5)))
  rep(NA, 7)
}
ex <- t(sapply(res$case, extras))
colnames(ex) <- c("ciLo", "ciHi", "cohenD", "sw1W", "sw1p", "sw2W", "sw2p")
res <- cbind(res, as.data.frame(ex))
for (col in names(res)[-1]) res[[col]] <- sprintf("%.17g", res[[col]])
write.csv(res, file.path(out, "hypothesis_expected.csv"), row.names = FALSE, quote = FALSE)
