#include "server/jobs.h"

#include <malloc.h>

#include <algorithm>
#include <vector>

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
  if (finished()) return;
  if (finishing_) finishing_(result);
  {
    std::lock_guard lock(mutex_);
    if (finished_) return;
    finished_ = true;
    result_ = std::move(result);
    finishedAt_ = std::chrono::steady_clock::now();
    keptBytes_ = jsonBytes(result_);
    for (const auto& e : events_) keptBytes_ += jsonBytes(e);
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

size_t Job::keptBytes() const {
  std::lock_guard lock(mutex_);
  return keptBytes_;
}

size_t jsonBytes(const nlohmann::json& value) {
  size_t total = 0;
  std::vector<const nlohmann::json*> todo{&value};
  while (!todo.empty()) {
    const nlohmann::json* v = todo.back();
    todo.pop_back();
    // The value itself; strings, arrays and objects add a block of their
    // own (with the allocator's 16 bytes) beside their contents.
    total += sizeof(nlohmann::json);
    if (v->is_string()) {
      total += sizeof(std::string) + 16 + v->get_ref<const std::string&>().capacity();
    } else if (v->is_object()) {
      total += 64;
      for (auto it = v->begin(); it != v->end(); ++it) {
        total += it.key().size() + 64;  // the key and its tree node
        todo.push_back(&it.value());
      }
    } else if (v->is_array()) {
      total += 40 + 16;
      for (const auto& e : *v) todo.push_back(&e);
    } else if (v->is_binary()) {
      total += v->get_binary().size();
    }
  }
  return total;
}

JobRegistry::JobRegistry(size_t workers, JobLimits limits)
    : limits_(limits), workerCount_(std::max<size_t>(workers, 2)) {
  for (size_t i = 0; i < workerCount_; ++i) workers_.emplace_back([this] { workerLoop(); });
}

JobRegistry::~JobRegistry() { shutdown(); }

size_t JobRegistry::limitFor(const std::string& kind) const {
  // One worker is always left for the short jobs.
  return kind == "import" ? workerCount_ - 1 : workerCount_;
}

void JobRegistry::supersede(const std::string& key) {
  auto last = latest_.find(key);
  if (last == latest_.end()) return;
  std::shared_ptr<Job> old = last->second.lock();
  latest_.erase(last);
  if (!old || old->finished()) return;
  old->cancel();
  auto queued = std::find_if(queue_.begin(), queue_.end(), [&](const Queued& q) { return q.job == old; });
  if (queued == queue_.end()) return;  // running: it sees cancelled() and ends early
  if (!queued->client.empty()) {
    auto c = queuedByClient_.find(queued->client);
    if (c != queuedByClient_.end() && --c->second == 0) queuedByClient_.erase(c);
  }
  queue_.erase(queued);
  old->finish({{"error", "superseded"}, {"superseded", true}});
  if (auto it = jobs_.find(old->id()); it != jobs_.end()) {
    it->second.bytes = old->keptBytes();
    keptBytes_ += it->second.bytes;
  }
}

std::shared_ptr<Job> JobRegistry::start(const std::string& kind, std::function<void(Job&)> work,
                                        const std::string& client, const std::string& supersedes) {
  std::shared_ptr<Job> job;
  size_t freed = 0;
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return nullptr;
    // The job it replaces goes first, so that it does not count against the caps.
    if (!supersedes.empty()) supersede(supersedes);
    // A flood of requests is refused here, before its jobs hold anything;
    // each queued job is only its closure until a worker takes it.
    // Imports (one per target file, claimed first) and the end of an editing
    // session (whose cells are already saved) are never refused.
    bool capped = kind != "import" && kind != "edit";
    if (capped && queue_.size() >= limits_.maxQueued)
      throw JobsBusy("the server has too much work waiting; try again in a moment");
    if (capped && !client.empty() && queuedByClient_[client] >= limits_.maxQueuedPerClient)
      throw JobsBusy("this client has too much work waiting; try again when it is done");
    freed = prune();
    // Ids are unguessable so that one page cannot read another's job by counting.
    std::string id = std::to_string(next_++) + "-" + randomToken().substr(0, 16);
    job = std::make_shared<Job>(id, kind);
    jobs_[id] = {job, std::chrono::steady_clock::now(), 0};
    queue_.push_back({job, std::move(work), client});
    if (!client.empty()) ++queuedByClient_[client];
    if (!supersedes.empty()) {
      latest_[supersedes] = job;
      // Keys of pages gone long ago are dropped with their jobs.
      std::erase_if(latest_, [](const auto& entry) { return entry.second.expired(); });
    }
  }
  wake_.notify_all();
  trimIfIdle(freed);
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
      // An idle worker still lets go of expired results now and then, so
      // that memory goes back once the load has passed.
      while (!wake_.wait_for(lock, std::chrono::seconds(5),
                             [&] { return stopping_ || pick() != queue_.end(); })) {
        size_t freed = prune();
        if (idleWork_) {
          const auto work = idleWork_;
          lock.unlock();
          freed += work();
          lock.lock();
        }
        if (freed > 0 && busy_ == 0 && queue_.empty()) {
          untrimmed_ = 0;
          lock.unlock();
          ::malloc_trim(0);
          lock.lock();
        }
      }
      // Once stopping, queued work is not started (shutdown ends it).
      if (stopping_) return;
      auto it = pick();
      next = std::move(*it);
      queue_.erase(it);
      if (!next.client.empty()) {
        auto c = queuedByClient_.find(next.client);
        if (c != queuedByClient_.end() && --c->second == 0) queuedByClient_.erase(c);
      }
      ++runningByKind_[next.job->kind()];
      ++busy_;
    }
    Job& job = *next.job;
    try {
      next.work(job);
    } catch (const std::exception& e) {
      logLine(std::string("Job ") + job.kind() + " failed: " + e.what());
      job.finish({{"error", e.what()}});
    } catch (...) {
      // Whatever the work throws ends its job, never the process.
      logLine("Job " + job.kind() + " failed");
      job.finish({{"error", "unexpected failure"}});
    }
    job.finish(nullptr);
    next.work = nullptr;  // what the work captured goes now, not with the next job
    size_t freed = 0;
    {
      std::lock_guard lock(mutex_);
      --runningByKind_[job.kind()];
      --busy_;
      if (auto it = jobs_.find(job.id()); it != jobs_.end()) {
        it->second.bytes = job.keptBytes();
        it->second.lastUse = std::chrono::steady_clock::now();
        keptBytes_ += it->second.bytes;
      }
      freed = prune();
    }
    next.job.reset();
    wake_.notify_all();
    trimIfIdle(freed + 1);
  }
}

