#include "engine/log.h"

#include <iostream>
#include <mutex>

#include "engine/store.h"
#include "engine/translate.h"
#include "stats/log_hook.h"

namespace tabulix {

namespace {
std::mutex g_mutex;
std::function<void(std::string_view)> g_sink;
AlertHandler g_alert;
// The statistics library's diagnostic lines join this log from start-up on.
[[maybe_unused]] const bool g_statsLogInstalled =
    (setStatsLogHook([](std::string_view line) { logLine(line); }), true);
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

void showStoreError(std::string_view reason) {
  AlertHandler handler;
  {
    std::lock_guard lock(g_mutex);
    handler = g_alert;
  }
  if (!handler) return;
  // In a browser there is nothing to close: the page says what went wrong and
  // how to go on.
  std::string message;
  if (reason.empty()) {
    message = tr("Tabulix can't continue.\nReload the page or open another workspace.");
  } else {
    message = tr("Tabulix can't continue.\n%@.\nReload the page or open another workspace.");
    std::string why = tr(reason);
    while (!why.empty() && (why.back() == '.' || why.back() == ' ')) why.pop_back();
    if (size_t at = message.find("%@"); at != std::string::npos) message.replace(at, 2, why);
  }
  handler(tr("Error!"), message, tr("OK"));
}

void reportStoreError(const std::exception& error) {
  std::string details;
  if (auto* se = dynamic_cast<const StoreError*>(&error)) details = se->details();
  logLine("Unresolved error " + std::string(error.what()) + ", " + details);
  showStoreError(error.what());
}

}  // namespace tabulix
