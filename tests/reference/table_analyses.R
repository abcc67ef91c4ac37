# Reference figures of the one-way ANOVA by levels and of the two-way table
# on R's chickwts, InsectSprays, ChickWeight (50 chicks: 19 kept, the rest
# pooled as "Others"), warpbreaks, esoph, UCBAdmissions (as a case table) and
# quakes (stations pooled to 9 levels and "Others"), ChickWeight's chicks by
# time (both pooled) and chickwts' weights as dates by feed. Writes the data the C++
# test imports and the figures it compares with.
#   Rscript tests/reference/table_analyses.R   (from the repository root)
out <- "tests/data/reference"
ucb <- as.data.frame(UCBAdmissions)
ucb <- ucb[rep(seq_len(nrow(ucb)), ucb$Freq), 1:3]
cols <- list(
  cw_weight = chickwts$weight, cw_feed = as.character(chickwts$feed),
  is_count = InsectSprays$count, is_spray = as.character(InsectSprays$spray),
  ck_weight = ChickWeight$weight, ck_chick = paste0("c", as.character(ChickWeight$Chick)),
  wb_wool = as.character(warpbreaks$wool), wb_tension = as.character(warpbreaks$tension),
  es_agegp = as.character(esoph$agegp), es_alcgp = as.character(esoph$alcgp),
  ucb_admit = as.character(ucb$Admit), ucb_gender = as.character(ucb$Gender), ucb_dept = as.character(ucb$Dept),
  qk_stations = paste0("s", quakes$stations), qk_mag = ifelse(quakes$mag >= 4.6, "strong", "light"),
  ck_time = paste0("t", ChickWeight$Time),
  cw_date = format(as.Date("2020-01-01") + chickwts$weight, "%Y-%m-%d"))
n <- max(sapply(cols, length))
pad <- function(x) { y <- rep("", n); y[seq_along(x)] <- as.character(x); y }
d <- as.data.frame(lapply(cols, pad), stringsAsFactors = FALSE)
write.csv(d, file.path(out, "tables_data.csv"), row.names = FALSE, quote = FALSE)

# Levels as the analyses keep them: by count descending, ties by text (bytes),
# the last of `top` replaced by "Others" when there are more.
pooled <- function(g, top) {
  tab <- table(g)
  o <- order(-as.vector(tab), names(tab), method = "radix")
  lv <- names(tab)[o]
  if (length(lv) > top) g <- ifelse(g %in% lv[1:(top - 1)], g, "Others")
  g
}
rows <- list()
put <- function(analysis, key, value) {
  rows[[length(rows) + 1]] <<- data.frame(analysis = analysis, key = key, value = sprintf("%.17g", value))
}
anova_of <- function(name, y, g) {
  g <- pooled(g, 20)
  t <- oneway.test(y ~ g, var.equal = TRUE)
  a <- summary(aov(y ~ factor(g)))[[1]]
  put(name, "F", t$statistic)
  put(name, "p", t$p.value)
  put(name, "F_aov", a[["F value"]][1])
  for (lv in unique(g)) {
    x <- y[g == lv]
    q <- quantile(x, c(0, .25, .5, .75, 1), type = 7)
    put(name, paste0(lv, "/obs"), length(x))
    put(name, paste0(lv, "/mean"), mean(x))
    put(name, paste0(lv, "/sd"), sd(x))
    for (i in 1:5) put(name, paste0(lv, "/pc", c(0, 25, 50, 75, 100)[i]), q[[i]])
  }
  # The ANOVA table with its effect sizes, Welch's ANOVA, Brown-Forsythe,
  # Kruskal-Wallis, and Tukey's comparisons keyed "tukey/B|A" for B - A.
  f <- factor(g)
  put(name, "dfBetween", a$Df[1]); put(name, "dfWithin", a$Df[2])
  put(name, "ssBetween", a[["Sum Sq"]][1]); put(name, "ssWithin", a[["Sum Sq"]][2])
  put(name, "msWithin", a[["Mean Sq"]][2])
  sst <- sum(a[["Sum Sq"]])
  put(name, "eta2", a[["Sum Sq"]][1] / sst)
  put(name, "omega2", (a[["Sum Sq"]][1] - a$Df[1] * a[["Mean Sq"]][2]) / (sst + a[["Mean Sq"]][2]))
  w <- oneway.test(y ~ f, var.equal = FALSE)
  put(name, "welch/F", w$statistic); put(name, "welch/df2", w$parameter[2]); put(name, "welch/p", w$p.value)
  dev <- abs(y - ave(y, f, FUN = median))
  bf <- summary(aov(dev ~ f))[[1]]
  put(name, "levene/F", bf[["F value"]][1]); put(name, "levene/p", bf[["Pr(>F)"]][1])
  k <- kruskal.test(y ~ f)
  put(name, "kruskal/H", k$statistic); put(name, "kruskal/p", k$p.value)
  tk <- TukeyHSD(aov(y ~ f))$f
  for (i in seq_len(nrow(tk))) {
    key <- paste0("tukey/", sub("-", "|", rownames(tk)[i], fixed = TRUE))
    put(name, paste0(key, "/diff"), tk[i, "diff"]); put(name, paste0(key, "/lwr"), tk[i, "lwr"])
    put(name, paste0(key, "/upr"), tk[i, "upr"]); put(name, paste0(key, "/p"), tk[i, "p adj"])
  }
}
anova_of("chickwts", chickwts$weight, as.character(chickwts$feed))
anova_of("insects", InsectSprays$count, as.character(InsectSprays$spray))
anova_of("chicks", ChickWeight$weight, paste0("c", as.character(ChickWeight$Chick)))
# A date variable by feed: its standard deviation in days.
cw_date <- as.POSIXct(as.Date("2020-01-01") + chickwts$weight)
for (lv in unique(as.character(chickwts$feed)))
  put("chickwts_dates", paste0(lv, "/sd_days"), sd(as.numeric(cw_date[chickwts$feed == lv])) / 86400)

