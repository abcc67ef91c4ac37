#include "analyses/analysis_kind.h"

#include <algorithm>
#include <cmath>
#include <ctime>

#include "analyses/definitions.h"
#include "analyses/hypothesis_test/hypothesis_test.h"
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
                           hypothesisTestOfProportionsKind(), ranksKind()})
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
    case kOpIsMissing:
      return "is missing";
    case kOpIsNotMissing:
      return "is not missing";
  }
  return "=";
}

std::string conditionText(Model& model, const WhereClauseObj& w) {
  if (opTakesNoConstant(w.op)) return variableReference(model, w.colNum) + " " + operatorText(w.op);
  std::string value;
  if (w.op == kOpIn && w.levels)
    value = joined(std::vector<std::string>(w.levels->begin(), w.levels->end()), "|");
  else
    value = w.constant.value_or("");
  return variableReference(model, w.colNum) + " " + operatorText(w.op) + " " + value;
}

}  // namespace

std::string settingName(const SettingDescription& setting) {
  std::string name = tr(setting.label);
  while (!name.empty() && (name.back() == ' ' || name.back() == ':')) name.pop_back();
  return name;
}

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
    if (!s.valueLabels.empty()) {
      nlohmann::json labels = nlohmann::json::array();
      for (const auto& l : s.valueLabels) labels.push_back(tr(l));
      d["valueLabels"] = labels;
    }
    if (s.clearable) d["clearable"] = true;
    if (!s.field.empty()) d["field"] = s.field;
    settings.push_back(std::move(d));
  }
  nlohmann::json out = {{"name", kind.name},
                        {"title", tr(kind.title)},
                        {"positions", positions},
                        {"settings", settings},
                        {"secondFilter", kind.secondFilter}};
  out["type"] = kind.type ? nlohmann::json(*kind.type) : nlohmann::json(nullptr);
  out["distribution"] = kind.distribution ? nlohmann::json(*kind.distribution) : nlohmann::json(nullptr);
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
    const SettingDescription* d = settingOf(kind, key);
    if (!d) throw AnalysisRequestError(kind.noun + " has no setting \"" + key + "\"");
    checkSettingValue(*d, value);
  }
}

const SettingDescription* settingOf(const AnalysisKind& kind, const std::string& key) {
  for (const auto& s : kind.settings)
    if (s.key == key) return &s;
  return nullptr;
}

void checkSettingValue(const SettingDescription& d, const std::string& value) {
  std::vector<std::string> allowed = d.values;
  if (d.kind == SettingKind::Flag) allowed = {"0", "1", "true", "false"};
  if (d.kind != SettingKind::Text && std::find(allowed.begin(), allowed.end(), value) == allowed.end())
    throw AnalysisRequestError(fillPlaceholders(tr("The setting %@ (%@) must be one of %@, not \"%@\"."),
                                                {d.key, settingName(d), joined(allowed, ", "), value}));
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
  // Inside the same margins as the report's text.
  reports::Element line =
      reports::textBlock(command, {20, page.frame.h + 6, std::max(0.0, page.frame.w - 40), 20}, 7);
  line.textColor = {0.35, 0.38, 0.42, 1};
  line.role = "command";
  page.children.push_back(std::move(line));
  page.frame.h += 26;
  return out;
}

const AnalysisKind* analysisKindForType(int32_t type, std::optional<int32_t> distribution) {
  // Kinds of one type are told apart by their distribution; any other
  // stored distribution (a test of means by the z-test, 1) is the first kind's.
  const std::vector<const AnalysisKind*> kinds = kindsOfType(type);
  for (const AnalysisKind* k : kinds)
    if (k->distribution && distribution && *k->distribution == *distribution) return k;
  for (const AnalysisKind* k : kinds)
    if (!k->distribution || *k->distribution == 0) return k;
  return kinds.empty() ? nullptr : kinds.front();
}

std::vector<const AnalysisKind*> kindsOfType(int type) {
  std::vector<const AnalysisKind*> out;
  for (const auto& [name, kind] : analysisKinds())
    if (kind.type == type) out.push_back(&kind);
  return out;
}

