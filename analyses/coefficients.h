// What the correlation and regression reports share: the filling of their
// formats, significance stars, the fitted equation and the coefficient
// table with its notes for dropped variables.
#pragma once

#include <string>
#include <vector>

#include "analyses/fit.h"
#include "reports/layout.h"
#include "textio/csv_writer.h"

namespace tabulix {

// "*** " for p <= 0.001, "** " for p <= 0.01, "* " for p <= 0.05, else "".
std::string significanceStars(double p);

// The legend of the significance stars.
std::string significanceLegend();

// The note shown instead of a dropped variable's figures, by its drop status.
std::string dropNote(const std::string& status);

// The fitted equation: "y = " (or "y ~ " for a logistic model), then
// " + b * x" for each variable whose coefficient is a number, then the
// constant and " + ϵ". A term's separator is " + " when it is not the first
// and its value is at least 0, else " ".
std::string equationText(const std::string& nameLHS, const std::vector<std::string>& names,
                         const std::vector<double>& coeffs, bool logistic);

// The coefficients as the reports and exports list them: one entry per
// variable (its name) and a last one "Constant".
struct CoefficientRow {
  std::string name;
  double coefficient, stdErr, statistic, p;
  std::string drop;  // "keep", "constant" or "collinear"
};
std::vector<CoefficientRow> coefficientRows(const std::vector<std::string>& names,
                                            const std::vector<double>& coeffs,
                                            const std::vector<double>& stdErrs,
                                            const std::vector<double>& statistics,
                                            const std::vector<double>& ps,
                                            const std::vector<std::string>& drop);

// The coefficient table of a report: header "", "Coefficient", statistic,
// p, "Significance", "Std Err"; a dropped variable's row holds its note.
// `statistic` is "t" or "z". Print variants use the 85-point columns and
// the 147-point row header.
reports::Element coefficientTable(const std::vector<CoefficientRow>& rows, const std::string& statistic,
                                  bool print, double x, double y);

// The CSV block of the coefficients: header line, then one line each.
void writeCoefficientLines(const std::vector<CoefficientRow>& rows, const std::string& statistic,
                           CsvWriter& w);

// The histogram of residuals: bars at the bins' left edges, "Frequency" up.
charts::Chart residualHistogramChart(const HistogramResult& histogram);

}  // namespace tabulix
