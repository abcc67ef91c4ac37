// What the server refuses over HTTP: foreign Host headers, cross-site
// writes, missing tokens, oversized bodies and names outside the documents.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "server_test_util.h"

namespace tabulix::server::testing {
namespace {

// Sends raw bytes and returns what came back first.
std::string rawRequest(int port, const std::string& request) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return "";
  }
  ::send(fd, request.data(), request.size(), 0);
  std::string out;
  char buf[4096];
  ssize_t n;
  while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0 && out.size() < 65536)
    out.append(buf, static_cast<size_t>(n));
  ::close(fd);
  return out;
}

// The status code of the answer to raw bytes (0 when none came).
int rawStatus(int port, std::string request) {
  // Close after one answer so that reading ends.
  request.insert(request.find("\r\n") + 2, "Connection: close\r\n");
  std::string r = rawRequest(port, request);
  return r.size() < 12 ? 0 : std::atoi(r.c_str() + 9);
}

class Access : public ServerFixture {};

TEST_F(Access, ForeignHostHeadersAreRefused) {
  auto ok = client->Get("/api/status");
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->status, 200);
  std::string port = std::to_string(server->port());
  auto r = client->Get("/api/status", {{"Host", "evil.example:" + port}});
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 421);
  r = client->Get("/", {{"Host", "localhost:" + port}});
  ASSERT_TRUE(r);
  EXPECT_NE(r->status, 421);
  r = client->Get("/api/status", {{"Host", "127.0.0.1:1"}});
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 421);
}

TEST_F(Access, WritesNeedTheAppHeaderAndNoForeignOrigin) {
  auto r = client->Post("/api/help/import/shown", "", "application/json");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 403);
  std::string self = std::string("http://127.0.0.1:") + std::to_string(server->port());
  r = client->Post("/api/help/import/shown", {{"X-Tabulix-Request", "1"}, {"Origin", "http://evil.example"}},
                   "", "application/json");
  EXPECT_EQ(r->status, 403);
  r = client->Post("/api/help/import/shown", {{"X-Tabulix-Request", "1"}, {"Sec-Fetch-Site", "cross-site"}},
                   "", "application/json");
  EXPECT_EQ(r->status, 403);
  r = client->Post("/api/help/import/shown", {{"X-Tabulix-Request", "1"}, {"Origin", self}}, "",
                   "application/json");
  EXPECT_EQ(r->status, 200);
  EXPECT_EQ(getJson("/api/help/import")["timesSeen"], 1);  // only the allowed write counted
}

TEST_F(Access, NamesNeverLeaveTheDocumentsFolder) {
  std::ofstream(base / "outside.csv") << "x\n1\n";
  fs::create_symlink(base / "outside.csv", docs / "link.csv");
  writeWorkspace(base / "outside.tbx", {"a"}, {{"1"}});
  fs::create_symlink(base / "outside.tbx", docs / "link.tbx");

  postJson("/api/workspaces/open", {{"name", "../outside.tbx"}}, 400);
  postJson("/api/workspaces/open", {{"name", (base / "outside.tbx").string()}}, 400);
  postJson("/api/workspaces/open", {{"name", "link.tbx"}}, 400);
  // %2e%2e%2f is decoded once by the HTTP layer into ../
  deleteJson("/api/documents?name=%2e%2e%2foutside.csv", 400);
  deleteJson("/api/documents?name=..%2Foutside.csv", 400);
  deleteJson("/api/documents?name=%2Fetc%2Fpasswd", 400);
  deleteJson("/api/documents?name=link.csv", 400);
  // Decoded twice it would climb; decoded once it is a name inside the folder.
  deleteJson("/api/documents?name=%252e%252e%252foutside.csv", 404);
  getJson("/api/inspect?file=..%2Foutside.csv", 400);
  getJson("/api/inspect?file=link.csv", 400);
  postJson("/api/workspaces/create", {{"mode", "blank"}, {"name", "../escape"}}, 400);
  postJson("/api/workspaces/create", {{"mode", "import"}, {"name", "x"}, {"file", "../outside.csv"}}, 400);
  EXPECT_TRUE(fs::exists(base / "outside.csv"));
  EXPECT_TRUE(fs::exists(base / "outside.tbx"));
  EXPECT_FALSE(fs::exists(base / "escape.tbx"));
  EXPECT_TRUE(getJson("/api/status")["workspace"].is_null());

  // An uploaded file keeps only its last name part and lands in the Inbox.
  auto up = client->Post("/api/upload?name=..%2F..%2Fevil.csv", writeHeaders(), "a\n1\n",
                         "application/octet-stream");
  ASSERT_TRUE(up);
  EXPECT_EQ(up->status, 200);
  EXPECT_EQ(json::parse(up->body)["file"], "Inbox/evil.csv");
  EXPECT_FALSE(fs::exists(base / "evil.csv"));

  // Static files too stay in the UI's folder.
  std::string answer =
      rawRequest(server->port(),
                 "GET /../../../../etc/passwd HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server->port()) +
                     "\r\nCookie: " + cookie + "\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(answer.find("root:"), std::string::npos);
  EXPECT_NE(answer.find("<title>Tabulix</title>"), std::string::npos);  // the app's page, nothing else
  auto r = client->Get("/%2e%2e/%2e%2e/%2e%2e/etc/passwd");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->body.find("root:"), std::string::npos);
}

