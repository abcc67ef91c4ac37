// A server on a free loopback port over a temporary documents folder, and
// workspaces built directly with the engine for it to serve.
#pragma once

#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "engine/cell_access.h"
#include "engine/model.h"
#include "engine/preferences.h"
#include "engine/workspace_data.h"
#include "server/server.h"

namespace tabulix::server::testing {

namespace fs = std::filesystem;
using nlohmann::json;

// Writes a workspace file with the given columns and rows (cells as text),
// with statistics and guessed types as an import leaves them.
inline void writeWorkspace(const fs::path& file, const std::vector<std::string>& names,
                           const std::vector<std::vector<std::string>>& rows, bool withStats = true) {
  Model m;
  ASSERT_NO_THROW(m.openStore(file));
  addColumns(m, names);
  auto cols = columns(m);
  uint32_t n = 0;
  for (const auto& r : rows) addRow(m, ++n, r, cols);
  m.saveContext();
  if (withStats) {
    for (Column* c : columns(m)) {
      basicStatsForColumn(m, *c);
      c->type = static_cast<int32_t>(guessTypeOfColumn(*c));
    }
  }
  m.saveContext();
  m.closeStores();
}

// One running server for a test: its documents folder, its own Model and
// preferences, and a client that speaks to it as a page of the app would.
class ServerFixture : public ::testing::Test {
 protected:
  void SetUp() override { start({}); }
  void TearDown() override { shutdown(); }

  void start(ServerOptions options) {
    base = fs::temp_directory_path() / (std::string("tabulix-server-") + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(base);
    docs = base / "docs";
    fs::create_directories(docs);
    prefs = std::make_unique<Preferences>(base / "prefs.json");
    model = std::make_unique<Model>();
    options.documents = docs;
    options.host = "127.0.0.1";
    options.port = 0;
    options.preferences = prefs.get();
    options.threads = 8;
    // Every server asks for its token, loopback too; the fixture's client
    // carries it as the cookie a browser would have after the printed address.
    cookie.clear();
    if (!options.token && options.requireToken) {
      options.token = std::string(64, 'c');
      cookie = "tabulix_token=" + *options.token;
    }
    // A stand-in for the built interface, so that static files are served.
    fs::create_directories(base / "web" / "assets");
    std::ofstream(base / "web" / "index.html") << "<!doctype html><title>Tabulix</title>";
    std::ofstream(base / "web" / "assets" / "app.js") << "console.log(1)";
    options.webRoot = base / "web";
    server = std::make_unique<Server>(*model, options);
    ASSERT_TRUE(server->bind());
    thread = std::thread([this] { server->listen(); });
    for (int i = 0; i < 200 && !server->isRunning(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    client = newClient();
  }

  // Another client of the server, with the token's cookie when the fixture chose the token.
  std::unique_ptr<httplib::Client> newClient() {
    auto c = std::make_unique<httplib::Client>("127.0.0.1", server->port());
    c->set_read_timeout(30, 0);
    if (!cookie.empty()) c->set_default_headers({{"Cookie", cookie}});
    return c;
  }

  void shutdown() {
    if (!server) return;
    server->stop();
    if (thread.joinable()) thread.join();
    server.reset();
    model.reset();
    fs::remove_all(base);
  }

  static httplib::Headers writeHeaders() { return {{"X-Tabulix-Request", "1"}}; }

  json getJson(const std::string& path, int expect = 200) {
    auto r = client->Get(path);
    EXPECT_TRUE(r) << path;
    if (!r) return {};
    EXPECT_EQ(r->status, expect) << path << ": " << r->body;
    return json::parse(r->body, nullptr, false);
  }
  json postJson(const std::string& path, const json& body, int expect = 200) {
    auto r = client->Post(path, writeHeaders(), body.dump(), "application/json");
    EXPECT_TRUE(r) << path;
    if (!r) return {};
    EXPECT_EQ(r->status, expect) << path << ": " << r->body;
    return json::parse(r->body, nullptr, false);
  }
  json deleteJson(const std::string& path, int expect = 200) {
    auto r = client->Delete(path, writeHeaders());
    EXPECT_TRUE(r) << path;
    if (!r) return {};
    EXPECT_EQ(r->status, expect) << path << ": " << r->body;
    return json::parse(r->body, nullptr, false);
  }
  // Polls a job until it ends (at most `seconds`).
  json waitForJob(const std::string& id, int seconds = 60) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < until) {
      json j = getJson("/api/jobs/" + id);
      if (j.value("finished", false)) return j;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ADD_FAILURE() << "job " << id << " did not finish";
    return {};
  }
  void openWorkspace(const std::string& name) { postJson("/api/workspaces/open", {{"name", name}}); }

  fs::path base, docs;
  std::string cookie;  // "tabulix_token=…", or empty when the test chose the token
  std::unique_ptr<Preferences> prefs;
  std::unique_ptr<Model> model;
  std::unique_ptr<Server> server;
  std::thread thread;
  std::unique_ptr<httplib::Client> client;
};

}  // namespace tabulix::server::testing
