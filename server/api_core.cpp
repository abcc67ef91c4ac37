// The API of the open workspace: status, the Browse grid, the Variables
// cards, help counters, jobs and their progress streams, and About.
#include <algorithm>
#include <thread>

#include "analyses/definitions.h"
#include "browse/edit_session.h"
#include "browse/variable_edit.h"
#include "engine/cell_access.h"
#include "engine/log.h"
#include "engine/missing_codes.h"
#include "engine/number_format.h"
#include "engine/translate.h"
#include "engine/workspace_data.h"
#include "engine/workspace_status.h"
#include "server/about.h"
#include "server/grid.h"
#include "server/request_locale.h"
#include "server/server_impl.h"
#include "server/text_match.h"
#include "server/variable_cards.h"

namespace tabulix::server {

namespace {

const std::set<std::string> kHelpKeys = {"import", "newVariable", "browse", "newAnalysis"};

// What the type picker and the missing-codes editor show: the types the
// variable may be given (keys and names), its own, its codes and its card.
nlohmann::json variableSettingsJson(const Column& c) {
  nlohmann::json types = nlohmann::json::array();
  for (VariableType t : variableTypesForColumn(c))
    types.push_back({{"key", variableTypeKey(static_cast<int32_t>(t))}, {"name", variableTypeName(t)}});
  return {{"types", types},
          {"type", variableTypeKey(c.type.value_or(0))},
          {"missingCodes", storedMissingCodes(c)},
          {"card", toJson(cardFromCache(c))}};
}

int64_t idParam(const httplib::Request& req, size_t index = 1) {
  try {
    return std::stoll(req.matches[index].str());
  } catch (const std::exception&) {
    throw ApiError(400, {{"error", "invalid id"}});
  }
}

void requireWorkspace(Model& m) {
  if (!m.currentStore()) throw ApiError(409, {{"error", "no workspace is open"}});
}

}  // namespace

void ServerImpl::routeCore() {
  get("/api/status",
      [this](const httplib::Request&) { return shared.run([&](Model& m) { return statusJson(m); }); });

  get("/api/about", [](const httplib::Request&) { return aboutJson(); });
  get(R"(/api/about/licences/(\d+))", [](const httplib::Request& req) {
    auto text = licenceText(static_cast<size_t>(idParam(req)));
    if (!text) throw ApiError(404, {{"error", "no licence text installed"}});
    return nlohmann::json{{"text", *text}};
  });

  // --- Browse ---
  get("/api/browse", [this](const httplib::Request&) {
    return shared.run([&](Model& m) {
      nlohmann::json out;
      if (m.currentStore()) {
        out = browseGrid(m);
      } else {
        out = {{"columns", nlohmann::json::array()},
               {"rows", nlohmann::json::array()},
               {"cellCount", 0},
               {"rowCount", 0},
               {"columnCount", 0},
               {"truncated", false}};
      }
      out["status"] = statusJson(m);
      out["filterDescription"] = tr("No filter. Tap filter icons in column headers");
      return out;
    });
  });

  // --- Variables ---
  get("/api/variables", [this](const httplib::Request& req) {
    std::string search = req.has_param("search") ? req.get_param_value("search") : "";
    std::string folded = foldForSearch(search);
    return shared.run([&](Model& m) {
      nlohmann::json cards = nlohmann::json::array();
      size_t total = 0;
      if (m.currentStore()) {
        std::vector<Column*> cols = columns(m);
        total = cols.size();
        for (Column* c : cols) {
          if (!folded.empty() && foldForSearch(c->name.value_or("")).find(folded) == std::string::npos)
            continue;
          cards.push_back(toJson(cardFromCache(*c)));
        }
      }
      return nlohmann::json{{"status", statusJson(m)},
                            {"cards", cards},
                            {"total", total},
                            {"canAdd", m.currentStore() && total < kMaxVariables}};
    });
  });

  // The summaries of the cards a page shows, computed on a worker with its
  // own Model; each card's lines arrive as one event of the job. A screen
  // has one refresh at a time: a newer one takes over the cards the older
  // had not done yet, and an empty one just stops it.
  post("/api/variables/refresh", [this](const httplib::Request& req) {
    nlohmann::json body = bodyJson(req);
    std::string screen = bodyText(body, "screen");
    std::deque<int64_t> ids;
    if (body.contains("ids") && !body["ids"].is_null()) {
      if (!body["ids"].is_array()) throw ApiError(400, {{"error", "the field \"ids\" must be a list"}});
      for (const auto& v : body["ids"]) {
        if (!v.is_number_integer())
          throw ApiError(400, {{"error", "the field \"ids\" must list whole numbers"}});
        if (ids.size() < 1000) ids.push_back(v.get<int64_t>());
      }
    }
    auto work = std::make_shared<RefreshWork>();
    {
      std::lock_guard lock(refreshMutex_);
      for (auto it = refreshes_.begin(); it != refreshes_.end();) {
        if (it->second->job && it->second->job->finished())
          it = refreshes_.erase(it);
        else
          ++it;
      }
      if (!screen.empty()) {
        if (auto it = refreshes_.find(screen); it != refreshes_.end()) {
          std::lock_guard old(it->second->mutex);
          // An empty refresh only stops; a newer batch takes the rest over.
          if (!ids.empty()) {
            std::deque<int64_t> left = it->second->ids;
            if (it->second->current) left.push_front(*it->second->current);
            it->second->current.reset();  // its job no longer posts it
            for (int64_t id : left)
              if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
          }
          it->second->ids.clear();
          if (it->second->job) it->second->job->cancel();
          refreshes_.erase(it);
        }
      }
    }
    if (ids.empty() && !screen.empty()) return nlohmann::json{{"job", nullptr}};
    work->ids = std::move(ids);
    uint64_t generation = 0;
    shared.run([&](Model& m) {
      requireWorkspace(m);
      generation = shared.generation();
    });
    auto locale = requestLocale(req);
    auto job = startJob(req, "variables", [this, work, generation, locale](Job& job) {
      LocaleScope localeScope(locale);  // the summaries are read in the page's language
      // Made when the job runs: a waiting refresh holds no connection.
      std::shared_ptr<Model> background = workerFor(generation);
      if (!background) {
        job.finish({{"generation", generation}, {"cancelled", true}});
        return;
      }
      for (;;) {
        int64_t id;
        {
          std::lock_guard lock(work->mutex);
          if (job.cancelled() || work->ids.empty()) break;
          id = work->ids.front();
          work->ids.pop_front();
          work->current = id;
        }
        Column* c = background->context().existingColumn({Entity::Column, id});
        if (!c) {
          std::lock_guard lock(work->mutex);
          work->current.reset();
          continue;
        }
        ComputedCard card = computeCard(*background, *c);
        // The worker only computes; the shared model caches the figures
        // under its lock, so that its own later saves keep them.
        if (card.stats)
          shared.run([&](Model& m) {
            if (shared.generation() != generation) return;
            try {
              applyComputedStats(m, id, *card.stats);
            } catch (const StoreError& e) {
              reportStoreError(e);
            }
          });
        nlohmann::json lines = nlohmann::json::array();
        for (const auto& l : card.lines) lines.push_back(toJson(l));
        {
          std::lock_guard lock(work->mutex);
          // Once taken over, the card is the newer refresh's to post: each
          // card is summarised exactly once for the screen.
          if (work->current == id) job.post({{"id", id}, {"generation", generation}, {"lines", lines}});
          work->current.reset();
        }
      }
      // Let go of the fetched cells before the job is kept for late readers.
      background->context().reset();
      job.finish({{"generation", generation}, {"cancelled", job.cancelled()}});
    });
    {
      std::lock_guard lock(work->mutex);
      work->job = job;
    }
    if (!screen.empty()) {
      std::lock_guard lock(refreshMutex_);
      refreshes_[screen] = work;
    }
    return nlohmann::json{{"job", job->id()}};
  });

  post("/api/variables", [this](const httplib::Request&) {
    return shared.run([&](Model& m) {
      requireWorkspace(m);
      if (countColumns(m) >= kMaxVariables) throw variableLimitError();
      Column* c = addVariable(m);
      return nlohmann::json{{"card", toJson(cardFromCache(*c))},
                            {"canAdd", countColumns(m) < kMaxVariables},
                            {"status", statusJson(m)}};
    });
  });

  // Deleting a variable that saved analyses use asks first: the page shows
  // the analyses named in the 409 and sends the request again with force=1.
  del(R"(/api/variables/(\d+))", [this](const httplib::Request& req) {
    int64_t id = idParam(req);
    bool force = req.has_param("force") && req.get_param_value("force") == "1";
    return shared.run([&](Model& m) {
      requireWorkspace(m);
      Column* c = m.context().existingColumn({Entity::Column, id});
      if (!c) throw ApiError(404, {{"error", "no such variable"}});
      auto users = analysesUsingVariable(m, *c);
      if (!users.empty() && !force) {
        nlohmann::json list = nlohmann::json::array();
        for (Analysis* a : users)
          list.push_back({{"id", a->objectID.rowid}, {"title", summaryForAnalysis(m, *a).title}});
        throw ApiError(409, {{"error", "variableInUse"},
                             {"title", tr("Delete Variable")},
                             {"message", fillPlaceholders(tr("These saved analyses use %@ and will lose it:"),
                                                          {c->name.value_or("")})},
                             {"analyses", list}});
      }
      deleteVariable(m, c->num.value_or(-1));
      return nlohmann::json{{"canAdd", countColumns(m) < kMaxVariables}, {"status", statusJson(m)}};
    });
  });

  // The types a variable may be given, its missing-value codes, and its card.
  get(R"(/api/variables/(\d+)/types)", [this](const httplib::Request& req) {
    int64_t id = idParam(req);
    return shared.run([&](Model& m) {
      requireWorkspace(m);
      Column* c = m.context().existingColumn({Entity::Column, id});
      if (!c) throw ApiError(404, {{"error", "no such variable"}});
      if (needCalcBasicStatsForColumn(*c)) {
        basicStatsForColumn(m, *c);
        m.saveContext();
      }
      return variableSettingsJson(*c);
    });
  });

  post(R"(/api/variables/(\d+)/type)", [this](const httplib::Request& req) {
    int64_t id = idParam(req);
    nlohmann::json body = bodyJson(req);
    VariableType type = body.contains("type") && body["type"].is_string()
                            ? variableTypeNamed(body["type"].get<std::string>())
                            : VariableType::Unknown;
    if (type == VariableType::Unknown) badRequestField("type", "is not a type");
    return shared.run([&](Model& m) {
      requireWorkspace(m);
      Column* c = m.context().existingColumn({Entity::Column, id});
      if (!c) throw ApiError(404, {{"error", "no such variable"}});
      try {
        changeVariableType(m, c->num.value_or(-1), type);
      } catch (const EditError& e) {
        throw ApiError(400, {{"error", "type not allowed"}, {"message", e.what()}});
      }
      return variableSettingsJson(*c);
    });
  });

  post(R"(/api/variables/(\d+)/missing)", [this](const httplib::Request& req) {
    int64_t id = idParam(req);
    nlohmann::json body = bodyJson(req);
    std::vector<std::string> codes;
    if (!body.contains("codes") || !body["codes"].is_array())
      badRequestField("codes", "must be a list of texts");
    for (const auto& e : body["codes"]) {
      if (!e.is_string()) badRequestField("codes", "must be a list of texts");
      codes.push_back(e.get<std::string>());
    }
    if (codes.size() > kMaxMissingCodes) badRequestField("codes", "holds too many codes");
    return shared.run([&](Model& m) {
      requireWorkspace(m);
      Column* c = m.context().existingColumn({Entity::Column, id});
      if (!c) throw ApiError(404, {{"error", "no such variable"}});
      setMissingCodes(m, c->num.value_or(-1), codes);
      return variableSettingsJson(*c);
    });
  });

  // --- help tips ---
  get(R"(/api/help/(\w+))", [this](const httplib::Request& req) {
    std::string key = req.matches[1].str();
    if (!kHelpKeys.count(key)) throw ApiError(404, {{"error", "no such help tip"}});
    // The lock also keeps the counters' read-modify-write one at a time.
    return shared.run([&](Model&) {
      int seen = timesSeenHelpKey(preferences(), key);
      return nlohmann::json{{"key", key}, {"timesSeen", seen}, {"show", seen < 2}};
    });
  });
  post(R"(/api/help/(\w+)/shown)", [this](const httplib::Request& req) {
    std::string key = req.matches[1].str();
    if (!kHelpKeys.count(key)) throw ApiError(404, {{"error", "no such help tip"}});
    return shared.run([&](Model&) {
      incrementTimesSeenHelpKey(preferences(), key);
      return nlohmann::json{{"key", key}, {"timesSeen", timesSeenHelpKey(preferences(), key)}};
    });
  });

  // --- jobs ---
  get(R"(/api/jobs/([\w-]+))", [this](const httplib::Request& req) {
    auto job = jobs.find(req.matches[1].str());
    if (!job) throw ApiError(404, {{"error", "no such job"}});
    return job->toJson();
  });

  // Stops a running import: the workspace it would replace stays as it was.
  // Other work is cancelled by the server itself when superseded.
  post(R"(/api/jobs/([\w-]+)/cancel)", [this](const httplib::Request& req) {
    auto job = jobs.find(req.matches[1].str());
    if (!job) throw ApiError(404, {{"error", "no such job"}});
    if (job->kind() != "import") throw ApiError(409, {{"error", "only an import can be cancelled"}});
    job->cancel();
    return nlohmann::json{{"job", job->id()}, {"finished", job->finished()}};
  });

  // Server-Sent Events: one "progress" event per event of the job (its id is
  // the event's index, so a reconnecting EventSource resumes after the last
  // one it saw), then one "end" event with the result.
  noteRoute("GET", R"(/api/jobs/([\w-]+)/events)");
  http.Get(R"(/api/jobs/([\w-]+)/events)", [this](const httplib::Request& req, httplib::Response& res) {
    auto job = jobs.find(req.matches[1].str());
    if (!job) {
      res.status = 404;
      res.set_content(R"({"error":"no such job"})", "application/json");
      return;
    }
    // Each stream holds a request thread: beyond the cap pages poll the job.
    if (openStreams.fetch_add(1) >= maxStreams) {
      --openStreams;
      res.status = 503;
      res.set_header("Retry-After", "1");
      res.set_content(R"({"error":"too many progress streams"})", "application/json");
      return;
    }
    size_t from = 0;
    std::string last = req.get_header_value("Last-Event-ID");
    if (last.empty() && req.has_param("from")) last = req.get_param_value("from");
    if (!last.empty()) {
      try {
        from = static_cast<size_t>(std::stoull(last)) + (req.has_header("Last-Event-ID") ? 1 : 0);
      } catch (const std::exception&) {
        from = 0;
      }
    }
    res.set_header("Cache-Control", "no-store");
    res.set_header("X-Accel-Buffering", "no");
    auto next = std::make_shared<size_t>(from);
    res.set_chunked_content_provider(
        "text/event-stream",
        [this, job, next](size_t, httplib::DataSink& sink) {
          bool done = false;
          auto events = job->eventsFrom(*next, std::chrono::milliseconds(15000), done);
          std::string chunk;
          for (const auto& e : events) {
            chunk += std::string("id: ") + std::to_string((*next)++) + "\nevent: progress\ndata: " +
                     e.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n\n";
          }
          if (done) {
            chunk += "event: end\ndata: " +
                     job->result().dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n\n";
          } else if (events.empty()) {
            chunk += ": keep-alive\n\n";  // lets a dead connection show itself
          }
          if (!sink.write(chunk.data(), chunk.size())) return false;
          if (done || stopping) {
            sink.done();
          }
          return true;
        },
        [this](bool) { --openStreams; });
  });
}

}  // namespace tabulix::server
