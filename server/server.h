// `tabulix serve`: the HTTP server with the JSON API and the web UI.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "engine/model.h"
#include "server/connection_limits.h"

namespace tabulix {
class Preferences;
}

namespace tabulix::server {

// How the server is set up.
struct ServerOptions {
  std::filesystem::path documents;               // the documents folder (created if missing)
  std::string host = "127.0.0.1";                // address to bind
  int port = 8765;                               // 0: any free port
  std::optional<std::filesystem::path> webRoot;  // built UI; default: found beside the program
  // The access token; made at random when none is given. Without
  // `requireToken` (serve --no-token) a loopback server asks for none unless
  // one is given; other addresses always need one.
  std::optional<std::string> token;
  bool requireToken = true;
  Preferences* preferences = nullptr;          // help counters; default: the user's
  size_t maxBodyBytes = 100u * 1024u * 1024u;  // largest request body accepted
  // Request threads. Progress streams hold one each and are capped at a
  // quarter of them, uploads likewise, so that the rest stay free for pages.
  int threads = 32;
  ConnectionLimits limits;  // time and size bounds of every connection
  int jobWorkers = 4;       // threads for imports and variable summaries
  // A computed result stays ready for its PDF and CSV this long after it was
  // last used; then its memory goes back (the page says to show it again).
  std::chrono::seconds keepResultsFor{300};
  // Called on the import's thread with each status it reports, before the
  // page sees it (tests hold an import at a known point with it).
  std::function<void(const std::string& status)> importObserver;
};

class ServerImpl;

// The server: owns the HTTP listener, the jobs and the API over the shared Model.
class Server {
 public:
  Server(Model& shared, ServerOptions options);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds the address (one server per address and port: the socket is not
  // shared with another listener); false when it cannot, with the reason
  // in bindError() and portTaken() telling whether another program has it.
  bool bind();
  const std::string& bindError() const;
  bool portTaken() const;
  // The port bound (useful when 0 was asked for).
  int port() const;
  // The address to open in a browser, with the token when one is required.
  std::string url() const;
  // Serves until stop() is called (from another thread or a signal handler thread).
  void listen();
  // Stops listening, cancels and joins the workers; safe to call twice.
  void stop();
  // True once listen() has started accepting connections.
  bool isRunning() const;

 private:
  std::unique_ptr<ServerImpl> impl_;
};

// Where the built web UI is looked for: $TABULIX_WEB_DIR, then beside the
// program (../share/tabulix/web, web/), then the source tree's web/dist.
std::optional<std::filesystem::path> findWebRoot(const std::filesystem::path& program);

// Sets the allocator up for a long-running server whose jobs build results
// of many megabytes on many threads, so that memory goes back to the system
// after the load. Call once, before the server's threads start.
void tuneAllocatorForServing();

}  // namespace tabulix::server
