#include "analyses/analysis_kind.h"

#include <algorithm>
#include <cmath>
#include <ctime>

#include "analyses/definitions.h"
#include "analyses/hypothesis_test/hypothesis_test.h"
#include "derive/derive.h"
#include "engine/translate.h"
#include "engine/values.h"
#include "engine/workspace_data.h"

namespace tabulix {

namespace {

std::map<std::string, AnalysisKind>& kindTable() {
  // Listed here rather than registered from each kind's file: a static
  // library keeps only the objects something refers to.
  static std::map<std::string, AnalysisKind> kinds = [] {
    std::map<std::string, AnalysisKind> m;
    for (AnalysisKind k : {variableDetailKind(), tabSummarizeKind(), twoWayTabKind(), correlationKind(),
                           linearRegressionKind(), logisticRegressionKind(), hypothesisTestOfMeansKind(),
                           hypothesisTestOfProportionsKind()})
      m.emplace(k.name, std::move(k));
    return m;
  }();
  return kinds;
}

std::string joined(const std::vector<std::string>& parts, const char* separator) {
  std::string out;
  for (const auto& p : parts) out += (out.empty() ? "" : separator) + p;
  return out;
}

const char* settingKindName(SettingKind k) {
  switch (k) {
    case SettingKind::Choice:
      return "choice";
    case SettingKind::Flag:
      return "flag";
    case SettingKind::Text:
      return "text";
  }
  return "text";
}

// A word of a POSIX shell command: left bare when it holds only characters
// no shell treats specially, else in single quotes.
std::string shellWord(const std::string& word) {
  const bool bare = !word.empty() &&
                    word.find_first_not_of(
                        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOP"
                        "QRSTUVWXYZ0123456789_-./=:,+@%#") == std::string::npos &&
                    word[0] != '#';
  if (bare) return word;
  std::string out = "'";
  for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// How a command line names a variable: its name, unless another variable
// shares it or it holds a character the options split on.
std::string variableReference(Model& model, int64_t num) {
  Column* c = columnNumber(model, static_cast<uint32_t>(num));
  const std::string name = c && c->name ? *c->name : std::string();
  bool shared = false;
  for (Column* other : columns(model))
    if (other != c && other->name && *other->name == name) shared = true;
  if (name.empty() || shared || name.find_first_of("=:,") != std::string::npos || name[0] == '#')
    return "#" + std::to_string(num);
  return name;
}

std::string operatorText(uint64_t op) {
  switch (op) {
    case kOpLess:
      return "<";
    case kOpLessEqual:
      return "<=";
    case kOpGreater:
      return ">";
    case kOpGreaterEqual:
      return ">=";
    case kOpEqual:
      return "=";
    case kOpNotEqual:
      return "!=";
    case kOpIn:
      return "in";
    case kOpContains:
      return "contains";
  }
  return "=";
}

std::string conditionText(Model& model, const WhereClauseObj& w) {
  std::string value;
  if (w.op == kOpIn && w.levels)
    value = joined(std::vector<std::string>(w.levels->begin(), w.levels->end()), "|");
  else
    value = w.constant.value_or("");
  return variableReference(model, w.colNum) + " " + operatorText(w.op) + " " + value;
}

}  // namespace

const std::map<std::string, AnalysisKind>& analysisKinds() { return kindTable(); }

void registerAnalysisKind(AnalysisKind kind) {
  std::string name = kind.name;
  kindTable().insert_or_assign(std::move(name), std::move(kind));
}

nlohmann::json describeAnalysisKind(const AnalysisKind& kind) {
  nlohmann::json positions = nlohmann::json::array(), settings = nlohmann::json::array();
  for (const PositionDescription& p : kind.positions) {
    nlohmann::json types = nlohmann::json::array();
    for (VariableType t : p.types) types.push_back(static_cast<int>(t));
    positions.push_back({{"key", p.key},
                         {"option", "--" + p.key},
                         {"label", tr(p.label)},
                         {"types", types},
                         {"minimum", p.minimum},
                         {"maximum", p.maximum}});
  }
  for (const SettingDescription& s : kind.settings) {
    nlohmann::json d = {{"key", s.key},
                        {"type", settingKindName(s.kind)},
                        {"default", s.defaultValue},
                        {"label", tr(s.label)},
                        {"help", tr(s.help)}};
    if (s.kind == SettingKind::Choice) d["values"] = s.values;
    if (s.kind == SettingKind::Flag) d["values"] = {"0", "1"};
    if (!s.field.empty()) d["field"] = s.field;
    settings.push_back(std::move(d));
  }
  nlohmann::json out = {{"name", kind.name},
                        {"title", tr(kind.title)},
                        {"positions", positions},
                        {"settings", settings},
                        {"secondFilter", kind.secondFilter}};
  out["type"] = kind.type ? nlohmann::json(*kind.type) : nlohmann::json(nullptr);
  out["saved"] = kind.type.has_value();
  return out;
}

nlohmann::json describeAnalysisKinds() {
  nlohmann::json out = nlohmann::json::array();
  for (const auto& [name, kind] : analysisKinds()) out.push_back(describeAnalysisKind(kind));
  return out;
}

void checkAnalysisRequest(const AnalysisKind& kind, const AnalysisRequest& request) {
  auto takes = [&](const char* key) -> const PositionDescription* {
    for (const auto& p : kind.positions)
      if (p.key == key) return &p;
    return nullptr;
  };
  std::vector<std::string> options;
  for (const auto& p : kind.positions) options.push_back("--" + p.key);
  const std::string only =
      kind.noun + " takes " + (options.empty() ? "no variable" : joined(options, ", ")) + " only";
  if ((request.left && !takes("left")) || (request.right && !takes("right")) ||
      (!request.columns.empty() && !takes("columns")))
    throw AnalysisRequestError(only);
  if (const auto* p = takes("columns"); p && request.columns.size() > p->maximum)
    throw AnalysisRequestError(fillPlaceholders(tr("At most %@ variables can be chosen for %@."),
                                                {std::to_string(p->maximum), tr(p->label)}));
  if (!request.wheres2.empty() && !kind.secondFilter)
    throw AnalysisRequestError(kind.noun + " has no second-sample filter");
  for (const auto& [key, value] : request.settings) {
    const SettingDescription* d = nullptr;
    for (const auto& s : kind.settings)
      if (s.key == key) d = &s;
    if (!d) throw AnalysisRequestError(kind.noun + " has no setting \"" + key + "\"");
    std::vector<std::string> allowed = d->values;
    if (d->kind == SettingKind::Flag) allowed = {"0", "1", "true", "false"};
    if (d->kind != SettingKind::Text && std::find(allowed.begin(), allowed.end(), value) == allowed.end())
      throw AnalysisRequestError(fillPlaceholders(tr("The setting %@ (%@) must be one of %@, not \"%@\"."),
                                                  {key, tr(d->label), joined(allowed, ", "), value}));
  }
}

std::string analyzeCommandLine(Model& model, const AnalysisKind& kind, const AnalysisRequest& request,
                               const std::string& workspace) {
  std::vector<std::string> words = {"tabulix", "analyze", workspace, kind.name};
  if (request.left) words.insert(words.end(), {"--left", variableReference(model, *request.left)});
  if (request.right) words.insert(words.end(), {"--right", variableReference(model, *request.right)});
  if (!request.columns.empty()) {
    std::vector<std::string> names;
    for (int32_t n : request.columns) names.push_back(variableReference(model, n));
    words.insert(words.end(), {"--columns", joined(names, ",")});
  }
  for (const auto& w : request.wheres) words.insert(words.end(), {"--where", conditionText(model, w)});
  for (const auto& w : request.wheres2) words.insert(words.end(), {"--where2", conditionText(model, w)});
  for (const auto& [key, value] : request.settings) words.insert(words.end(), {"--set", key + "=" + value});
  std::string out;
  for (const auto& w : words) out += (out.empty() ? "" : " ") + shellWord(w);
  return out;
}

AnalysisOutput computeAnalysis(Model& model, const AnalysisKind& kind, const AnalysisRequest& request,
                               const std::string& workspace) {
  checkAnalysisRequest(kind, request);
  AnalysisOutput out = kind.run(model, request);
  const std::string command = analyzeCommandLine(model, kind, request, workspace);
  out.result["command"] = command;
  // Printed small under the report, so a reader can recompute it.
  reports::Element& page = out.print;
  reports::Element line = reports::textBlock(command, {0, page.frame.h + 6, page.frame.w, 20}, 7);
  line.textColor = {0.35, 0.38, 0.42, 1};
  line.role = "command";
  page.children.push_back(std::move(line));
  page.frame.h += 26;
  return out;
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
