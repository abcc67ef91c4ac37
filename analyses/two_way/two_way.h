// Two-way tables of frequencies: joint counts of two variables (at most
// `top` levels each, the rest pooled as "Others"), percentages by a base,
// the chi-square test with Phi or Cramer's V, its texts, CSV lines and layout.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "engine/model.h"
#include "import/csv_writer.h"
#include "reports/layout.h"

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
};

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
};

// the p-value and its significance mark ("p < 0.001 ***").
std::string twoWayPText(double p);
// "Phi = %@" for a 2 x 2 table, else "Cramer's V = %@".
std::string twoWayAssociationText(const TwoWayResult& result);
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