twoway_of <- function(name, a, b) {
  a <- pooled(a, 10); b <- pooled(b, 10)
  tab <- table(a, b)
  t <- suppressWarnings(chisq.test(tab, correct = FALSE))
  put(name, "chisq", t$statistic)
  put(name, "df", t$parameter)
  put(name, "p", t$p.value)
  put(name, "v", sqrt(t$statistic / (sum(tab) * (min(dim(tab)) - 1))))
  if (all(dim(tab) == 2)) {
    # Phi with the levels in the table's order (by count, ties by text).
    ra <- names(sort(table(a), decreasing = TRUE)); rb <- names(sort(table(b), decreasing = TRUE))
    m <- tab[ra, rb]
    put(name, "phi", (m[1, 1] * m[2, 2] - m[1, 2] * m[2, 1]) / sqrt(prod(rowSums(m)) * prod(colSums(m))))
  }
  put(name, "sumTotal", sum(tab))
  # Expected counts, G2, and Fisher's exact test where R computes it.
  ex <- suppressWarnings(chisq.test(tab, correct = FALSE))$expected
  for (i in rownames(tab)) for (j in colnames(tab)) put(name, paste0("E/", i, "|", j), ex[i, j])
  obs <- as.vector(tab); e <- as.vector(ex)
  put(name, "G2", 2 * sum(ifelse(obs > 0, obs * log(obs / e), 0)))
  fp <- tryCatch(fisher.test(tab, workspace = 2e7)$p.value, error = function(err) NA)
  if (!is.na(fp)) put(name, "fisherP", fp)
  if (all(dim(tab) == 2)) {
    # fisher.test's conditional MLE and limits, but with the roots found to
    # 1e-14 on the log scale: its own uniroot calls stop near 1e-4 on the
    # (0, 1) scale, which can move an upper limit by 0.5%.
    x <- m[1, 1]; r1 <- sum(m[1, ]); r2 <- sum(m[2, ]); c1 <- sum(m[, 1])
    support <- max(0, c1 - r2):min(c1, r1)
    logdc <- dhyper(support, r1, r2, c1, log = TRUE)
    dn <- function(ncp) { d <- logdc + log(ncp) * support; d <- exp(d - max(d)); d / sum(d) }
    root <- function(f) exp(uniroot(function(l) f(exp(l)), c(-30, 30), tol = 1e-14)$root)
    put(name, "or", root(function(t) sum(support * dn(t)) - x))
    put(name, "or/lower", root(function(t) sum(dn(t)[support >= x]) - 0.025))
    put(name, "or/upper", root(function(t) sum(dn(t)[support <= x]) - 0.025))
    stopifnot(abs(fisher.test(m)$estimate / root(function(t) sum(support * dn(t)) - x) - 1) < 1e-3)
  }
  for (i in rownames(tab)) for (j in colnames(tab)) put(name, paste0(i, "|", j), tab[i, j])
}
twoway_of("warpbreaks", as.character(warpbreaks$wool), as.character(warpbreaks$tension))
twoway_of("esoph", as.character(esoph$agegp), as.character(esoph$alcgp))
twoway_of("ucb_gender", as.character(ucb$Admit), as.character(ucb$Gender))
twoway_of("ucb_dept", as.character(ucb$Admit), as.character(ucb$Dept))
# Both variables above the cap: chicks (50) by time (12 levels).
twoway_of("chick_time", paste0("c", as.character(ChickWeight$Chick)), paste0("t", ChickWeight$Time))
twoway_of("quakes", paste0("s", quakes$stations), ifelse(quakes$mag >= 4.6, "strong", "light"))
write.csv(do.call(rbind, rows), file.path(out, "tables_expected.csv"), row.names = FALSE, quote = FALSE)
