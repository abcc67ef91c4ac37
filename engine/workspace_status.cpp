#include "engine/workspace_status.h"

#include "engine/number_format.h"
#include "engine/translate.h"

namespace tabulix {

namespace fs = std::filesystem;

namespace {

// Replaces each "%@" or "%u" in order with the given texts.
std::string fill(std::string format, std::initializer_list<std::string> args) {
  auto it = args.begin();
  size_t pos = 0;
  while (it != args.end() && (pos = format.find('%', pos)) != std::string::npos) {
    if (pos + 1 < format.size() && (format[pos + 1] == '@' || format[pos + 1] == 'u')) {
      format.replace(pos, 2, *it);
      pos += it->size();
      ++it;
    } else {
      ++pos;
    }
  }
  return format;
}

}  // namespace

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
    return fill(tr("Open Workspace: %@, Source File: %@, Variables: %u, Observations: %u"),
                {s, f, std::to_string(cols), std::to_string(rows)});
  // "1 Variable": the singular wording where the locale's plural rules call for it.
  bool oneColumn = pluralIsOne(double(cols)), oneRow = pluralIsOne(double(rows));
  const char* format =
      oneColumn ? (oneRow ? "%@, %u Variable, %u Observation" : "%@, %u Variable, %u Observations")
                : (oneRow ? "%@, %u Variables, %u Observation" : "%@, %u Variables, %u Observations");
  return fill(tr(format), {s, std::to_string(cols), std::to_string(rows)});
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
