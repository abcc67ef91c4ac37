#include "engine/workspace_status.h"

#include "engine/number_format.h"
#include "engine/translate.h"

namespace tabulix {

namespace fs = std::filesystem;

std::string statusLine(Model& model, bool tablet) {
  std::string s = tr("None"), f = tr("N/A");
  size_t rows = 0, cols = 0;
  if (auto store = model.currentStore()) {
    s = store->filename().string();
    rows = model.context().countRows();
    cols = model.context().allColumns().size();
    OptText source = model.metadataValueForKey("dataSource");
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

int timesSeenHelpKey(Preferences& p, std::string_view key) {
  auto dict = p.valueForKey("timesSeenHelp");
  if (!dict.is_object()) return 0;
  auto it = dict.find(std::string(key));
  return it != dict.end() && it->is_number_integer() ? it->get<int>() : 0;
}

void incrementTimesSeenHelpKey(Preferences& p, std::string_view key) {
  auto dict = p.valueForKey("timesSeenHelp");
  if (!dict.is_object()) dict = nlohmann::json::object();
  dict[std::string(key)] = timesSeenHelpKey(p, key) + 1;
  p.setValue("timesSeenHelp", dict);
}

}  // namespace tabulix
