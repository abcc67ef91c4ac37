// What the regression analysis shows and hands on: figures, equation,
// interpretation, coefficient table, charts, CSV lines and report layout.
#pragma once

#include <string>
#include <vector>

#include "analyses/coefficients.h"
#include "analyses/regression/regression.h"
#include "charts/chart.h"
#include "reports/layout.h"
#include "textio/csv_writer.h"

namespace tabulix {

// The inputs the outputs of a regression share besides its result.
struct RegressionContext {
  bool logistic = false;
  std::string title;          // "Linear regression model for variable %@" or the logistic one
  std::string dependentName;  // the dependent's own name
  bool dependentIsDate = false;
  size_t numIndependent = 0;  // explanatory variables asked for, dropped ones included
  std::string filterText;
};

// The message of a regression without a dependent variable.
std::string regressionValidityMessage();

// The title: "Logistic regression model for variable %@" or the linear one.
std::string regressionTitle(bool logistic, const std::string& dependentName);

// The one interpretation sentence; `warning` tells whether it shows in red.
std::string regressionInterpretation(const RegressionResult& r, const RegressionContext& c,
                                     bool* warning = nullptr);

// "Obs = %@" and the fit statistics of the model's kind.
std::vector<std::string> regressionFigureLines(const RegressionResult& r, const RegressionContext& c);

// The coefficient rows: the explanatory variables, then "Constant".
std::vector<CoefficientRow> regressionCoefficients(const RegressionResult& r);

// Residuals against fitted values and their histogram (linear), or the ROC
// curve with the diagonal of no discrimination (logistic).
std::vector<charts::Chart> regressionCharts(const RegressionResult& r, const RegressionContext& c);

// Writes the CSV export.
void writeCSVLines(const RegressionResult& r, const RegressionContext& c, CsvWriter& w);

// The report layout; `print` gives the print variant on a 612-point page.
reports::Element regressionLayout(const RegressionResult& r, const RegressionContext& c, bool print);

}  // namespace tabulix
