#include "server/analysis_requests.h"

#include "engine/translate.h"
#include "server/server_impl.h"

namespace tabulix::server {

namespace {

[[noreturn]] void bad(const std::string& message) {
  throw ApiError(400, {{"error", "bad request"}, {"message", message}});
}

std::optional<int32_t> optionalNumber(const nlohmann::json& body, const char* field) {
  if (!body.contains(field) || body[field].is_null()) return std::nullopt;
  if (!body[field].is_number_integer()) bad(std::string("\"") + field + "\" must be a variable number");
  return body[field].get<int32_t>();
}

bool allDigits(const std::vector<std::string>& values) {
  for (const auto& v : values)
    if (v.empty() || v.find_first_not_of("0123456789") != std::string::npos) return false;
  return !values.empty();
}

// A setting's JSON value as its text; nullopt when its type does not fit.
std::optional<std::string> settingText(const SettingDescription& d, const nlohmann::json& v) {
  if (v.is_null()) return d.clearable ? std::optional<std::string>("") : std::nullopt;
  switch (d.kind) {
    case SettingKind::Flag:
      if (v.is_boolean()) return v.get<bool>() ? "1" : "0";
      // A stored flag's code (0 or 1) reads too; any other number is refused by its values.
      if (v.is_number_integer()) return std::to_string(v.get<int64_t>());
      return std::nullopt;
    case SettingKind::Choice:
      // A code reads as a number; a choice that also has words ("related") takes texts too.
      if (v.is_number_integer()) return std::to_string(v.get<int64_t>());
      if (allDigits(d.values)) return std::nullopt;
      [[fallthrough]];
    case SettingKind::Text:
      if (v.is_string()) return v.get<std::string>();
      return std::nullopt;
  }
  return std::nullopt;
}

std::string expectedType(const SettingDescription& d) {
  switch (d.kind) {
    case SettingKind::Flag:
      return tr("true or false (or 0 or 1)");
    case SettingKind::Choice:
      if (allDigits(d.values)) {
        std::string list;
        for (const auto& v : d.values) list += (list.empty() ? "" : ", ") + v;
        return fillPlaceholders(tr("a whole number (%@)"), {list});
      }
      return tr("a text");
    case SettingKind::Text:
      return tr("a text");
  }
  return tr("a text");
}

}  // namespace

std::vector<WhereClauseObj> conditionsOfBody(const nlohmann::json& body, const char* field) {
  std::vector<WhereClauseObj> out;
  if (!body.contains(field) || body[field].is_null()) return out;
  if (!body[field].is_array()) bad(std::string("\"") + field + "\" must be a list");
  for (const auto& w : body[field]) {
    if (!w.is_object() || !w.contains("colNum") || !w["colNum"].is_number_integer() || !w.contains("op") ||
        !w["op"].is_number_unsigned())
      bad(std::string("\"") + field + "\" holds a condition without colNum and op");
    WhereClauseObj c;
    c.colNum = w["colNum"].get<int64_t>();
    c.op = w["op"].get<uint64_t>();
    if (w.contains("constant") && w["constant"].is_string()) c.constant = w["constant"].get<std::string>();
    if (w.contains("levels") && w["levels"].is_array()) {
      c.levels.emplace();
      for (const auto& l : w["levels"]) {
        if (!l.is_string()) bad(std::string("\"") + field + "\": \"levels\" must hold texts");
        c.levels->insert(l.get<std::string>());
      }
    }
    if (whereIsComplete(c)) out.push_back(std::move(c));
  }
  return out;
}

AnalysisRequest requestOfBody(const nlohmann::json& body) {
  AnalysisRequest request;
  request.left = optionalNumber(body, "left");
  request.right = optionalNumber(body, "right");
  if (body.contains("columns") && !body["columns"].is_null()) {
    if (!body["columns"].is_array()) bad("\"columns\" must be a list of variable numbers");
    for (const auto& c : body["columns"]) {
      if (!c.is_number_integer()) bad("\"columns\" must hold variable numbers");
      request.columns.push_back(c.get<int32_t>());
    }
  }
  request.wheres = conditionsOfBody(body, "wheres");
  request.wheres2 = conditionsOfBody(body, "wheres2");
  if (body.contains("settings") && !body["settings"].is_null()) {
    if (!body["settings"].is_object()) bad("\"settings\" must be an object");
    for (auto& [k, v] : body["settings"].items())
      request.settings[k] = v.is_string() ? v.get<std::string>() : v.dump();
  }
  return request;
}

std::map<std::string, std::string> settingTextsOfBody(const AnalysisKind& kind,
                                                      const nlohmann::json& settings) {
  if (!settings.is_object()) bad("the settings must be an object");
  std::vector<const AnalysisKind*> kinds = {&kind};
  if (kind.type)
    for (const AnalysisKind* k : kindsOfType(*kind.type))
      if (k != &kind) kinds.push_back(k);
  std::map<std::string, std::string> out;
  for (auto& [key, value] : settings.items()) {
    const AnalysisKind* taker = nullptr;
    std::string text, refusal;
    for (const AnalysisKind* k : kinds) {
      const SettingDescription* d = settingOf(*k, key);
      if (!d) continue;
      std::optional<std::string> t = settingText(*d, value);
      if (!t) {
        if (refusal.empty())
          refusal = fillPlaceholders(tr("The setting %@ (%@) must be %@."),
                                     {key, settingName(*d), expectedType(*d)});
        continue;
      }
      try {
        if (!t->empty() || !d->clearable) checkSettingValue(*d, *t);
      } catch (const AnalysisRequestError& e) {
        if (refusal.empty()) refusal = e.what();
        continue;
      }
      taker = k;
      text = *t;
      break;
    }
    if (!taker) bad(refusal.empty() ? kind.noun + " has no setting \"" + key + "\"" : refusal);
    out[key] = text;
  }
  return out;
}

}  // namespace tabulix::server
