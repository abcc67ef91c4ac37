// Tests that compare the means, spreads or ranks of several groups: the one-way ANOVA table with
// its effect sizes, Welch's ANOVA, the Brown–Forsythe test of equal variances, Tukey's and
// Games–Howell's pairwise comparisons, Kruskal–Wallis with Dunn's comparisons, and Friedman's
// test of related samples. Groups are given as their values (NaN removed by the caller).
#pragma once

#include <span>
#include <vector>

namespace tabulix {

// The one-way ANOVA table, as R's summary(aov()), with η² = SSB / SST and
// ω² = (SSB − dfB · MSW) / (SST + MSW).
struct AnovaTable {
  double dfBetween = 0, dfWithin = 0;
  double ssBetween = 0, ssWithin = 0;
  double msBetween = 0, msWithin = 0;
  double F = 0, p = 0;
  double eta2 = 0, omega2 = 0;
};

// An F statistic with its degrees of freedom and upper-tail p-value.
struct FTestResult {
  double F = 0, df1 = 0, df2 = 0, p = 0;
};

// One pairwise comparison of groups a and b (indices into the groups): diff = mean(a) − mean(b),
// its simultaneous 95% interval and adjusted p-value.
struct PairComparison {
  int a = 0, b = 0;
  double diff = 0, lower = 0, upper = 0, p = 0;
};

// Kruskal–Wallis' H with the tie correction, as R's kruskal.test.
struct KruskalResult {
  double H = 0, df = 0, p = 0;
};

// One of Dunn's comparisons: z of mean rank a − mean rank b, two-sided p and Holm's adjustment.
struct RankComparison {
  int a = 0, b = 0;
  double z = 0, p = 0, pAdjusted = 0;
};

// Friedman's rank sum statistic of blocks × treatments, as R's friedman.test.
struct FriedmanResult {
  double chisq = 0, df = 0, p = 0;
};

// Stateless routines of the group comparisons; the groups need two values or more in all and at
// least two non-empty groups, else the figures are NaN.
class GroupTests {
 public:
  // The ANOVA table; sums of squares from shifted, compensated sums (sound for 1e9 offsets).
  static AnovaTable anovaTable(const std::vector<std::vector<double>>& groups);
  // Welch's heteroscedastic one-way ANOVA (Welch 1951), as R's oneway.test(var.equal = FALSE).
  static FTestResult welchAnova(const std::vector<std::vector<double>>& groups);
  // Brown–Forsythe's test of equal variances: the ANOVA of |x − group median|.
  static FTestResult brownForsythe(const std::vector<std::vector<double>>& groups);
  // Tukey's honestly significant differences (Tukey–Kramer for unequal sizes), as R's TukeyHSD:
  // pairs (j, i) for i < j in the order (1,0), (2,0), …, (2,1), …
  static std::vector<PairComparison> tukeyHsd(const std::vector<std::vector<double>>& groups, double level = 0.95);
  // Games–Howell's comparisons (Welch's df per pair, the studentized range), pairs as tukeyHsd.
  static std::vector<PairComparison> gamesHowell(const std::vector<std::vector<double>>& groups, double level = 0.95);
  // Kruskal–Wallis' test.
  static KruskalResult kruskalWallis(const std::vector<std::vector<double>>& groups);
  // Dunn's (1964) comparisons of mean ranks with the tie correction, pairs as tukeyHsd.
  static std::vector<RankComparison> dunn(const std::vector<std::vector<double>>& groups);
  // Friedman's test; each block holds one value per treatment (blocks with a NaN are left out).
  static FriedmanResult friedman(const std::vector<std::vector<double>>& blocks);
};

}  // namespace tabulix
