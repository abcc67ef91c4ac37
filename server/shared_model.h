// The shared Model of the server and the one-at-a-time access to it, with
// the alerts that store failures raise while a request uses it.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "engine/model.h"

namespace tabulix::server {

// An alert for the browser to show: title, message and buttons.
struct Alert {
  std::string title;
  std::string message;
  std::vector<std::string> buttons;
};
nlohmann::json toJson(const Alert& alert);

// Collects the alerts raised on this thread while it lives (store failures
// reported through showStoreError); alerts raised on threads without a
// collector wait in a process-wide list for the next response to carry them.
class AlertScope {
 public:
  AlertScope();
  ~AlertScope();
  AlertScope(const AlertScope&) = delete;
  AlertScope& operator=(const AlertScope&) = delete;
  // The alerts of this scope plus any waiting ones, emptying both.
  std::vector<Alert> take();
  // Adds an alert to this scope.
  void add(Alert alert) { alerts_.push_back(std::move(alert)); }

 private:
  std::vector<Alert> alerts_;
  AlertScope* previous_;
};

// Routes the engine's store failure alert into the collectors above.
void installAlertHandler();
// Adds an alert as if it had been raised on this thread.
void raiseAlert(Alert alert);

// A Model with its own context on the shared Model's coordinator, ready for
// a worker; call it while holding the shared Model (inside SharedModel::run).
// Each one is counted against its workspace file until it is destroyed
// (waitForBackgroundModels), so that the file is never replaced under its
// connection.
std::shared_ptr<Model> backgroundModelOn(Model& shared);
// Waits until no background model is connected to `file`, up to `timeout`;
// false when some still are.
bool waitForBackgroundModels(const std::filesystem::path& file, std::chrono::milliseconds timeout);
// How many background models are connected to `file` now.
size_t backgroundModelsOn(const std::filesystem::path& file);

// The shared Model: every use goes through run(), which lets one thread at a
// time touch it (the Model and its context are not thread-safe). Workers make
// their own Model, on this one's coordinator (makeBackgroundModel) or on a
// new one, and hand results back through run().
class SharedModel {
 public:
  explicit SharedModel(Model& model) : model_(model) {}

  // Runs f(model) with exclusive use of the shared Model.
  template <class F>
  auto run(F&& f) -> decltype(f(std::declval<Model&>())) {
    std::lock_guard lock(mutex_);
    return f(model_);
  }

  // A Model with its own context on the shared coordinator, connected to the
  // workspace open now; made under the lock, then used by one worker alone.
  // Must not be called from inside run().
  std::shared_ptr<Model> makeBackgroundModel();

  // Counts workspace openings, so that pages can tell that the other tabs
  // must return to their first screen. Read and bumped inside run().
  uint64_t generation() const { return generation_; }
  void bumpGeneration() { ++generation_; }
  // Set when the workspace just opened was created empty: Browse starts in
  // edit mode once. Read and changed inside run().
  bool initialEdit = false;

 private:
  Model& model_;
  std::mutex mutex_;
  uint64_t generation_ = 1;
};

}  // namespace tabulix::server
