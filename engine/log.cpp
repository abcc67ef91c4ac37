#include "engine/log.h"

#include <iostream>
#include <mutex>

#include "engine/store.h"
#include "engine/translate.h"

namespace tabulix {

namespace {
std::mutex g_mutex;
std::function<void(std::string_view)> g_sink;
AlertHandler g_alert;
}  // namespace

void logLine(std::string_view line) {
  std::lock_guard lock(g_mutex);
  if (g_sink) {
    g_sink(line);
  } else {
    std::cerr << line << '\n';
  }
}

LogSink setLogSink(LogSink sink) {
  std::lock_guard lock(g_mutex);
  std::swap(g_sink, sink);
  return sink;
}

void setStoreErrorHandler(AlertHandler handler) {
  std::lock_guard lock(g_mutex);
  g_alert = std::move(handler);
}

void showCoreDataError() {
  AlertHandler handler;
  {
    std::lock_guard lock(g_mutex);
    handler = g_alert;
  }
  if (handler) handler(tr("Error!"), tr("Tabulix can't continue.\nPress the Home button to close Tabulix."), tr("OK"));
}

void reportStoreError(const std::exception& error) {
  std::string details;
  if (auto* se = dynamic_cast<const StoreError*>(&error)) details = se->details();
  logLine("Unresolved error " + std::string(error.what()) + ", " + details);
  showCoreDataError();
}

}  // namespace tabulix
