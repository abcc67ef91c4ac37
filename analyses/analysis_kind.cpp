#include "analyses/analysis_kind.h"

#include <cmath>
#include <ctime>

#include "analyses/definitions.h"
#include "analyses/hypothesis_test/hypothesis_test.h"
#include "derive/derive.h"
#include "engine/translate.h"
#include "engine/values.h"
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
      {"ranks", {"ranks", std::nullopt, runRanks}},
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

namespace {

// A stored date (seconds since 1970 UTC) as text that reads back to the same second.
std::string isoDateText(double seconds) {
  const std::time_t t = static_cast<std::time_t>(std::floor(seconds));
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

}  // namespace

AnalysisRequest requestForAnalysis(const Analysis& a, char decimalSeparator) {
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
    // Codes outside what the kinds take are left out, so their defaults apply.
    auto code = [&](const char* key, const OptInt& v, int lo, int hi) {
      if (v && *v >= lo && *v <= hi) r.settings[key] = std::to_string(*v);
    };
    if (a.distribution == 1) r.settings["distribution"] = "1";
    if (a.samples) r.settings["samples"] = *a.samples == 2 ? "2" : "1";
    if (a.isPaired) r.settings["isPaired"] = *a.isPaired ? "1" : "0";
    code("tails", a.tails, 0, 2);
    code("test", a.test, 0, 4);
    if (a.expected && std::isfinite(*a.expected)) {
      const bool date = a.left && a.left->type == static_cast<int32_t>(VariableType::DateTime);
      r.settings["expected"] =
          date ? isoDateText(*a.expected) : plainDecimalText(*a.expected, decimalSeparator);
    }
    if (a.leftLevel1) r.settings["leftLevel1"] = *a.leftLevel1;
    if (a.rightLevel1) r.settings["rightLevel1"] = *a.rightLevel1;
  }
  return r;
}

AnalysisRequest requestForAnalysis(Model& model, const Analysis& a) {
  const OptText separator =
      model.context().isAttached() ? model.metadataValueForKey("decimalSeparator") : std::nullopt;
  return requestForAnalysis(a, separator.value_or(deviceDecimalSeparator()) == "," ? ',' : '.');
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
  auto integer = [](const std::string& key, const std::string& value) {
    try {
      size_t used = 0;
      const int v = std::stoi(value, &used);
      if (used == value.size()) return v;
    } catch (const std::exception&) {
    }
    throw AnalysisRequestError("the setting " + key + " must be a whole number, not \"" + value + "\"");
  };
  const bool hypothesis = *kind.type == HypothesisTest;
  for (const auto& [key, value] : request.settings) {
    if (key == "twoWayPercAgg")
      a->twoWayPercAgg = integer(key, value);
    else if (key == "twoWayPercDisplay")
      a->twoWayPercDisplay = integer(key, value);
    else if (key == "includeMissing")
      a->includeMissing = value == "1" || value == "true";
    else if (key == "leftLevel1")
      a->leftLevel1 = value;
    else if (hypothesis && key == "rightLevel1")
      a->rightLevel1 = value;
    else if (hypothesis && key == "samples")
      a->samples = integer(key, value);
    else if (hypothesis && key == "isPaired")
      a->isPaired = integer(key, value) == 1;
    else if (hypothesis && key == "tails")
      a->tails = integer(key, value);
    else if (hypothesis && key == "test")
      a->test = integer(key, value);
    else if (hypothesis && key == "distribution")
      a->distribution = integer(key, value);
    else if (hypothesis && key == "expected") {
      // Stored as the number the test uses: a date as seconds since 1970.
      const bool date = a->left && a->left->type == static_cast<int32_t>(VariableType::DateTime);
      const auto v = date ? dateForString(model, value) : decimalNumberForString(model, value);
      if (v) a->expected = *v;
    }
  }
  // A proportions test chosen from the test list stores the samples it implies.
  if (hypothesis && a->distribution == 2 && a->test && !request.settings.count("samples"))
    if (const auto implied = samplesForTest(*a->test)) {
      a->samples = implied->first;
      a->isPaired = implied->second;
    }
  (void)model.saveContext();
  return a;
}

}  // namespace tabulix
