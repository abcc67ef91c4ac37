// Internals of the server shared by its source files: the state every
// handler sees and the helpers that make JSON handlers.
#pragma once

#include <httplib.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>

#include "server/jobs.h"
#include "server/security.h"
#include "server/server.h"
#include "server/shared_model.h"

namespace tabulix::server {

// A refusal of a request: its HTTP status and the JSON body to send.
class ApiError : public std::runtime_error {
 public:
  ApiError(int status, nlohmann::json body)
      : std::runtime_error(body.value("error", std::string("error"))),
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

class ServerImpl {
 public:
  ServerImpl(Model& shared, ServerOptions options);
  ~ServerImpl();

  bool bind();
  void listen();
  void stop();
  std::string url() const;

  // Registers a JSON handler: runs it inside an alert scope, turns ApiError
  // and any other exception into an error response, adds raised alerts.
  using JsonHandler = std::function<nlohmann::json(const httplib::Request&)>;
  void get(const std::string& pattern, JsonHandler handler);
  void post(const std::string& pattern, JsonHandler handler);
  void del(const std::string& pattern, JsonHandler handler);

  // The request body as a JSON object ({} when empty); 400 when malformed.
  static nlohmann::json bodyJson(const httplib::Request& req);
  // The file a client's name stands for in the documents folder; 400 when
  // the name would leave the folder.
  std::filesystem::path documentPath(const std::string& name) const;
  // The status block every page shows (workspace, status lines, generation).
  nlohmann::json statusJson(Model& model);

  // Marks a workspace file as being written by an import; false when it
  // already is. Released by releaseFile.
  bool claimFile(const std::filesystem::path& file);
  void releaseFile(const std::filesystem::path& file);
  bool isClaimed(const std::filesystem::path& file);

  void routeCore();
  void routeDocuments();
  void routeBrowse();
  void routeAnalyze();
  void routeDerive();
  void serveStatic(const httplib::Request& req, httplib::Response& res);
  bool admit(const httplib::Request& req, httplib::Response& res);

  ServerOptions options;
  SharedModel shared;
  httplib::Server http;
  JobRegistry jobs;
  std::filesystem::path documents;  // canonical documents folder
  std::optional<std::filesystem::path> webRoot;
  std::optional<HostCheck> hostCheck;
  std::string token;  // empty: none required
  int boundPort = 0;
  std::atomic<bool> stopping{false};
  // The Browse grid's caches and editing sessions (server/api_browse.cpp).
  std::shared_ptr<struct BrowseState> browseState;

 private:
  std::mutex claimMutex_;
  std::set<std::filesystem::path> claimed_;
};

}  // namespace tabulix::server
