// Two-way frequency tables beyond Pearson's chi-square: expected counts, the likelihood-ratio
// G², adjusted standardized residuals, Fisher's exact test and the conditional odds ratio.
// A table is its rows of counts (whole, non-negative numbers).
#pragma once

#include <cstdint>
#include <vector>

namespace tabulix {

// The likelihood-ratio statistic 2 Σ n ln(n / e) with its df and upper-tail p-value.
struct GTestResult {
  double G2 = 0, df = 0, p = 0;
};

// Fisher's exact test: the two-sided p-value (the sum of the probabilities of the tables with
// the observed margins that are no more probable than the observed one, with R's relative
// tolerance 1e-7), or computed = false when the tables to enumerate exceed the budget.
struct FisherResult {
  double p = 0;
  bool computed = false;
};

// The conditional maximum-likelihood odds ratio of a 2 × 2 table with its 95% interval, as R's
// fisher.test (noncentral hypergeometric); 0 or infinity at the support's ends.
struct OddsRatioResult {
  double estimate = 0, lower = 0, upper = 0;
};

// Stateless routines of the frequency tables.
class ExactTables {
 public:
  // Expected counts row total × column total / N, in the table's shape.
  static std::vector<std::vector<double>> expected(const std::vector<std::vector<double>>& table);
  // G² against independence; df = (rows − 1)(columns − 1) over the non-empty rows and columns.
  static GTestResult gTest(const std::vector<std::vector<double>>& table);
  // (n − e) / sqrt(e (1 − row/N)(1 − column/N)), as R's chisq.test()$stdres; NaN where e = 0.
  static std::vector<std::vector<double>> adjustedResiduals(const std::vector<std::vector<double>>& table);
  // Fisher's exact test: the tables with the observed margins summed column by column
  // by a network algorithm, giving up after `budget` steps (path extensions).
  static FisherResult fisher(const std::vector<std::vector<double>>& table, std::uint64_t budget = 20'000'000);
  // The conditional odds ratio of a 2 × 2 table and its interval at the given level.
  static OddsRatioResult oddsRatio(const std::vector<std::vector<double>>& table, double level = 0.95);
};

}  // namespace tabulix
