// Per-user preferences: a JSON file under the user's configuration folder.
#pragma once

#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace tabulix {

// The user's key/value preferences, read on first use and written back whole
// (to a temporary file renamed over the old one) on every change.
class Preferences {
 public:
  // The preferences of the user running the program: $TABULIX_CONFIG_DIR,
  // else $XDG_CONFIG_HOME/tabulix, else ~/.config/tabulix, file preferences.json.
  static Preferences& user();
  // Preferences kept in the given file (tests, a server's own folder).
  explicit Preferences(std::filesystem::path file);

  // The value stored under a key, or null.
  nlohmann::json valueForKey(const std::string& key);
  // Stores a value under a key and writes the file.
  void setValue(const std::string& key, nlohmann::json value);
  // Where the preferences are kept.
  const std::filesystem::path& file() const { return file_; }

 private:
  void load();
  std::filesystem::path file_;
  std::mutex mutex_;
  bool loaded_ = false;
  nlohmann::json values_ = nlohmann::json::object();
};

}  // namespace tabulix
