// The analyses by name: each kind checks a request, computes its result on
// the Model it is given (a worker's), and returns the result's JSON, its CSV
// lines, its screen and print layouts and its file base name. The command
// line and the server go through this table; nothing else switches on kinds.
#pragma once

#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "analyses/filters.h"
#include "engine/model.h"
#include "import/csv_writer.h"
#include "reports/layout.h"

namespace tabulix {

// A request that does not fit its kind (a missing or wrong-typed variable,
// an unknown setting); the message names what is wrong.
struct AnalysisRequestError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// What to analyse: the variables by number, the filters and the settings
// (the Analysis record's field names with their values as texts).
struct AnalysisRequest {
  std::optional<int32_t> left, right;
  std::vector<int32_t> columns;
  std::vector<WhereClauseObj> wheres, wheres2;
  std::map<std::string, std::string> settings;
  bool vectors = false;  // also the per-observation vectors (residuals, fitted values, sorted values...)
};

// One computed analysis and everything its outputs are made from.
struct AnalysisOutput {
  nlohmann::json result;                     // the result under its keys, with "filters"
  std::function<void(CsvWriter&)> csvLines;  // writes the CSV export
  reports::Element screen, print;            // the layouts of the screen and of the PDF
  std::string baseName;                      // the exported files' name
};

// One kind of analysis.
struct AnalysisKind {
  std::string name;         // "detail", "twoway", ...
  std::optional<int> type;  // the stored Analysis type, if it is saved
  std::function<AnalysisOutput(Model&, const AnalysisRequest&)> run;  // throws AnalysisRequestError
};

// Every kind, by name.
const std::map<std::string, AnalysisKind>& analysisKinds();

// The kinds' entry points (one per kind's folder).
AnalysisOutput runVariableDetail(Model& model, const AnalysisRequest& request);
AnalysisOutput runCorrelation(Model& model, const AnalysisRequest& request);
AnalysisOutput runLinearRegression(Model& model, const AnalysisRequest& request);
AnalysisOutput runLogisticRegression(Model& model, const AnalysisRequest& request);
AnalysisOutput runHypothesisTestOfMeans(Model& model, const AnalysisRequest& request);
AnalysisOutput runRanks(Model& model, const AnalysisRequest& request);
AnalysisOutput runHypothesisTestOfProportions(Model& model, const AnalysisRequest& request);
AnalysisOutput runTabSummarize(Model& model, const AnalysisRequest& request);
AnalysisOutput runTwoWayTab(Model& model, const AnalysisRequest& request);

// The kind that computes a stored Analysis type (a regression by its
// distribution: 2 logistic, else linear), or none.
const AnalysisKind* analysisKindForType(int32_t type, std::optional<int32_t> distribution = std::nullopt);
// The request of a saved analysis: its variables, both filters and its
// stored settings as texts (an expected value in the decimal separator the
// workspace reads, or as a date for a date variable).
AnalysisRequest requestForAnalysis(const Analysis& analysis, char decimalSeparator = '.');
// The same in the decimal separator of the workspace the model has open (its
// recorded one, else the device's), so the texts read back as stored.
AnalysisRequest requestForAnalysis(Model& model, const Analysis& analysis);
// Stores a request as a new saved analysis of the kind (variables, filter
// conditions and stored settings), opened now; saves. Returns it.
Analysis* saveAnalysisRequest(Model& model, const AnalysisKind& kind, const AnalysisRequest& request);

}  // namespace tabulix
