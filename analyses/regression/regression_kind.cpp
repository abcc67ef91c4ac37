// The linear and logistic regressions as analysis kinds: the dependent
// (left), the explanatory variables (columns), a filter, and for the
// logistic model the level of the dependent coded 1 (`leftLevel1`).
#include <algorithm>

#include "analyses/analysis_kind.h"
#include "analyses/definitions.h"
#include "analyses/regression/regression_report.h"
#include "engine/workspace_data.h"

namespace tabulix {

namespace {

AnalysisOutput runRegression(Model& model, const AnalysisRequest& request, bool logistic) {
  if (request.right) throw AnalysisRequestError("a regression takes --left and --columns only");
  if (!request.wheres2.empty()) throw AnalysisRequestError("a regression has no second-sample filter");
  for (const auto& [key, value] : request.settings)
    if (key != "leftLevel1") throw AnalysisRequestError("a regression has no setting \"" + key + "\"");
  if (!request.left) throw AnalysisRequestError(regressionValidityMessage());
  Column* dependent = columnNumber(model, static_cast<uint32_t>(*request.left));
  if (!dependent) throw AnalysisRequestError("no such variable");

  const auto type = static_cast<VariableType>(dependent->type.value_or(0));
  const DependentModels models = modelsForDependent(*dependent);
  const bool canLogistic = models.logistic, canLinear = models.linear;
  if (!canLogistic && !canLinear) throw AnalysisRequestError(regressionValidityMessage());
  // A saved logistic model whose dependent only allows the linear one keeps
  // its level setting, unused.
  const bool askedLogistic = logistic;
  if (logistic && !canLogistic) logistic = false;
  if (!logistic && !canLinear) logistic = true;
  if (!askedLogistic && !logistic && request.settings.count("leftLevel1"))
    throw AnalysisRequestError("leftLevel1 applies to a logistic regression only");

  // The level coded 1: the chosen one while it occurs, else the last level
  // (levels in text order, so the choice does not depend on the store).
  std::map<std::string, int32_t> levels;
  std::string level1;
  if (logistic) {
    std::vector<std::string> distinct = distinctValuesForColumn(model, dependent);
    std::sort(distinct.begin(), distinct.end());
    auto chosen = request.settings.find("leftLevel1");
    if (chosen != request.settings.end() &&
        std::find(distinct.begin(), distinct.end(), chosen->second) != distinct.end())
      level1 = chosen->second;
    else if (!distinct.empty())
      level1 = distinct.back();
    for (const std::string& level : distinct) levels[level] = level == level1 ? 1 : 0;
  }

  // Explanatory variables by number; the dependent is never one of them.
  std::vector<Column*> independents;
  for (int32_t num : request.columns) {
    if (num == *request.left) continue;
    Column* c = columnNumber(model, static_cast<uint32_t>(num));
    if (!c) throw AnalysisRequestError("no such variable");
    const auto t = static_cast<VariableType>(c->type.value_or(0));
    if (t != VariableType::Numeric && t != VariableType::Binary)
      throw AnalysisRequestError("--columns: \"" + c->name.value_or("") +
                                 "\" is not Numeric or Binary and cannot explain a regression");
    if (std::find(independents.begin(), independents.end(), c) == independents.end())
      independents.push_back(c);
  }
  std::sort(independents.begin(), independents.end(),
            [](const Column* a, const Column* b) { return a->num.value_or(0) < b->num.value_or(0); });

  auto rows = rowsWhere(model, request.wheres);
  auto result = std::make_shared<RegressionResult>(
      ols(model, *dependent, independents, rows ? &*rows : nullptr, logistic, levels));
  RegressionContext context;
  context.logistic = logistic;
  context.dependentName = dependent->name.value_or("");
  // One name for the fit that was made: heading, report and file.
  context.title = regressionTitle(logistic, context.dependentName);
  context.dependentIsDate = type == VariableType::DateTime;
  context.numIndependent = independents.size();
  context.filterText = stringForWhereSet(model, request.wheres);

  AnalysisOutput out;
  out.result = toJson(*result, request.vectors);
  out.result["filters"] = context.filterText;
  out.result["distribution"] = logistic ? 2 : 0;
  if (logistic) out.result["leftLevel1"] = level1;
  out.csvLines = [result, context](CsvWriter& w) { writeCSVLines(*result, context, w); };
  out.screen = regressionLayout(*result, context, false);
  out.print = regressionLayout(*result, context, true);
  out.baseName = context.title;
  return out;
}

}  // namespace

AnalysisOutput runLinearRegression(Model& model, const AnalysisRequest& request) {
  return runRegression(model, request, false);
}

AnalysisOutput runLogisticRegression(Model& model, const AnalysisRequest& request) {
  return runRegression(model, request, true);
}

namespace {

AnalysisKind regressionKind(const char* name, bool logistic) {
  AnalysisKind k;
  k.name = name;
  k.type = Regression;
  k.distribution = logistic ? 2 : 0;
  k.run = logistic ? runLogisticRegression : runLinearRegression;
  k.title = logistic ? "Logistic Regression" : "Linear Regression";
  k.noun = "a regression";
  // The dependent may be of any type: the run fits the model it allows.
  k.positions = {
      {"left",
       "Dependent variable:",
       {VariableType::Categorical, VariableType::Binary, VariableType::Numeric, VariableType::DateTime}},
      {"columns", "Independent variables:", typesAt(Regression, 3), 0, kMaxAnalysisVariables}};
  if (logistic) {
    SettingDescription level{
        "leftLevel1",
        SettingKind::Text,
        {},
        "",
        "leftLevel1",
        "proportion of:",
        "The level of the dependent variable coded 1; the last level when none is chosen."};
    level.clearable = true;
    k.settings = {level};
  }
  return k;
}

}  // namespace

AnalysisKind linearRegressionKind() { return regressionKind("linear", false); }

AnalysisKind logisticRegressionKind() { return regressionKind("logistic", true); }

}  // namespace tabulix
