// Opening a workspace file for a command, with the command-line's errors.
#pragma once

#include <filesystem>
#include <string>

#include "engine/model.h"

namespace tabulix::cli {

// Opens an existing workspace in the model. A missing file, a file that is
// not a workspace or a damaged one throws std::runtime_error naming the file
// (exit status 2) and leaves the file as it was.
// Commands that only read pass StoreAccess::ReadOnly: the file is then never
// created, upgraded or changed.
void openExistingWorkspace(Model& model, const std::filesystem::path& file,
                           StoreAccess access = StoreAccess::OpenOrCreate);

}  // namespace tabulix::cli
