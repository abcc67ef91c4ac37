// What the bivariate analysis shows and hands on: its reported lines and
// interpretation, its coefficient table, charts, CSV lines, base name and
// report layout (screen and print).
#pragma once

#include <string>
#include <vector>

#include "analyses/coefficients.h"
#include "analyses/correlation/correlation.h"
#include "charts/chart.h"
#include "reports/layout.h"
#include "textio/csv_writer.h"

namespace tabulix {

// The message of a bivariate analysis without its two variables.
std::string correlationValidityMessage();

// "Analysis of variables %@ and %@" with the y name, then the x name.
std::string correlationFileName(const std::string& nameY, const std::string& nameX);

// The significance sentence, or the text replacing it, followed by the
// strength of the correlation.
std::string correlationInterpretation(const CorrelationRecord& c);

// "Correlation: %@", "t = %@, df = %@, %@", "95% Conf Interval: %@ to %@".
std::vector<std::string> correlationLines(const CorrelationRecord& c);

// "Obs = %@", "R² = %@", "Adjusted R² = %@", "RMSE = %@" and the equation.
std::vector<std::string> correlationRegressionLines(const CorrelationResult& r);

// The coefficient rows: x, then "Constant".
std::vector<CoefficientRow> correlationCoefficients(const CorrelationResult& r);

// The scatter plot with the fitted segment, the residual plot and the
// histogram of residuals.
std::vector<charts::Chart> correlationCharts(const CorrelationResult& r);

// Writes the CSV export.
void writeCSVLines(const CorrelationResult& r, const std::string& filterText, CsvWriter& w);

// The report layout; `print` gives the print variant on a 612-point page.
reports::Element correlationLayout(const CorrelationResult& r, const std::string& filterText, bool print);

}  // namespace tabulix
