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
#include "engine/variable_type.h"
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
};

// One computed analysis and everything its outputs are made from.
struct AnalysisOutput {
  nlohmann::json result;                     // the result under its keys, with "filters"
  std::function<void(CsvWriter&)> csvLines;  // writes the CSV export
  reports::Element screen, print;            // the layouts of the screen and of the PDF
  std::string baseName;                      // the exported files' name
};

// The most variables one position of an analysis takes.
inline constexpr size_t kMaxAnalysisVariables = 500;

// One place a kind takes variables: `left`, `right` or `columns`.
struct PositionDescription {
  std::string key;                  // the request field and CLI option (--left, ...)
  std::string label;                // shown beside the chooser (translated on use)
  std::vector<VariableType> types;  // the variable types it accepts
  size_t minimum = 1;               // how many variables a complete request names
  size_t maximum = 1;               // at most (kMaxAnalysisVariables for a list)

  // A position taking between `minimum` and `maximum` variables of `types`.
  PositionDescription(std::string key, std::string label, std::vector<VariableType> types, size_t minimum = 1,
                      size_t maximum = 1)
      : key(std::move(key)),
        label(std::move(label)),
        types(std::move(types)),
        minimum(minimum),
        maximum(maximum) {}
};

// How a setting's value reads.
enum class SettingKind {
  Choice,  // one of `values`
  Flag,    // 0 or 1 (true and false read too)
  Text,    // any text (a level, an expected value)
};

// One setting of a kind, as the request and the saved record hold it.
struct SettingDescription {
  std::string key;  // the request key, also the CLI's --set KEY=...
  SettingKind kind = SettingKind::Choice;
  std::vector<std::string> values;  // a choice's allowed values
  std::string defaultValue;         // what applies when it is not given
  std::string field;                // the Analysis record field it is stored in, if saved
  std::string label, help;          // the screen's texts (translated on use)
};

// One kind of analysis: what it takes, how it computes and how it is shown.
struct AnalysisKind {
  std::string name;         // "detail", "twoway", ...
  std::optional<int> type;  // the stored Analysis type, if it is saved
  std::function<AnalysisOutput(Model&, const AnalysisRequest&)> run;  // throws AnalysisRequestError
  std::string title;                                                  // the menu entry (translated on use)
  std::string noun;                            // how messages name it: "the two way table"
  std::vector<PositionDescription> positions;  // the variables it takes, in screen order
  std::vector<SettingDescription> settings;    // the settings it takes
  bool secondFilter = false;                   // whether it takes a second-sample filter
};

// Every kind, by name.
const std::map<std::string, AnalysisKind>& analysisKinds();
// Adds a kind to the table (at start-up, before any request is served);
// replaces one of the same name.
void registerAnalysisKind(AnalysisKind kind);
// A kind's description as JSON: name, type, title, positions and settings.
nlohmann::json describeAnalysisKind(const AnalysisKind& kind);
// Every kind's description, in name order.
nlohmann::json describeAnalysisKinds();
// Checks a request against its kind's description: the positions it fills,
// the second-sample filter, each setting's key and value. Throws
// AnalysisRequestError naming the setting or option in the user's words.
void checkAnalysisRequest(const AnalysisKind& kind, const AnalysisRequest& request);
// The `tabulix analyze` command line (POSIX shell quoting) that recomputes
// the request on the workspace at `workspace`; variables by name, or `#N`
// where a name is shared or holds "=", ":" or ",".
std::string analyzeCommandLine(Model& model, const AnalysisKind& kind, const AnalysisRequest& request,
                               const std::string& workspace);
// Checks, computes and adds the recomputing command to the result (and as
// the last line of the print layout).
AnalysisOutput computeAnalysis(Model& model, const AnalysisKind& kind, const AnalysisRequest& request,
                               const std::string& workspace);
// The description of each built-in kind (one per kind's folder).
AnalysisKind variableDetailKind();
AnalysisKind correlationKind();
AnalysisKind linearRegressionKind();
AnalysisKind logisticRegressionKind();
AnalysisKind hypothesisTestOfMeansKind();
AnalysisKind hypothesisTestOfProportionsKind();
AnalysisKind tabSummarizeKind();
AnalysisKind twoWayTabKind();

// The kinds' entry points (one per kind's folder).
AnalysisOutput runVariableDetail(Model& model, const AnalysisRequest& request);
AnalysisOutput runCorrelation(Model& model, const AnalysisRequest& request);
AnalysisOutput runLinearRegression(Model& model, const AnalysisRequest& request);
AnalysisOutput runLogisticRegression(Model& model, const AnalysisRequest& request);
AnalysisOutput runHypothesisTestOfMeans(Model& model, const AnalysisRequest& request);
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
