// The failure of a workbook reader: the file cannot be read as a workbook.
#pragma once

#include <stdexcept>

namespace tabulix {

// A workbook that cannot be read; the message names the file and what is wrong.
struct WorkbookError : std::runtime_error {
  using runtime_error::runtime_error;
};

}  // namespace tabulix
