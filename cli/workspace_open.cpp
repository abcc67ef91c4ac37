#include "cli/workspace_open.h"

#include <stdexcept>

#include "engine/log.h"

namespace tabulix::cli {

void openExistingWorkspace(Model& model, const std::filesystem::path& file) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec))
    throw std::runtime_error(file.string() + ": no such workspace file");
  std::string failure;
  LogSink previous = setLogSink([&](std::string_view line) {
    if (failure.empty()) failure = std::string(line);
  });
  // Commands that only read never create, upgrade or change the file.
  bool ok = model.openStore(file, StoreAccess::ReadOnly);
  setLogSink(previous);
  if (!ok) {
    // The log line reads "Unresolved error <description>, <details>".
    std::string reason = failure.rfind("Unresolved error ", 0) == 0 ? failure.substr(17) : failure;
    throw std::runtime_error(file.string() + ": cannot open workspace: " + reason);
  }
}

}  // namespace tabulix::cli
