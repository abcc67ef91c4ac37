#include "stats/log_hook.h"

#include <atomic>

namespace tabulix {

namespace {
// Set once at start-up and read from any thread.
std::atomic<StatsLogHook> g_hook{nullptr};
}  // namespace

StatsLogHook setStatsLogHook(StatsLogHook hook) { return g_hook.exchange(hook); }

void statsLog(std::string_view line) {
  if (const StatsLogHook hook = g_hook.load()) hook(line);
}

}  // namespace tabulix
