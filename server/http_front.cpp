#include "server/http_front.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/log.h"

namespace tabulix::server {

using Clock = std::chrono::steady_clock;

// One client connection: what has arrived of its current request and how
// long it may still take.
class FrontConnection {
 public:
  FrontConnection(int fd, std::string address) : fd(fd), address(std::move(address)) {}

  void startWaiting(Clock::time_point now) {
    started = false;
    since = now;
    headerEnd = 0;
    bodyLength = 0;
    large = false;
    awaitingSlot = false;
    consumed = 0;
    if (pos > 0) {
      buffer.erase(0, pos);
      pos = 0;
    }
  }

  const int fd;
  const std::string address;
  std::string buffer;  // bytes received and not yet handed to the request
  size_t pos = 0;
  bool started = false;     // a byte of the current request has arrived
  Clock::time_point since;  // start of the idle wait, or the request's first byte
  size_t headerEnd = 0;     // offset just past the blank line; 0 while unknown
  size_t scanned = 0;       // offset up to which the headers were searched
  size_t headerLines = 0;
  uint64_t bodyLength = 0;
  bool large = false;              // the body streams on the request thread
  bool awaitingSlot = false;       // a large body waiting for one of the upload slots
  Clock::time_point bodyDeadline;  // the end of the wait for an upload slot
  Clock::time_point bodyStart;     // when a large body began to stream
  uint64_t consumed = 0;           // bytes the request has read so far
};

namespace {

void setNonBlocking(int fd) {
  int flags = ::fcntl(fd, F_GETFL, 0);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

std::string peerAddress(int fd, int* port) {
  sockaddr_storage ss{};
  socklen_t len = sizeof ss;
  *port = 0;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&ss), &len) != 0) return "?";
  char buf[INET6_ADDRSTRLEN] = {};
  if (ss.ss_family == AF_INET) {
    auto* a = reinterpret_cast<sockaddr_in*>(&ss);
    ::inet_ntop(AF_INET, &a->sin_addr, buf, sizeof buf);
    *port = ntohs(a->sin_port);
  } else if (ss.ss_family == AF_INET6) {
    auto* a = reinterpret_cast<sockaddr_in6*>(&ss);
    ::inet_ntop(AF_INET6, &a->sin6_addr, buf, sizeof buf);
    *port = ntohs(a->sin6_port);
  }
  std::string s = buf;
  // An IPv4 client of a dual-stack socket is still that IPv4 address.
  if (s.rfind("::ffff:", 0) == 0 && s.find('.') != std::string::npos) s = s.substr(7);
  return s;
}

int millisUntil(Clock::time_point deadline, Clock::time_point now) {
  if (deadline <= now) return 0;
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
  return static_cast<int>(std::min<int64_t>(ms, 1000));
}

bool iequalsPrefix(std::string_view line, std::string_view name) {
  if (line.size() < name.size()) return false;
  for (size_t i = 0; i < name.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(line[i])) != name[i]) return false;
  return true;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// The headers that decide how the body is read.
struct BodyHeaders {
  bool badLength = false;
  bool hasLength = false;
  uint64_t length = 0;
  bool transferEncoding = false;
  bool expectContinue = false;
};

BodyHeaders bodyHeaders(std::string_view block) {
  BodyHeaders h;
  size_t start = block.find('\n');  // after the request line
  while (start != std::string_view::npos && start + 1 < block.size()) {
    size_t end = block.find('\n', start + 1);
    std::string_view line = block.substr(start + 1, end == std::string_view::npos ? end : end - start - 1);
    start = end;
    if (iequalsPrefix(line, "content-length:")) {
      std::string_view v = trim(line.substr(15));
      uint64_t n = 0;
      bool ok = !v.empty() && v.size() <= 18;
      for (char ch : v) ok = ok && ch >= '0' && ch <= '9';
      for (char ch : v)
        if (ok) n = n * 10 + static_cast<uint64_t>(ch - '0');
      // Two different lengths are as bad as an unreadable one.
      if (!ok || (h.hasLength && h.length != n)) h.badLength = true;
      h.hasLength = true;
      h.length = n;
    } else if (iequalsPrefix(line, "transfer-encoding:")) {
      h.transferEncoding = true;
    } else if (iequalsPrefix(line, "expect:")) {
      h.expectContinue = true;
    }
  }
  return h;
}

}  // namespace

