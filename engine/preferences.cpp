#include "engine/preferences.h"

#include <cstdlib>
#include <fstream>

#include "engine/log.h"

namespace tabulix {

namespace fs = std::filesystem;

Preferences& Preferences::user() {
  static Preferences prefs([] {
    if (const char* d = std::getenv("TABULIX_CONFIG_DIR"); d && *d) return fs::path(d) / "preferences.json";
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) return fs::path(x) / "tabulix" / "preferences.json";
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : "/tmp") / ".config" / "tabulix" / "preferences.json";
  }());
  return prefs;
}

Preferences::Preferences(fs::path file) : file_(std::move(file)) {}

void Preferences::load() {
  if (loaded_) return;
  loaded_ = true;
  std::ifstream in(file_);
  if (!in) return;
  auto j = nlohmann::json::parse(in, nullptr, false);
  // A damaged file is replaced on the next write rather than stopping the program.
  if (j.is_object()) {
    values_ = std::move(j);
  } else {
    logLine("Ignoring unreadable preferences file: " + file_.string());
  }
}

nlohmann::json Preferences::valueForKey(const std::string& key) {
  std::lock_guard lock(mutex_);
  load();
  auto it = values_.find(key);
  return it == values_.end() ? nlohmann::json() : *it;
}

void Preferences::setValue(const std::string& key, nlohmann::json value) {
  std::lock_guard lock(mutex_);
  load();
  values_[key] = std::move(value);
  std::error_code ec;
  fs::create_directories(file_.parent_path(), ec);
  fs::path tmp = file_;
  tmp += ".tmp";
  {
    std::ofstream out(tmp, std::ios::trunc);
    out << values_.dump(2) << '\n';
    if (!out) {
      logLine("Unable to write preferences: " + file_.string());
      return;
    }
  }
  fs::rename(tmp, file_, ec);
  if (ec) logLine("Unable to write preferences: " + file_.string() + ": " + ec.message());
}

}  // namespace tabulix
