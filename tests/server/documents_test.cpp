// The Workspaces screen's API: listing, opening from the Inbox, creating,
// replacing, deleting, uploading and importing with progress.
#include "import/documents.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>

#include "server_test_util.h"

namespace tabulix::server::testing {
namespace {

// Holds an import on its thread at one status until released.
struct ImportGate {
  std::mutex mutex;
  std::condition_variable changed;
  bool reached = false, released = false;
  std::string at;

  std::function<void(const std::string&)> observer() {
    return [this](const std::string& status) {
      std::unique_lock lock(mutex);
      if (status != at) return;
      reached = true;
      changed.notify_all();
      changed.wait_for(lock, std::chrono::seconds(60), [&] { return released; });
    };
  }
  bool waitReached() {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(60), [&] { return reached; });
  }
  // Moves the gate to another status while imports may be running.
  void holdAt(const std::string& status) {
    std::lock_guard lock(mutex);
    at = status;
  }
  void release() {
    std::lock_guard lock(mutex);
    released = true;
    changed.notify_all();
  }
};

class Documents : public ServerFixture {
 protected:
  // Restarts the server with its imports held by the gate when they report 100 rows read.
  void startGated(ImportGate& gate) {
    gate.at = "Importing file. 100 rows read.";
    shutdown();
    ServerOptions o;
    o.importObserver = gate.observer();
    start(o);
  }
};

std::vector<std::string> names(const json& list) {
  std::vector<std::string> out;
  for (const auto& e : list) out.push_back(e["name"]);
  return out;
}

TEST_F(Documents, ListsWorkspacesAndDataFilesAndOpensFromTheInbox) {
  for (const char* f : {"b.csv", "A.txt", "c.xlsx", "notes.md", ".hidden.csv"})
    std::ofstream(docs / f) << "x\n";
  writeWorkspace(docs / "z.tbx", {"a"}, {{"1"}});
  fs::create_directories(docs / "Inbox");
  writeWorkspace(docs / "Inbox" / "mailed.tbx", {"a", "b"}, {{"1", "2"}});
  json d = getJson("/api/documents");
  EXPECT_EQ(names(d["workspaces"]), (std::vector<std::string>{"z.tbx"}));
  EXPECT_EQ(names(d["dataFiles"]), (std::vector<std::string>{"A.txt", "b.csv", "c.xlsx"}));
  EXPECT_FALSE(d["workspaces"][0]["open"]);

  // A workspace handed over by another application is moved out of the Inbox.
  json opened = postJson("/api/workspaces/open", {{"name", "Inbox/mailed.tbx"}});
  EXPECT_EQ(opened["status"]["workspace"], "mailed.tbx");
  EXPECT_TRUE(fs::exists(docs / "mailed.tbx"));
  EXPECT_FALSE(fs::exists(docs / "Inbox"));
  d = getJson("/api/documents");
  EXPECT_EQ(names(d["workspaces"]), (std::vector<std::string>{"mailed.tbx", "z.tbx"}));
  EXPECT_TRUE(d["workspaces"][0]["open"]);
  postJson("/api/workspaces/open", {{"name", "b.csv"}}, 404);
  postJson("/api/workspaces/open", {{"name", "missing.tbx"}}, 404);
}

TEST_F(Documents, CreatingAsksBeforeReplacing) {
  json r = postJson("/api/workspaces/create", {{"mode", "blank"}, {"name", "Untitled"}});
  EXPECT_EQ(r["status"]["workspace"], "Untitled.tbx");
  EXPECT_EQ(r["status"]["statusLine"], "Untitled.tbx, 3 Variables, 10 Observations");
  EXPECT_EQ(r["status"]["statusLineTablet"],
            "Open Workspace: Untitled.tbx, Source File: Entered Manually, Variables: 3, Observations: 10");
  EXPECT_TRUE(r["status"]["initialEdit"]);  // Browse starts in edit mode once

  // The same name again: "Confirm Replace"; without "Replace" nothing changes.
  postJson("/api/variables", json::object());
  json ask = postJson("/api/workspaces/create", {{"mode", "blank"}, {"name", "Untitled"}}, 409);
  EXPECT_EQ(ask["alert"]["title"], "Confirm Replace");
  EXPECT_EQ(ask["alert"]["message"], "Really replace existing workspace?");
  EXPECT_EQ(ask["alert"]["buttons"], json({"Cancel", "Replace"}));
  EXPECT_EQ(getJson("/api/status")["statusLine"], "Untitled.tbx, 4 Variables, 10 Observations");
  r = postJson("/api/workspaces/create", {{"mode", "blank"}, {"name", "Untitled"}, {"replace", true}});
  EXPECT_EQ(r["status"]["statusLine"], "Untitled.tbx, 3 Variables, 10 Observations");

  r = postJson("/api/workspaces/create", {{"mode", "example"}, {"name", "example"}});
  EXPECT_EQ(r["status"]["workspace"], "example.tbx");
  EXPECT_FALSE(r["status"]["initialEdit"]);
  json g = getJson("/api/browse");
  EXPECT_GT(g["columns"].size(), 0u);
  EXPECT_GT(g["rows"].size(), 0u);
  postJson("/api/workspaces/create", {{"mode", "other"}, {"name", "q"}}, 400);
  postJson("/api/workspaces/create", {{"mode", "blank"}, {"name", ""}}, 400);
}

TEST_F(Documents, TheOpenWorkspaceCannotBeDeleted) {
  writeWorkspace(docs / "open.tbx", {"a"}, {{"1"}});
  writeWorkspace(docs / "other.tbx", {"a"}, {{"1"}});
  std::ofstream(docs / "data.csv") << "x\n1\n";
  std::ofstream(docs / "notes.md") << "x\n";
  openWorkspace("open.tbx");
  json refused = deleteJson("/api/documents?name=open.tbx", 409);
  EXPECT_EQ(refused["alert"]["title"], "Confirm Delete");
  EXPECT_EQ(refused["alert"]["message"], "Cannot delete open workspace: open.tbx");
  EXPECT_EQ(refused["alert"]["buttons"], json({"Cancel"}));
  EXPECT_TRUE(fs::exists(docs / "open.tbx"));
  EXPECT_TRUE(deleteJson("/api/documents?name=other.tbx")["deleted"]);
  EXPECT_TRUE(deleteJson("/api/documents?name=data.csv")["deleted"]);
  EXPECT_FALSE(fs::exists(docs / "other.tbx"));
  EXPECT_FALSE(fs::exists(docs / "data.csv"));
  deleteJson("/api/documents?name=notes.md", 404);  // not a listed document
}

TEST_F(Documents, UploadedFilesAreImportedWithProgress) {
  std::string csv = "height,sex\n";
  for (int i = 0; i < 250; ++i) csv += std::to_string(150 + i % 40) + "," + (i % 3 ? "F" : "M") + "\n";
  auto up = client->Post("/api/upload?name=people.csv", writeHeaders(), csv, "application/octet-stream");
  ASSERT_TRUE(up);
  ASSERT_EQ(up->status, 200);
  json file = json::parse(up->body);
  EXPECT_EQ(file["file"], "Inbox/people.csv");
  EXPECT_EQ(file["kind"], "text");

  json inspect = getJson("/api/inspect?file=Inbox%2Fpeople.csv");
  EXPECT_EQ(inspect["name"], "people");
  EXPECT_EQ(inspect["delimiter"], 0);  // comma for .csv
  EXPECT_TRUE(inspect["sheets"].is_null());

  json started = postJson("/api/workspaces/create", {{"mode", "import"},
                                                     {"name", "people"},
                                                     {"file", "Inbox/people.csv"},
                                                     {"hasHeader", true},
                                                     {"delimiter", 0},
                                                     {"decimalSeparator", "."}});
  ASSERT_TRUE(started.contains("job"));
  json job = waitForJob(started["job"]);
  std::vector<std::string> statuses;
  for (auto& e : job["events"]) statuses.push_back(e["status"]);
  auto has = [&](const std::string& s) {
    return std::find(statuses.begin(), statuses.end(), s) != statuses.end();
  };
  EXPECT_TRUE(has("Importing file..."));
  EXPECT_TRUE(has("Importing file. 200 rows read."));
  EXPECT_TRUE(has("Determining Variable Types..."));
  EXPECT_TRUE(has("Processing variable height"));
  EXPECT_TRUE(has("Processing variable sex"));
  json result = job["result"];
  EXPECT_EQ(result["code"], -1);
  EXPECT_EQ(result["status"], "Successfully created new workspace.");
  EXPECT_FALSE(result.contains("alert"));
  EXPECT_EQ(result["statusBlock"]["workspace"], "people.tbx");
  EXPECT_EQ(result["statusBlock"]["statusLine"], "people.tbx, 2 Variables, 250 Observations");
  // The data file left the Inbox, which is gone.
  EXPECT_TRUE(fs::exists(docs / "people.csv"));
  EXPECT_FALSE(fs::exists(docs / "Inbox"));
  json v = getJson("/api/variables");
  ASSERT_EQ(v["cards"].size(), 2u);
  EXPECT_EQ(v["cards"][0]["typeLine"], "Type: Numeric");
  EXPECT_EQ(v["cards"][1]["typeLine"], "Type: Binary");

  // The same file handed over again takes the next free name.
  up = client->Post("/api/upload?name=people.csv", writeHeaders(), csv, "application/octet-stream");
  started =
      postJson("/api/workspaces/create",
               {{"mode", "import"}, {"name", "people"}, {"file", "Inbox/people.csv"}, {"replace", true}});
  waitForJob(started["job"]);
  EXPECT_TRUE(fs::exists(docs / "people-1.csv"));
}

TEST_F(Documents, AFileSharedIntoTheAppLandsInTheInbox) {
  httplib::MultipartFormDataItems form = {{"file", "a,b\n1,2\n", "shared.csv", "text/csv"},
                                          {"title", "ignored", "", ""}};
  auto r = client->Post("/share-target", form);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 303);
  EXPECT_EQ(r->get_header_value("Location"), "/?open=Inbox/shared.csv");
  std::ifstream in(docs / "Inbox" / "shared.csv");
  std::string text((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(text, "a,b\n1,2\n");
  // Without a file, or from another site, nothing is stored.
  r = client->Post("/share-target", httplib::MultipartFormDataItems{{"title", "x", "", ""}});
  EXPECT_EQ(r->status, 400);
  r = client->Post("/share-target", {{"Sec-Fetch-Site", "cross-site"}}, form);
  EXPECT_EQ(r->status, 403);
  EXPECT_FALSE(fs::exists(docs / "Inbox" / "shared-1.csv"));
  size_t files = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(docs / "Inbox")) ++files;
  EXPECT_EQ(files, 1u);  // nothing half-written beside it
}

TEST_F(Documents, PagesAreServedWhileALongImportRunsAndItsLimitIsReported) {
  ImportGate gate;
  startGated(gate);
  {
    std::ofstream out(docs / "long.csv");
    for (int c = 0; c < 16; ++c) out << (c ? "," : "") << "c" << c;
    out << "\n";
    for (int i = 0; i < 100050; ++i) {
      for (int c = 0; c < 16; ++c) out << (c ? "," : "") << (i * (c + 1)) % 1013;
      out << "\n";
    }
  }
  // The import replaces the open workspace, which stays open and readable
  // until the new one is complete.
  writeWorkspace(docs / "long.tbx", {"old"}, {{"1"}, {"2"}});
  writeWorkspace(docs / "other.tbx", {"q"}, {{"1"}});
  openWorkspace("long.tbx");
  json started = postJson("/api/workspaces/create",
                          {{"mode", "import"}, {"name", "long"}, {"file", "long.csv"}, {"replace", true}});
  std::string id = started["job"];
  ASSERT_TRUE(gate.waitReached());
  EXPECT_FALSE(getJson("/api/jobs/" + id)["finished"]);
  EXPECT_EQ(getJson("/api/documents")["status"]["workspace"], "long.tbx");
  json grid = getJson("/api/browse");
  EXPECT_EQ(grid["rows"].size(), 2u);
  EXPECT_EQ(grid["columns"][0]["name"], "old");
  // The workspace being written cannot be opened, replaced or deleted meanwhile.
  postJson("/api/workspaces/open", {{"name", "long.tbx"}}, 409);
  postJson("/api/workspaces/create", {{"mode", "blank"}, {"name", "long"}, {"replace", true}}, 409);
  deleteJson("/api/documents?name=long.tbx", 409);
  // Another page opens another workspace and browses it.
  EXPECT_EQ(postJson("/api/workspaces/open", {{"name", "other.tbx"}})["status"]["workspace"], "other.tbx");
  EXPECT_EQ(getJson("/api/browse")["rows"].size(), 1u);

  // Progress streams are capped (two for the eight threads here); a page
  // beyond the cap is told to poll instead. Each stream waits for the held job.
  std::vector<std::thread> streams;
  std::vector<std::string> seen(2);
  std::atomic<int> connected{0};
  for (int i = 0; i < 2; ++i)
    streams.emplace_back([&, i] {
      auto owned = newClient();
      httplib::Client& c = *owned;
      c.set_read_timeout(60, 0);
      c.Get("/api/jobs/" + id + "/events", [&](const char* data, size_t n) {
        if (seen[i].empty()) ++connected;
        seen[i].append(data, n);
        return true;
      });
    });
  for (int tries = 0; tries < 500 && connected < 2; ++tries)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(connected, 2);
  int refused = 0;
  std::string ask = "GET /api/jobs/" + id +
                    "/events HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server->port()) +
                    "\r\nCookie: " + cookie + "\r\nConnection: close\r\n\r\n";
  {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(server->port()));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    char status[13] = {};
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
      ::send(fd, ask.data(), ask.size(), MSG_NOSIGNAL);
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 1000) > 0) ::recv(fd, status, 12, MSG_WAITALL);
    }
    ::close(fd);
    if (std::string(status) == "HTTP/1.1 503") ++refused;
  }
  EXPECT_EQ(refused, 1);
  gate.release();
  for (auto& t : streams) t.join();
  for (const auto& stream : seen) {
    EXPECT_NE(stream.find("\"status\":\"Importing file. 100 rows read.\"}"), std::string::npos);
    EXPECT_NE(stream.find("event: end"), std::string::npos);
  }
  json result = getJson("/api/jobs/" + id)["result"];
  EXPECT_EQ(result["code"], 3);
  EXPECT_EQ(result["alert"]["title"], "Row Limit Reached");
  EXPECT_EQ(
      result["alert"]["message"],
      "Successfully created new workspace. Importing stopped after 100,000 rows so that we don't run out of "
      "memory.");
  // At its end the import opens the new workspace, whatever was open.
  EXPECT_EQ(getJson("/api/status")["statusLine"], "long.tbx, 16 Variables, 100000 Observations");
  // No hidden file of the import is left.
  for (const auto& e : fs::directory_iterator(docs))
    EXPECT_NE(e.path().filename().string().front(), '.') << e.path();

  // A page that reconnects resumes after the last event it saw.
  std::string tail;
  client->Get("/api/jobs/" + id + "/events", {{"Last-Event-ID", "0"}}, [&](const char* data, size_t n) {
    tail.append(data, n);
    return true;
  });
  EXPECT_EQ(tail.find("id: 0\n"), std::string::npos);
  EXPECT_NE(tail.find("id: 1\n"), std::string::npos);
  getJson("/api/jobs/unknown-job", 404);
  shutdown();  // before the gate goes: the server's workers still call its observer
}

