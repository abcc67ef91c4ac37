#include "server/shared_model.h"

#include <condition_variable>
#include <map>

#include "engine/log.h"

namespace tabulix::server {

namespace {

thread_local AlertScope* t_scope = nullptr;
std::mutex g_waitingMutex;
std::vector<Alert> g_waiting;

}  // namespace

nlohmann::json toJson(const Alert& alert) {
  return {{"title", alert.title}, {"message", alert.message}, {"buttons", alert.buttons}};
}

AlertScope::AlertScope() : previous_(t_scope) { t_scope = this; }

AlertScope::~AlertScope() {
  t_scope = previous_;
  // Alerts nobody took are not lost: the next response shows them.
  if (!alerts_.empty()) {
    std::lock_guard lock(g_waitingMutex);
    for (auto& a : alerts_) g_waiting.push_back(std::move(a));
  }
}

std::vector<Alert> AlertScope::take() {
  std::vector<Alert> out;
  out.swap(alerts_);
  std::lock_guard lock(g_waitingMutex);
  for (auto& a : g_waiting) out.push_back(std::move(a));
  g_waiting.clear();
  return out;
}

void raiseAlert(Alert alert) {
  if (t_scope) {
    t_scope->add(std::move(alert));
    return;
  }
  std::lock_guard lock(g_waitingMutex);
  // A failing disk could raise the same alert for every cell; one suffices.
  if (g_waiting.size() < 8) g_waiting.push_back(std::move(alert));
}

void installAlertHandler() {
  setStoreErrorHandler([](const std::string& title, const std::string& message, const std::string& button) {
    raiseAlert({title, message, {button}});
  });
}

namespace {

// The background models alive on each workspace file. Never destroyed: a
// worker may end its model while the process exits.
struct BackgroundUses {
  std::mutex mutex;
  std::condition_variable released;
  std::map<std::string, size_t> count;
};
BackgroundUses& uses() {
  static BackgroundUses* u = new BackgroundUses;
  return *u;
}
std::string useKey(const std::filesystem::path& file) {
  std::error_code ec;
  return std::filesystem::absolute(file, ec).lexically_normal().string();
}

}  // namespace

std::shared_ptr<Model> backgroundModelOn(Model& shared) {
  auto file = shared.currentStore();
  std::string key = file ? useKey(*file) : std::string();
  auto* made = new Model(shared.coordinator());
  // Counted while the shared Model is held (so before anyone waits for the
  // file), uncounted once its connection is closed.
  if (file) {
    std::lock_guard lock(uses().mutex);
    ++uses().count[key];
  }
  std::shared_ptr<Model> background(made, [key](Model* m) {
    delete m;
    if (key.empty()) return;
    BackgroundUses& u = uses();
    {
      std::lock_guard lock(u.mutex);
      if (--u.count[key] == 0) u.count.erase(key);
    }
    u.released.notify_all();
  });
  // The number readers look at the coordinator's file when they are first
  // made; make them now, under the lock, so that the worker never reads the
  // coordinator while a request opens another workspace on it.
  background->numberReaders();
  background->detectDate();
  return background;
}

bool waitForBackgroundModels(const std::filesystem::path& file, std::chrono::milliseconds timeout) {
  BackgroundUses& u = uses();
  std::string key = useKey(file);
  std::unique_lock lock(u.mutex);
  return u.released.wait_for(lock, timeout, [&] { return u.count.find(key) == u.count.end(); });
}

size_t backgroundModelsOn(const std::filesystem::path& file) {
  BackgroundUses& u = uses();
  std::lock_guard lock(u.mutex);
  auto it = u.count.find(useKey(file));
  return it == u.count.end() ? 0 : it->second;
}

std::shared_ptr<Model> SharedModel::makeBackgroundModel() {
  return run([](Model& m) { return backgroundModelOn(m); });
}

}  // namespace tabulix::server
