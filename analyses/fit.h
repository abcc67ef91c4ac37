// The fit wrapper shared by the variable detail, correlation and regression
// analyses, and the histogram with rounded bin edges.
#pragma once

#include <array>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "stats/regression.h"

namespace tabulix {

// Result of olsY(): the least-squares or logistic record with its coefficient lists realigned to the
// requested x vectors (NaN for dropped ones) and the constant last, plus the drop statuses, the
// sample standard deviation of y and y itself.
struct FitResult {
  std::variant<OlsResult, LogitResult> fit;  // OlsResult unless the logistic fit was asked for
  std::vector<std::string> drop;             // "keep", "constant" or "collinear" per x vector, then "keep"
  double sdDep = 0;                          // sdNormal(y), sent under the key "varianceDep"
  std::vector<double> y;                     // the response vector

  // Whether the logistic fit was made.
  bool isLogit() const { return std::holds_alternative<LogitResult>(fit); }
  // Realigned coefficients: entry j belongs to x vector j, the constant is last.
  const std::vector<double>& coeffs() const;
  // Realigned standard errors.
  const std::vector<double>& standardErrors() const;
  // Realigned t (or Wald z) statistics.
  const std::vector<double>& t() const;
  // Realigned two-sided p-values.
  const std::vector<double>& p() const;
  // Fitted values (probabilities for the logistic fit).
  const std::vector<double>& yhat() const;
  // Observed minus fitted values, y − ŷ.
  const std::vector<double>& residuals() const;
  // Number of observations.
  std::uint32_t N() const;
};

// JSON record: the fit's keys plus "drop" and "varianceDep"; with vectors also the
// per-observation "y", "yhat" and "residuals".
nlohmann::json toJson(const FitResult& r, bool vectors);
// The record with every vector.
void to_json(nlohmann::json& j, const FitResult& r);

// Fits y on the x vectors plus a constant (last): least squares, or logistic regression when logit is
// set. Constant x vectors and the earlier vector of each collinear pair are left out of the fit and
// get NaN coefficients.
FitResult olsY(std::span<const double> y, const std::vector<std::vector<double>>& xs, bool logit);

// Histogram as a pair of equal-length lists: left bin edges and counts (or fractions).
struct HistogramResult {
  std::vector<double> edges;   // left edge of each bin
  std::vector<double> counts;  // values per bin, divided by the vector's length when percent was asked for
};

// JSON form [edges, counts].
void to_json(nlohmann::json& j, const HistogramResult& r);

// Histogram of values over [min, max] (from range, else from the data). With optimize the range is
// widened to multiples of half a power of ten and the bin count chosen from 1-2-5 steps, ignoring bins;
// without it, bins equal bins of the range. Values outside the range go to the first or last bin.
// An empty vector, or bins = 0 without optimize, gives two empty lists.
HistogramResult histogramOfVector(std::span<const double> values, unsigned bins,
                                  std::optional<std::array<double, 2>> range, bool percent, bool optimize);

// Histogram with rounded edges over the data's own range, counting values.
HistogramResult histogramOfVector(std::span<const double> values, unsigned bins);

}  // namespace tabulix
