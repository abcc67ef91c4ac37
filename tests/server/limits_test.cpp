// What one client cannot do to the server or to the others: nest a body
// deep enough to overflow the stack, queue work until descriptors run out,
// share the port with a second server, drop another page's typed cells by
// opening a workspace, or get in without the token.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <mutex>

#include "server/server_impl.h"
#include "server_test_util.h"

namespace tabulix::server::testing {
namespace {

class Limits : public ServerFixture {};

size_t openDescriptors() {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

TEST_F(Limits, DeeplyNestedBodiesAreRefusedNamingTheLimit) {
  writeWorkspace(docs / "w.tbx", {"n"}, {{"1"}, {"2"}, {"3"}});
  openWorkspace("w.tbx");
  std::string deep = std::string(60000, '[') + std::string(60000, ']');
  for (const auto& [path, body] : std::vector<std::pair<std::string, std::string>>{
           {"/api/analyze", R"({"kind":"detail","left":0,"settings":{"x":)" + deep + "}}"},
           {"/api/browse/condition", R"({"colNum":0,"where":{"op":1,"levels":)" + deep + "}}"},
           {"/api/browse/window", R"({"wheres":)" + deep + "}"}}) {
    auto r = client->Post(path, writeHeaders(), body, "application/json");
    ASSERT_TRUE(r) << path << ": the server did not answer";
    EXPECT_EQ(r->status, 400) << path;
    EXPECT_NE(r->body.find("64 levels"), std::string::npos) << r->body;
  }
  // Brackets inside texts are not nesting; 64 levels are accepted.
  json settings = {{"x", std::string(5000, '[')}};
  json nested = json::array();
  for (int i = 0; i < 61; ++i) nested = json::array({nested});
  settings["y"] = nested;  // body, settings, y and 62 arrays: 64 levels
  json job = postJson("/api/analyze", {{"kind", "detail"}, {"left", 0}, {"settings", settings}});
  EXPECT_TRUE(waitForJob(job["job"])["finished"]);
  settings["y"] = json::array({nested});
  postJson("/api/analyze", {{"kind", "detail"}, {"left", 0}, {"settings", settings}}, 400);
  EXPECT_EQ(jsonNesting(R"({"a":"[[[{","b":[1,{"c":[]}]})"), 4u);
  EXPECT_EQ(jsonNesting(R"(["\"[[", []])"), 2u);
  EXPECT_EQ(getJson("/api/status")["workspace"], "w.tbx");
}

TEST_F(Limits, AFloodOfAnalysesIsRefusedBeforeItHoldsConnections) {
  std::vector<std::vector<std::string>> rows;
  for (int r = 0; r < 4000; ++r)
    rows.push_back({std::to_string(r % 97), std::to_string((r * 31) % 1009), std::to_string(r)});
  writeWorkspace(docs / "w.tbx", {"a", "b", "c"}, rows);
  openWorkspace("w.tbx");
  const size_t before = openDescriptors();
  std::atomic<bool> done{false};
  std::atomic<size_t> peak{before};
  std::thread sampler([&] {
    while (!done) {
      size_t n = openDescriptors();
      if (n > peak) peak = n;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  std::mutex m;
  std::map<int, int> statuses;
  std::vector<std::thread> clients;
  for (int t = 0; t < 8; ++t)
    clients.emplace_back([&] {
      auto c = newClient();
      for (int i = 0; i < 150; ++i) {
        auto r = c->Post("/api/analyze", writeHeaders(), R"({"kind":"detail","left":1})", "application/json");
        std::lock_guard lock(m);
        ++statuses[r ? r->status : 0];
      }
    });
  for (auto& t : clients) t.join();
  // Another user's save goes through meanwhile.
  json added = postJson("/api/variables", json::object());
  EXPECT_TRUE(added.contains("card"));
  done = true;
  sampler.join();
  EXPECT_EQ(statuses[200] + statuses[503], 1200) << "other answers: " << statuses.size();
  EXPECT_GT(statuses[503], 0);  // more than one client's share was asked for
  // Eight client sockets and the server's ends, a few workers' connections;
  // never one connection per queued job.
  EXPECT_LT(peak - before, 80u);
  auto r = client->Post("/api/analyze", writeHeaders(), R"({"kind":"detail","left":1})", "application/json");
  for (int i = 0; i < 500 && r && r->status == 503; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    r = client->Post("/api/analyze", writeHeaders(), R"({"kind":"detail","left":1})", "application/json");
  }
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);  // once the queue has drained, work is taken again
}

TEST_F(Limits, OpeningAWorkspaceWaitsForTypedCells) {
  writeWorkspace(docs / "a.tbx", {"n"}, {{"1"}, {"2"}, {"3"}});
  writeWorkspace(docs / "b.tbx", {"m"}, {{"9"}});
  openWorkspace("a.tbx");
  std::string idle = postJson("/api/browse/edit/begin", json::object())["session"];
  std::string typing = postJson("/api/browse/edit/begin", json::object())["session"];
  for (int row = 1; row <= 3; ++row)
    postJson("/api/browse/edit/cell", {{"session", typing}, {"colNum", 0}, {"rowNum", row}, {"text", "7"}});
  // Another page opens b, creates one or imports one: refused, naming the cells.
  auto other = newClient();
  auto r = other->Post("/api/workspaces/open", writeHeaders(), R"({"name":"b.tbx"})", "application/json");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 409);
  json refusal = json::parse(r->body);
  EXPECT_EQ(refusal["error"], "editing");
  EXPECT_NE(refusal["alert"]["message"].get<std::string>().find("3 typed cells"), std::string::npos);
  postJson("/api/workspaces/create", {{"mode", "blank"}, {"name", "c"}}, 409);
  EXPECT_EQ(getJson("/api/status")["workspace"], "a.tbx");
  // The typed cells are still there and are saved when the session ends.
  json end = postJson("/api/browse/edit/end", {{"session", typing}});
  waitForJob(end["job"]);
  // The session with nothing typed does not stand in the way.
  openWorkspace("b.tbx");
  EXPECT_EQ(getJson("/api/status")["workspace"], "b.tbx");
  postJson("/api/browse/edit/cell", {{"session", idle}, {"colNum", 0}, {"rowNum", 1}, {"text", "x"}}, 404);
  openWorkspace("a.tbx");
  json w = postJson("/api/browse/window", {{"first", 0}, {"count", 3}});
  for (int i = 0; i < 3; ++i) EXPECT_EQ(w["rows"][i]["cells"][0], "7");
}

TEST(ServerBind, OneServerPerAddressAndPort) {
  Model m;
  ServerOptions o;
  o.documents = fs::temp_directory_path() / (std::string("tabulix-bind-") + std::to_string(::getpid()));
  o.host = "127.0.0.1";
  o.port = 0;
  Server first(m, o);
  ASSERT_TRUE(first.bind());
  o.port = first.port();
  Server second(m, o);
  EXPECT_FALSE(second.bind());
  EXPECT_TRUE(second.portTaken());
  EXPECT_NE(second.bindError().find("taken"), std::string::npos);
  // Nor can any other program share the socket through SO_REUSEPORT.
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(first.port()));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_NE(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  EXPECT_EQ(errno, EADDRINUSE);
  ::close(fd);
  fs::remove_all(o.documents);
}

class LoopbackToken : public ServerFixture {
 protected:
  void SetUp() override {}
};

TEST_F(LoopbackToken, WithoutTheTokenNothingAnswersAndThePageSaysHowToGetIn) {
  start({});
  httplib::Client stranger("127.0.0.1", server->port());
  for (const char* path : {"/api/status", "/api/documents", "/api/browse", "/api/jobs/1-x"}) {
    auto r = stranger.Get(path);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 401) << path;
    EXPECT_EQ(r->body.find("workspace"), std::string::npos) << path;
  }
  auto r = stranger.Post("/api/workspaces/create", {{"X-Tabulix-Request", "1"}},
                         R"({"mode":"blank","name":"x"})", "application/json");
  EXPECT_EQ(r->status, 401);
  EXPECT_FALSE(fs::exists(docs / "x.tbx"));
  r = stranger.Get("/");
  EXPECT_EQ(r->status, 401);
  EXPECT_NE(r->body.find("tabulix serve"), std::string::npos);
  EXPECT_NE(r->body.find("?token="), std::string::npos);
  // The printed address lets a browser in.
  std::string url = server->url();
  ASSERT_NE(url.find("?token="), std::string::npos);
  r = stranger.Get(url.substr(url.find("/?token=")));
  EXPECT_EQ(r->status, 303);
  std::string cookie = r->get_header_value("Set-Cookie");
  EXPECT_NE(cookie.find("HttpOnly"), std::string::npos);
  EXPECT_NE(cookie.find("SameSite=Strict"), std::string::npos);
  r = stranger.Get("/api/status", {{"Cookie", cookie.substr(0, cookie.find(';'))}});
  EXPECT_EQ(r->status, 200);
}

TEST_F(LoopbackToken, NoTokenLetsLocalUsersInAsBefore) {
  ServerOptions o;
  o.requireToken = false;
  start(o);
  EXPECT_EQ(server->url().find("token"), std::string::npos);
  EXPECT_EQ(client->Get("/api/status")->status, 200);
}

}  // namespace
}  // namespace tabulix::server::testing
