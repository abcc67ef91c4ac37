// The access token, Host header check and confinement of file names.
#include "server/security.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <set>

#include "server/text_match.h"
#include "server_test_util.h"

namespace fs = std::filesystem;
using namespace tabulix::server;

TEST(Security, TokensAreLongRandomAndCompared) {
  std::set<std::string> seen;
  for (int i = 0; i < 50; ++i) {
    std::string t = randomToken();
    ASSERT_EQ(t.size(), 64u);  // 256 bits in hex
    EXPECT_EQ(t.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_TRUE(seen.insert(t).second);
  }
  std::string t = randomToken();
  EXPECT_TRUE(constantTimeEquals(t, t));
  EXPECT_FALSE(constantTimeEquals(t.substr(0, 63), t));
  EXPECT_FALSE(constantTimeEquals(t + "0", t));
  EXPECT_FALSE(constantTimeEquals("", t));
  std::string flipped = t;
  flipped[40] = flipped[40] == 'a' ? 'b' : 'a';
  EXPECT_FALSE(constantTimeEquals(flipped, t));
}

TEST(Security, LoopbackAndCookies) {
  for (const char* h : {"127.0.0.1", "127.3.2.1", "localhost", "LOCALHOST", "::1", "[::1]"})
    EXPECT_TRUE(isLoopbackHost(h)) << h;
  for (const char* h : {"0.0.0.0", "192.168.1.4", "10.0.0.1", "::", "example.com", "128.0.0.1"})
    EXPECT_FALSE(isLoopbackHost(h)) << h;
  EXPECT_EQ(cookieValue("a=1; tabulix_token=xyz; b=2", "tabulix_token"), "xyz");
  EXPECT_EQ(cookieValue("tabulix_token=xyz", "tabulix_token"), "xyz");
  EXPECT_EQ(cookieValue("xtabulix_token=1", "tabulix_token"), std::nullopt);
  EXPECT_EQ(cookieValue("", "tabulix_token"), std::nullopt);
}

TEST(Security, HostHeaderMustNameThisServer) {
  HostCheck loop("127.0.0.1", 8765);
  EXPECT_TRUE(loop.allows("127.0.0.1:8765"));
  EXPECT_TRUE(loop.allows("localhost:8765"));
  EXPECT_TRUE(loop.allows("LocalHost:8765"));
  EXPECT_TRUE(loop.allows("[::1]:8765"));
  // Rebinding: a foreign name, even on the right port, is refused.
  EXPECT_FALSE(loop.allows("evil.example:8765"));
  EXPECT_FALSE(loop.allows("127.0.0.1.evil.example:8765"));
  EXPECT_FALSE(loop.allows("127.0.0.1:9999"));
  EXPECT_FALSE(loop.allows("127.0.0.1"));  // port 80 implied
  EXPECT_FALSE(loop.allows(""));
  EXPECT_FALSE(loop.allows("127.0.0.1:87a5"));
  EXPECT_FALSE(loop.allows("[::1"));

  HostCheck lan("192.168.7.20", 80);
  EXPECT_TRUE(lan.allows("192.168.7.20"));
  EXPECT_TRUE(lan.allows("192.168.7.20:80"));
  EXPECT_FALSE(lan.allows("192.168.7.21"));

  // A wildcard server answers to the machine's own addresses.
  HostCheck any("0.0.0.0", 8000);
  EXPECT_TRUE(any.allows("127.0.0.1:8000"));
  EXPECT_FALSE(any.allows("evil.example:8000"));
}

class Confinement : public ::testing::Test {
 protected:
  void SetUp() override {
    base = fs::temp_directory_path() / (std::string("tabulix-confine-") + std::to_string(::getpid()));
    fs::remove_all(base);
    docs = base / "docs";
    fs::create_directories(docs / "Inbox");
    std::ofstream(docs / "a.csv") << "x\n1\n";
    std::ofstream(base / "secret.csv") << "secret\n";
    fs::create_symlink(base / "secret.csv", docs / "link.csv");
    fs::create_symlink(base, docs / "up");
    fs::create_symlink(docs / "a.csv", docs / "inside.csv");
  }
  void TearDown() override { fs::remove_all(base); }
  fs::path base, docs;
};

TEST_F(Confinement, NamesStayInsideTheDocumentsFolder) {
  auto canonicalDocs = fs::canonical(docs);
  EXPECT_EQ(confinedPath(docs, "a.csv"), canonicalDocs / "a.csv");
  EXPECT_EQ(confinedPath(docs, "new.tbx"), canonicalDocs / "new.tbx");  // need not exist
  EXPECT_EQ(confinedPath(docs, "Inbox/b.csv"), canonicalDocs / "Inbox" / "b.csv");
  // A link to a file inside is followed to that file.
  EXPECT_EQ(confinedPath(docs, "inside.csv"), canonicalDocs / "a.csv");
  EXPECT_EQ(confinedPath(docs, "up/docs/a.csv"), canonicalDocs / "a.csv");  // out and back in
  // The URL layer decodes once; a name that still reads %2e%2e is a plain
  // (odd) file name inside the folder, never a parent.
  EXPECT_EQ(confinedPath(docs, "%2e%2e"), canonicalDocs / "%2e%2e");

  for (const char* bad : {"../secret.csv", "..", ".", "Inbox/../../secret.csv", "Inbox/../a.csv", "./a.csv",
                          "/etc/passwd", "//etc/passwd", "", "Inbox/", "link.csv", "up/secret.csv"})
    EXPECT_EQ(confinedPath(docs, bad), std::nullopt) << bad;
  EXPECT_EQ(confinedPath(docs, std::string("a.csv\0x", 7)), std::nullopt);
}

TEST(TextMatch, IgnoresCaseAndDiacritics) {
  EXPECT_TRUE(containsIgnoringCaseAndDiacritics("age", "AGE"));
  EXPECT_TRUE(containsIgnoringCaseAndDiacritics("Élève âgé", "eleve age"));
  EXPECT_TRUE(containsIgnoringCaseAndDiacritics("Straße", "STRASSE"));  // full case folding
  EXPECT_TRUE(containsIgnoringCaseAndDiacritics("anything", ""));
  EXPECT_FALSE(containsIgnoringCaseAndDiacritics("weight", "height"));
}

// Clients that hold connections without finishing requests. Every attack
// here is bounded in time and volume and speaks only to the loopback server.
namespace tabulix::server::testing {
namespace {

using Clock = std::chrono::steady_clock;

int connectTo(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// True once the server has closed the connection (a read sees its end, or
// the refusal it sent before).
bool closedByServer(int fd, int waitMs) {
  auto until = Clock::now() + std::chrono::milliseconds(waitMs);
  char buf[4096];
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(std::max<int64_t>(left, 0))) <= 0) return false;
    ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN)) return true;
  }
}

