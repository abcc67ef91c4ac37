// What the variable detail shows and hands on: its reported lines, its CSV
// lines, its file base name and its report layout (screen and print).
#pragma once

#include <string>
#include <vector>

#include "analyses/detail/variable_detail.h"
#include "reports/layout.h"
#include "textio/csv_writer.h"

namespace tabulix {

// One reported line: its text and the glossary term its label explains.
struct DetailLine {
  std::string text;
  std::string term;
};

// The three blocks of figures (left, centre, right), empty lines dropped.
struct DetailBlocks {
  std::vector<DetailLine> left, centre, right;
};

// The inputs every output of a detail shares.
struct DetailContext {
  std::string name;         // the variable's name
  VariableType columnType;  // the variable's own type (the type line)
  int64_t cachedObs = 0;    // the column's cached obs and levels (all rows)
  int64_t cachedLevels = 0;
  std::string filterText;  // "" when no filter
};

// The figures as the detail reports them, by type.
DetailBlocks detailBlocks(const VariableDetailResult& result);
// "Type: Numeric" and the like for a variable type.
std::string typeLineFor(VariableType type);
// The filter line: "Filters: %@" or "No filters".
std::string filterLineFor(const std::string& filterText);
// The exported files' base name: "Summary of %@".
std::string fileNameOutput(const DetailContext& context);
// The most frequent values: header row, then value, count, % and cum. % (whole percents).
std::vector<std::vector<std::string>> frequencyRows(const VariableDetailResult& result, int64_t cachedObs);
// The charts: bar plot and pie chart, or histogram with box plot and Q-Q plot.
std::vector<charts::Chart> detailCharts(const VariableDetailResult& result, const std::string& name);
// Writes the detail's CSV lines.
void writeCSVLines(const VariableDetailResult& result, const DetailContext& context, CsvWriter& writer);
// The report layout; `print` gives the print variant on a 612-point page.
reports::Element detailLayout(const VariableDetailResult& result, const DetailContext& context, bool print);

}  // namespace tabulix
