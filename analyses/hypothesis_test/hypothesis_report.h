// What a hypothesis test shows and hands on: its reported texts, its CSV
// lines, its file base name and its report layout (screen and print).
#pragma once

#include <string>
#include <vector>

#include "analyses/hypothesis_test/hypothesis_test.h"
#include "charts/chart.h"
#include "engine/variable_type.h"
#include "reports/layout.h"
#include "textio/csv_writer.h"

namespace tabulix {

// The setting and the names every output of a test shares.
struct HypothesisContext {
  int distribution = 0;  // 0 or 1 means, 2 proportions
  int samples = 1;
  bool paired = false;
  int tails = 0;
  int test = 1;
  double expected = 0;  // one sample
  std::string leftName, rightName;
  VariableType leftType = VariableType::Numeric, rightType = VariableType::Numeric;
  std::string leftLevel1, rightLevel1;  // the success levels used (proportions)
  std::string filterText1, filterText2;
  bool grouped = false;  // two samples of one variable by a grouping variable's levels (names "Y | G = a")
  std::string leftLegend = "Sample 1", rightLegend = "Sample 2";  // the curves' legend ("G = a" when grouped)
};

// "Hypothesis Test of Means" or "Hypothesis Test of Proportions".
std::string fileNameOutput(const HypothesisContext& context);
// The null and alternative hypothesis lines, or none for other settings.
std::vector<std::string> hypothesisStatement(const HypothesisContext& context);
// The sample lines ("Sample 1: ...", "Sample 2: ..." or "Expected value: ...").
std::vector<std::string> sampleLines(const HypothesisContext& context);
// The summary table: header row then "Obs.", "Mean"/"Proportion", "Std Err" (or the paired 2 x 2 counts).
std::vector<std::vector<std::string>> summaryRows(const HypothesisResult& result,
                                                  const HypothesisContext& context);
// The "Test statistics" line.
std::string statisticsLine(const HypothesisResult& result);
// The interval, effect size and normality lines, each with its glossary term.
std::vector<std::pair<std::string, const char*>> effectLines(const HypothesisResult& result,
                                                             const HypothesisContext& context);
// The decision and its explanation at the 0.05 level.
std::array<std::string, 2> decisionLines(double p);
// The sample and distribution charts.
std::vector<charts::Chart> hypothesisCharts(const HypothesisResult& result, const HypothesisContext& context);
// Writes the test's CSV lines.
void writeCSVLines(const HypothesisResult& result, const HypothesisContext& context, CsvWriter& writer);
// The report layout; `print` gives the print variant on a 612-point page.
reports::Element hypothesisLayout(const HypothesisResult& result, const HypothesisContext& context,
                                  bool print);

}  // namespace tabulix
