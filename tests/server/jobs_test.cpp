// The job pool: a fixed set of workers, imports never taking all of them,
// queued work cancelled at shutdown.
#include "server/jobs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

namespace tabulix::server {
namespace {

TEST(Jobs, ImportsLeaveAWorkerForSummaries) {
  JobRegistry jobs(2);
  std::promise<void> release;
  std::shared_future<void> gate = release.get_future().share();
  std::atomic<int> importsRunning{0}, maxImports{0};
  auto slowImport = [&](Job&) {
    int now = ++importsRunning;
    maxImports = std::max(maxImports.load(), now);
    gate.wait();
    --importsRunning;
  };
  auto a = jobs.start("import", slowImport);
  auto b = jobs.start("import", slowImport);
  // Both imports are queued or held, yet a summary job runs to its end.
  auto summary = jobs.start("variables", [](Job& j) { j.finish({{"done", true}}); });
  bool done = false;
  for (int i = 0; i < 500 && !done; ++i) {
    done = summary->finished();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(done);
  EXPECT_EQ(summary->result()["done"], true);
  EXPECT_EQ(maxImports, 1);  // the second import waits for the first
  EXPECT_EQ(jobs.running(), 2u);
  release.set_value();
  for (int i = 0; i < 500 && jobs.running() > 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(jobs.running(), 0u);
  EXPECT_TRUE(a->finished() && b->finished());
}

TEST(Jobs, ShutdownCancelsRunningWorkAndEndsQueuedWork) {
  auto jobs = std::make_unique<JobRegistry>(2);
  std::atomic<bool> sawCancel{false};
  std::atomic<int> started{0};
  auto loop = [&](Job& j) {
    ++started;
    while (!j.cancelled()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    sawCancel = true;
  };
  auto a = jobs->start("variables", loop);
  auto b = jobs->start("variables", loop);
  auto queued = jobs->start("variables", [](Job& j) { j.finish({{"ran", true}}); });
  // Both workers are busy with the loops until shutdown, so the third never starts.
  for (int i = 0; i < 1000 && started < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_EQ(started, 2);
  jobs->shutdown();
  EXPECT_TRUE(sawCancel);
  EXPECT_TRUE(a->finished() && b->finished() && queued->finished());
  EXPECT_EQ(queued->result()["error"], "cancelled");
  EXPECT_EQ(jobs->start("variables", [](Job&) {}), nullptr);
}

}  // namespace
}  // namespace tabulix::server
