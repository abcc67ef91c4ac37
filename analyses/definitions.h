// Saved analysis definitions: the kinds and the menu that creates them, the
// variables each position accepts and offers, creating, filling and deleting
// definitions, the analysis list's summaries and its search; and the names
// of the hypothesis tests the list shows.
#pragma once

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "analyses/hypothesis_test/hypothesis_test.h"  // the tests' names
#include "analyses/ranks/ranks.h"                      // the rank tests' names
#include "engine/model.h"
#include "engine/variable_type.h"

namespace tabulix {

// The code held in Analysis.type; any other value means no kind was chosen.
enum AnalysisType : int32_t {
  TwoWayTab = 1,
  TabSummarize = 2,
  Correlation = 3,
  Regression = 4,
  HypothesisTest = 5,
  Ranks = 6,
};

// One row of the menu of new analyses.
struct AnalysisMenuRow {
  std::string title, description;  // translated
  std::string screen;              // the display that opens
  int32_t type;
  std::optional<int32_t> distribution;
};

// The rows of the menu, in order.
std::vector<AnalysisMenuRow> analysisMenu();

// A new analysis named `name`, opened now; saves.
Analysis* addAnalysis(Model& model, const std::string& name);
// Deletes an analysis (and its filter conditions); saves.
void removeAnalysis(Model& model, Analysis* analysis);
// Whether an analysis has the variables its kind needs before it means
// anything (one closed before they were chosen would read "Bivariate analysis
// of and").
bool analysisHasItsVariables(const Analysis& analysis);
// Deletes an analysis left without its variables, as if it had never been
// made; true when it was deleted.
bool dropAnalysisWithoutVariables(Model& model, Analysis* analysis);
// Creates an analysis from a menu row (0-based): named "New Analysis", its type and distribution set; saves.
Analysis* addAnalysisFromMenu(Model& model, size_t row);
// Position 3 adds to `columns`, 2 sets `right`, 1 sets `left` (leaving `columns`); saves.
void addColumnToAnalysis(Model& model, Column* column, Analysis* analysis, int position);

// The variable types a position of a kind accepts.
std::set<VariableType> variableTypesForAnalysisType(int32_t type, int position);
// The columns a position of a kind offers, in display order.
std::vector<Column*> columnsForAnalysisType(Model& model, int32_t type, int position);
// columnsForAnalysisType, without `left` for position 3 of a regression.
std::vector<Column*> columnsToAddToAnalysisType(Model& model, int32_t type, int position, const Column* left);
// The columns the variable chooser offers for a position of an analysis.
std::vector<Column*> columnsToAddToAnalysis(Model& model, const Analysis& analysis, int position);
// Applies the chooser's choice: position 3 replaces `columns`, 1 and 2 take the first column; saves.
void chooseColumnsForAnalysis(Model& model, Analysis* analysis, int position,
                              const std::vector<Column*>& chosen);
// Readies a regression before it is computed: a dependent allowing neither
// model is cleared, a logistic analysis whose dependent cannot be logistic
// becomes linear and the other way round. True when it changed anything
// (the caller saves).
bool prepareRegressionAnalysis(Analysis* analysis);
// Sets a hypothesis test's samples (1 or 2) and pairing, clearing a stored
// test that the new setting no longer allows.
void setHypothesisSamples(Analysis* analysis, int samples, bool paired);
// Makes a hypothesis test one of means (distribution 0 or 1) or of
// proportions (2), clearing a stored test the new kind does not allow.
void setHypothesisDistribution(Analysis* analysis, int distribution);
// Clears a hypothesis test's stored test when its distribution and samples
// no longer allow it.
void clearInvalidHypothesisTest(Analysis* analysis);
// Stores a hypothesis test's test code (none: "Determined by data"); a test
// of proportions also takes the sample setting the test is made for.
void setHypothesisTest(Analysis* analysis, std::optional<int> test);

// The rank test a saved tests-on-ranks analysis asks for: samples 3 are
// related ones (Friedman), 2 paired or not, else one sample.
RankTest rankTestOfAnalysis(const Analysis& analysis);

// 1 (logistic) when distribution is 2, else 0 (linear).
int regressionTypeOfAnalysis(const Analysis& analysis);

// What the analysis list shows for one analysis.
struct AnalysisSummary {
  std::string displayStyle, title, description, filterLine;
};
// The list entry of an analysis.
AnalysisSummary summaryForAnalysis(Model& model, const Analysis& analysis);

// Compares a name with a search text ignoring case and diacritics.
using NameMatcher = std::function<bool(std::string_view name, std::string_view search)>;
// The analyses, newest first, restricted to those whose left or right name
// contains the search text when it is not empty.
std::vector<Analysis*> searchAnalyses(Model& model, std::string_view search, const NameMatcher& contains);

}  // namespace tabulix
