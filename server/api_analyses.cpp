// The saved analyses of the open workspace: the list (newest first, with
// each entry's display style, title, description and filter line, searched
// on its variables' names), the menu that creates them, the variable chooser
// for each position, the filter conditions (wheres and wheres2), the
// settings, and deleting. Definitions are written by the shared Model under
// its lock; the results are computed through /api/analyze.
#include <algorithm>
#include <cmath>

#include "analyses/analysis_kind.h"
#include "analyses/definitions.h"
#include "analyses/sample_groups.h"
#include "engine/cell_access.h"
#include "engine/translate.h"
#include "engine/workspace_data.h"
#include "server/analysis_requests.h"
#include "server/server_impl.h"
#include "server/text_match.h"

namespace tabulix::server {

namespace {

[[noreturn]] void bad(const std::string& message) {
  throw ApiError(400, {{"error", "bad request"}, {"message", message}});
}

void requireWorkspace(Model& m) {
  if (!m.currentStore()) throw ApiError(409, {{"error", "no workspace is open"}});
}

Analysis* analysisById(Model& m, const std::string& id) {
  int64_t rowid = 0;
  try {
    rowid = std::stoll(id);
  } catch (const std::exception&) {
    bad("the analysis id must be a number");
  }
  Analysis* a = rowid > 0 ? m.context().existingAnalysis({Entity::Analysis, rowid}) : nullptr;
  if (!a) throw ApiError(404, {{"error", "no such analysis"}});
  return a;
}

nlohmann::json variableJson(const Column* c) {
  if (!c) return nullptr;
  return {{"num", c->num.value_or(-1)}, {"name", c->name.value_or("")}, {"type", c->type.value_or(0)}};
}

nlohmann::json whereJson(const WhereClauseObj& w) {
  nlohmann::json j = {{"colNum", w.colNum}, {"op", w.op}};
  if (w.constant) j["constant"] = *w.constant;
  if (w.levels) j["levels"] = std::vector<std::string>(w.levels->begin(), w.levels->end());
  return j;
}

// The kinds whose result screens the web app has: a menu row of another
// kind opens a screen that says it is not available yet.
bool kindIsBuilt(int32_t type) { return analysisKindForType(type) != nullptr; }

// The levels a chooser of the level coded 1 lists: a regression's in text
// order (its last is the default), a test's as the store gives them.
nlohmann::json levelsJson(Model& m, const Column* c, bool sorted) {
  if (!c) return nullptr;
  std::vector<std::string> levels = distinctValuesForColumn(m, c);
  if (sorted) std::sort(levels.begin(), levels.end());
  return levels;
}

// The settings of a regression or a hypothesis test as its screen shows them.
void addTestSettings(Model& m, const Analysis& a, nlohmann::json& j) {
  if (a.type != HypothesisTest && a.type != Ranks) return;
  j["samples"] = a.samples.value_or(1);
  j["isPaired"] = a.samples.value_or(1) == 2 && a.isPaired.value_or(false);
  j["tails"] = a.tails.value_or(0);
  j["test"] = a.test ? nlohmann::json(*a.test) : nlohmann::json(nullptr);
  j["expected"] =
      a.expected && std::isfinite(*a.expected) ? nlohmann::json(*a.expected) : nlohmann::json(nullptr);
  j["wheres2Text"] = stringForWhereClauses(m, a.wheres2);
  // Two samples of one variable by the levels of another: the screen names the grouping variable.
  const auto groups = sampleGroupsOf(m, requestForAnalysis(m, a));
  j["group"] = groups ? variableJson(groups->group) : nlohmann::json(nullptr);
}

nlohmann::json summaryJson(Model& m, const Analysis& a) {
  AnalysisSummary s = summaryForAnalysis(m, a);
  const AnalysisKind* kind = analysisKindForType(a.type.value_or(0), a.distribution);
  return {{"id", a.objectID.rowid},
          {"type", a.type.value_or(0)},
          {"distribution", a.distribution ? nlohmann::json(*a.distribution) : nlohmann::json(nullptr)},
          {"kind", kind ? nlohmann::json(kind->name) : nlohmann::json(nullptr)},
          {"built", kindIsBuilt(a.type.value_or(0))},
          {"displayStyle", s.displayStyle},
          {"title", s.title},
          {"description", s.description},
          {"filterLine", s.filterLine}};
}

// Everything a result screen needs to show and compute a definition.
nlohmann::json definitionJson(Model& m, const Analysis& a) {
  nlohmann::json j = summaryJson(m, a);
  j["left"] = variableJson(a.left);
  j["right"] = variableJson(a.right);
  nlohmann::json cols = nlohmann::json::array();
  for (const Column* c : a.columns) cols.push_back(variableJson(c));
  j["columns"] = cols;
  nlohmann::json wheres = nlohmann::json::array(), wheres2 = nlohmann::json::array();
  for (const auto& w : wheresFromWheres(a.wheres)) wheres.push_back(whereJson(w));
  for (const auto& w : wheresFromWheres(a.wheres2)) wheres2.push_back(whereJson(w));
  j["wheres"] = wheres;
  j["wheres2"] = wheres2;
  j["filterText"] = stringForWhereAnalysis(m, a);
  AnalysisRequest request = requestForAnalysis(m, a);
  j["settings"] = request.settings;
  j["twoWayPercAgg"] = a.twoWayPercAgg.value_or(0);
  j["twoWayPercDisplay"] = a.twoWayPercDisplay.value_or(1);
  j["includeMissing"] = a.includeMissing.value_or(false);
  addTestSettings(m, a, j);
  return j;
}

// Replaces one of an analysis's condition lists with the given conditions.
void replaceConditions(Model& m, Analysis* a, const std::vector<WhereClauseObj>& wheres, bool second) {
  std::vector<Column*> xs;
  for (const auto& w : wheres) {
    Column* x =
        w.colNum >= 0 && w.colNum <= INT32_MAX ? columnNumber(m, static_cast<uint32_t>(w.colNum)) : nullptr;
    if (!x) throw ApiError(404, {{"error", "no such variable"}, {"colNum", w.colNum}});
    xs.push_back(x);
  }
  std::vector<WhereClause*> old = second ? a->wheres2 : a->wheres;
  for (WhereClause* w : old) m.context().deleteObject(w);
  for (size_t i = 0; i < wheres.size(); ++i) {
    WhereClause* c = m.context().insertWhereClause();
    c->x = xs[i];
    c->op = static_cast<int32_t>(wheres[i].op);
    c->c = wheres[i].constant;
    if (wheres[i].levels)
      c->levels = std::vector<std::string>(wheres[i].levels->begin(), wheres[i].levels->end());
    if (second) {
      c->where2OfAnalysis = a;
      a->wheres2.push_back(c);
    } else {
      c->whereOfAnalysis = a;
      a->wheres.push_back(c);
    }
  }
}

int positionOf(const std::string& text) {
  if (text == "1" || text == "2" || text == "3") return text[0] - '0';
  bad("the position must be 1, 2 or 3");
}

}  // namespace

void ServerImpl::routeAnalyses() {
  get("/api/analyses", [this](const httplib::Request& req) {
    const std::string search = req.has_param("search") ? req.get_param_value("search") : "";
    return shared.run([&](Model& m) {
      requireWorkspace(m);
      nlohmann::json menu = nlohmann::json::array();
      for (const AnalysisMenuRow& row : analysisMenu())
        menu.push_back(
            {{"title", row.title},
             {"description", row.description},
             {"screen", row.screen},
             {"type", row.type},
             {"distribution", row.distribution ? nlohmann::json(*row.distribution) : nlohmann::json()},
             {"built", kindIsBuilt(row.type)}});
      nlohmann::json list = nlohmann::json::array();
      for (Analysis* a : searchAnalyses(m, search, containsIgnoringCaseAndDiacritics))
        if (analysisHasItsVariables(*a)) list.push_back(summaryJson(m, *a));
      return nlohmann::json{{"menu", menu}, {"analyses", list}, {"status", statusJson(m)}};
    });
  });

  // Creates an analysis from a menu row ({"row": 0-6}).
  post("/api/analyses", [this](const httplib::Request& req) {
    nlohmann::json body = bodyJson(req);
    if (!body.contains("row") || !body["row"].is_number_unsigned())
      bad("\"row\" must be a menu row (0 to " + std::to_string(analysisMenu().size() - 1) + ")");
    const size_t row = body["row"].get<size_t>();
    if (row >= analysisMenu().size())
      bad("\"row\" must be a menu row (0 to " + std::to_string(analysisMenu().size() - 1) + ")");
    return shared.run([&](Model& m) {
      requireWorkspace(m);
      Analysis* a = addAnalysisFromMenu(m, row);
      m.saveContext();
      return definitionJson(m, *a);
    });
  });

  get(R"(/api/analyses/(\d+))", [this](const httplib::Request& req) {
    return shared.run([&](Model& m) {
      requireWorkspace(m);
      return definitionJson(m, *analysisById(m, req.matches[1].str()));
    });
  });

  del(R"(/api/analyses/(\d+))", [this](const httplib::Request& req) {
    return shared.run([&](Model& m) {
      requireWorkspace(m);
      removeAnalysis(m, analysisById(m, req.matches[1].str()));
      m.saveContext();
      return nlohmann::json{{"deleted", std::stoll(req.matches[1].str())}};
    });
  });

  // The page leaves an analysis: one still without its variables is not kept.
  post(R"(/api/analyses/(\d+)/leave)", [this](const httplib::Request& req) {
    return shared.run([&](Model& m) {
      requireWorkspace(m);
      return nlohmann::json{
          {"dropped", dropAnalysisWithoutVariables(m, analysisById(m, req.matches[1].str()))}};
    });
  });

  // The variable chooser of a position: the variables offered and those chosen now.
  get(R"(/api/analyses/(\d+)/choices/(\d+))", [this](const httplib::Request& req) {
    const int position = positionOf(req.matches[2].str());
    return shared.run([&](Model& m) {
      requireWorkspace(m);
      Analysis* a = analysisById(m, req.matches[1].str());
      nlohmann::json offered = nlohmann::json::array(), chosen = nlohmann::json::array();
      for (Column* c : columnsToAddToAnalysis(m, *a, position)) offered.push_back(variableJson(c));
      if (position == 3)
        for (Column* c : a->columns) chosen.push_back(variableJson(c));
      else if (Column* c = position == 1 ? a->left : a->right)
        chosen.push_back(variableJson(c));
      return nlohmann::json{{"position", position},
                            {"multiple", position == 3},
                            {"addAll", position == 3 && a->type == Regression},
                            {"offered", offered},
                            {"chosen", chosen}};
    });
  });

  // The grouping variables a two-sample test can compare its sample 1
  // variable across: those with two levels.
  get(R"(/api/analyses/(\d+)/groups)", [this](const httplib::Request& req) {
    return shared.run([&](Model& m) {
      requireWorkspace(m);
      (void)analysisById(m, req.matches[1].str());
      nlohmann::json offered = nlohmann::json::array();
      for (Column* c : columns(m))
        if (c->levels.value_or(0) == 2 && c->type != static_cast<int32_t>(VariableType::DateTime))
          offered.push_back(variableJson(c));
      return nlohmann::json{{"offered", offered}};
    });
  });

  // Sets a two-sample test up as its sample 1 variable by the two levels of
  // a grouping variable ({"column": num}): sample 2 and both filters follow.
  post(R"(/api/analyses/(\d+)/group)", [this](const httplib::Request& req) {
    nlohmann::json body = bodyJson(req);
    if (!body.contains("column") || !body["column"].is_number_integer())
      bad("\"column\" must be a variable number");
    return shared.run([&](Model& m) {
      requireWorkspace(m);
      Analysis* a = analysisById(m, req.matches[1].str());
      if (a->type != HypothesisTest && a->type != Ranks)
        bad("only a test of two samples is set up by a group");
      if (!a->left) bad("choose the variable to compare first");
      const int64_t num = body["column"].get<int64_t>();
      Column* g = num >= 0 && num <= INT32_MAX ? columnNumber(m, static_cast<uint32_t>(num)) : nullptr;
      if (!g) throw ApiError(404, {{"error", "no such variable"}, {"colNum", num}});
      try {
        setSamplesByGroup(m, a, g);
      } catch (const AnalysisRequestError& e) {
        bad(e.what());
      }
      return definitionJson(m, *a);
    });
  });

  // The levels of the variables whose level coded 1 the screen chooses (a
  // logistic regression's dependent, the samples of a test of proportions),
  // fetched once per choice of variables rather than with every setting.
  get(R"(/api/analyses/(\d+)/levels)", [this](const httplib::Request& req) {
    return shared.run([&](Model& m) {
      requireWorkspace(m);
      Analysis* a = analysisById(m, req.matches[1].str());
      const bool regression = a->type == Regression;
      return nlohmann::json{{"left", levelsJson(m, a->left, regression)},
                            {"right", regression ? nlohmann::json(nullptr) : levelsJson(m, a->right, false)}};
    });
  });

  // Applies the chooser's choice ({"position", "columns": [num, ...]}).
  post(R"(/api/analyses/(\d+)/variables)", [this](const httplib::Request& req) {
    nlohmann::json body = bodyJson(req);
    if (!body.contains("position") || !body["position"].is_number_integer())
      bad("\"position\" must be 1, 2 or 3");
    const int position = positionOf(std::to_string(body["position"].get<int64_t>()));
    if (!body.contains("columns") || !body["columns"].is_array())
      bad("\"columns\" must be a list of variable numbers");
    return shared.run([&](Model& m) {
      requireWorkspace(m);
      Analysis* a = analysisById(m, req.matches[1].str());
      std::vector<Column*> offered = columnsToAddToAnalysis(m, *a, position);
      std::vector<Column*> chosen;
      for (const auto& n : body["columns"]) {
        if (!n.is_number_integer()) bad("\"columns\" must be a list of variable numbers");
        auto it = std::find_if(offered.begin(), offered.end(),
                               [&](const Column* c) { return c->num == n.get<int64_t>(); });
        if (it == offered.end())
          throw ApiError(422, {{"error", "variable not offered"}, {"num", n}, {"position", position}});
        chosen.push_back(*it);
      }
      chooseColumnsForAnalysis(m, a, position, chosen);
      prepareRegressionAnalysis(a);
      m.saveContext();
      return definitionJson(m, *a);
    });
  });

  // Replaces the filter conditions ({"wheres": [...], "wheres2": [...]}, either or both).
  post(R"(/api/analyses/(\d+)/filters)", [this](const httplib::Request& req) {
    nlohmann::json body = bodyJson(req);
    std::optional<std::vector<WhereClauseObj>> wheres, wheres2;
    if (body.contains("wheres")) wheres = conditionsOfBody(body, "wheres");
    if (body.contains("wheres2")) wheres2 = conditionsOfBody(body, "wheres2");
    return shared.run([&](Model& m) {
      requireWorkspace(m);
      Analysis* a = analysisById(m, req.matches[1].str());
      if (wheres) replaceConditions(m, a, *wheres, false);
      if (wheres2) replaceConditions(m, a, *wheres2, true);
      m.saveContext();
      return definitionJson(m, *a);
    });
  });

  // Stores settings ({"key": value, ...}) as the kind of the analysis
  // describes them (GET /api/kinds): codes as numbers, flags as true or
  // false, texts as texts, null clearing a level or the chosen test. A
  // hypothesis test's distribution makes it one of means or proportions.
  // Checked before anything changes: a refused request leaves the analysis as it was.
  post(R"(/api/analyses/(\d+)/settings)", [this](const httplib::Request& req) {
    nlohmann::json body = bodyJson(req);
    return shared.run([&](Model& m) {
      requireWorkspace(m);
      Analysis* a = analysisById(m, req.matches[1].str());
      const AnalysisKind* kind = analysisKindForType(a->type.value_or(0), a->distribution);
      if (!kind) bad("this analysis has no settings");
      const std::map<std::string, std::string> texts = settingTextsOfBody(*kind, body);
      // The kind's own settings in its order, then those only a kind of the
      // same type takes (a logistic level on a linear regression).
      storeAnalysisSettings(m, *kind, *a, texts);
      for (const AnalysisKind* other : kindsOfType(*kind->type)) {
        if (other == kind) continue;
        std::map<std::string, std::string> rest;
        for (const auto& [key, text] : texts)
          if (!settingOf(*kind, key)) rest[key] = text;
        storeAnalysisSettings(m, *other, *a, rest);
      }
      m.saveContext();
      return definitionJson(m, *a);
    });
  });

  // Computes a saved analysis as stored, with any unsaved settings of the
  // page laid over it ({"settings": {...}, "page": "..."}); a newer compute
  // of the same analysis from the same page replaces this one.
  post(R"(/api/analyses/(\d+)/compute)", [this](const httplib::Request& req) {
    nlohmann::json body = bodyJson(req);
    const std::string page = bodyText(body, "page");
    AnalysisRequest overrides = requestOfBody({{"settings", body.value("settings", nlohmann::json())}});
    const AnalysisKind* kind = nullptr;
    AnalysisRequest request;
    uint64_t generation = 0;
    std::string workspace;
    shared.run([&](Model& m) {
      requireWorkspace(m);
      Analysis* a = analysisById(m, req.matches[1].str());
      kind = analysisKindForType(a->type.value_or(0), a->distribution);
      if (!kind) throw ApiError(422, {{"error", "this analysis cannot be computed yet"}});
      request = requestForAnalysis(m, *a);
      generation = shared.generation();
      workspace = m.currentStore()->filename().string();
    });
    for (auto& [key, text] : overrides.settings) request.settings[key] = text;
    const std::string key = page.empty() ? std::string() : page + "/" + req.matches[1].str();
    auto job = startAnalysisJob(req, *kind, std::move(request), generation, workspace, key);
    return nlohmann::json{{"job", job->id()}};
  });
}

}  // namespace tabulix::server
