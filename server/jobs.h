// Long work of the server (imports, variable summaries) on worker threads,
// with progress events that browsers read while the work runs.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace tabulix::server {

// One piece of background work: its kind, the events it posted, and its end.
class Job {
 public:
  Job(std::string id, std::string kind) : id_(std::move(id)), kind_(std::move(kind)) {}

  const std::string& id() const { return id_; }
  const std::string& kind() const { return kind_; }

  // Adds a progress event and wakes every reader.
  void post(nlohmann::json event);
  // Marks the job finished with its result and wakes every reader.
  void finish(nlohmann::json result);
  // Called with the result just before finish keeps it (on the finishing
  // thread): the request's context adds what the work raised meanwhile.
  void onFinishing(std::function<void(nlohmann::json&)> f) { finishing_ = std::move(f); }
  // True once finish was called.
  bool finished() const;
  // Asks the work to stop early; the work checks cancelled() where it can.
  void cancel() { cancelled_ = true; }
  bool cancelled() const { return cancelled_; }

  // Events from index `from` on, waiting up to `wait` for one to arrive when
  // there is none yet and the job is still running. `done` tells whether the
  // job had finished when the events were taken (so none will follow).
  std::vector<nlohmann::json> eventsFrom(size_t from, std::chrono::milliseconds wait, bool& done);
  // The job as JSON: id, kind, every event so far, finished and result.
  nlohmann::json toJson() const;
  // The result given to finish (null before).
  nlohmann::json result() const;
  // When the job finished (for pruning old jobs).
  std::chrono::steady_clock::time_point finishedAt() const;
  // About how many bytes the events and the result hold (0 before the end).
  size_t keptBytes() const;

 private:
  std::string id_, kind_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<nlohmann::json> events_;
  bool finished_ = false;
  nlohmann::json result_;
  std::chrono::steady_clock::time_point finishedAt_;
  size_t keptBytes_ = 0;
  std::atomic<bool> cancelled_{false};
  std::function<void(nlohmann::json&)> finishing_;  // set before the work runs
};

// About how many bytes a JSON value takes in memory; walks the value with
// its own stack, so any depth is measured without recursion.
size_t jsonBytes(const nlohmann::json& value);

// A job refused because too many are waiting already (answered 503).
class JobsBusy : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// How much work the registry queues and how many finished jobs it keeps.
struct JobLimits {
  size_t maxQueued = 256;           // jobs waiting for a worker, in all
  size_t maxQueuedPerClient = 32;   // jobs waiting for a worker, from one client
  size_t maxKept = 200;             // finished jobs kept for late readers
  size_t maxKeptBytes = 64u << 20;  // their events and results together
  std::chrono::seconds keepFor{600};
  // A finished job that has been read is kept this long after its last
  // reading (a page that reconnects reads it again at once).
  std::chrono::seconds keepRead{30};
  // A result nobody has read yet is let go of for the caps only after this
  // long (its page is still polling), unless four times the bytes are kept.
  std::chrono::milliseconds unreadGrace{15000};
};

// Runs jobs on a small fixed set of worker threads, in the order they were
// started, and keeps them findable by id for a while after they end. Imports
// never take every worker, so summaries are computed while one runs.
// Destroying the registry cancels every job and joins the workers.
class JobRegistry {
 public:
  explicit JobRegistry(size_t workers = 4, JobLimits limits = {});
  ~JobRegistry();
  JobRegistry(const JobRegistry&) = delete;
  JobRegistry& operator=(const JobRegistry&) = delete;

  // Creates a job and queues `work` for a worker. An exception escaping the
  // work finishes the job with {"error": message}; a job the work left
  // unfinished is finished with a null result. Null once shut down. Throws
  // JobsBusy when the queue, or `client`'s share of it, is full (never for
  // "import" and "edit" jobs, which are bounded where they are asked for).
  // A job started with a `supersedes` key replaces the last job started
  // with it: that one leaves the queue at once (finished with
  // {"superseded": true}) or, when running, is cancelled.
  std::shared_ptr<Job> start(const std::string& kind, std::function<void(Job&)> work,
                             const std::string& client = {}, const std::string& supersedes = {});
  // The job with this id, or nullptr when unknown or pruned; reading a job
  // makes it the last to be let go of.
  std::shared_ptr<Job> find(const std::string& id);
  // Cancels every job and waits for every worker to end.
  void shutdown();
  // Asks every unfinished job but those of kind `except` to stop early.
  void cancelAllExcept(const std::string& except);
  // Number of jobs not yet finished (queued or running).
  size_t running();
  // Finished jobs kept now, and about how many bytes they hold.
  size_t kept();
  size_t keptBytes();
  // Work an idle worker does now and then besides letting go of expired jobs
  // (letting go of other expired results); returns about the bytes it freed.
  void setIdleWork(std::function<size_t()> work);

 private:
  struct Queued {
    std::shared_ptr<Job> job;
    std::function<void(Job&)> work;
    std::string client;
  };
  struct Entry {
    std::shared_ptr<Job> job;
    std::chrono::steady_clock::time_point lastUse;
    size_t bytes = 0;   // set once finished
    bool read = false;  // found after it had finished
  };
  // Lets go of expired finished jobs, then, until the count and bytes are
  // within the limits, of the least recently used: those already read
  // first, then unread ones past their grace; returns the bytes let go of.
  size_t prune();
  // Gives freed memory back to the system once the workers are idle.
  void trimIfIdle(size_t freed);
  void workerLoop();
  size_t limitFor(const std::string& kind) const;
  // Ends the job last started under `key` (mutex_ held).
  void supersede(const std::string& key);

  std::mutex mutex_;
  std::condition_variable wake_;
  JobLimits limits_;
  std::map<std::string, Entry> jobs_;
  std::deque<Queued> queue_;
  std::map<std::string, size_t> queuedByClient_;
  std::map<std::string, std::weak_ptr<Job>> latest_;  // by supersedes key
  size_t keptBytes_ = 0;                              // of finished jobs in jobs_
  size_t untrimmed_ = 0;                              // bytes let go of since memory was last given back
  size_t busy_ = 0;                                   // workers running a job
  std::function<size_t()> idleWork_;                  // see setIdleWork
  std::map<std::string, size_t> runningByKind_;
  std::vector<std::thread> workers_;
  size_t workerCount_;
  uint64_t next_ = 1;
  bool stopping_ = false;
};

}  // namespace tabulix::server
