# Reference figures of the tests on ranks run as an analysis: wilcox.test
# with its defaults and conf.int = TRUE on sleep (paired, ties and a zero
# difference: the normal approximation), PlantGrowth's ctrl weights against
# 5 (exact, no ties), ctrl against trt1 (rank-sum, exact) and warpbreaks'
# breaks by wool (ties: normal), every tail; friedman.test on three related
# columns with ties. Writes ranks_data.csv and ranks_expected.tsv.
#   Rscript tests/reference/ranks.R   (from the repository root)
out <- "tests/data/reference"
n <- 54
pad <- function(x) { y <- rep("", n); y[seq_along(x)] <- as.character(x); y }
s1 <- sleep$extra[sleep$group == 1]; s2 <- sleep$extra[sleep$group == 2]
rel <- data.frame(a = c(3, 5, 2, 4, 4, 6, 1, 5, 3, 4), b = c(4, 6, 2, 5, 6, 7, 3, 5, 4, 6),
                  c = c(2, 5, 3, 3, 4, 5, 2, 4, 3, 5))
d <- data.frame(drug1 = pad(s1), drug2 = pad(s2),
                weight = pad(PlantGrowth$weight), group = pad(PlantGrowth$group),
                breaks = pad(warpbreaks$breaks), wool = pad(warpbreaks$wool),
                a = pad(rel$a), b = pad(rel$b), c = pad(rel$c))
write.csv(d, file.path(out, "ranks_data.csv"), row.names = FALSE, quote = FALSE)
rows <- list()
put <- function(case, key, value) rows[[length(rows) + 1]] <<- data.frame(case = case, key = key, value = sprintf("%.17g", value))
alt <- c("two.sided", "less", "greater")
w <- function(case, ...) {
  for (tails in 0:2) {
    r <- suppressWarnings(wilcox.test(..., alternative = alt[tails + 1], conf.int = TRUE))
    name <- paste0(case, "_", tails)
    put(name, "W", r$statistic); put(name, "p", r$p.value); put(name, "exact", grepl("exact", r$method))
    put(name, "estimate", r$estimate); put(name, "lower", r$conf.int[1]); put(name, "upper", r$conf.int[2])
  }
}
ctrl <- PlantGrowth$weight[PlantGrowth$group == "ctrl"]
trt1 <- PlantGrowth$weight[PlantGrowth$group == "trt1"]
w("paired_sleep", s1, s2, paired = TRUE)
w("one_plants", ctrl, mu = 5)
w("sum_plants", ctrl, trt1)
w("sum_wool", warpbreaks$breaks[warpbreaks$wool == "A"], warpbreaks$breaks[warpbreaks$wool == "B"])
f <- friedman.test(as.matrix(rel))
put("friedman", "chisq", f$statistic); put("friedman", "df", f$parameter); put("friedman", "p", f$p.value)
write.table(do.call(rbind, rows), file.path(out, "ranks_expected.tsv"), sep = "\t", row.names = FALSE, quote = FALSE)