// Hands every accepted socket straight to the front; the accept loop of
// httplib therefore never waits on a client.
class GuardedServer::InlineQueue : public httplib::TaskQueue {
 public:
  explicit InlineQueue(GuardedServer& server) : server_(server) {}
  void enqueue(std::function<void()> fn) override { fn(); }
  void shutdown() override { server_.shutdownFront(); }

 private:
  GuardedServer& server_;
};

// The request's view of its connection: the bytes the front read first,
// then the socket, each wait bounded.
class FrontStream : public httplib::Stream {
 public:
  FrontStream(FrontConnection& c, const ConnectionLimits& limits, const std::atomic<bool>& stopping)
      : c_(c), limits_(limits), stopping_(stopping) {}

  bool is_readable() const override {
    if (c_.pos < c_.buffer.size()) return true;
    auto deadline = Clock::now() + limits_.headerTimeout;
    if (c_.large) {
      // The time by which the bytes so far would fall below the minimum
      // average rate; a trickling upload thus loses its slot after the grace.
      uint64_t received = c_.consumed > c_.headerEnd ? c_.consumed - c_.headerEnd : 0;
      auto earned = std::chrono::milliseconds(received * 1000 / std::max<size_t>(limits_.minUploadRate, 1));
      deadline =
          std::min(deadline, c_.bodyStart + std::max<std::chrono::milliseconds>(limits_.uploadGrace, earned));
    }
    return waitFor(POLLIN, deadline);
  }
  bool is_writable() const override {
    return !stopping_ && waitFor(POLLOUT, Clock::now() + limits_.writeTimeout);
  }
  ssize_t read(char* ptr, size_t size) override {
    if (c_.pos < c_.buffer.size()) {
      size_t n = std::min(size, c_.buffer.size() - c_.pos);
      std::memcpy(ptr, c_.buffer.data() + c_.pos, n);
      c_.pos += n;
      c_.consumed += n;
      return static_cast<ssize_t>(n);
    }
    // Only a large body is read from the socket here, and only up to its end.
    uint64_t requestEnd = c_.headerEnd + c_.bodyLength;
    if (c_.consumed >= requestEnd) return 0;
    size = static_cast<size_t>(std::min<uint64_t>(size, requestEnd - c_.consumed));
    for (;;) {
      if (!is_readable()) return -1;
      ssize_t n = ::recv(c_.fd, ptr, size, 0);
      if (n > 0) c_.consumed += static_cast<uint64_t>(n);
      if (n >= 0 || (errno != EAGAIN && errno != EINTR)) return n;
    }
  }
  ssize_t write(const char* ptr, size_t size) override {
    for (;;) {
      if (!waitFor(POLLOUT, Clock::now() + limits_.writeTimeout)) return -1;
      ssize_t n = ::send(c_.fd, ptr, size, MSG_NOSIGNAL);
      if (n >= 0 || (errno != EAGAIN && errno != EINTR)) return n;
    }
  }
  void get_remote_ip_and_port(std::string& ip, int& port) const override { ip = peerAddress(c_.fd, &port); }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    ip.clear();
    port = 0;
    if (::getsockname(c_.fd, reinterpret_cast<sockaddr*>(&ss), &len) != 0) return;
    char buf[INET6_ADDRSTRLEN] = {};
    if (ss.ss_family == AF_INET) {
      auto* a = reinterpret_cast<sockaddr_in*>(&ss);
      ::inet_ntop(AF_INET, &a->sin_addr, buf, sizeof buf);
      port = ntohs(a->sin_port);
    } else if (ss.ss_family == AF_INET6) {
      auto* a = reinterpret_cast<sockaddr_in6*>(&ss);
      ::inet_ntop(AF_INET6, &a->sin6_addr, buf, sizeof buf);
      port = ntohs(a->sin6_port);
    }
    ip = buf;
  }
  socket_t socket() const override { return c_.fd; }

 private:
  bool waitFor(short events, Clock::time_point deadline) const {
    for (;;) {
      auto now = Clock::now();
      if (now >= deadline) return false;
      pollfd p{c_.fd, events, 0};
      int r = ::poll(&p, 1, millisUntil(deadline, now));
      if (r > 0) return (p.revents & (events | POLLHUP | POLLERR)) != 0;
      if (r < 0 && errno != EINTR) return false;
      // Even a long wait notices that the server is stopping.
      if (stopping_) return false;
    }
  }

  FrontConnection& c_;
  const ConnectionLimits& limits_;
  const std::atomic<bool>& stopping_;
};

