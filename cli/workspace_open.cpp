#include "cli/workspace_open.h"

#include <stdexcept>

namespace tabulix::cli {

void openExistingWorkspace(Model& model, const std::filesystem::path& file, StoreAccess access) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec))
    throw std::runtime_error(file.string() + ": no such workspace file");
  try {
    model.openStore(file, access);
  } catch (const StoreError& e) {
    throw std::runtime_error(file.string() + ": cannot open workspace: " + e.what());
  }
}

}  // namespace tabulix::cli
