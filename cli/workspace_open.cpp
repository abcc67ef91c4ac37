#include "cli/workspace_open.h"

#include <stdexcept>

namespace tabulix::cli {

void openExistingWorkspace(Model& model, const std::filesystem::path& file) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec))
    throw std::runtime_error(file.string() + ": no such workspace file");
  try {
    // Commands that only read never create, upgrade or change the file.
    model.openStore(file, StoreAccess::ReadOnly);
  } catch (const StoreError& e) {
    throw std::runtime_error(file.string() + ": cannot open workspace: " + e.what());
  }
}

}  // namespace tabulix::cli
