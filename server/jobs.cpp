#include "server/jobs.h"

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

JobRegistry::~JobRegistry() { shutdown(); }

std::shared_ptr<Job> JobRegistry::start(const std::string& kind, std::function<void(Job&)> work) {
  std::lock_guard lock(mutex_);
  if (stopping_) return nullptr;
  prune();
  // Ids are unguessable so that one page cannot read another's job by counting.
  std::string id = std::to_string(next_++) + "-" + randomToken().substr(0, 16);
  auto job = std::make_shared<Job>(id, kind);
  jobs_[id] = job;
  auto done = std::make_shared<std::atomic<bool>>(false);
  std::thread thread([job, done, work = std::move(work)] {
    try {
      work(*job);
    } catch (const std::exception& e) {
      logLine(std::string("Job ") + job->kind() + " failed: " + e.what());
      job->finish({{"error", e.what()}});
    }
    job->finish(nullptr);
    *done = true;
  });
  workers_.push_back({std::move(thread), done});
  return job;
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
  // Threads whose work has returned are joined as new ones start; such a
  // join waits for nothing but the thread's exit.
  for (auto it = workers_.begin(); it != workers_.end();) {
    if (*it->done) {
      it->thread.join();
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
}

void JobRegistry::shutdown() {
  std::vector<Worker> workers;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    for (auto& [id, job] : jobs_) job->cancel();
    workers.swap(workers_);
  }
  for (auto& w : workers)
    if (w.thread.joinable()) w.thread.join();
}

}  // namespace tabulix::server
