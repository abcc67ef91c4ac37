#include "analyses/analysis_kind.h"

#include "analyses/definitions.h"
#include "engine/translate.h"
#include "engine/workspace_data.h"

namespace tabulix {

const std::map<std::string, AnalysisKind>& analysisKinds() {
  // Listed here rather than registered from each kind's file: a static
  // library keeps only the objects something refers to.
  static const std::map<std::string, AnalysisKind> kinds = {
      {"detail", {"detail", std::nullopt, runVariableDetail}},
      {"summarize", {"summarize", 2, runTabSummarize}},
      {"twoway", {"twoway", 1, runTwoWayTab}},
      {"correlation", {"correlation", 3, runCorrelation}},
      {"linear", {"linear", 4, runLinearRegression}},
      {"logistic", {"logistic", 4, runLogisticRegression}},
      {"means", {"means", 5, runHypothesisTestOfMeans}},
      {"proportions", {"proportions", 5, runHypothesisTestOfProportions}},
  };
  return kinds;
}

const AnalysisKind* analysisKindForType(int32_t type, std::optional<int32_t> distribution) {
  if (type == Regression) return &analysisKinds().at(distribution.value_or(0) == 2 ? "logistic" : "linear");
  if (type == HypothesisTest)
    return &analysisKinds().at(distribution.value_or(0) == 2 ? "proportions" : "means");
  for (const auto& [name, kind] : analysisKinds())
    if (kind.type == type) return &kind;
  return nullptr;
}

AnalysisRequest requestForAnalysis(const Analysis& a) {
  AnalysisRequest r;
  if (a.left && a.left->num) r.left = *a.left->num;
  if (a.right && a.right->num) r.right = *a.right->num;
  for (const Column* c : a.columns)
    if (c->num) r.columns.push_back(*c->num);
  r.wheres = wheresFromWheres(a.wheres);
  r.wheres2 = wheresFromWheres(a.wheres2);
  if (a.type == TwoWayTab) {
    if (a.twoWayPercAgg) r.settings["twoWayPercAgg"] = std::to_string(*a.twoWayPercAgg);
    if (a.twoWayPercDisplay) r.settings["twoWayPercDisplay"] = std::to_string(*a.twoWayPercDisplay);
    if (a.includeMissing) r.settings["includeMissing"] = *a.includeMissing ? "1" : "0";
  }
  if (a.type == Regression && a.distribution == 2 && a.leftLevel1) r.settings["leftLevel1"] = *a.leftLevel1;
  if (a.type == HypothesisTest) {
    auto number = [&](const char* key, const OptInt& v) {
      if (v) r.settings[key] = std::to_string(*v);
    };
    number("distribution", a.distribution);
    number("samples", a.samples);
    number("tails", a.tails);
    number("test", a.test);
    if (a.isPaired) r.settings["isPaired"] = *a.isPaired ? "1" : "0";
    if (a.leftLevel1) r.settings["leftLevel1"] = *a.leftLevel1;
    if (a.rightLevel1) r.settings["rightLevel1"] = *a.rightLevel1;
    r.expected = a.expected;
  }
  return r;
}

namespace {

void storeWheres(Model& model, Analysis* a, const std::vector<WhereClauseObj>& wheres, bool second) {
  for (const WhereClauseObj& w : wheres) {
    Column* x = columnNumber(model, static_cast<uint32_t>(w.colNum));
    if (!x) throw AnalysisRequestError("no variable numbered " + std::to_string(w.colNum));
    WhereClause* clause = model.context().insertWhereClause();
    clause->x = x;
    clause->op = static_cast<int32_t>(w.op);
    clause->c = w.constant;
    if (w.levels) clause->levels = std::vector<std::string>(w.levels->begin(), w.levels->end());
    if (second) {
      clause->where2OfAnalysis = a;
      a->wheres2.push_back(clause);
    } else {
      clause->whereOfAnalysis = a;
      a->wheres.push_back(clause);
    }
  }
}

}  // namespace

Analysis* saveAnalysisRequest(Model& model, const AnalysisKind& kind, const AnalysisRequest& request) {
  if (!kind.type) throw AnalysisRequestError("the " + kind.name + " analysis is not saved");
  auto column = [&](int32_t num) {
    Column* c = columnNumber(model, static_cast<uint32_t>(num));
    if (!c) throw AnalysisRequestError("no variable numbered " + std::to_string(num));
    return c;
  };
  Analysis* a = addAnalysis(model, tr("New Analysis"));
  a->type = *kind.type;
  if (*kind.type == Regression) a->distribution = kind.name == "logistic" ? 2 : 0;
  if (*kind.type == HypothesisTest) a->distribution = kind.name == "proportions" ? 2 : 0;
  if (request.left) a->left = column(*request.left);
  if (request.right) a->right = column(*request.right);
  for (int32_t n : request.columns) a->columns.push_back(column(n));
  storeWheres(model, a, request.wheres, false);
  storeWheres(model, a, request.wheres2, true);
  for (const auto& [key, value] : request.settings) {
    if (key == "twoWayPercAgg")
      a->twoWayPercAgg = std::stoi(value);
    else if (key == "twoWayPercDisplay")
      a->twoWayPercDisplay = std::stoi(value);
    else if (key == "includeMissing")
      a->includeMissing = value == "1" || value == "true";
    else if (key == "distribution" && *kind.type == HypothesisTest)
      a->distribution = std::stoi(value);
    else if (key == "samples")
      a->samples = std::stoi(value);
    else if (key == "tails")
      a->tails = std::stoi(value);
    else if (key == "test")
      a->test = std::stoi(value);
    else if (key == "isPaired")
      a->isPaired = value == "1" || value == "true";
    else if (key == "leftLevel1")
      a->leftLevel1 = value;
    else if (key == "rightLevel1")
      a->rightLevel1 = value;
    else if (key == "expected" && a->left)
      a->expected = expectedValueForText(model, static_cast<VariableType>(a->left->type.value_or(0)), value);
  }
  if (request.expected && !a->expected) a->expected = request.expected;
  (void)model.saveContext();
  return a;
}

}  // namespace tabulix
