#include "engine/model.h"

#include <mutex>

#include "engine/log.h"

namespace tabulix {

namespace fs = std::filesystem;

Model& Model::sharedModel() {
  static Model shared;  // initialised once, even under concurrent first calls
  return shared;
}

Model::Model() : Model(std::make_shared<StoreCoordinator>()) {}

Model::Model(std::shared_ptr<StoreCoordinator> coordinator)
    : coordinator_(std::move(coordinator)), context_(std::make_unique<Context>(coordinator_)) {}

Model::~Model() = default;

void Model::openStore(const fs::path& file, StoreAccess access) {
  closeStores();
  try {
    coordinator_->addStore(file, access);
    context_->reconnect();
  } catch (...) {
    // The file stays as it was; a backup an earlier, interrupted upgrade
    // left beside it is the user's copy of the original and stays too.
    coordinator_->removeStore();
    context_->reconnect();
    throw;
  }
  readers_.reset();
  if (access == StoreAccess::ReadOnly) return;
  if (metadataValueForKey("hasCellIndices") != OptText("YES")) {
    // Cell numbers themselves are filled while an older layout is upgraded
    // (they key the stored chunks); what is left is the column order.
    for (Column* c : context_->allColumns()) c->order = c->num;
    setMetadataValue("YES", "hasCellIndices");
  }
  saveContext();
  // The upgrade kept a copy of the original beside the store until the
  // upgraded store had opened; that copy, and no other file, goes now.
  if (auto backup = coordinator_->upgradeBackup()) {
    std::error_code ec;
    fs::remove(*backup, ec);
    if (ec) logLine("Unable to delete file: " + ec.message());
  }
}

void Model::closeStores() {
  if (coordinator_->storeFile()) {
    coordinator_->removeStore();
    context_->reconnect();
  }
}

void Model::saveContext() {
  if (context_->hasChanges()) context_->save();
}

std::optional<fs::path> Model::currentStore() const { return coordinator_->storeFile(); }

Metadata* Model::metadataForKey(std::string_view key) {
  for (Metadata* m : context_->allMetadata())
    if (m->key && *m->key == key) return m;
  return nullptr;
}

OptText Model::metadataValueForKey(std::string_view key) {
  Metadata* m = metadataForKey(key);
  return m ? m->value : std::nullopt;
}

void Model::setMetadataValue(std::string_view value, std::string_view key) {
  Metadata* m = metadataForKey(key);
  if (!m) m = context_->insertMetadata();
  m->key = std::string(key);
  m->value = std::string(value);
  if (key == "decimalSeparator") readers_.reset();
  saveContext();
}

}  // namespace tabulix
