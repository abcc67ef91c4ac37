// The data set export through the server when the file cannot be written:
// the job ends with the reason (the page shows it in its "Error!" alert) and
// leaves no folder behind.
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include "server_test_util.h"

namespace tabulix::server::testing {
namespace {

class DatasetExportApi : public ServerFixture {};

// This process's export folders (other test processes make theirs meanwhile).
std::vector<fs::path> exportFolders() {
  const std::string prefix = "tabulix-dataset-" + std::to_string(::getpid()) + "-";
  std::vector<fs::path> out;
  for (const auto& e : fs::directory_iterator(fs::temp_directory_path()))
    if (e.path().filename().string().rfind(prefix, 0) == 0) out.push_back(e.path());
  std::sort(out.begin(), out.end());
  return out;
}

TEST_F(DatasetExportApi, AFailedWriteEndsTheJobWithTheReason) {
  std::vector<std::vector<std::string>> rows;
  for (int r = 0; r < 3000; ++r) rows.push_back({std::to_string(r), std::string(40, 'x')});
  writeWorkspace(docs / "big.tbx", {"n", "text"}, rows);
  openWorkspace("big.tbx");
  auto before = exportFolders();
  // Files may grow to 64 KiB only; a write past it fails with EFBIG.
  struct rlimit saved {};
  getrlimit(RLIMIT_FSIZE, &saved);
  auto previous = signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 65536;
  setrlimit(RLIMIT_FSIZE, &small);
  json started = postJson("/api/dataset/export", {{"wheres", json::array()}});
  json done = waitForJob(started.value("job", ""));
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previous);
  std::string error = done["result"].value("error", "");
  EXPECT_NE(error.find("Cannot write"), std::string::npos) << done.dump();
  EXPECT_NE(error.find("File too large"), std::string::npos) << done.dump();
  EXPECT_FALSE(done["result"].contains("file")) << done.dump();
  EXPECT_EQ(exportFolders(), before);
  // Within the limit the same export succeeds.
  json again = waitForJob(postJson("/api/dataset/export", {{"wheres", json::array()}}).value("job", ""));
  EXPECT_TRUE(again["result"].contains("file")) << again.dump();
}

// A computed result stays ready for its files only so long after its last
// use: then an idle worker lets go of it, and the page is told to show it again.
class KeptResultsApi : public ServerFixture {
 protected:
  void SetUp() override {
    ServerOptions options;
    options.keepResultsFor = std::chrono::seconds(1);
    start(options);
  }
};

TEST_F(KeptResultsApi, AnUnusedResultIsLetGoOf) {
  writeWorkspace(docs / "w.tbx", {"n"}, {{"1"}, {"2"}, {"4"}});
  openWorkspace("w.tbx");
  json done = waitForJob(postJson("/api/analyze", {{"kind", "detail"}, {"left", 0}})["job"]);
  const std::string id = done["result"]["id"];
  EXPECT_EQ(getJson("/api/analyze/" + id + "/files")["csv"]["name"], "Summary of n.csv");
  // Idle workers look every 5 s (a busy machine may take longer); each look
  // here is a use too, so it comes only after the result has been idle a while.
  json gone = json::object();
  for (int i = 0; i < 40 && !gone.contains("error"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    auto r = client->Get("/api/analyze/" + id + "/files");
    if (r && r->status == 404) gone = json::parse(r->body);
  }
  EXPECT_EQ(gone.value("message", ""), "The result is gone; show it again.");
}

}  // namespace
}  // namespace tabulix::server::testing
