// The job pool: a fixed set of workers, imports never taking all of them,
// queued work cancelled at shutdown.
#include "server/jobs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
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

TEST(Jobs, ANewerJobUnderTheSameKeyReplacesTheQueuedOrRunningOne) {
  JobRegistry jobs(2, {.maxQueued = 256, .maxQueuedPerClient = 2});
  std::promise<void> release;
  std::shared_future<void> gate = release.get_future().share();
  std::atomic<int> started{0}, ran{0};
  auto hold = [&](Job& j) {
    ++started;
    while (!j.cancelled() && gate.wait_for(std::chrono::milliseconds(2)) != std::future_status::ready) {
    }
    j.finish({{"cancelled", j.cancelled()}});
  };
  auto count = [&](Job& j) { j.finish({{"ran", ++ran}}); };
  auto waitFor = [](const std::function<bool()>& done) {
    for (int i = 0; i < 2000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return done();
  };
  // Both workers held: what follows waits in the queue, each newer job
  // taking the older one's place, so the client's cap of two is never met.
  auto a = jobs.start("analyze", hold, "a"), b = jobs.start("analyze", hold, "b");
  ASSERT_TRUE(waitFor([&] { return started == 2; }));
  std::vector<std::shared_ptr<Job>> replaced;
  std::shared_ptr<Job> last;
  for (int i = 0; i < 5; ++i) {
    if (last) replaced.push_back(last);
    ASSERT_NO_THROW(last = jobs.start("analyze", count, "page", "page/7"));
  }
  for (auto& r : replaced) EXPECT_EQ(r->result()["superseded"], true);
  // Without a key the cap holds.
  jobs.start("analyze", count, "page");
  EXPECT_THROW(jobs.start("analyze", count, "page"), JobsBusy);
  release.set_value();
  // The held jobs must be done before `gate` is given another future: they read it.
  ASSERT_TRUE(waitFor([&] { return last->finished() && ran == 2 && a->finished() && b->finished(); }));
  EXPECT_EQ(a->result()["cancelled"], false);

  // A running job under the key is asked to stop.
  started = 0;
  std::promise<void> never;
  gate = never.get_future().share();
  auto slow = jobs.start("analyze", hold, "page", "page/8");
  ASSERT_TRUE(waitFor([&] { return started == 1; }));
  auto newer = jobs.start("analyze", count, "page", "page/8");
  ASSERT_TRUE(waitFor([&] { return slow->finished() && newer->finished(); }));
  EXPECT_EQ(slow->result()["cancelled"], true);
  EXPECT_EQ(ran, 3);
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

TEST(Jobs, KeptResultsAreBoundedLeastRecentlyReadFirst) {
  JobLimits limits;
  limits.maxKept = 3;
  limits.maxKeptBytes = 1u << 20;
  limits.unreadGrace = std::chrono::milliseconds(0);
  JobRegistry jobs(2, limits);
  auto waitAll = [&] {
    for (int i = 0; i < 1000 && jobs.running() > 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the worker's own bookkeeping
  };
  auto small = [](Job& j) { j.finish({{"n", 1}}); };
  auto a = jobs.start("analyze", small);
  waitAll();
  auto b = jobs.start("analyze", small);
  waitAll();
  auto c = jobs.start("analyze", small);
  waitAll();
  // All three read, b longest ago: b is the least recently used.
  ASSERT_NE(jobs.find(b->id()), nullptr);
  ASSERT_NE(jobs.find(c->id()), nullptr);
  ASSERT_NE(jobs.find(a->id()), nullptr);
  jobs.start("analyze", small);
  waitAll();
  EXPECT_EQ(jobs.kept(), 3u);
  EXPECT_EQ(jobs.find(b->id()), nullptr);
  EXPECT_NE(jobs.find(a->id()), nullptr);
  EXPECT_NE(jobs.find(c->id()), nullptr);
  // Large results go by bytes: three of 400 KB do not fit in 1 MiB.
  for (int i = 0; i < 3; ++i)
    jobs.start("analyze", [](Job& j) { j.finish({{"text", std::string(400000, 'x')}}); });
  waitAll();
  EXPECT_LE(jobs.keptBytes(), 1u << 20);
  EXPECT_GE(jobs.keptBytes(), 800000u);
  EXPECT_EQ(jobs.find(a->id()), nullptr);
  // Deep results are measured without recursion.
  nlohmann::json deep = nlohmann::json::array();
  nlohmann::json* inner = &deep;
  for (int i = 0; i < 100000; ++i) {
    inner->push_back(nlohmann::json::array());
    inner = &(*inner)[0];
  }
  EXPECT_GT(jsonBytes(deep), 100000u * sizeof(nlohmann::json));
}

TEST(Jobs, AResultIsKeptUntilReadWhileItsPageStillPolls) {
  JobLimits limits;
  limits.maxKept = 2;
  JobRegistry jobs(2, limits);
  std::vector<std::shared_ptr<Job>> started;
  for (int i = 0; i < 4; ++i) {
    started.push_back(jobs.start("analyze", [](Job& j) { j.finish({{"n", 1}}); }));
    for (int k = 0; k < 1000 && jobs.running() > 0; ++k)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    // The first two are read, and so let go of first.
    if (i < 2) {
      ASSERT_NE(jobs.find(started.back()->id()), nullptr);
    }
  }
  EXPECT_EQ(jobs.find(started[0]->id()), nullptr);
  EXPECT_EQ(jobs.find(started[1]->id()), nullptr);
  EXPECT_NE(jobs.find(started[2]->id()), nullptr);
  EXPECT_NE(jobs.find(started[3]->id()), nullptr);
}

TEST(Jobs, QueuesAreCappedPerClientAndInAll) {
  JobLimits limits;
  limits.maxQueued = 6;
  limits.maxQueuedPerClient = 4;
  JobRegistry jobs(2, limits);
  std::promise<void> release;
  std::shared_future<void> gate = release.get_future().share();
  auto held = [gate](Job&) { gate.wait(); };
  // Both workers are held, so everything after waits in the queue.
  jobs.start("analyze", held, "x");
  jobs.start("analyze", held, "x");
  for (int i = 0; i < 500 && jobs.running() == 2; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  for (int i = 0; i < 4; ++i) EXPECT_NO_THROW(jobs.start("analyze", held, "a"));
  EXPECT_THROW(jobs.start("analyze", held, "a"), JobsBusy);  // a's share is full
  EXPECT_NO_THROW(jobs.start("analyze", held, "b"));
  EXPECT_NO_THROW(jobs.start("analyze", held, "c"));
  EXPECT_THROW(jobs.start("analyze", held, "d"), JobsBusy);  // the whole queue is
  // An editing session's end is never refused: its cells are saved already.
  EXPECT_NO_THROW(jobs.start("edit", held, "d"));
  release.set_value();
  for (int i = 0; i < 1000 && jobs.running() > 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_NO_THROW(jobs.start("analyze", held, "a"));
}

}  // namespace
}  // namespace tabulix::server
