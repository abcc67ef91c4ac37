#include "server/shared_model.h"

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

std::unique_ptr<Model> backgroundModelOn(Model& shared) {
  auto background = std::make_unique<Model>(shared.coordinator());
  // The number readers look at the coordinator's file when they are first
  // made; make them now, under the lock, so that the worker never reads the
  // coordinator while a request opens another workspace on it.
  background->numberReaders();
  background->detectDate();
  return background;
}

std::unique_ptr<Model> SharedModel::makeBackgroundModel() {
  return run([](Model& m) { return backgroundModelOn(m); });
}

}  // namespace tabulix::server
