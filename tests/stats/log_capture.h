// Collects the statistics library's diagnostic lines (stats/log_hook.h) while alive.
#pragma once

#include <sstream>
#include <string_view>

#include "stats/log_hook.h"

namespace tabulix {

// Installs itself as the library's log receiver; the previous one is restored on destruction.
struct LogCapture {
  std::ostringstream text;
  StatsLogHook previous;
  LogCapture() {
    current() = &text;
    previous = setStatsLogHook([](std::string_view line) { *current() << line << '\n'; });
  }
  ~LogCapture() {
    setStatsLogHook(previous);
    current() = nullptr;
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

 private:
  static std::ostringstream*& current() {
    static std::ostringstream* stream = nullptr;
    return stream;
  }
};

}  // namespace tabulix
