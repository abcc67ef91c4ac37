// The tables shown beside the one-way ANOVA's F test: the ANOVA table with
// its effect sizes, Welch's ANOVA, the Brown–Forsythe test of equal
// variances, Kruskal–Wallis, and on request the pairwise comparisons of means
// (Tukey or Games–Howell) and Dunn's comparisons of mean ranks.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "reports/layout.h"
#include "stats/group_tests.h"
#include "textio/csv_writer.h"

namespace tabulix {

// Which pairwise comparisons are computed.
enum class PostHoc { None, Tukey, GamesHowell };

// The setting's value ("none", "tukey", "gamesHowell") as PostHoc; nullopt for any other text.
std::optional<PostHoc> postHocFromText(const std::string& text);
// PostHoc as the setting's value.
std::string postHocText(PostHoc postHoc);

// The tables of one analysis; comparisons name the groups by their level.
struct OneWayTables {
  AnovaTable anova;
  FTestResult welch, levene;
  KruskalResult kruskal;
  PostHoc postHoc = PostHoc::None;
  std::vector<PairComparison> comparisons;      // empty unless postHoc is set
  std::vector<RankComparison> rankComparisons;  // empty unless postHoc is set
  std::vector<std::string> levels;              // the groups' levels, as the indices refer to them
  bool proportions = false;                     // the summarized variable is Binary (0/1 values)
};

// The tables of `groups` (one per level, possibly empty; empty groups are
// left out of every table) labelled by `levels`.
OneWayTables oneWayTables(const std::vector<std::vector<double>>& groups,
                          const std::vector<std::string>& levels, PostHoc postHoc, bool proportions);

// Adds "anova", "welch", "levene", "kruskal" and, with comparisons,
// "comparisons" and "rankComparisons" to a result.
void addToJson(const OneWayTables& tables, nlohmann::json& result);

// The CSV lines after the summary table, each table under its own title line.
void writeCSVLines(const OneWayTables& tables, CsvWriter& writer);

// Appends the tables to a layout from `y` in a column `width` wide; returns the next free y.
double appendOneWayTables(const OneWayTables& tables, reports::Element& root, double y, double width,
                          bool print);

}  // namespace tabulix