// A cancelled import stops between lines: the workspace it was to replace
// keeps every byte and its hidden file goes. Its events say how much of the
// file was read, rising to the whole.
TEST_F(Documents, ACancelledImportLeavesTheWorkspaceItWouldReplace) {
  ImportGate gate;
  startGated(gate);
  {
    std::ofstream out(docs / "big.csv");
    out << "a,b,c\n";
    for (int i = 0; i < 20000; ++i) out << i << "," << i % 7 << ",x" << i % 13 << "\n";
  }
  writeWorkspace(docs / "kept.tbx", {"old"}, {{"1"}, {"2"}});
  auto bytes = [](const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const std::string before = bytes(docs / "kept.tbx");
  json started = postJson("/api/workspaces/create",
                          {{"mode", "import"}, {"name", "kept"}, {"file", "big.csv"}, {"replace", true}});
  std::string id = started["job"];
  ASSERT_TRUE(gate.waitReached());
  postJson("/api/jobs/" + id + "/cancel", json::object());
  gate.release();
  json job = waitForJob(id);
  EXPECT_EQ(job["result"]["cancelled"], true);
  EXPECT_EQ(job["result"]["error"], "Import cancelled.");
  // It stopped at the next line: no statistics phase, no success.
  for (const auto& e : job["events"]) EXPECT_NE(e["status"], "Determining Variable Types...");
  const json& last = job["events"].back();
  ASSERT_TRUE(last.contains("fraction"));
  EXPECT_GT(last["fraction"].get<double>(), 0.0);
  EXPECT_LT(last["fraction"].get<double>(), 0.5);
  EXPECT_EQ(bytes(docs / "kept.tbx"), before);
  for (const auto& e : fs::directory_iterator(docs))
    EXPECT_NE(e.path().filename().string().front(), '.') << e.path();

  // The same import left alone reports fractions that never go back and reach the whole.
  gate.holdAt("none");
  json again = waitForJob(
      postJson("/api/workspaces/create",
               {{"mode", "import"}, {"name", "kept"}, {"file", "big.csv"}, {"replace", true}})["job"]);
  ASSERT_FALSE(again["result"].contains("error")) << again["result"];
  double seen = 0;
  for (const auto& e : again["events"]) {
    if (!e.contains("fraction")) continue;
    EXPECT_GE(e["fraction"].get<double>(), seen);
    seen = e["fraction"].get<double>();
  }
  EXPECT_GT(seen, 0.98);
  EXPECT_NE(bytes(docs / "kept.tbx"), before);
  // Only imports are cancelled through the API; an ended job ignores it.
  postJson("/api/jobs/unknown-job/cancel", json::object(), 404);
  postJson("/api/jobs/" + id + "/cancel", json::object());
  shutdown();  // before the gate goes: the server's workers still call its observer
}

// The import sheet's preview pre-selects what fits the file: a semicolon
// file with decimal commas imports as its columns, not as one.
TEST_F(Documents, InspectionPreviewsAndSniffsTheDelimiter) {
  std::ofstream(docs / "eu.csv") << "name;height\nAnna;1,62\nBo;1,80\n";
  json inspect = getJson("/api/inspect?file=eu.csv");
  EXPECT_EQ(inspect["preview"], json({"name;height", "Anna;1,62", "Bo;1,80"}));
  EXPECT_EQ(inspect["delimiterChar"], ";");
  EXPECT_EQ(inspect["decimalSeparator"], ",");
  json job = waitForJob(postJson("/api/workspaces/create", {{"mode", "import"},
                                                            {"name", "eu"},
                                                            {"file", "eu.csv"},
                                                            {"delimiterChar", ";"},
                                                            {"decimalSeparator", ","}})["job"]);
  EXPECT_EQ(job["result"]["statusBlock"]["statusLine"], "eu.tbx, 2 Variables, 2 Observations");
  EXPECT_EQ(getJson("/api/variables")["cards"][1]["typeLine"], "Type: Numeric");
  postJson("/api/workspaces/create",
           {{"mode", "import"}, {"name", "x"}, {"file", "eu.csv"}, {"delimiterChar", "\""}}, 400);

  // A workbook without its reader is refused before anything is touched.
  std::ofstream(docs / "book.xlsx") << "PK\x03\x04";
  json refused =
      postJson("/api/workspaces/create", {{"mode", "import"}, {"name", "book"}, {"file", "book.xlsx"}}, 422);
  EXPECT_EQ(refused["alert"]["title"], "Error While Importing");
  EXPECT_NE(refused["alert"]["message"].get<std::string>().find("book.xlsx"), std::string::npos);
  EXPECT_FALSE(fs::exists(docs / "book.tbx"));
  EXPECT_EQ(getJson("/api/status")["workspace"], "eu.tbx");  // still open
}

// The order of day, month and year chosen on the import sheet: a file whose
// days are all 12 or less reads day first when asked, month first (the en
// locale's order) when left to itself; any other order is refused by name.
TEST_F(Documents, TextDatesReadInTheChosenOrder) {
  std::ofstream(docs / "uk.csv") << "d,v\n05/03/2024,1\n06/04/2024,2\n";
  // The sheet's preview of "auto" needs the order the page's locale falls back on.
  EXPECT_EQ(getJson("/api/inspect?file=uk.csv")["localeDates"], "mdy");
  auto de = client->Get("/api/inspect?file=uk.csv", httplib::Headers{{"Accept-Language", "de-DE"}});
  ASSERT_TRUE(de);
  EXPECT_EQ(json::parse(de->body)["localeDates"], "dmy");
  auto minLine = [&] {
    json card = getJson("/api/variables")["cards"][0];
    EXPECT_EQ(card["typeLine"], "Type: Date / Time");
    for (const auto& l : card["lines"])
      if (l.value("text", "").rfind("Min: ", 0) == 0) return l["text"].get<std::string>();
    return std::string();
  };
  json job =
      waitForJob(postJson("/api/workspaces/create",
                          {{"mode", "import"}, {"name", "uk"}, {"file", "uk.csv"}, {"dates", "dmy"}})["job"]);
  EXPECT_EQ(job["result"]["code"], -1);
  EXPECT_EQ(job["result"]["dates"], "dmy");
  EXPECT_EQ(minLine(), "Min: 3/5/24");  // 5 March, shown month first as en shows dates

  job = waitForJob(
      postJson("/api/workspaces/create", {{"mode", "import"}, {"name", "us"}, {"file", "uk.csv"}})["job"]);
  EXPECT_EQ(job["result"]["dates"], "mdy");
  EXPECT_EQ(minLine(), "Min: 5/3/24");  // 3 May

  for (json bad : {json("dd/mm"), json("DMY"), json(1)}) {
    json r = postJson("/api/workspaces/create",
                      {{"mode", "import"}, {"name", "x"}, {"file", "uk.csv"}, {"dates", bad}}, 400);
    EXPECT_NE(r["message"].get<std::string>().find("\"dates\""), std::string::npos) << r.dump();
  }
  EXPECT_FALSE(fs::exists(docs / "x.tbx"));
  EXPECT_EQ(getJson("/api/status")["workspace"], "us.tbx");
}

// The short form of bench/server_reliability.sh: readers during imports
// never see an error or a moment without the workspace.
TEST_F(Documents, ReadsDuringImportsAllSeeTheOpenWorkspace) {
  {
    std::ofstream out(docs / "rows.csv");
    out << "id,group,x\n";
    for (int i = 1; i <= 20000; ++i) out << i << ",g" << i % 9 << "," << (i * 37) % 1000 / 10.0 << "\n";
  }
  writeWorkspace(docs / "small.tbx", {"a"}, {{"1"}});
  openWorkspace("small.tbx");
  std::atomic<bool> stop{false};
  std::atomic<int> reads{0}, errors{0};
  std::vector<std::thread> readers;
  for (int k = 0; k < 4; ++k)
    readers.emplace_back([&, k] {
      auto owned = newClient();
      httplib::Client& c = *owned;
      c.set_read_timeout(30, 0);
      const char* paths[] = {"/api/status", "/api/browse", "/api/variables", "/api/documents"};
      for (int i = k; !stop && i < 100000; ++i) {
        auto r = c.Get(paths[i % 4]);
        json j = r ? json::parse(r->body, nullptr, false) : json();
        json status = i % 4 == 0 ? j : j.value("status", json());
        bool ok = r && r->status == 200 && status.is_object() && !status["workspace"].is_null();
        ++reads;
        if (!ok) ++errors;
      }
    });
  for (int n = 0; n < 3; ++n) {
    json started = postJson("/api/workspaces/create",
                            {{"mode", "import"}, {"name", "rows"}, {"file", "rows.csv"}, {"replace", true}});
    EXPECT_EQ(waitForJob(started["job"])["result"]["observations"], 20000);
  }
  stop = true;
  for (auto& t : readers) t.join();
  EXPECT_GT(reads, 0);
  EXPECT_EQ(errors, 0) << "of " << reads << " reads";
}

TEST_F(Documents, ConcurrentUploadsOfOneNameEachKeepTheirBytes) {
  constexpr int kUploads = 6;
  std::vector<std::thread> threads;
  std::vector<std::string> names(kUploads);
  for (int i = 0; i < kUploads; ++i)
    threads.emplace_back([&, i] {
      auto owned = newClient();
      httplib::Client& c = *owned;
      c.set_read_timeout(30, 0);
      std::string body(200000 + i, static_cast<char>('a' + i));
      auto r = c.Post("/api/upload?name=same.csv", writeHeaders(), body, "application/octet-stream");
      if (r && r->status == 200) names[i] = json::parse(r->body)["file"];
    });
  for (auto& t : threads) t.join();
  std::set<std::string> distinct(names.begin(), names.end());
  EXPECT_EQ(distinct.size(), static_cast<size_t>(kUploads));
  for (int i = 0; i < kUploads; ++i) {
    ASSERT_FALSE(names[i].empty()) << i;
    std::ifstream in(docs / names[i], std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(text, std::string(200000 + i, static_cast<char>('a' + i))) << names[i];
  }
  // Nothing half-written is left beside them.
  size_t files = 0;
  for (const auto& e : fs::directory_iterator(docs / "Inbox")) {
    ++files;
    EXPECT_NE(e.path().filename().string().front(), '.') << e.path();
  }
  EXPECT_EQ(files, static_cast<size_t>(kUploads));
}

TEST_F(Documents, UsingOneHandedOverFileLeavesTheOthersWaiting) {
  std::string csv = "a,b\n1,2\n3,4\n";
  for (const char* n : {"first.csv", "second.csv"})
    ASSERT_EQ(client->Post(std::string("/api/upload?name=") + n, writeHeaders(), csv, "text/csv")->status,
              200);
  writeWorkspace(docs / "Inbox" / "mailed.tbx", {"m"}, {{"1"}});
  json started = postJson("/api/workspaces/create",
                          {{"mode", "import"}, {"name", "first"}, {"file", "Inbox/first.csv"}});
  EXPECT_EQ(waitForJob(started["job"])["result"]["statusBlock"]["workspace"], "first.tbx");
  EXPECT_TRUE(fs::exists(docs / "first.csv"));
  EXPECT_TRUE(fs::exists(docs / "Inbox" / "second.csv"));
  postJson("/api/workspaces/open", {{"name", "Inbox/mailed.tbx"}});
  EXPECT_TRUE(fs::exists(docs / "Inbox" / "second.csv"));
  // The last one used, the Inbox goes.
  started = postJson("/api/workspaces/create",
                     {{"mode", "import"}, {"name", "second"}, {"file", "Inbox/second.csv"}});
  waitForJob(started["job"]);
  EXPECT_FALSE(fs::exists(docs / "Inbox"));
}

TEST_F(Documents, BadNamesAndFieldsAreRefusedBeforeAnythingIsTouched) {
  writeWorkspace(docs / "w.tbx", {"a"}, {{"1"}});
  openWorkspace("w.tbx");
  // 251 characters: with ".tbx-journal" longer than a file name may be.
  json r = postJson("/api/workspaces/create", {{"mode", "blank"}, {"name", std::string(251, 'n')}}, 400);
  EXPECT_EQ(r["message"], "the workspace name is too long");
  postJson("/api/workspaces/create", {{"mode", "blank"}, {"name", std::string(243, 'n')}});
  openWorkspace("w.tbx");
  EXPECT_EQ(getJson("/api/status")["workspace"], "w.tbx");
  size_t files = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(docs)) ++files;
  EXPECT_EQ(files, 2u);  // w.tbx and the 243-character one

  // Fields of the wrong type: 400 naming the field, the workspace still open.
  EXPECT_EQ(postJson("/api/workspaces/open", {{"name", 5}}, 400)["message"],
            "the field \"name\" must be a text");
  EXPECT_EQ(postJson("/api/workspaces/create", {{"mode", "blank"}, {"name", "x"}, {"replace", "yes"}},
                     400)["message"],
            "the field \"replace\" must be true or false");
  postJson("/api/workspaces/create", {{"mode", "import"}, {"name", "x"}, {"file", "w.tbx"}, {"sheet", "1"}},
           400);
  postJson("/api/variables/refresh", {{"ids", "all"}}, 400);
  postJson("/api/variables/refresh", {{"ids", {1, "2"}}}, 400);
  EXPECT_EQ(getJson("/api/status")["workspace"], "w.tbx");
  EXPECT_FALSE(fs::exists(docs / "x.tbx"));

  // A known path asked with a method it does not take.
  auto m = client->Delete("/api/status", writeHeaders());
  ASSERT_TRUE(m);
  EXPECT_EQ(m->status, 405);
  EXPECT_EQ(m->get_header_value("Allow"), "GET");
  m = client->Get("/api/workspaces/open");
  ASSERT_TRUE(m);
  EXPECT_EQ(m->status, 405);
  m = client->Put("/api/documents", writeHeaders(), "{}", "application/json");
  ASSERT_TRUE(m);
  EXPECT_EQ(m->status, 405);
  EXPECT_EQ(m->get_header_value("Allow"), "GET, DELETE");
  getJson("/api/no-such-thing", 404);
}

// What processes that ended left (a killed import's hidden files, a killed
// upload's partial file, an export's temporary folder) goes when the server
// starts; what a running process or this one owns, or what is merely named
// alike, stays.
TEST_F(Documents, LeftoversOfEndedProcessesAreRemovedAtStart) {
  shutdown();
  pid_t ended = fork();
  if (ended == 0) _exit(0);
  waitpid(ended, nullptr, 0);
  const std::string dead = std::to_string(ended), self = std::to_string(getpid());
  fs::path tmp = fs::temp_directory_path();
  const std::vector<fs::path> inDocs = {"docs/.k.tbx.new-" + dead + "-0",
                                        "docs/.k.tbx.new-" + dead + "-0-journal",
                                        "docs/Inbox/.upload-" + dead + "-abc.part"};
  const std::vector<fs::path> keptInDocs = {"docs/.k.tbx.new-" + self + "-0",
                                            "docs/Inbox/.upload-" + self + "-abc.part",
                                            "docs/Inbox/.upload-" + dead + "-abc.txt",
                                            "docs/Inbox/.upload-x-abc.part", "docs/.k.new-" + dead + "-0"};
  const std::vector<fs::path> folders = {tmp / ("tabulix-dataset-" + dead + "-Ab12Cd"),
                                         tmp / ("tabulix-export-" + dead + "-Zz99Yy")};
  const std::vector<fs::path> keptFolders = {tmp / ("tabulix-export-" + self + "-Qq11Ww"),
                                             tmp / ("tabulix-exports-" + dead + "-Qq11Ww")};
  ServerOptions o;
  // The folder the fixture makes, filled before the server starts.
  base = fs::temp_directory_path() / (std::string("tabulix-server-") + self + "-" +
                                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
  fs::remove_all(base);
  fs::create_directories(base / "docs" / "Inbox");
  for (const auto& f : inDocs) std::ofstream(base / f) << "x";
  for (const auto& f : keptInDocs) std::ofstream(base / f) << "x";
  for (const auto& d : folders) {
    fs::create_directories(d);
    std::ofstream(d / "data.csv") << "x";
  }
  for (const auto& d : keptFolders) fs::create_directories(d);
  o.documents = base / "docs";
  // start() makes the folder anew: start the server by hand on it.
  prefs = std::make_unique<Preferences>(base / "prefs.json");
  model = std::make_unique<Model>();
  o.host = "127.0.0.1";
  o.port = 0;
  o.preferences = prefs.get();
  server = std::make_unique<Server>(*model, o);
  for (const auto& f : inDocs) EXPECT_FALSE(fs::exists(base / f)) << f;
  for (const auto& f : keptInDocs) EXPECT_TRUE(fs::exists(base / f)) << f;
  for (const auto& d : folders) EXPECT_FALSE(fs::exists(d)) << d;
  for (const auto& d : keptFolders) {
    EXPECT_TRUE(fs::exists(d)) << d;
    fs::remove_all(d);
  }
  server.reset();
  model.reset();
  fs::remove_all(base);
}

// Replacing the open workspace while analyses, exports and card refreshes
// are queued on it: the jobs end on the old file and let go of it before the
// new one takes the name, so that none reads the other's journal. Saves and
// computations on the new workspace then work, and the file is whole.
TEST_F(Documents, ReplacingTheOpenWorkspaceUnderQueuedJobsKeepsItsSavesWhole) {
  std::vector<std::vector<std::string>> rows;
  for (int r = 0; r < 20000; ++r)
    rows.push_back({std::to_string(r % 97), std::to_string(r * 0.5), r % 3 ? "yes" : "no"});
  for (int round = 0; round < 2; ++round) {
    std::string name = "w" + std::to_string(round);
    writeWorkspace(docs / (name + ".tbx"), {"a", "b", "c"}, rows);
    openWorkspace(name + ".tbx");
    // Card refreshes long enough to be still reading when the saves below
    // run, analyses and exports queued behind them.
    json ids = json::array();
    auto cards = getJson("/api/variables")["cards"];
    for (int i = 0; i < 333; ++i)
      for (const auto& v : cards) ids.push_back(v["id"]);
    std::vector<std::string> jobs;
    for (int i = 0; i < 4; ++i) {
      json refresh = postJson("/api/variables/refresh", {{"screen", "s" + std::to_string(i)}, {"ids", ids}});
      if (refresh["job"].is_string()) jobs.push_back(refresh["job"]);
      jobs.push_back(postJson("/api/analyze", {{"kind", "detail"}, {"left", i % 3}})["job"]);
      jobs.push_back(postJson("/api/dataset/export", json::object())["job"]);
    }
    json made = postJson("/api/workspaces/create",
                         {{"mode", round % 2 ? "example" : "blank"}, {"name", name}, {"replace", true}});
    EXPECT_EQ(made["status"]["workspace"], name + ".tbx");
    // Saves on the new workspace, each one a journal beside the file.
    std::string session = postJson("/api/browse/edit/begin", json::object())["session"];
    for (int k = 0; k < 40; ++k) postJson("/api/browse/edit/rows", {{"session", session}, {"count", 1}});
    postJson("/api/browse/edit/end", {{"session", session}});
    for (const auto& id : jobs) {
      json j = waitForJob(id, 300);
      std::string text = j.dump();
      EXPECT_EQ(text.find("malformed"), std::string::npos) << text.substr(0, 300);
      EXPECT_EQ(text.find("I/O error"), std::string::npos) << text.substr(0, 300);
    }
    json detail = waitForJob(postJson("/api/analyze", {{"kind", "detail"}, {"left", 0}})["job"]);
    EXPECT_FALSE(detail["result"].contains("error")) << detail.dump().substr(0, 300);
    size_t served = getJson("/api/browse")["rowCount"].get<size_t>();
    // What the server lists is what the file holds, and the file is whole.
    Model check;
    ASSERT_NO_THROW(check.openStore(docs / (name + ".tbx"), StoreAccess::ReadOnly));
    EXPECT_EQ(countRows(check), served) << "round " << round;
    EXPECT_FALSE(fs::exists(docs / (name + ".tbx-journal")));
  }
}

}  // namespace
}  // namespace tabulix::server::testing