void JobRegistry::setIdleWork(std::function<size_t()> work) {
  std::lock_guard lock(mutex_);
  idleWork_ = std::move(work);
}

void JobRegistry::trimIfIdle(size_t freed) {
  std::lock_guard lock(mutex_);
  untrimmed_ += freed;
  // Large results are freed into the allocator's arenas, which keep them;
  // once nothing runs, the pages go back to the system.
  if (busy_ > 0 || !queue_.empty() || untrimmed_ == 0) return;
  untrimmed_ = 0;
  ::malloc_trim(0);
}

std::shared_ptr<Job> JobRegistry::find(const std::string& id) {
  std::lock_guard lock(mutex_);
  auto it = jobs_.find(id);
  if (it == jobs_.end()) return nullptr;
  it->second.lastUse = std::chrono::steady_clock::now();
  if (it->second.job->finished()) it->second.read = true;
  return it->second.job;
}

size_t JobRegistry::running() {
  std::lock_guard lock(mutex_);
  size_t n = 0;
  for (auto& [id, e] : jobs_)
    if (!e.job->finished()) ++n;
  return n;
}

size_t JobRegistry::kept() {
  std::lock_guard lock(mutex_);
  size_t n = 0;
  for (auto& [id, e] : jobs_)
    if (e.job->finished()) ++n;
  return n;
}

size_t JobRegistry::keptBytes() {
  std::lock_guard lock(mutex_);
  return keptBytes_;
}

size_t JobRegistry::prune() {
  // Finished jobs stay readable for a while (ten minutes by default): a page
  // that reconnects late still learns how its import ended. Within that,
  // the count and bytes kept are bounded, the least recently read first to go.
  auto now = std::chrono::steady_clock::now();
  size_t freed = 0, finished = 0;
  for (auto it = jobs_.begin(); it != jobs_.end();) {
    bool done = it->second.job->finished();
    // A result already read goes soon after its last reading.
    bool expired = done && (now - it->second.job->finishedAt() > limits_.keepFor ||
                            (it->second.read && now - it->second.lastUse > limits_.keepRead));
    if (expired) {
      freed += it->second.bytes;
      keptBytes_ -= it->second.bytes;
      it = jobs_.erase(it);
    } else {
      finished += done;
      ++it;
    }
  }
  while (finished > limits_.maxKept || keptBytes_ > limits_.maxKeptBytes) {
    // The rank of a finished job for letting go: read ones first, then
    // unread past their grace, then (only far over the bytes) the rest.
    const bool farOver = keptBytes_ > 4 * limits_.maxKeptBytes;
    auto rank = [&](const Entry& e) {
      if (e.read) return 0;
      return now - e.job->finishedAt() > limits_.unreadGrace ? 1 : farOver ? 2 : 3;
    };
    auto oldest = jobs_.end();
    int best = 3;
    for (auto it = jobs_.begin(); it != jobs_.end(); ++it) {
      if (!it->second.job->finished()) continue;
      int r = rank(it->second);
      if (r < best || (r == best && r < 3 && it->second.lastUse < oldest->second.lastUse)) {
        best = r;
        oldest = it;
      }
    }
    if (oldest == jobs_.end()) break;
    freed += oldest->second.bytes;
    keptBytes_ -= oldest->second.bytes;
    jobs_.erase(oldest);
    --finished;
  }
  return freed;
}

void JobRegistry::cancelAllExcept(const std::string& except) {
  std::lock_guard lock(mutex_);
  for (auto& [id, e] : jobs_)
    if (e.job->kind() != except && !e.job->finished()) e.job->cancel();
}

void JobRegistry::shutdown() {
  std::vector<std::thread> workers;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    for (auto& [id, e] : jobs_) e.job->cancel();
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
