// Two-way tables of frequencies: joint counts of two variables (at most
// `top` levels each, the rest pooled as "Others"), percentages by a base,
// the chi-square test with Phi or Cramer's V, its texts, CSV lines and layout.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "engine/model.h"
#include "reports/layout.h"
#include "stats/exact_tables.h"
#include "textio/csv_writer.h"

namespace tabulix {

// The result of twoWayTabOfColumn.
struct TwoWayResult {
  std::vector<std::string> levelsA, levelsB;  // row and column levels
  std::vector<double> countsA, countsB;       // their counts
  std::vector<std::vector<double>> freqs, percs;
  double sumTotal = 0;
  std::vector<double> percsA, percsB;
  double chisq = 0, p = 0, v = 0, phi = 0;
  int df = 0;
  int percents = 0;  // the base: 0 grand total, 1 row total, 2 column total
  std::vector<std::vector<double>> expected, adjustedResiduals;  // per cell, in the table's shape
  double minExpected = 0;
  GTestResult gTest;
  FisherResult fisher;                       // computed = false when over the budget
  std::optional<OddsRatioResult> oddsRatio;  // 2 × 2 tables only, in the displayed level order
};

// The steps Fisher's exact test may take in an analysis before it is reported as not computed
// (about 0.3 s of CPU here).
inline constexpr std::uint64_t kFisherBudget = 200'000;
// The most partial margins the enumeration may have to visit, Π (total + 1) over all rows (or
// columns) but the largest; beyond it the test is not tried, which keeps a large table's cost
// at nothing instead of the whole budget.
inline constexpr double kFisherMaxMargins = 2e6;

// Whether Fisher's exact test of the table is worth trying within the budget.
bool fisherFeasible(const std::vector<std::vector<double>>& table);

// The result under its keys ("arrayA", "freqs", "chisq", ...).
nlohmann::json toJson(const TwoWayResult& result);

// Cross-tabulates `rowColumn` by `colColumn` over the given rows (every row
// when none); `percents` is the base code, `includeMissing` counts an empty
// value as a level of its own instead of skipping the row.
TwoWayResult twoWayTabOfColumn(Model& model, const Column& rowColumn, const Column& colColumn, uint32_t top,
                               int percents, bool includeMissing, const std::vector<int32_t>* rows);

// What the outputs need besides the result.
struct TwoWayContext {
  std::string leftName, rightName;
  std::string filterText;
  bool showPercents = true;  // twoWayPercDisplay
  bool includeMissing = false;
  bool showResiduals = false;  // the adjusted standardized residuals' table
};

// the p-value and its significance mark ("p < 0.001 ***").
std::string twoWayPText(double p);
// "Phi = %@" for a 2 x 2 table, else "Cramer's V = %@".
std::string twoWayAssociationText(const TwoWayResult& result);
// The warning when an expected count is below 5, else empty.
std::string twoWayExpectedWarning(const TwoWayResult& result);
// The interpretation sentence.
std::string twoWayInterpretation(const TwoWayResult& result, const TwoWayContext& context);
// The table: header row, the row levels, the "Total" row; counts with whole percentages.
std::vector<std::vector<std::string>> twoWayRows(const TwoWayResult& result, const TwoWayContext& context);
// The "Stacked Bar Plot".
charts::Chart twoWayChart(const TwoWayResult& result);
// Writes the CSV export.
void writeCSVLines(const TwoWayResult& result, const TwoWayContext& context, CsvWriter& writer);
// The report layout; `print` gives the print variant.
reports::Element twoWayLayout(const TwoWayResult& result, const TwoWayContext& context, bool print);
// The exported files' base name, "Two way table of frequencies for %@ and %@".
std::string twoWayBaseName(const TwoWayContext& context);

}  // namespace tabulix
