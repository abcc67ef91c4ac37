// The API of a variable's level order (the detail's list) and of the recode
// editor (its variables, the preview of groups and counts, the creation).
// Recoding reads one variable once, so it runs under the shared Model's lock
// rather than on a worker.
#include <algorithm>

#include "browse/edit_session.h"
#include "browse/level_edit.h"
#include "derive/recode.h"
#include "engine/level_order.h"
#include "engine/translate.h"
#include "engine/workspace_data.h"
#include "server/server_impl.h"
#include "server/variable_cards.h"

namespace tabulix::server {

namespace {

// The most levels the order list offers; beyond, ordering by hand is no use.
constexpr size_t kMaxOrderedLevels = 500;

void requireOpen(Model& m) {
  if (!m.currentStore()) throw ApiError(409, {{"error", "no workspace is open"}});
}

Column& columnOfNum(Model& m, const std::string& num) {
  Column* c = columnNumber(m, static_cast<uint32_t>(std::stoul(num)));
  if (!c) throw ApiError(404, {{"error", "no such variable"}});
  return *c;
}

nlohmann::json levelsJson(Model& m, const Column& c) {
  std::vector<std::string> levels;
  for (auto& [text, count] : frequenciesOfColumn(m, c)) levels.push_back(text);
  sortLevels(m, c, levels);
  const bool tooMany = levels.size() > kMaxOrderedLevels;
  if (tooMany) levels.resize(kMaxOrderedLevels);
  return {{"levels", levels}, {"custom", c.levelOrder.has_value()}, {"truncated", tooMany}};
}

[[noreturn]] void badField(const std::string& field, const std::string& what) {
  throw ApiError(400, {{"error", "\"" + field + "\" " + what}});
}

// The recoding a page sends: {x, method, breaks?, groups?, map?, labels?}.
RecodeDefinition definitionOf(const nlohmann::json& body) {
  nlohmann::json d = body;
  d.erase("x");
  d.erase("name");
  if (!d.contains("method") || !d["method"].is_string())
    badField("method", "must be breaks, bins, quantiles or map");
  try {
    return recodeDefinitionFromJson(d);
  } catch (const RecodeError& e) {
    throw ApiError(400, {{"error", e.what()}});
  }
}

Column& sourceOf(Model& m, const nlohmann::json& body) {
  if (!body.contains("x") || !body["x"].is_number_unsigned()) badField("x", "must be a variable number");
  return columnOfNum(m, std::to_string(body["x"].get<uint64_t>()));
}

}  // namespace

void ServerImpl::routeRecode() {
  get(R"(/api/variables/(\d+)/levels)", [this](const httplib::Request& req) {
    return shared.run([&](Model& m) {
      requireOpen(m);
      return levelsJson(m, columnOfNum(m, req.matches[1].str()));
    });
  });

  // Stores an order ({"levels": [...]}; an empty list returns to the default).
  post(R"(/api/variables/(\d+)/levels)", [this](const httplib::Request& req) {
    nlohmann::json body = bodyJson(req);
    if (!body.contains("levels") || !body["levels"].is_array()) badField("levels", "must be a list of texts");
    std::vector<std::string> levels;
    for (const auto& l : body["levels"]) {
      if (!l.is_string()) badField("levels", "must hold texts");
      levels.push_back(l.get<std::string>());
    }
    return shared.run([&](Model& m) {
      requireOpen(m);
      Column& c = columnOfNum(m, req.matches[1].str());
      try {
        setLevelOrder(m, *c.num, levels);
      } catch (const EditError& e) {
        throw ApiError(400, {{"error", e.what()}});
      }
      return levelsJson(m, c);
    });
  });

  get("/api/recode", [this](const httplib::Request&) {
    return shared.run([&](Model& m) {
      requireOpen(m);
      nlohmann::json vars = nlohmann::json::array();
      for (Column* c : m.context().allColumns())
        if (c->name && c->num)
          vars.push_back({{"num", *c->num},
                          {"name", *c->name},
                          {"numeric", c->type == static_cast<int32_t>(VariableType::Numeric)}});
      std::sort(vars.begin(), vars.end(),
                [](const nlohmann::json& a, const nlohmann::json& b) { return a["name"] < b["name"]; });
      return nlohmann::json{{"variables", vars}, {"proposedName", proposedName(m)}};
    });
  });

  // The groups and counts the recoding would give, nothing stored.
  post("/api/recode/preview", [this](const httplib::Request& req) {
    nlohmann::json body = bodyJson(req);
    RecodeDefinition d = definitionOf(body);
    return shared.run([&](Model& m) {
      requireOpen(m);
      Column& x = sourceOf(m, body);
      try {
        RecodedColumn r = recodeColumnValues(m, x, d);
        return nlohmann::json{{"levels", r.levels}, {"counts", r.counts}, {"missing", r.missing}};
      } catch (const RecodeError& e) {
        throw ApiError(400, {{"error", e.what()}});
      }
    });
  });

  post("/api/recode", [this](const httplib::Request& req) {
    nlohmann::json body = bodyJson(req);
    RecodeDefinition d = definitionOf(body);
    const std::string name =
        body.contains("name") && body["name"].is_string() ? body["name"].get<std::string>() : "";
    return shared.run([&](Model& m) {
      requireOpen(m);
      if (countColumns(m) >= kMaxVariables) throw variableLimitError();
      if (name.empty()) throw ApiError(400, {{"error", tr("Please provide a name for the new variable")}});
      if (!nameIsValid(m, name))
        throw ApiError(
            409,
            {{"error", fillPlaceholders(tr("Another variable already exists with the name %@"), {name})}});
      Column& x = sourceOf(m, body);
      RecodedColumn r;
      try {
        r = recodeColumnValues(m, x, d);
      } catch (const RecodeError& e) {
        throw ApiError(400, {{"error", e.what()}});
      }
      Column* column = applyRecodedColumn(m, name, r, d, x.name.value_or(""));
      return nlohmann::json{{"card", toJson(cardFromCache(*column))},
                            {"saved", !m.context().hasChanges()},
                            {"canAdd", countColumns(m) < kMaxVariables},
                            {"status", statusJson(m)}};
    });
  });
}

}  // namespace tabulix::server
