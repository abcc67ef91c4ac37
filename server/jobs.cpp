#include "server/jobs.h"

#include <algorithm>

#include "engine/log.h"
#include "server/security.h"

namespace tabulix::server {

void Job::post(nlohmann::json event) {
  {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
  }
  changed_.notify_all();
}

void Job::finish(nlohmann::json result) {
  {
    std::lock_guard lock(mutex_);
    if (finished_) return;
    finished_ = true;
    result_ = std::move(result);
    finishedAt_ = std::chrono::steady_clock::now();
  }
  changed_.notify_all();
}

bool Job::finished() const {
  std::lock_guard lock(mutex_);
  return finished_;
}

std::vector<nlohmann::json> Job::eventsFrom(size_t from, std::chrono::milliseconds wait, bool& done) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, wait, [&] { return finished_ || events_.size() > from; });
  done = finished_;
  if (from >= events_.size()) return {};
  return {events_.begin() + static_cast<std::ptrdiff_t>(from), events_.end()};
}

nlohmann::json Job::toJson() const {
  std::lock_guard lock(mutex_);
  return {{"id", id_}, {"kind", kind_}, {"events", events_}, {"finished", finished_}, {"result", result_}};
}

nlohmann::json Job::result() const {
  std::lock_guard lock(mutex_);
  return result_;
}

std::chrono::steady_clock::time_point Job::finishedAt() const {
  std::lock_guard lock(mutex_);
  return finishedAt_;
}

JobRegistry::JobRegistry(size_t workers) : workerCount_(std::max<size_t>(workers, 2)) {
  for (size_t i = 0; i < workerCount_; ++i) workers_.emplace_back([this] { workerLoop(); });
}

JobRegistry::~JobRegistry() { shutdown(); }

size_t JobRegistry::limitFor(const std::string& kind) const {
  // One worker is always left for the short jobs.
  return kind == "import" ? workerCount_ - 1 : workerCount_;
}

std::shared_ptr<Job> JobRegistry::start(const std::string& kind, std::function<void(Job&)> work) {
  std::shared_ptr<Job> job;
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return nullptr;
    prune();
    // Ids are unguessable so that one page cannot read another's job by counting.
    std::string id = std::to_string(next_++) + "-" + randomToken().substr(0, 16);
    job = std::make_shared<Job>(id, kind);
    jobs_[id] = job;
    queue_.push_back({job, std::move(work)});
  }
  wake_.notify_all();
  return job;
}

void JobRegistry::workerLoop() {
  for (;;) {
    Queued next;
    {
      std::unique_lock lock(mutex_);
      auto pick = [&] {
        for (auto it = queue_.begin(); it != queue_.end(); ++it)
          if (runningByKind_[it->job->kind()] < limitFor(it->job->kind())) return it;
        return queue_.end();
      };
      wake_.wait(lock, [&] { return stopping_ || pick() != queue_.end(); });
      // Once stopping, queued work is not started (shutdown ends it).
      if (stopping_) return;
      auto it = pick();
      next = std::move(*it);
      queue_.erase(it);
      ++runningByKind_[next.job->kind()];
    }
    Job& job = *next.job;
    try {
      next.work(job);
    } catch (const std::exception& e) {
      logLine(std::string("Job ") + job.kind() + " failed: " + e.what());
      job.finish({{"error", e.what()}});
    }
    job.finish(nullptr);
    {
      std::lock_guard lock(mutex_);
      --runningByKind_[job.kind()];
    }
    wake_.notify_all();
  }
}

std::shared_ptr<Job> JobRegistry::find(const std::string& id) {
  std::lock_guard lock(mutex_);
  auto it = jobs_.find(id);
  return it == jobs_.end() ? nullptr : it->second;
}

size_t JobRegistry::running() {
  std::lock_guard lock(mutex_);
  size_t n = 0;
  for (auto& [id, job] : jobs_)
    if (!job->finished()) ++n;
  return n;
}

void JobRegistry::prune() {
  // Finished jobs stay readable for ten minutes: a page that reconnects late
  // still learns how its import ended.
  auto now = std::chrono::steady_clock::now();
  for (auto it = jobs_.begin(); it != jobs_.end();) {
    if (it->second->finished() && now - it->second->finishedAt() > std::chrono::minutes(10))
      it = jobs_.erase(it);
    else
      ++it;
  }
}

void JobRegistry::cancelAllExcept(const std::string& except) {
  std::lock_guard lock(mutex_);
  for (auto& [id, job] : jobs_)
    if (job->kind() != except && !job->finished()) job->cancel();
}

void JobRegistry::shutdown() {
  std::vector<std::thread> workers;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    for (auto& [id, job] : jobs_) job->cancel();
    workers.swap(workers_);
  }
  wake_.notify_all();
  for (auto& w : workers)
    if (w.joinable()) w.join();
  // Work that never started ends as cancelled, so that its readers stop waiting.
  std::lock_guard lock(mutex_);
  for (auto& q : queue_) q.job->finish({{"error", "cancelled"}});
  queue_.clear();
}

}  // namespace tabulix::server
