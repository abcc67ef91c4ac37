// Reading a variable's values: cells, cached summary statistics, numeric
// vectors and matrices, category codes and frequency tables.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "engine/model.h"
#include "engine/variable_type.h"

namespace tabulix {

// The summary statistics of a list of cells; a figure that cannot be formed
// is absent. The four counts are always present.
struct BasicStats {
  int32_t obs = 0, obsNumeric = 0, obsDate = 0, levels = 0;
  OptInt levelsNumeric, levelsDate;
  OptReal min, pc25, pc50, pc75, max, mean, sd;
  OptReal minDate, pc25Date, pc50Date, pc75Date, maxDate, meanDate, sdDate;
};
// One figure of BasicStats: its key (the name of the Column attribute that
// caches it, where one does) and where BasicStats holds it.
struct StatField {
  const char* name;
  std::variant<int32_t BasicStats::*, OptInt BasicStats::*, OptReal BasicStats::*> member;
};
// The figures of BasicStats; the statistics cache copies each one that has
// a Column attribute of the same name ("levelsNumeric" has none).
inline const std::array<StatField, 20> kBasicStatsFields = {{
    {"obs", &BasicStats::obs},
    {"obsNumeric", &BasicStats::obsNumeric},
    {"obsDate", &BasicStats::obsDate},
    {"levels", &BasicStats::levels},
    {"levelsNumeric", &BasicStats::levelsNumeric},
    {"levelsDate", &BasicStats::levelsDate},
    {"min", &BasicStats::min},
    {"pc25", &BasicStats::pc25},
    {"pc50", &BasicStats::pc50},
    {"pc75", &BasicStats::pc75},
    {"max", &BasicStats::max},
    {"mean", &BasicStats::mean},
    {"sd", &BasicStats::sd},
    {"minDate", &BasicStats::minDate},
    {"pc25Date", &BasicStats::pc25Date},
    {"pc50Date", &BasicStats::pc50Date},
    {"pc75Date", &BasicStats::pc75Date},
    {"maxDate", &BasicStats::maxDate},
    {"meanDate", &BasicStats::meanDate},
    {"sdDate", &BasicStats::sdDate},
}};
// The statistics under their keys ("obs", "obsNumeric", "pc25Date", …).
nlohmann::json toJson(const BasicStats& stats);

// Figures of a column under plain keys, in the order they are listed.
using StatList = std::vector<std::pair<std::string, double>>;

// --- cells ---
// The cells of a row, in the given order.
std::vector<Cell> cellsForRow(Model& model, const Row& row, const std::vector<CellSort>& sort = {});
// The cells of a column, restricted to the given rows when there are any.
std::vector<Cell> cellsForColumn(Model& model, const Column& column, const std::vector<CellSort>& sort = {},
                                 const std::vector<int32_t>* rows = nullptr);
// The distinct non-empty texts of a column, in no particular order.
std::vector<std::string> distinctValuesForColumn(Model& model, const Column* column);

// --- cached statistics ---
// The statistics of a list of cells, in one pass in cell order.
BasicStats basicStatsForCells(Model& model, const std::vector<Cell>& cells);
// The statistics of all of a column's cells, without touching the cache.
BasicStats dictBasicStatsForColumn(Model& model, const Column& column);
// Computes a column's statistics from the given cells and caches them.
void basicStatsForColumn(Model& model, Column& column, const std::vector<Cell>& cells);
// Computes a column's statistics from all its cells and caches them.
void basicStatsForColumn(Model& model, Column& column);
// Copies the statistics into the column's cache; absent figures clear it.
void applyBasicStats(const BasicStats& stats, Column& column);
// True when the cache lacks a figure that the column's type needs.
bool needCalcBasicStatsForColumn(const Column& column);
// Forgets the column's cached statistics (its cells changed), so that no
// screen shows the old figures while the new ones are computed.
void clearBasicStats(Column& column);
// Refreshes the cache when needed and returns the figures for the type.
StatList retrieveBasicStatsForColumn(Model& model, Column& column);
// The figures for the column's type as the cache holds them, without
// computing or saving anything.
StatList cachedStatsForColumn(const Column& column);

// Visits a column's cells in row order (over `rows`, ascending, when given)
// as everything that computes reads them: a cell holding one of the
// variable's missing-value codes arrives as an empty text, i.e. missing.
void forEachValueOfColumn(
    Model& model, const Column& column, const std::vector<int32_t>* rows,
    const std::function<void(int32_t rowNum, std::optional<std::string_view> data)>& fn);

// --- vectors and codes ---
// The numbers read from the texts, in cell order; other texts are skipped.
std::vector<double> numericOfCells(Model& model, const std::vector<Cell>& cells);
// Dates (seconds since 1970) for DateTime, numbers for any other type.
std::vector<double> numericOfCells(Model& model, const std::vector<Cell>& cells, VariableType type);
// The numbers of all of a column's cells (unordered).
std::vector<double> numericOfColumn(Model& model, const Column& column);

// Column vectors of equal length with their names.
struct NumericMatrix {
  std::vector<std::vector<double>> Xmat;
  std::vector<std::string> names;
};
// Reads several columns by type over the given rows (all when none), drops
// rows missing in any column, and names Binary columns "(name=level)".
NumericMatrix numericOfColumns(Model& model, const std::vector<Column*>& cols,
                               const std::vector<int32_t>* rows = nullptr);

// Integer codes of texts and the text-to-code dictionary used.
struct Factor {
  std::vector<int32_t> data;
  std::map<std::string, int32_t> code;
};
// Codes each cell's text, extending the given dictionary in order of first appearance.
Factor factorOfCategorical(const std::vector<Cell>& cells,
                           const std::map<std::string, int32_t>* levels = nullptr);

// --- frequencies ---
// Count of each distinct non-empty text.
using FrequencyDict = std::unordered_map<std::string, int64_t>;
// Levels with their counts.
struct TopValues {
  std::vector<std::string> levels;
  std::vector<int64_t> counts;
};
// Levels with counts and running shares of the total.
struct TopFrequencies {
  std::vector<std::string> levels;
  std::vector<int64_t> counts;
  std::vector<double> cumulative;
};
// The distinct non-empty texts of some cells with their counts, in order of
// first appearance; the texts are views into the cells, valid while they are.
struct TextCounts {
  std::vector<std::string_view> texts;
  std::vector<int64_t> counts;
  std::vector<int32_t> ofCell;  // per cell: the index of its text, -1 when it has none
};
// Counts the cells' non-empty texts without copying them.
TextCounts countTexts(const std::vector<Cell>& cells);
// The frequency dictionary of the cells' non-empty texts.
FrequencyDict frequenciesOfCells(const std::vector<Cell>& cells);
// The frequency dictionary of a column.
FrequencyDict frequenciesOfColumn(Model& model, const Column& column);
// The N most frequent entries, ties by level ascending.
TopValues dictionary(const FrequencyDict& frequencies, uint32_t top);
// At most N entries, the last being "Others" when there are more levels.
TopFrequencies frequenciesOfCells(const std::vector<Cell>& cells, uint32_t top);
// The same over a column.
TopFrequencies frequenciesOfColumn(Model& model, const Column& column, uint32_t top);
// The same over a frequency dictionary already counted.
TopFrequencies topFrequencies(const FrequencyDict& frequencies, uint32_t top);
// The same over texts already counted.
TopFrequencies topFrequencies(const TextCounts& counts, uint32_t top);

}  // namespace tabulix
