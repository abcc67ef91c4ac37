// The Browse API: windows of the grid over the rows a filter keeps, the
// condition editor's suggestions, and editing sessions.
//
// Filters live in the browser tab (it sends its conditions with every
// window). Cell edits stay in their session until it ends, so other pages
// keep reading the last saved state; renames and added rows and variables
// are stored at once. Every write goes through the shared Model under its
// lock; the statistics of edited variables are computed by a worker Model.
#include <algorithm>
#include <chrono>
#include <map>
#include <random>

#include "analyses/filters.h"
#include "browse/edit_session.h"
#include "browse/grid_window.h"
#include "browse/variable_edit.h"
#include "engine/number_format.h"
#include "engine/translate.h"
#include "engine/variable_type.h"
#include "engine/workspace_data.h"
#include "server/request_locale.h"
#include "server/server_impl.h"

namespace tabulix::server {

struct BrowseState {
  // Bumped whenever an editing session stores cells, so cached row lists
  // made before are not used again.
  uint64_t version = 0;
  struct RowList {
    uint64_t generation = 0, version = 0;
    size_t columns = 0;
    std::string key;
    std::vector<int32_t> rows;
  };
  // The row lists of the last few filters asked for (scrolling asks for the
  // same filter again and again).
  std::vector<RowList> cache;
  struct Session {
    EditSession edits;
    uint64_t generation = 0;
    std::chrono::steady_clock::time_point lastUse;
  };
  std::map<std::string, Session> sessions;
};

namespace {

constexpr size_t kMaxWindowRows = 500;
constexpr size_t kCachedRowLists = 8;
constexpr size_t kMaxSuggestions = 10000;
constexpr auto kSessionIdle = std::chrono::hours(12);

std::string newSessionId() {
  static std::mutex m;
  static std::mt19937_64 rng{std::random_device{}()};
  std::lock_guard lock(m);
  char buf[33];
  std::snprintf(buf, sizeof buf, "%016llx%016llx", static_cast<unsigned long long>(rng()),
                static_cast<unsigned long long>(rng()));
  return buf;
}

int64_t intField(const nlohmann::json& body, const std::string& field, std::optional<int64_t> fallback = {}) {
  if (!body.contains(field) || body[field].is_null()) {
    if (fallback) return *fallback;
    badRequestField(field, "is missing");
  }
  if (!body[field].is_number_integer()) badRequestField(field, "must be a whole number");
  return body[field].get<int64_t>();
}

std::string textField(const nlohmann::json& body, const std::string& field) {
  if (!body.contains(field) || !body[field].is_string()) badRequestField(field, "must be a text");
  return body[field].get<std::string>();
}

// The conditions a page sends: [{colNum, op, constant?, levels?}].
std::vector<WhereClauseObj> wheresFromJson(const nlohmann::json& body) {
  std::vector<WhereClauseObj> out;
  if (!body.contains("wheres") || body["wheres"].is_null()) return out;
  if (!body["wheres"].is_array()) badRequestField("wheres", "must be a list");
  for (const auto& w : body["wheres"]) {
    if (!w.is_object()) badRequestField("wheres", "must hold objects");
    WhereClauseObj c;
    c.colNum = intField(w, "colNum");
    int64_t op = intField(w, "op");
    if (op < 0) badRequestField("op", "must not be negative");
    c.op = static_cast<uint64_t>(op);
    if (w.contains("constant") && !w["constant"].is_null()) c.constant = textField(w, "constant");
    if (w.contains("levels") && !w["levels"].is_null()) {
      if (!w["levels"].is_array()) badRequestField("levels", "must be a list");
      c.levels.emplace();
      for (const auto& l : w["levels"]) {
        if (!l.is_string()) badRequestField("levels", "must hold texts");
        c.levels->insert(l.get<std::string>());
      }
    }
    if (whereIsComplete(c)) out.push_back(std::move(c));
  }
  return out;
}

}  // namespace

void ServerImpl::refuseWhileEditing() {
  // Opening another workspace would drop every session (their cells are
  // the open workspace's); one with typed cells refuses the switch instead,
  // until its page leaves edit mode. Sessions with nothing typed hold
  // nothing to lose and do not stand in the way.
  if (!browseState) return;
  size_t pending = 0;
  for (const auto& [id, session] : browseState->sessions) pending += session.edits.size();
  if (pending == 0) return;
  throw alertError(
      409, "editing",
      {tr("Unsaved Edits"),
       fillPlaceholders(tr("Another workspace cannot be opened while %d typed cells wait in Browse. "
                           "Tap Done there (on this or another device) to save them, then try "
                           "again."),
                        {std::to_string(pending)}),
       {tr("OK")}});
}

void ServerImpl::routeBrowse() {
  browseState = std::make_shared<BrowseState>();
  auto state = browseState;

  // The rows a filter keeps (every row without one), ascending. Under the lock.
  auto rowList = [this, state](Model& m,
                               const std::vector<WhereClauseObj>& wheres) -> const std::vector<int32_t>& {
    nlohmann::json keyJson = nlohmann::json::array();
    for (const auto& w : wheres) keyJson.push_back(whereJson(w));
    std::string key = keyJson.dump();
    const uint64_t generation = shared.generation();
    const size_t cols = countColumns(m);
    for (auto& entry : state->cache)
      if (entry.key == key && entry.generation == generation && entry.version == state->version &&
          entry.columns == cols)
        return entry.rows;
    BrowseState::RowList entry{generation, state->version, cols, key, rowsKept(m, wheres)};
    if (state->cache.size() >= kCachedRowLists) state->cache.erase(state->cache.begin());
    state->cache.push_back(std::move(entry));
    return state->cache.back().rows;
  };

  auto sessionFor = [state](const std::string& id, uint64_t generation) -> BrowseState::Session& {
    auto it = state->sessions.find(id);
    if (it == state->sessions.end() || it->second.generation != generation)
      throw ApiError(404, {{"error", "no such editing session"},
                           {"message", tr("The editing session has ended; open Browse again.")}});
    it->second.lastUse = std::chrono::steady_clock::now();
    return it->second;
  };

  // A window of the grid: `count` rows from index `first` of the rows the
  // filter keeps, each with its cells in column-number order (null where a
  // row has no cell), the editing session's unsaved texts shown over them.
  post("/api/browse/window", [this, state, rowList, sessionFor](const httplib::Request& req) {
    nlohmann::json body = bodyJson(req);
    int64_t first = std::max<int64_t>(0, intField(body, "first", 0));
    int64_t count = std::clamp<int64_t>(intField(body, "count", 50), 0, kMaxWindowRows);
    std::string sessionId =
        body.contains("session") && body["session"].is_string() ? body["session"].get<std::string>() : "";
    std::vector<WhereClauseObj> wheres = wheresFromJson(body);
    return shared.run([&](Model& m) {
      nlohmann::json out = {{"status", statusJson(m)}};
      if (!m.currentStore()) {
        out.update({{"columns", nlohmann::json::array()},
                    {"rows", nlohmann::json::array()},
                    {"first", 0},
                    {"total", 0},
                    {"rowCount", 0},
                    {"filterDescription", tr("No filter. Tap filter icons in column headers")}});
        return out;
      }
      const EditSession* edits = nullptr;
      if (!sessionId.empty()) edits = &sessionFor(sessionId, shared.generation()).edits;
      const std::vector<int32_t>& kept = rowList(m, wheres);
      out.update(gridWindow(m, kept, static_cast<size_t>(first), static_cast<size_t>(count), wheres, edits));
      return out;
    });
  });

  // The condition editor for one variable: its operators, placeholder, and
  // its distinct values containing the typed text (computed by a worker
  // Model, not under the shared lock); the summary and whether Apply is
  // enabled for the condition given.
  post("/api/browse/condition", [this](const httplib::Request& req) {
    nlohmann::json body = bodyJson(req);
    int64_t colNum = intField(body, "colNum");
    std::string typed =
        body.contains("typed") && body["typed"].is_string() ? body["typed"].get<std::string>() : "";
    nlohmann::json probe = nlohmann::json::object({{"wheres", nlohmann::json::array()}});
    if (body.contains("where") && body["where"].is_object()) probe["wheres"].push_back(body["where"]);
    std::shared_ptr<Model> worker;
    nlohmann::json out;
    VariableType type{};
    shared.run([&](Model& m) {
      if (!m.currentStore()) throw ApiError(409, {{"error", "no workspace is open"}});
      Column* c =
          colNum >= 0 && colNum <= INT32_MAX ? columnNumber(m, static_cast<uint32_t>(colNum)) : nullptr;
      if (!c) throw ApiError(404, {{"error", "no such variable"}});
      int t = c->type.value_or(0);
      type = t >= 1 && t <= 4 ? static_cast<VariableType>(t) : static_cast<VariableType>(0);
      nlohmann::json ops = nlohmann::json::array();
      for (uint64_t op : operatorsForType(type))
        ops.push_back({{"op", op}, {"text", stringForOperatorType(static_cast<unsigned>(op))}});
      out = {{"name", c->name.value_or("")},
             {"type", variableTypeKey(t)},
             {"operators", ops},
             {"placeholder", placeholderForType(type)}};
      // The editor's condition, if any: its summary and the Apply rule.
      nlohmann::json w = probe["wheres"].empty() ? nlohmann::json() : probe["wheres"][0];
      if (w.is_object()) {
        w["colNum"] = colNum;
        nlohmann::json one = {{"wheres", nlohmann::json::array({w})}};
        WhereClauseObj cond;
        cond.colNum = colNum;
        cond.op = static_cast<uint64_t>(intField(w, "op", kOpEqual));
        if (w.contains("constant") && w["constant"].is_string())
          cond.constant = w["constant"].get<std::string>();
        if (w.contains("levels") && w["levels"].is_array()) {
          cond.levels.emplace();
          for (const auto& l : w["levels"])
            if (l.is_string()) cond.levels->insert(l.get<std::string>());
        }
        out["summary"] = summaryForWhere(m, cond);
        out["canApply"] = whereCanBeApplied(m, cond, type);
        out["complete"] = whereIsComplete(cond);
      }
      worker = backgroundModelOn(m);
    });
    Column* c = columnNumber(*worker, static_cast<uint32_t>(colNum));
    std::vector<std::string> values =
        c ? suggestionsForColumn(*worker, *c, typed) : std::vector<std::string>{};
    bool cut = values.size() > kMaxSuggestions;
    if (cut) values.resize(kMaxSuggestions);
    out["values"] = values;
    out["valuesCut"] = cut;
    return out;
  });

  // --- editing sessions ---
  post("/api/browse/edit/begin", [this, state](const httplib::Request&) {
    return shared.run([&](Model& m) {
      if (!m.currentStore()) throw ApiError(409, {{"error", "no workspace is open"}});
      auto now = std::chrono::steady_clock::now();
      for (auto it = state->sessions.begin(); it != state->sessions.end();)
        it = now - it->second.lastUse > kSessionIdle ? state->sessions.erase(it) : std::next(it);
      std::string id = newSessionId();
      state->sessions[id] = {EditSession{}, shared.generation(), now};
      shared.initialEdit = false;
      return nlohmann::json{{"session", id}, {"status", statusJson(m)}};
    });
  });

  post("/api/browse/edit/cell", [this, sessionFor](const httplib::Request& req) {
    nlohmann::json body = bodyJson(req);
    std::string id = textField(body, "session");
    int64_t colNum = intField(body, "colNum"), rowNum = intField(body, "rowNum");
    std::string text = textField(body, "text");
    if (colNum < 0 || colNum > INT32_MAX || rowNum < 0 || rowNum > INT32_MAX)
      badRequestField("colNum", "is out of range");
    return shared.run([&](Model& m) {
      auto& session = sessionFor(id, shared.generation());
      try {
        bool changed =
            session.edits.editCell(m, static_cast<int32_t>(colNum), static_cast<int32_t>(rowNum), text);
        return nlohmann::json{{"changed", changed}, {"pending", session.edits.size()}};
      } catch (const EditError& e) {
        throw ApiError(404, {{"error", "no such cell"}, {"message", e.what()}});
      }
    });
  });

  post("/api/browse/edit/rename", [this, sessionFor](const httplib::Request& req) {
    nlohmann::json body = bodyJson(req);
    std::string id = textField(body, "session");
    int64_t colNum = intField(body, "colNum");
    std::string name = textField(body, "name");
    return shared.run([&](Model& m) {
      sessionFor(id, shared.generation());
      if (colNum < 0 || colNum > INT32_MAX || !columnNumber(m, static_cast<uint32_t>(colNum)))
        throw ApiError(404, {{"error", "no such variable"}});
      bool accepted = renameVariable(m, static_cast<int32_t>(colNum), name);
      return nlohmann::json{{"accepted", accepted},
                            {"name", columnNumber(m, static_cast<uint32_t>(colNum))->name.value_or("")}};
    });
  });

  post("/api/browse/edit/rows", [this, state, sessionFor](const httplib::Request& req) {
    nlohmann::json body = bodyJson(req);
    std::string id = textField(body, "session");
    int64_t count = intField(body, "count", 1);
    if (count < 1 || count > 10000) badRequestField("count", "must be between 1 and 10000");
    return shared.run([&](Model& m) {
      sessionFor(id, shared.generation());
      if (countRows(m) + static_cast<size_t>(count) > 100000)
        throw ApiError(409, {{"error", "row limit"}, {"message", rowLimitMessage()}});
      addRows(m, static_cast<uint32_t>(count));
      ++state->version;
      return nlohmann::json{{"rowCount", countRows(m)}, {"status", statusJson(m)}};
    });
  });

  // Deleting rows in edit mode: the session's typed cells are stored first
  // (they name rows as they were); refused while another session holds
  // typed cells, whose rows would move under them.
  post("/api/browse/edit/deleteRows", [this, state, sessionFor](const httplib::Request& req) {
    nlohmann::json body = bodyJson(req);
    std::string id = textField(body, "session");
    if (!body.contains("rows") || !body["rows"].is_array() || body["rows"].empty() ||
        body["rows"].size() > 100000)
      badRequestField("rows", "must be a list of row numbers");
    std::vector<int32_t> rowNums;
    for (const auto& r : body["rows"]) {
      if (!r.is_number_integer() || r.get<int64_t>() < 1 || r.get<int64_t>() > INT32_MAX)
        badRequestField("rows", "must be a list of row numbers");
      rowNums.push_back(static_cast<int32_t>(r.get<int64_t>()));
    }
    std::sort(rowNums.begin(), rowNums.end());
    rowNums.erase(std::unique(rowNums.begin(), rowNums.end()), rowNums.end());
    return shared.run([&](Model& m) {
      auto& session = sessionFor(id, shared.generation());
      for (const auto& [other, s] : state->sessions)
        if (other != id && s.edits.size() > 0)
          throw ApiError(409,
                         {{"error", "unsaved edits"},
                          {"message", tr("Another page has unsaved edits; rows can be deleted once they are "
                                         "saved.")}});
      try {
        deleteRows(m, rowNums, &session.edits);
      } catch (const EditError& e) {
        throw ApiError(404, {{"error", "no such row"}, {"message", e.what()}});
      }
      ++state->version;
      return nlohmann::json{{"rowCount", countRows(m)}, {"status", statusJson(m)}};
    });
  });

  post("/api/browse/edit/variable", [this, state, sessionFor](const httplib::Request& req) {
    nlohmann::json body = bodyJson(req);
    std::string id = textField(body, "session");
    return shared.run([&](Model& m) {
      sessionFor(id, shared.generation());
      if (countColumns(m) >= kMaxVariables) throw variableLimitError();
      Column* c = addVariable(m);
      ++state->version;
      return nlohmann::json{
          {"num", c->num.value_or(-1)}, {"name", c->name.value_or("")}, {"status", statusJson(m)}};
    });
  });

  // Leaving edit mode: the edits are stored and saved, then a job computes
  // each edited variable's statistics on a worker Model and posts its name;
  // the shared Model applies each result with the guessed type, and saves.
  post("/api/browse/edit/end", [this, state, sessionFor](const httplib::Request& req) {
    nlohmann::json body = bodyJson(req);
    std::string id = textField(body, "session");
    std::set<int32_t> changed;
    uint64_t generation = 0;
    shared.run([&](Model& m) {
      auto& session = sessionFor(id, shared.generation());
      generation = shared.generation();
      changed = session.edits.changedColumns();
      ++state->version;
      storeEdits(m, session.edits);
      state->sessions.erase(id);
    });
    auto locale = requestLocale(req);
    auto job = startJob(req, "edit", [this, state, changed, generation, locale](Job& job) {
      LocaleScope localeScope(locale);  // its status block speaks the page's language
      nlohmann::json names = nlohmann::json::array();
      std::shared_ptr<Model> worker = workerFor(generation);
      if (!worker) {
        job.finish({{"variables", names}, {"status", shared.run([&](Model& m) { return statusJson(m); })}});
        return;
      }
      for (const ColumnStatistics& r :
           statisticsForColumns(*worker, changed, [&](const std::string&) { return !job.cancelled(); })) {
        job.post({{"name", r.name}});
        shared.run([&](Model& m) {
          if (shared.generation() == generation) applyColumnStatistics(m, r);
        });
        names.push_back(r.name);
      }
      worker->context().reset();
      nlohmann::json status;
      shared.run([&](Model& m) {
        if (shared.generation() == generation) saveOrThrow(m);
        ++state->version;
        status = statusJson(m);
      });
      job.finish({{"variables", names}, {"status", status}});
    });
    return nlohmann::json{{"job", job->id()}, {"title", tr("Processing Changed Variables")}};
  });

  // --- the history: undo and redo ---
  get("/api/history", [this](const httplib::Request&) {
    return shared.run([&](Model& m) {
      nlohmann::json steps = nlohmann::json::array();
      if (m.currentStore())
        for (const HistoryStep& s : m.context().history())
          steps.push_back({{"name", s.name}, {"undone", s.undone}});
      return nlohmann::json{{"steps", steps}, {"history", historyJson(m)}};
    });
  });

  // Undo and redo change what every page shows, so they wait for typed
  // cells (which name rows and variables as they are now) to be stored.
  auto moveInHistory = [this, state](bool forward) {
    return [this, state, forward](const httplib::Request&) {
      return shared.run([&](Model& m) {
        if (!m.currentStore()) throw ApiError(409, {{"error", "no workspace is open"}});
        size_t pending = 0;
        for (const auto& [id, session] : state->sessions) pending += session.edits.size();
        if (pending > 0)
          throw alertError(
              409, "editing",
              {tr("Unsaved Edits"),
               fillPlaceholders(forward ? tr("Nothing can be redone while %d typed cells wait in "
                                             "Browse. Tap Done there to save them, then try again.")
                                        : tr("Nothing can be undone while %d typed cells wait in "
                                             "Browse. Tap Done there to save them, then try again."),
                                {std::to_string(pending)}),
               {tr("OK")}});
        // A store failure changes nothing and is answered as any other.
        std::optional<std::string> step = forward ? m.context().redo() : m.context().undo();
        if (!step)
          throw ApiError(409, {{"error", forward ? "nothing to redo" : "nothing to undo"},
                               {"message", forward ? tr("There is nothing to redo.")
                                                   : tr("There is nothing to undo.")}});
        // Cached row lists and every page's figures are of the state before.
        ++state->version;
        return nlohmann::json{
            {"step", *step},
            {"message", fillPlaceholders(forward ? tr("Redid: %@") : tr("Undid: %@"), {*step})},
            {"status", statusJson(m)}};
      });
    };
  };
  post("/api/history/undo", moveInHistory(false));
  post("/api/history/redo", moveInHistory(true));
}

}  // namespace tabulix::server
