// The connection front of the HTTP server: one thread waits on every open
// connection and reads each request's headers (and a small body) under a
// deadline and size caps; request threads only ever get complete requests.
// Slow, idle or oversized clients therefore cost a file descriptor and a
// bounded buffer, never a request thread.
#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/connection_limits.h"

namespace tabulix::server {

class FrontConnection;

// An httplib::Server whose connections go through the front described
// above; set_* timeouts of httplib are replaced by ConnectionLimits.
class GuardedServer : public httplib::Server {
 public:
  GuardedServer(ConnectionLimits limits, size_t threads);
  ~GuardedServer() override;

  // Lets the kernel queue a burst of new connections (the HTTP layer's own
  // queue holds five); call after binding.
  void widenBacklog();
  // Connections open now (for tests and diagnostics).
  size_t openConnections();

 private:
  friend class FrontConnection;
  class InlineQueue;

  bool process_and_close_socket(socket_t sock) override;
  void adopt(int fd);
  void pollLoop();
  // Reads what a waiting connection has; returns false when it is closed.
  bool readInto(FrontConnection& c);
  // Takes an upload slot for a large body and sets its deadline; false when all are taken.
  bool takeLargeSlot(FrontConnection& c, std::chrono::steady_clock::time_point now);
  void dispatch(std::shared_ptr<FrontConnection> c);
  void serve(const std::shared_ptr<FrontConnection>& c);
  void giveBack(std::shared_ptr<FrontConnection> c);
  void closeConnection(const std::shared_ptr<FrontConnection>& c);
  void refuse(const std::shared_ptr<FrontConnection>& c, int status, const char* reason,
              const std::string& message);
  // Closes waiting connections until every address and the whole are within their caps.
  void enforceCaps();
  void wake();
  void shutdownFront();

  ConnectionLimits limits_;
  size_t threads_;
  std::mutex mutex_;
  std::vector<std::shared_ptr<FrontConnection>> waiting_;  // owned by the poll thread
  std::deque<std::shared_ptr<FrontConnection>> incoming_;  // adopted or given back
  std::map<std::string, size_t> perAddress_;               // every open connection
  size_t open_ = 0;
  size_t largeBodies_ = 0;
  int wakeFd_ = -1;
  std::atomic<bool> stopping_{false};
  std::thread poller_;
  std::unique_ptr<httplib::ThreadPool> pool_;
};

}  // namespace tabulix::server
