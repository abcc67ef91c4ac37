// The variable detail analysis: one variable over the rows a filter keeps,
// its counts, five-number summary, moments, 95% intervals, most frequent
// values and the series of its charts.
#pragma once

#include <array>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "engine/cell_access.h"
#include "engine/model.h"
#include "engine/variable_type.h"
#include "stats/normality.h"

namespace tabulix {

// The figures of one variable; a field is absent when its type does not give it.
struct VariableDetailResult {
  VariableType type = VariableType::Unknown;  // the type the figures were computed for
  std::optional<TopFrequencies> top;          // the 20 most frequent values
  // Chart data: the 10 most frequent values (Categorical, Binary) ...
  std::optional<TopFrequencies> graphLevels;
  // ... or the histogram's left edges and counts (Numeric, DateTime).
  std::optional<std::array<std::vector<double>, 2>> graph;
  std::optional<std::vector<double>> sorted, qnorm;
  std::optional<std::array<std::array<double, 2>, 2>> qqline;  // ([x0, x1], [y0, y1])
  std::optional<int64_t> obs, obsNumeric, obsDate, levels;
  std::optional<double> min, pc25, pc50, pc75, max, mean, sd, rms, mode, variance, meanAbsDev, range,
      midrange, coeffVar, skew, kurtosis, sum;
  std::optional<std::array<double, 2>> ciMean, ciStd, ciVariance;
  std::optional<double> lower_fence, upper_fence;
  std::optional<std::vector<double>> outliers;
  std::optional<std::string> seed;  // the seed of a random variable's draws, as kept with it
  std::optional<ShapiroWilkResult> shapiro;  // Numeric only; NaN outside 3 to 5,000 values
  int64_t shapiroN = 0;                      // the values the normality test saw
};

// The result under its keys ("obsNumeric", "ciMean", "lower_fence", ...); the sorted
// values and their normal quantiles ("sorted", "qnorm") only with vectors.
nlohmann::json toJson(const VariableDetailResult& result, bool vectors = false);

// Computes the detail of a column over the given rows (all rows when none).
// Without rows and with an incomplete cache, the cache is computed and saved.
VariableDetailResult varDetailForColumn(Model& model, Column& column, const std::vector<int32_t>* rows);

}  // namespace tabulix