class Attacks : public ServerFixture {
 protected:
  void SetUp() override {}
  void startWith(ConnectionLimits limits) {
    ServerOptions o;
    o.limits = limits;
    start(o);
    client->set_connection_timeout(5, 0);
    client->set_read_timeout(5, 0);
  }
  // A page's request, answered while the attack goes on.
  void pageIsServed() {
    auto owned = newClient();
    httplib::Client& c = *owned;
    c.set_connection_timeout(5, 0);
    c.set_read_timeout(5, 0);
    auto r = c.Get("/api/status");
    ASSERT_TRUE(r) << "no answer while the attack was going on";
    EXPECT_EQ(r->status, 200);
  }
};

TEST_F(Attacks, SlowHeadersNeitherStallPagesNorLastPastTheDeadline) {
  ConnectionLimits l;
  l.headerTimeout = std::chrono::milliseconds(1500);
  startWith(l);
  // 40 clients (five times the request threads) each send a header byte
  // every 200 ms, for at most 10 s.
  std::vector<int> slow;
  for (int i = 0; i < 40; ++i) slow.push_back(connectTo(server->port()));
  std::string request = "GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Padding: ";
  auto start = Clock::now();
  std::atomic<bool> done{false};
  std::thread trickle([&] {
    for (size_t k = 0; !done && Clock::now() - start < std::chrono::seconds(10); ++k) {
      for (int fd : slow) ::send(fd, request.data() + (k % request.size()), 1, MSG_NOSIGNAL);
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  for (int i = 0; i < 5; ++i) pageIsServed();
  // Past the deadline each slow client is cut off.
  int closed = 0;
  for (int fd : slow) closed += closedByServer(fd, 6000);
  done = true;
  trickle.join();
  EXPECT_EQ(closed, 40);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(9));
  for (int fd : slow) ::close(fd);
}

TEST_F(Attacks, IdleConnectionsGiveWayToNewOnes) {
  ConnectionLimits l;
  l.maxConnectionsPerAddress = 24;
  startWith(l);
  std::vector<int> idle;
  for (int i = 0; i < 60; ++i) idle.push_back(connectTo(server->port()));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  for (int i = 0; i < 5; ++i) pageIsServed();
  // The ones that waited longest were closed to make room.
  EXPECT_TRUE(closedByServer(idle.front(), 2000));
  int open = 0;
  for (int fd : idle) open += !closedByServer(fd, 0);
  EXPECT_LE(open, 24);
  EXPECT_GT(open, 0);
  for (int fd : idle) ::close(fd);
}

TEST_F(Attacks, HugeOrManyHeadersAreRefusedEarly) {
  startWith({});
  std::string port = std::to_string(server->port());
  // Endless headers: the server stops taking them after its cap, long before
  // the 64 MiB this client would send.
  int fd = connectTo(server->port());
  timeval tv{5, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  std::string head = "GET /api/status HTTP/1.1\r\nHost: 127.0.0.1:" + port + "\r\nCookie: " + cookie + "\r\n";
  ::send(fd, head.data(), head.size(), MSG_NOSIGNAL);
  std::string lines;
  for (int i = 0; i < 1000; ++i)
    lines += "X-Filler-" + std::to_string(i) + ": " + std::string(40, 'f') + "\r\n";
  size_t sent = 0;
  int error = 0;
  while (sent < (64u << 20)) {
    ssize_t n = ::send(fd, lines.data(), lines.size(), MSG_NOSIGNAL);
    if (n <= 0) {
      error = errno;
      break;
    }
    sent += static_cast<size_t>(n);
  }
  EXPECT_LT(sent, 32u << 20);  // what the kernel buffers before the reset, at most
  EXPECT_TRUE(error == EPIPE || error == ECONNRESET) << "the server neither read on nor hung up: " << error;
  ::close(fd);

  // Many short headers, well under the size cap: refused by count.
  std::string many = head;
  for (int i = 0; i < 150; ++i) many += "X-" + std::to_string(i) + ": 1\r\n";
  many += "Connection: close\r\n\r\n";
  fd = connectTo(server->port());
  ::send(fd, many.data(), many.size(), MSG_NOSIGNAL);
  char buf[256] = {};
  pollfd p{fd, POLLIN, 0};
  ASSERT_GT(::poll(&p, 1, 5000), 0);
  ASSERT_GT(::recv(fd, buf, sizeof buf - 1, 0), 12);
  EXPECT_EQ(std::string(buf, 12), "HTTP/1.1 431");
  ::close(fd);
  // Ninety headers are fine.
  std::string fine = head;
  for (int i = 0; i < 90; ++i) fine += "X-" + std::to_string(i) + ": 1\r\n";
  fine += "Connection: close\r\n\r\n";
  fd = connectTo(server->port());
  ::send(fd, fine.data(), fine.size(), MSG_NOSIGNAL);
  p = pollfd{fd, POLLIN, 0};
  ASSERT_GT(::poll(&p, 1, 5000), 0);
  ASSERT_GT(::recv(fd, buf, sizeof buf - 1, 0), 12);
  EXPECT_EQ(std::string(buf, 12), "HTTP/1.1 200");
  ::close(fd);
  pageIsServed();
}

// The status line's code of the first answer on a connection (0 when none).
int answerCode(int fd, int waitMs) {
  char buf[64] = {};
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, waitMs) <= 0) return 0;
  ssize_t n = ::recv(fd, buf, sizeof buf - 1, 0);
  return n >= 12 ? std::atoi(buf + 9) : 0;
}

TEST_F(Attacks, TheHeaderCountIsExactHoweverTheBlankLineArrives) {
  startWith({});
  for (int count : {100, 101})
    for (bool apart : {false, true}) {
      // Host, Cookie and Connection, then fillers up to `count` header lines.
      std::string request = "GET /api/status HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server->port()) +
                            "\r\nCookie: " + cookie + "\r\nConnection: close\r\n";
      for (int i = 3; i < count; ++i) request += "X-" + std::to_string(i) + ": 1\r\n";
      int fd = connectTo(server->port());
      if (apart) {
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        request.clear();
      }
      request += "\r\n";
      ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
      EXPECT_EQ(answerCode(fd, 5000), count == 100 ? 200 : 431)
          << count << " headers, blank line " << (apart ? "apart" : "with them");
      ::close(fd);
    }
}

TEST_F(Attacks, TricklingUploadsLoseTheirSlotsAndOthersGetThrough) {
  ConnectionLimits l;
  l.uploadGrace = std::chrono::milliseconds(1000);
  l.minUploadRate = 16 * 1024;
  l.bodyTimeout = std::chrono::milliseconds(6000);  // the longest wait for a slot
  startWith(l);
  std::string port = std::to_string(server->port());
  // Four uploads (twice the slots this server has) declare a megabyte and
  // send a byte every 300 ms.
  std::vector<int> slow;
  for (int i = 0; i < 4; ++i) {
    int fd = connectTo(server->port());
    std::string head = "POST /api/upload?name=slow" + std::to_string(i) +
                       ".csv HTTP/1.1\r\nHost: 127.0.0.1:" + port + "\r\nCookie: " + cookie +
                       "\r\nX-Tabulix-Request: 1\r\nContent-Length: 1000000\r\n\r\nx";
    ::send(fd, head.data(), head.size(), MSG_NOSIGNAL);
    slow.push_back(fd);
  }
  auto start = Clock::now();
  std::atomic<bool> done{false};
  std::thread trickle([&] {
    while (!done && Clock::now() - start < std::chrono::seconds(15)) {
      for (int fd : slow) ::send(fd, "x", 1, MSG_NOSIGNAL);
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  // An ordinary upload of 200 KB arrives meanwhile and is taken.
  auto r = client->Post("/api/upload?name=good.csv", writeHeaders(), std::string(200000, 'y'), "text/csv");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200) << r->body;
  int closed = 0;
  for (int fd : slow) closed += closedByServer(fd, 8000);
  done = true;
  trickle.join();
  EXPECT_EQ(closed, 4);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(12));
  for (int fd : slow) ::close(fd);
  EXPECT_TRUE(fs::exists(docs / "Inbox" / "good.csv"));
  EXPECT_FALSE(fs::exists(docs / "Inbox" / "slow0.csv"));
}

TEST_F(Attacks, AStalledUploadIsCutOffAndLeavesNothing) {
  ConnectionLimits l;
  l.uploadGrace = std::chrono::milliseconds(1000);
  l.minUploadRate = 1u << 30;  // what has arrived earns no time past the grace
  startWith(l);
  std::string port = std::to_string(server->port());
  int fd = connectTo(server->port());
  std::string req = "POST /api/upload?name=stalled.csv HTTP/1.1\r\nHost: 127.0.0.1:" + port +
                    "\r\nCookie: " + cookie + "\r\nX-Tabulix-Request: 1\r\nContent-Length: 1000000\r\n\r\n" +
                    std::string(70000, 'x');
  ::send(fd, req.data(), req.size(), MSG_NOSIGNAL);
  auto start = Clock::now();
  EXPECT_TRUE(closedByServer(fd, 8000));
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(7));
  ::close(fd);
  pageIsServed();
  EXPECT_FALSE(fs::exists(docs / "Inbox" / "stalled.csv"));
  if (fs::exists(docs / "Inbox"))
    for (const auto& e : fs::directory_iterator(docs / "Inbox")) ADD_FAILURE() << "left behind: " << e.path();
}

}  // namespace
}  // namespace tabulix::server::testing
