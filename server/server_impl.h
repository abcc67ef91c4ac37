// Internals of the server shared by its source files: the state every
// handler sees and the helpers that make JSON handlers.
#pragma once

#include <atomic>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "engine/preferences.h"
#include "server/http_front.h"
#include "server/jobs.h"
#include "server/security.h"
#include "server/server.h"
#include "server/shared_model.h"

namespace tabulix {
struct AnalysisKind;
struct AnalysisRequest;
}  // namespace tabulix

namespace tabulix::server {

// A refusal of a request: its HTTP status and the JSON body to send.
class ApiError : public std::runtime_error {
 public:
  // what() is the alert's message when there is one (a job that fails with
  // it shows that), else the error code.
  ApiError(int status, nlohmann::json body)
      : std::runtime_error(body.contains("alert") && body["alert"].is_object()
                               ? body["alert"].value("message", std::string("error"))
                               : body.value("error", std::string("error"))),
        status_(status),
        body_(std::move(body)) {}
  int status() const { return status_; }
  const nlohmann::json& body() const { return body_; }

 private:
  int status_;
  nlohmann::json body_;
};

// An ApiError with an alert for the page to show.
ApiError alertError(int status, const std::string& code, const Alert& alert);
// The 409 "variableLimit" alert of a workspace that holds kMaxVariables variables.
ApiError variableLimitError();

// Refuses a request body's field with 400: "\"FIELD\" WHAT".
[[noreturn]] inline void badRequestField(const std::string& field, const std::string& what) {
  throw ApiError(400, {{"error", "bad request"}, {"message", "\"" + field + "\" " + what}});
}

// The cards still to be summarised by one screen's refresh job. A newer
// refresh of the same screen takes over what is left and cancels the job.
struct RefreshWork {
  std::mutex mutex;
  std::deque<int64_t> ids;
  // The card being computed: a newer refresh that takes over takes it too,
  // since the page no longer listens to this job's events.
  std::optional<int64_t> current;
  std::shared_ptr<Job> job;
};

// How deeply the arrays and objects of a JSON text nest, counted in one
// pass without recursion (brackets inside strings are not counted).
size_t jsonNesting(std::string_view text);

class ServerImpl {
 public:
  ServerImpl(Model& shared, ServerOptions options);
  ~ServerImpl();

  bool bind();
  void listen();
  void stop();
  std::string url() const;

  // Registers a JSON handler: runs it inside an alert scope and adds the
  // alerts raised meanwhile; failures become answers through answerError.
  using JsonHandler = std::function<nlohmann::json(const httplib::Request&)>;
  void get(const std::string& pattern, JsonHandler handler);
  void post(const std::string& pattern, JsonHandler handler);
  void del(const std::string& pattern, JsonHandler handler);
  // Notes an API route registered directly with the HTTP layer, so that
  // other methods on its path are answered 405.
  void noteRoute(const std::string& method, const std::string& pattern);
  // The one place where a failure of a request becomes its answer: an
  // ApiError as it says; a store failure as 500 with the "Error!" alert;
  // a malformed request body field as 400; anything else as 500. The
  // alerts of `scope` go with it.
  static void answerError(const httplib::Request& req, httplib::Response& res, std::exception_ptr error,
                          AlertScope& scope);

  // The request body as a JSON object ({} when empty); 400 when malformed.
  static nlohmann::json bodyJson(const httplib::Request& req);
  // A field of a request body, or `fallback` when absent or null; 400
  // naming the field when it has another type.
  static std::string bodyText(const nlohmann::json& body, const char* key, std::string fallback = "");
  static bool bodyFlag(const nlohmann::json& body, const char* key, bool fallback);
  static int64_t bodyInt(const nlohmann::json& body, const char* key, int64_t fallback);
  // The file a client's name stands for in the documents folder; 400 when
  // the name would leave the folder.
  std::filesystem::path documentPath(const std::string& name) const;
  // The status block every page shows (workspace, status lines, generation).
  nlohmann::json statusJson(Model& model);

