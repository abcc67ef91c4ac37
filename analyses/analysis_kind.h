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
#include "engine/store.h"
#include "engine/variable_type.h"
#include "reports/layout.h"
#include "textio/csv_writer.h"

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

// The most variables one position of an analysis takes: as many as a workspace holds.
inline constexpr size_t kMaxAnalysisVariables = kMaxVariables;

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
  std::vector<std::string> values;       // a choice's allowed values
  std::string defaultValue;              // what applies when it is not given
  std::string field;                     // the Analysis record field it is stored in, if saved
  std::string label, help;               // the screen's texts (translated on use)
  std::vector<std::string> valueLabels;  // the screen's text of each value, if it has one
  bool clearable = false;                // a saved value may be removed (back to the default)
  // Reads the saved value as the request's text (none: the default
  // applies); unset: read from `field` as it is stored.
  std::function<std::optional<std::string>(const Analysis&, char decimalSeparator)> load;
  // Stores a checked text ("" clears a clearable setting); unset: into
  // `field` as it is.
  std::function<void(Model&, Analysis&, const std::string&)> store;

  // A setting of `kind` under `key`, stored in `field` ("" when not saved).
  SettingDescription(std::string key, SettingKind kind, std::vector<std::string> values,
                     std::string defaultValue, std::string field, std::string label, std::string help)
      : key(std::move(key)),
        kind(kind),
        values(std::move(values)),
        defaultValue(std::move(defaultValue)),
        field(std::move(field)),
        label(std::move(label)),
        help(std::move(help)) {}
};

// One kind of analysis: what it takes, how it computes and how it is shown.
struct AnalysisKind {
  std::string name;                 // "detail", "twoway", ...
  std::optional<int> type;          // the stored Analysis type, if it is saved
  std::optional<int> distribution;  // the stored distribution that tells kinds of one type apart
  std::function<AnalysisOutput(Model&, const AnalysisRequest&)> run;  // throws AnalysisRequestError
  std::string title;                                                  // the menu entry (translated on use)
  std::string noun;                            // how messages name it: "the two way table"
  std::vector<PositionDescription> positions;  // the variables it takes, in screen order
  std::vector<SettingDescription> settings;    // the settings it takes
  bool secondFilter = false;                   // whether it takes a second-sample filter
  // Run after settings were stored into a saved analysis, with those given:
  // what one setting implies for another (a test chosen implies its samples).
  std::function<void(Analysis&, const std::map<std::string, std::string>&)> settle;
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
// A setting's label as messages name it (translated, without a trailing colon).
std::string settingName(const SettingDescription& setting);
// The description of a kind's setting, or null.
const SettingDescription* settingOf(const AnalysisKind& kind, const std::string& key);
// Checks one setting's text against its description (throws
// AnalysisRequestError naming the setting by its label and key).
void checkSettingValue(const SettingDescription& setting, const std::string& value);
// Stores checked setting texts into a saved analysis, in the order the kind
// describes them (so that a setting that depends on another comes after it).
void storeAnalysisSettings(Model& model, const AnalysisKind& kind, Analysis& analysis,
                           const std::map<std::string, std::string>& settings);
// The kinds stored with one Analysis type (a regression: linear and logistic).
std::vector<const AnalysisKind*> kindsOfType(int type);
// A shell script (POSIX) whose lines recompute every saved analysis of the
// open workspace with `tabulix analyze`, one line per analysis.
std::string savedAnalysesScript(Model& model, const std::string& workspace);
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
AnalysisKind ranksKind();

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

// The variable types that position `position` of Analysis type `type`
// takes (variableTypesForAnalysisType), in type order, as a position
// description holds them.
std::vector<VariableType> typesAt(int32_t type, int position);
// The variable numbered `num`, checked for position `position` of Analysis
// type `type`: throws AnalysisRequestError when there is none, or with
// `wrongType(variable)` when its type is not one the position takes.
Column& variableAt(Model& model, int32_t num, int32_t type, int position,
                   const std::function<std::string(const Column&)>& wrongType);

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
