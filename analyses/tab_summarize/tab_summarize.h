// One-way analysis of variance: one variable summarized by the levels of
// another (at most 20, the rest pooled as "Others"), with per-level
// percentiles, density curves and whiskers, its texts, CSV lines and layout.
#pragma once

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "analyses/tab_summarize/oneway_tables.h"
#include "engine/model.h"
#include "engine/variable_type.h"
#include "reports/layout.h"
#include "stats/descriptive.h"
#include "textio/csv_writer.h"

namespace tabulix {

// One level's summary; the percentiles, density and whiskers are absent for an empty group.
struct TabSummarizeLevel {
  std::string level;
  uint32_t obs = 0;
  double mean = 0, sd = 0;
  std::optional<std::map<double, double>> median;  // percents 0, 25, 50, 75, 100
  std::optional<std::vector<DensityPoint>> density;
  std::optional<double> topwhisker, botwhisker;
};

// The result of tabColumnSummarizing.
struct TabSummarizeResult {
  std::vector<TabSummarizeLevel> summary;  // in level order
  double F = 0, p = 0;
  VariableType summarizedType = VariableType::Unknown;
  OneWayTables tables;  // the ANOVA table, Welch, Levene, Kruskal–Wallis, comparisons
};

// The result under its keys ("summary", "F", "p", and the tables' keys).
nlohmann::json toJson(const TabSummarizeResult& result);

// Summarizes `summarized` by the levels of `grouping` over the given rows
// (every row when none): the `top` - 1 most frequent levels and "Others"
// when there are more than `top`, ordered by value for Numeric and DateTime
// grouping variables; the groups' analysis of variance and its tables, with
// the pairwise comparisons `postHoc` asks for.
TabSummarizeResult tabColumnSummarizing(Model& model, const Column& grouping, const Column& summarized,
                                        uint32_t top, const std::vector<int32_t>* rows,
                                        PostHoc postHoc = PostHoc::None);

// What the outputs need besides the result.
struct TabSummarizeContext {
  std::string leftName, rightName;  // the summarized and the grouping variable
  std::string filterText;
  bool boxPlot = true;  // the chosen view: box plot, else density plot
};

// The interpretation sentence for a p-value.
std::string tabSummarizeInterpretation(const TabSummarizeResult& result, const TabSummarizeContext& context);
// The table: header row, then one row per level.
std::vector<std::vector<std::string>> tabSummarizeRows(const TabSummarizeResult& result);
// The chart of the chosen view.
charts::Chart tabSummarizeChart(const TabSummarizeResult& result, const TabSummarizeContext& context);
// Writes the CSV export.
void writeCSVLines(const TabSummarizeResult& result, const TabSummarizeContext& context, CsvWriter& writer);
// The report layout; `print` gives the print variant.
reports::Element tabSummarizeLayout(const TabSummarizeResult& result, const TabSummarizeContext& context,
                                    bool print);
// The exported files' base name, "Summary statistics of %@ by %@".
std::string tabSummarizeBaseName(const TabSummarizeContext& context);

}  // namespace tabulix
