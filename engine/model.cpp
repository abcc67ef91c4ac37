#include "engine/model.h"

#include <mutex>

#include "engine/log.h"
#include "engine/number_format.h"
#include "engine/preferences.h"
#include "engine/translate.h"

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

void Model::reportStoreError(const std::exception& e) {
  std::string details;
  if (auto* se = dynamic_cast<const StoreError*>(&e)) details = se->details();
  logLine("Unresolved error " + std::string(e.what()) + ", " + details);
  showCoreDataError(e.what());
}

bool Model::openStore(const fs::path& file) {
  closeStores();
  bool attached = true;
  try {
    coordinator_->addStore(file);
    context_->reconnect();
  } catch (const std::exception& e) {
    attached = false;
    reportStoreError(e);
  }
  // The upgrade keeps a copy of the original beside the store until the
  // upgraded store has opened.
  fs::path backup = file.parent_path() / (file.stem().string() + "~" + file.extension().string());
  std::error_code ec;
  if (fs::exists(backup, ec)) {
    fs::remove(backup, ec);
    if (ec) logLine("Unable to delete file: " + ec.message());
  }
  if (attached && metadataValueForKey("hasCellIndices") != OptText("YES")) {
    // Cell numbers themselves are filled while an older layout is upgraded
    // (they key the stored chunks); what is left is the column order.
    for (Column* c : context_->allColumns()) c->order = c->num;
    setMetadataValue("YES", "hasCellIndices");
  }
  saveContext();
  readers_.reset();
  return attached;
}

void Model::closeStores() {
  try {
    if (coordinator_->storeFile()) {
      coordinator_->removeStore();
      context_->reconnect();
    }
  } catch (const std::exception& e) {
    reportStoreError(e);
  }
}

bool Model::saveContext() {
  try {
    if (context_->hasChanges()) context_->save();
    return true;
  } catch (const std::exception& e) {
    reportStoreError(e);
    return false;
  }
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

std::string Model::statusLine(bool tablet) {
  std::string s = tr("None"), f = tr("N/A");
  size_t rows = 0, cols = 0;
  if (auto store = currentStore()) {
    s = store->filename().string();
    rows = context_->countRows();
    cols = context_->allColumns().size();
    OptText source = metadataValueForKey("dataSource");
    f = source ? fs::path(*source).filename().string() : std::string();
    if (f == "__EMPTY__") f = tr("Entered Manually");
  }
  if (tablet)
    return fillPlaceholders(tr("Open Workspace: %@, Source File: %@, Variables: %u, Observations: %u"),
                {s, f, std::to_string(cols), std::to_string(rows)});
  // "1 Variable": the singular wording where the locale's plural rules call for it.
  bool oneColumn = pluralIsOne(double(cols)), oneRow = pluralIsOne(double(rows));
  const char* format =
      oneColumn ? (oneRow ? "%@, %u Variable, %u Observation" : "%@, %u Variable, %u Observations")
                : (oneRow ? "%@, %u Variables, %u Observation" : "%@, %u Variables, %u Observations");
  return fillPlaceholders(tr(format), {s, std::to_string(cols), std::to_string(rows)});
}

int Model::timesSeenHelpKey(std::string_view key) {
  Preferences& p = prefs_ ? *prefs_ : Preferences::user();
  auto dict = p.valueForKey("timesSeenHelp");
  if (!dict.is_object()) return 0;
  auto it = dict.find(std::string(key));
  return it != dict.end() && it->is_number_integer() ? it->get<int>() : 0;
}

void Model::incrementTimesSeenHelpKey(std::string_view key) {
  Preferences& p = prefs_ ? *prefs_ : Preferences::user();
  auto dict = p.valueForKey("timesSeenHelp");
  if (!dict.is_object()) dict = nlohmann::json::object();
  dict[std::string(key)] = timesSeenHelpKey(key) + 1;
  p.setValue("timesSeenHelp", dict);
}

}  // namespace tabulix
