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
  // upgrading it. ReadOnly never creates, upgrades or writes the file.
  // Throws StoreError when the file cannot be attached; no store is then
  // open. Store errors are reported once, where they reach the front end
  // (reportStoreError), not here.
  void openStore(const std::filesystem::path& file, StoreAccess access = StoreAccess::OpenOrCreate);
  // Detaches the store.
  void closeStores();
  // Saves unsaved changes, if any, in one transaction. Throws StoreError on
  // failure; the changes then stay pending and the file as last saved.
  void saveContext();
  // The attached workspace file, if any.
  std::optional<std::filesystem::path> currentStore() const;

  // The Metadata record with exactly this key, or nullptr.
  Metadata* metadataForKey(std::string_view key);
  // The value stored under a key, or none.
  OptText metadataValueForKey(std::string_view key);
  // Sets (inserting if needed) the value of a key and saves (throwing
  // StoreError as saveContext); the number readers are rebuilt when the key
  // is "decimalSeparator".
  void setMetadataValue(std::string_view value, std::string_view key);

  // The object context every record of this instance goes through.
  Context& context() { return *context_; }
  // The store coordinator, for background instances on the same store.
  const std::shared_ptr<StoreCoordinator>& coordinator() const { return coordinator_; }

  // The number readers for this workspace's decimal separator (made on first use).
  const NumberReaders& numberReaders();
  // The date detector (made on first use and kept).
  const DateDetector& detectDate();
  // Drops the number readers so that the next use rebuilds them.
  void dropNumberReaders() {
    readers_.reset();
    detector_.reset();
  }

 private:
  std::shared_ptr<StoreCoordinator> coordinator_;
  std::unique_ptr<Context> context_;
  std::shared_ptr<NumberReaders> readers_;
  std::shared_ptr<DateDetector> detector_;
};

}  // namespace tabulix