GuardedServer::GuardedServer(ConnectionLimits limits, size_t threads)
    : limits_(limits), threads_(std::max<size_t>(threads, 2)) {
  wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  pool_ = std::make_unique<httplib::ThreadPool>(threads_);
  new_task_queue = [this] { return new InlineQueue(*this); };
  poller_ = std::thread([this] { pollLoop(); });
}

GuardedServer::~GuardedServer() {
  shutdownFront();
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

void GuardedServer::widenBacklog() {
  socket_t sock = svr_sock_;
  if (sock != INVALID_SOCKET) ::listen(sock, 256);
}

size_t GuardedServer::openConnections() {
  std::lock_guard lock(mutex_);
  return open_;
}

bool GuardedServer::process_and_close_socket(socket_t sock) {
  adopt(sock);
  return true;
}

void GuardedServer::adopt(int fd) {
  setNonBlocking(fd);
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  int port = 0;
  auto c = std::make_shared<FrontConnection>(fd, peerAddress(fd, &port));
  c->startWaiting(Clock::now());
  {
    std::lock_guard lock(mutex_);
    if (stopping_) {
      ::close(fd);
      return;
    }
    ++open_;
    ++perAddress_[c->address];
    incoming_.push_back(std::move(c));
  }
  wake();
}

void GuardedServer::wake() {
  uint64_t one = 1;
  if (wakeFd_ < 0) return;
  [[maybe_unused]] auto n = ::write(wakeFd_, &one, sizeof one);
}

void GuardedServer::closeConnection(const std::shared_ptr<FrontConnection>& c) {
  ::close(c->fd);
  std::lock_guard lock(mutex_);
  --open_;
  auto it = perAddress_.find(c->address);
  if (it != perAddress_.end() && --it->second == 0) perAddress_.erase(it);
}

void GuardedServer::refuse(const std::shared_ptr<FrontConnection>& c, int status, const char* reason,
                           const std::string& message) {
  std::string body = "{\"error\":\"" + message + "\"}";
  std::string response = "HTTP/1.1 " + std::to_string(status) + " " + reason +
                         "\r\nContent-Type: application/json\r\nCache-Control: no-store\r\n"
                         "Connection: close\r\nContent-Length: " +
                         std::to_string(body.size()) + "\r\n\r\n" + body;
  // One try: a client that does not read its refusal does not get a thread for it.
  [[maybe_unused]] auto n = ::send(c->fd, response.data(), response.size(), MSG_NOSIGNAL);
  ::shutdown(c->fd, SHUT_WR);
  closeConnection(c);
}

void GuardedServer::enforceCaps() {
  // Over a cap, the connection that has waited longest without completing a
  // request gives way: an idle or dawdling client cannot lock out a new one.
  // Connections being served are never cut.
  for (;;) {
    std::string crowded;
    bool overAll;
    {
      std::lock_guard lock(mutex_);
      overAll = open_ > limits_.maxConnections;
      for (const auto& [address, n] : perAddress_)
        if (n > limits_.maxConnectionsPerAddress) {
          crowded = address;
          break;
        }
    }
    if (crowded.empty() && !overAll) return;
    auto oldest = waiting_.end();
    for (auto it = waiting_.begin(); it != waiting_.end(); ++it) {
      if (!overAll && (*it)->address != crowded) continue;
      if (oldest == waiting_.end() || (*it)->since < (*oldest)->since) oldest = it;
    }
    if (oldest == waiting_.end()) return;  // everything else is being served
    auto victim = *oldest;
    waiting_.erase(oldest);
    if (victim->started)
      refuse(victim, 503, "Service Unavailable", "too many connections");
    else
      closeConnection(victim);
  }
}

bool GuardedServer::readInto(FrontConnection& c) {
  char buf[16384];
  for (;;) {
    size_t have = c.buffer.size() - c.pos;
    size_t want = c.headerEnd ? c.headerEnd + c.bodyLength - have : limits_.maxHeaderBytes + 1 - have;
    if (want == 0) return true;
    ssize_t n = ::recv(c.fd, buf, std::min(want, sizeof buf), 0);
    if (n == 0) return false;
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    if (!c.started) {
      c.started = true;
      c.since = Clock::now();
    }
    c.buffer.append(buf, static_cast<size_t>(n));
  }
}

void GuardedServer::pollLoop() {
  std::vector<pollfd> fds;
  while (!stopping_) {
    // New and returning connections join the wait; each is checked at once,
    // as a returning one may already hold its next request.
    std::deque<std::shared_ptr<FrontConnection>> arrived;
    {
      std::lock_guard lock(mutex_);
      arrived.swap(incoming_);
    }
    for (auto& c : arrived) waiting_.push_back(std::move(c));
    if (!arrived.empty()) enforceCaps();

    auto now = Clock::now();
    int timeout = 1000;
    fds.assign(1, pollfd{wakeFd_, POLLIN, 0});
    for (auto& c : waiting_) {
      // A request waiting for an upload slot is not read meanwhile.
      fds.push_back(pollfd{c->fd, static_cast<short>(c->awaitingSlot ? 0 : POLLIN), 0});
      auto deadline = c->awaitingSlot ? c->bodyDeadline
                                      : c->since + (c->started ? limits_.headerTimeout : limits_.idleTimeout);
      timeout = std::min(timeout, millisUntil(deadline, now));
    }
    int r = ::poll(fds.data(), fds.size(), timeout);
    if (r < 0 && errno != EINTR) {
      logLine(std::string("HTTP front: poll failed: ") + std::strerror(errno));
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    if (fds[0].revents & POLLIN) {
      uint64_t v;
      [[maybe_unused]] auto n = ::read(wakeFd_, &v, sizeof v);
    }
    now = Clock::now();
    std::vector<std::shared_ptr<FrontConnection>> still;
    still.reserve(waiting_.size());
    for (size_t i = 0; i < waiting_.size(); ++i) {
      auto& c = waiting_[i];
      bool ready = i + 1 < fds.size() && (fds[i + 1].revents & (POLLIN | POLLHUP | POLLERR));
      if (c->awaitingSlot) {
        if (i + 1 < fds.size() && (fds[i + 1].revents & (POLLHUP | POLLERR))) {
          closeConnection(c);
        } else if (takeLargeSlot(*c, now)) {
          dispatch(c);
        } else if (now >= c->bodyDeadline) {
          refuse(c, 503, "Service Unavailable", "too many uploads at once");
        } else {
          still.push_back(c);
        }
        continue;
      }
      // Connections that arrived this round may hold bytes already.
      if (ready || !c->buffer.empty()) {
        if (ready && !readInto(*c)) {
          closeConnection(c);
          continue;
        }
        std::string_view data(c->buffer.data() + c->pos, c->buffer.size() - c->pos);
        if (!c->headerEnd) {
          size_t from = c->scanned > 3 ? c->scanned - 3 : 0;
          size_t end = data.find("\r\n\r\n", from);
          // Through the newline that ends the last header line (the blank
          // line's own is not a header), however the bytes were split.
          size_t upto = std::max(c->scanned, end == std::string_view::npos ? data.size() : end + 2);
          c->headerLines +=
              static_cast<size_t>(std::count(data.begin() + static_cast<std::ptrdiff_t>(c->scanned),
                                             data.begin() + static_cast<std::ptrdiff_t>(upto), '\n'));
          c->scanned = data.size();
          // The request line is one of the lines counted.
          if (c->headerLines > limits_.maxHeaderCount + 1) {
            refuse(c, 431, "Request Header Fields Too Large", "too many request headers");
            continue;
          }
          if (end == std::string_view::npos) {
            if (data.size() > limits_.maxHeaderBytes)
              refuse(c, 431, "Request Header Fields Too Large", "request headers too large");
            else if (now - c->since > limits_.headerTimeout)
              refuse(c, 408, "Request Timeout", "the request headers took too long");
            else
              still.push_back(c);
            continue;
          }
          c->headerEnd = end + 4;
          BodyHeaders h = bodyHeaders(data.substr(0, end));
          if (h.badLength) {
            refuse(c, 400, "Bad Request", "invalid Content-Length");
            continue;
          }
          if (h.transferEncoding) {
            refuse(c, 411, "Length Required", "length required");
            continue;
          }
          c->bodyLength = h.length;
          if (h.length > limits_.smallBodyBytes || h.expectContinue) {
            c->large = true;
            if (takeLargeSlot(*c, now)) {
              dispatch(c);
            } else {
              // Uploads beyond the slots wait their turn, for a while.
              c->awaitingSlot = true;
              c->bodyDeadline = now + limits_.bodyTimeout;
              still.push_back(c);
            }
            continue;
          }
        }
        if (data.size() >= c->headerEnd + c->bodyLength) {
          dispatch(c);
          continue;
        }
      }
      auto deadline = c->since + (c->started ? limits_.headerTimeout : limits_.idleTimeout);
      if (now >= deadline) {
        if (c->started)
          refuse(c, 408, "Request Timeout", "the request took too long to arrive");
        else
          closeConnection(c);
        continue;
      }
      still.push_back(c);
    }
    waiting_.swap(still);
  }
  for (auto& c : waiting_) closeConnection(c);
  waiting_.clear();
  std::deque<std::shared_ptr<FrontConnection>> rest;
  {
    std::lock_guard lock(mutex_);
    rest.swap(incoming_);
  }
  for (auto& c : rest) closeConnection(c);
}

bool GuardedServer::takeLargeSlot(FrontConnection& c, Clock::time_point now) {
  {
    std::lock_guard lock(mutex_);
    if (largeBodies_ >= limits_.largeBodies) return false;
    ++largeBodies_;
  }
  c.awaitingSlot = false;
  c.bodyStart = now;
  return true;
}

void GuardedServer::dispatch(std::shared_ptr<FrontConnection> c) {
  // The request starts at the front of the buffer from here on.
  if (c->pos > 0) {
    c->buffer.erase(0, c->pos);
    c->pos = 0;
  }
  pool_->enqueue([this, c = std::move(c)] { serve(c); });
}

void GuardedServer::serve(const std::shared_ptr<FrontConnection>& c) {
  bool keep = false;
  {
    FrontStream stream(*c, limits_, stopping_);
    bool closed = false;
    bool ok = false;
    try {
      ok = process_request(stream, stopping_.load(), closed, nullptr);
    } catch (const std::exception& e) {
      logLine(std::string("HTTP front: request failed: ") + e.what());
    }
    // A request whose body was not read to its end leaves bytes that are
    // not a request: such a connection is not reused.
    keep = ok && !closed && !stopping_ && c->consumed >= c->headerEnd + c->bodyLength;
  }
  if (c->large) {
    {
      std::lock_guard lock(mutex_);
      --largeBodies_;
    }
    wake();  // an upload waiting for the slot may go on
  }
  if (keep)
    giveBack(c);
  else
    closeConnection(c);
}

void GuardedServer::giveBack(std::shared_ptr<FrontConnection> c) {
  c->startWaiting(Clock::now());
  c->scanned = 0;
  c->headerLines = 0;
  {
    std::lock_guard lock(mutex_);
    if (!stopping_) {
      incoming_.push_back(std::move(c));
      c = nullptr;
    }
  }
  if (c)
    closeConnection(c);
  else
    wake();
}

void GuardedServer::shutdownFront() {
  {
    std::lock_guard lock(mutex_);
    if (stopping_ && !poller_.joinable()) return;
    stopping_ = true;
  }
  wake();
  if (poller_.joinable()) poller_.join();
  // Requests already handed over finish (their streams notice the stop).
  if (pool_) {
    pool_->shutdown();
    pool_.reset();
  }
}

}  // namespace tabulix::server
