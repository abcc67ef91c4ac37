// The bivariate analysis: Pearson's correlation of two variables with its
// t statistic, Fisher-z p-value and 95% interval, and the least-squares
// line of the second on the first with its residuals.
#pragma once

#include <array>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "analyses/fit.h"
#include "engine/model.h"
#include "stats/rank_correlation.h"

namespace tabulix {

// Correlation of a pair of equally long vectors.
struct CorrelationRecord {
  double r = NAN;                           // Pearson's correlation
  double t = NAN;                           // r sqrt((n - 2) / (1 - r^2))
  double df = -2;                           // n - 2
  double p = NAN;                           // two-sided p of t with n - 2 df (cor.test)
  std::array<double, 2> ci{NAN, NAN};       // Fisher-z 95% interval
  std::array<std::vector<double>, 2> data;  // [x values, y values]
};

// The full bivariate result: the correlation and the fitted line.
struct CorrelationResult {
  CorrelationRecord correlation;
  FitResult fit;                                   // the fit of y on x (coefficients per day for dates)
  std::array<std::array<double, 2>, 2> dataFit{};  // [[x0, x1], [y0, y1]]
  std::string nameX, nameY;
  bool xIsDate = false, yIsDate = false;
  HistogramResult histogram;  // of the residuals, 10 bins asked for
  RankCorrelation spearman, kendall;  // Spearman's ρ and Kendall's τ-b of the same pairs
};

// The correlation record of [x, y].
CorrelationRecord correlationOfData(const std::vector<double>& x, const std::vector<double>& y);

// The correlation of two columns over all rows.
CorrelationRecord correlationOfColumn(Model& model, Column& x, Column& y);

// The correlation and line of y on x over the given rows (all when none),
// rows read where both values do; the residual histogram is added.
CorrelationResult correlationResultsForColumn(Model& model, Column& x, Column& y,
                                              const std::vector<int32_t>* rows);

// The result under its keys ("r", "ci", "coeffs", "reg_t", "dataFit", "spearman", "kendall", ...).
nlohmann::json toJson(const CorrelationResult& result, bool vectors = false);

}  // namespace tabulix