namespace {

// A saved field as a request's text: a whole number or flag in digits, a
// text as it is; a real has no generic text (its setting reads it itself).
std::optional<std::string> storedText(const Analysis& a, const std::string& field) {
  for (const auto& f : kAnalysisFields) {
    if (field != f.name) continue;
    return visitField(f, a, [](const auto& v) -> std::optional<std::string> {
      using T = std::decay_t<decltype(v)>;
      if (!v) return std::nullopt;
      if constexpr (std::is_same_v<T, OptText>)
        return *v;
      else if constexpr (std::is_same_v<T, OptInt>)
        return std::to_string(*v);
      else if constexpr (std::is_same_v<T, OptFlag>)
        return std::string(*v ? "1" : "0");
      else
        return std::nullopt;
    });
  }
  return std::nullopt;
}

// Stores a checked text into a saved field; "" clears it.
void storeText(Analysis& a, const std::string& field, const std::string& text) {
  for (const auto& f : kAnalysisFields) {
    if (field != f.name) continue;
    visitField(f, a, [&](auto& v) {
      using T = std::decay_t<decltype(v)>;
      if (text.empty()) {
        v.reset();
      } else if constexpr (std::is_same_v<T, OptText>) {
        v = text;
      } else if constexpr (std::is_same_v<T, OptInt>) {
        v = static_cast<int32_t>(std::stol(text));
      } else if constexpr (std::is_same_v<T, OptFlag>) {
        v = text == "1" || text == "true";
      } else {
        v = std::stod(text);
      }
    });
  }
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
  const AnalysisKind* kind = analysisKindForType(a.type.value_or(0), a.distribution);
  if (!kind) return r;
  for (const SettingDescription& s : kind->settings) {
    if (s.field.empty() && !s.load) continue;
    std::optional<std::string> text = s.load ? s.load(a, decimalSeparator) : storedText(a, s.field);
    if (!text) continue;
    // A value outside what the kind takes is left out, so its default applies.
    try {
      checkSettingValue(s, *text);
    } catch (const AnalysisRequestError&) {
      continue;
    }
    r.settings[s.key] = *text;
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
  checkAnalysisRequest(kind, request);
  auto column = [&](int32_t num) {
    Column* c = columnNumber(model, static_cast<uint32_t>(num));
    if (!c) throw AnalysisRequestError("no variable numbered " + std::to_string(num));
    return c;
  };
  Analysis* a = addAnalysis(model, tr("New Analysis"));
  a->type = *kind.type;
  if (kind.distribution) a->distribution = *kind.distribution;
  if (request.left) a->left = column(*request.left);
  if (request.right) a->right = column(*request.right);
  for (int32_t n : request.columns) a->columns.push_back(column(n));
  storeWheres(model, a, request.wheres, false);
  storeWheres(model, a, request.wheres2, true);
  storeAnalysisSettings(model, kind, *a, request.settings);
  (void)model.saveContext();
  return a;
}

void storeAnalysisSettings(Model& model, const AnalysisKind& kind, Analysis& a,
                           const std::map<std::string, std::string>& settings) {
  for (const SettingDescription& s : kind.settings) {
    auto it = settings.find(s.key);
    if (it == settings.end()) continue;
    if (s.store)
      s.store(model, a, it->second);
    else if (!s.field.empty())
      storeText(a, s.field, it->second);
  }
  if (kind.settle) kind.settle(a, settings);
}

std::string savedAnalysesScript(Model& model, const std::string& workspace) {
  std::string out = "#!/bin/sh\n# " + tr("Recomputes every saved analysis of the workspace.") + "\n";
  std::vector<Analysis*> saved =
      searchAnalyses(model, "", [](std::string_view, std::string_view) { return true; });
  // Oldest first, so the script reads in the order the analyses were made.
  std::reverse(saved.begin(), saved.end());
  for (Analysis* a : saved) {
    const AnalysisKind* kind = analysisKindForType(a->type.value_or(0), a->distribution);
    if (!kind) continue;
    out += "# " + summaryForAnalysis(model, *a).title + "\n";
    out += analyzeCommandLine(model, *kind, requestForAnalysis(model, *a), workspace) + "\n";
  }
  return out;
}

std::vector<VariableType> typesAt(int32_t type, int position) {
  const auto set = variableTypesForAnalysisType(type, position);
  return {set.begin(), set.end()};
}

Column& variableAt(Model& model, int32_t num, int32_t type, int position,
                   const std::function<std::string(const Column&)>& wrongType) {
  Column* c = columnNumber(model, static_cast<uint32_t>(num));
  if (!c) throw AnalysisRequestError("no variable numbered " + std::to_string(num));
  if (!variableTypesForAnalysisType(type, position).contains(static_cast<VariableType>(c->type.value_or(0))))
    throw AnalysisRequestError(wrongType(*c));
  return *c;
}

}  // namespace tabulix
