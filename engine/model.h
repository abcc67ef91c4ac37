// The engine object: one open workspace store and the shared services.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "engine/records.h"
#include "engine/store.h"

namespace tabulix {

class NumberReaders;
class DateDetector;
class Preferences;

// Holds the store of the open workspace (a coordinator and one context on
// it), the number readers for the workspace's decimal separator, the date
// detector and the statistics library. The shared instance serves the
// screens; workers make their own instance, either on a new coordinator
// (import) or on the shared one (statistics after edits).
class Model {
 public:
  // The shared instance, created once on first call (thread-safe).
  static Model& sharedModel();
  // An instance with its own coordinator and no store attached.
  Model();
  // An instance with its own context on an existing coordinator.
  explicit Model(std::shared_ptr<StoreCoordinator> coordinator);
  ~Model();
  Model(const Model&) = delete;
  Model& operator=(const Model&) = delete;

  // Closes any open store and opens (creating if needed) a workspace file,
  // upgrading it; returns false when the file could not be attached (the
  // failure has been logged and reported as the "Error!" alert).
  bool openStore(const std::filesystem::path& file);
  // Detaches the store; failures are logged and reported, never thrown.
  void closeStores();
  // Saves unsaved changes, if any; returns false after a reported failure.
  bool saveContext();
  // The attached workspace file, if any.
  std::optional<std::filesystem::path> currentStore() const;

  // The Metadata record with exactly this key, or nullptr.
  Metadata* metadataForKey(std::string_view key);
  // The value stored under a key, or none.
  OptText metadataValueForKey(std::string_view key);
  // Sets (inserting if needed) the value of a key and saves; the number
  // readers are rebuilt when the key is "decimalSeparator".
  void setMetadataValue(std::string_view value, std::string_view key);

  // One line describing the open workspace, in the tablet or the phone form.
  std::string statusLine(bool tablet = false);

  // How often the help tip with this key was shown (0 if never).
  int timesSeenHelpKey(std::string_view key);
  // Counts one more showing of a help tip.
  void incrementTimesSeenHelpKey(std::string_view key);
  // The preferences file used for the help counters (default: the user's).
  void setPreferences(Preferences* prefs) { prefs_ = prefs; }

  // The object context every record of this instance goes through.
  Context& context() { return *context_; }
  // The store coordinator, for background instances on the same store.
  const std::shared_ptr<StoreCoordinator>& coordinator() const { return coordinator_; }

  // The number readers for this workspace's decimal separator (made on first use).
  const NumberReaders& numberReaders();
  // The date detector (made on first use and kept).
  const DateDetector& detectDate();
  // Drops the number readers so that the next use rebuilds them.
  void dropNumberReaders() { readers_.reset(); }

 private:
  void reportStoreError(const std::exception& e);

  std::shared_ptr<StoreCoordinator> coordinator_;
  std::unique_ptr<Context> context_;
  std::shared_ptr<NumberReaders> readers_;
  std::shared_ptr<DateDetector> detector_;
  Preferences* prefs_ = nullptr;
};

}  // namespace tabulix