TEST_F(Access, BodiesAreCapped) {
  // The cap is explicit: 100 MiB by default.
  EXPECT_EQ(ServerOptions{}.maxBodyBytes, 100u * 1024u * 1024u);
  std::string port = std::to_string(server->port());
  // A declared length over the cap is refused before any of it is read.
  EXPECT_EQ(rawStatus(server->port(), "POST /api/upload?name=big.csv HTTP/1.1\r\nHost: 127.0.0.1:" + port +
                                          "\r\nX-Tabulix-Request: 1\r\nContent-Length: 104857601\r\n\r\nabc"),
            413);
  // JSON requests are small.
  EXPECT_EQ(rawStatus(server->port(), "POST /api/workspaces/open HTTP/1.1\r\nHost: 127.0.0.1:" + port +
                                          "\r\nX-Tabulix-Request: 1\r\nContent-Length: 2000000\r\n\r\n{"),
            413);
  // A body without a declared length is not taken.
  EXPECT_EQ(
      rawStatus(server->port(),
                "POST /api/upload?name=c.csv HTTP/1.1\r\nHost: 127.0.0.1:" + port +
                    "\r\nX-Tabulix-Request: 1\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n"),
      411);
  EXPECT_FALSE(fs::exists(docs / "Inbox" / "big.csv"));
  EXPECT_FALSE(fs::exists(docs / "Inbox" / "c.csv"));
}

TEST_F(Access, UploadsStopAtTheCapWhateverTheyDeclare) {
  shutdown();
  ServerOptions o;
  o.maxBodyBytes = 1000;
  start(o);
  std::string big(1500, 'x');
  auto r = client->Post("/api/upload?name=big.csv", writeHeaders(), big, "application/octet-stream");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 413);
  r = client->Post("/api/upload?name=small.csv", writeHeaders(), std::string(900, 'y'),
                   "application/octet-stream");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  EXPECT_EQ(fs::file_size(docs / "Inbox" / "small.csv"), 900u);
  EXPECT_FALSE(fs::exists(docs / "Inbox" / "big.csv"));
}

TEST_F(Access, TheInterfaceIsServedWithItsHeaders) {
  auto r = client->Get("/");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  EXPECT_NE(r->body.find("<title>Tabulix</title>"), std::string::npos);
  EXPECT_NE(r->get_header_value("Content-Security-Policy").find("default-src 'self'"), std::string::npos);
  EXPECT_EQ(r->get_header_value("X-Frame-Options"), "DENY");
  r = client->Get("/assets/app.js");
  EXPECT_EQ(r->status, 200);
  EXPECT_NE(r->get_header_value("Cache-Control").find("immutable"), std::string::npos);
  EXPECT_EQ(client->Get("/browse")->status, 200);  // the app answers its own addresses
  EXPECT_EQ(client->Get("/assets/missing.js")->status, 404);
}

class TokenAccess : public ServerFixture {
 protected:
  void SetUp() override {
    ServerOptions o;
    o.token = std::string(64, 'a');
    start(o);
  }
};

TEST_F(TokenAccess, TheTokenIsTradedForAStrictHttpOnlyCookie) {
  auto r = client->Get("/api/status");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 401);
  r = client->Get("/");
  EXPECT_EQ(r->status, 401);
  r = client->Get("/?token=" + std::string(64, 'b'));
  EXPECT_EQ(r->status, 403);
  EXPECT_FALSE(r->has_header("Set-Cookie"));
  r = client->Get("/?token=" + std::string(64, 'a'));
  EXPECT_EQ(r->status, 303);
  EXPECT_EQ(r->get_header_value("Location"), "/");
  std::string cookie = r->get_header_value("Set-Cookie");
  EXPECT_NE(cookie.find("tabulix_token=" + std::string(64, 'a')), std::string::npos);
  EXPECT_NE(cookie.find("HttpOnly"), std::string::npos);
  EXPECT_NE(cookie.find("SameSite=Strict"), std::string::npos);
  EXPECT_EQ(
      r->get_header_value("Referrer-Policy").empty() ? "no-referrer" : r->get_header_value("Referrer-Policy"),
      "no-referrer");

  r = client->Get("/api/status", {{"Cookie", "tabulix_token=" + std::string(64, 'a')}});
  EXPECT_EQ(r->status, 200);
  r = client->Get("/api/status", {{"Cookie", "tabulix_token=" + std::string(63, 'a')}});
  EXPECT_EQ(r->status, 401);
  // The manifest is fetched without cookies by browsers.
  r = client->Get("/manifest.webmanifest");
  EXPECT_NE(r->status, 401);
}

TEST(ServerUrl, EveryServerPrintsItsTokenInItsUrl) {
  Model m;
  ServerOptions o;
  o.documents = fs::temp_directory_path() / (std::string("tabulix-url-") + std::to_string(::getpid()));
  o.host = "0.0.0.0";
  o.port = 0;
  Server s(m, o);
  ASSERT_TRUE(s.bind());
  std::string url = s.url();
  size_t at = url.find("?token=");
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(url.size() - at - 7, 64u);
  // Loopback asks for one too, unless told not to (serve --no-token).
  o.host = "127.0.0.1";
  Server local(m, o);
  ASSERT_TRUE(local.bind());
  EXPECT_EQ(local.url().size() - local.url().find("?token=") - 7, 64u);
  o.requireToken = false;
  Server open(m, o);
  ASSERT_TRUE(open.bind());
  EXPECT_EQ(open.url().find("token"), std::string::npos);
  o.host = "0.0.0.0";
  Server network(m, o);
  ASSERT_TRUE(network.bind());
  EXPECT_NE(network.url().find("?token="), std::string::npos);
  fs::remove_all(o.documents);
}

}  // namespace
}  // namespace tabulix::server::testing