  // Queues a job on behalf of the request's client; 503 when the server is
  // stopping or too much work waits (JobsBusy, answered by answerError).
  // A job started with `supersedes` replaces the last one started with it.
  std::shared_ptr<Job> startJob(const httplib::Request& req, const std::string& kind,
                                std::function<void(Job&)> work, const std::string& supersedes = {});
  // Queues the computing of an analysis request on the workspace open at
  // `generation` (the file `workspace`); the job's result is the page's
  // (result, layout, charts, baseName, id) or {"error": validity message}.
  std::shared_ptr<Job> startAnalysisJob(const httplib::Request& req, const AnalysisKind& kind,
                                        AnalysisRequest request, uint64_t generation,
                                        const std::string& workspace, const std::string& supersedes = {});
  // A Model for a job's worker, made when the job runs (so that a queued job
  // holds no connection): null when the workspace open when the job was
  // asked for is no longer open (`generation` moved on) or none is.
  std::shared_ptr<Model> workerFor(uint64_t generation);

  // Marks a workspace file as being written by an import; false when it
  // already is. Released by releaseFile.
  bool claimFile(const std::filesystem::path& file);
  void releaseFile(const std::filesystem::path& file);
  bool isClaimed(const std::filesystem::path& file);

  // Refuses (409 with an alert) to open another workspace while an editing
  // session holds typed cells; call inside shared.run().
  void refuseWhileEditing();
  // The names of the steps undo and redo would take back and bring back
  // (null when there is none).
  nlohmann::json historyJson(Model& model);

  // Gives a complete new workspace file its name (replacing what had it)
  // and opens it in the shared Model; answers the status block. The file
  // it replaces is let go of first: every background model on it (queued
  // and running jobs) ends, then under the shared lock the shared Model
  // closes it and the new file takes the name, so that no connection to the
  // old file ever takes the new one's journal for its own. Call outside
  // shared.run(); 409 (nothing replaced) when work on it does not end.
  nlohmann::json installWorkspace(const std::filesystem::path& made, const std::filesystem::path& target,
                                  bool blank);
  // Deletes what processes that ended left behind: hidden files of imports,
  // partial uploads in the Inbox, temporary export folders.
  void removeLeftovers();

  void routeCore();
  void routeDocuments();
  void routeBrowse();
  void routeAnalyze();
  void routeDerive();
  void routeRecode();
  void routeAnalyses();
  void routeGlossary();
  void routeFallbacks();
  void serveStatic(const httplib::Request& req, httplib::Response& res);
  bool admit(const httplib::Request& req, httplib::Response& res);

  ServerOptions options;
  // The preferences that hold the help-tip counters (the user's by default).
  Preferences& preferences() { return options.preferences ? *options.preferences : Preferences::user(); }
  SharedModel shared;
  GuardedServer http;
  JobRegistry jobs;
  std::filesystem::path documents;  // canonical documents folder
  std::optional<std::filesystem::path> webRoot;
  std::optional<HostCheck> hostCheck;
  std::string token;  // empty: none required
  int boundPort = 0;
  std::string bindError;   // why bind() failed
  bool portTaken = false;  // it failed because another program listens there
  std::atomic<bool> stopping{false};
  std::atomic<int> openStreams{0};  // progress streams being served
  int maxStreams = 1;               // at most this many at once
  // The Browse grid's caches and editing sessions (server/api_browse.cpp).
  std::shared_ptr<struct BrowseState> browseState;

 private:
  void route(const std::string& method, const std::string& pattern, JsonHandler handler);

  std::vector<std::pair<std::string, std::regex>> routes_;
  std::mutex refreshMutex_;
  std::map<std::string, std::shared_ptr<RefreshWork>> refreshes_;  // by screen
  std::mutex claimMutex_;
  std::set<std::filesystem::path> claimed_;
};

}  // namespace tabulix::server
