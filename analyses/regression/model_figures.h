// The figures a fitted regression adds to its coefficient table: for the
// linear model the overall F test, the coefficients' intervals (as R's
// confint), the standardized coefficients and the variance inflation
// factors; for the logistic model the odds ratios with Wald intervals, the
// likelihood-ratio test against the intercept-only model, Nagelkerke's R²
// and the classification table's rates at the cut-off 0.5.
#pragma once

#include <array>
#include <nlohmann/json.hpp>
#include <vector>

#include "analyses/fit.h"
#include "reports/layout.h"
#include "textio/csv_writer.h"

namespace tabulix {

// An F, chi-square or similar statistic with its degrees of freedom and p-value.
struct ModelTest {
  double statistic = 0, df1 = 0, df2 = 0, p = 0;
};

// The model figures; NaN where a coefficient was dropped or a figure does not apply.
struct ModelFigures {
  bool logistic = false;
  // Linear.
  ModelTest modelF;                            // F, regressors, residual df
  std::vector<std::array<double, 2>> coeffCI;  // per coefficient, regressors then the constant
  std::vector<double> beta, vif;               // per regressor
  // Logistic.
  std::vector<std::array<double, 3>> oddsRatios;  // per coefficient: odds ratio, lower, upper
  ModelTest lrTest;                               // chi-square, df (df2 unused)
  double nagelkerke = 0;
  double accuracy = 0, sensitivity = 0, specificity = 0;
};

// The figures of `fit` of `y` on the columns of `x` (as passed to olsY).
ModelFigures modelFigures(const FitResult& fit, const std::vector<double>& y,
                          const std::vector<std::vector<double>>& x);

// Adds the figures under their keys ("modelF", "coeffCI", "beta", "vif" or
// "oddsRatios", "lrTest", "nagelkerke", "classification").
void addToJson(const ModelFigures& figures, nlohmann::json& result);

// The CSV lines, each table under its own title line; `names` are the regressors' names.
void writeCSVLines(const ModelFigures& figures, const std::vector<std::string>& names, CsvWriter& writer);

// Appends the figures to a layout from `y` in a column `width` wide; returns the next free y.
double appendModelFigures(const ModelFigures& figures, const std::vector<std::string>& names,
                          reports::Element& root, double y, double width, bool print);

}  // namespace tabulix
