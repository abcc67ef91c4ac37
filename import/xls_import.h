// Reading .xls workbooks (BIFF8 records in an OLE2 compound file).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "import/workbook_error.h"

namespace tabulix {

// Sheet names of an .xls workbook in workbook order (hidden sheets included).
std::vector<std::string> xlsSheetNames(const std::filesystem::path& file);  // throws WorkbookError
// Reads sheet `sheetIndex` (0-based) and delivers lines: line numbers from 1, each line's fields
// as UTF-8 texts (dates already formatted). `deliver` returns false to cancel.
void readXlsSheet(const std::filesystem::path& file, int sheetIndex,
                  const std::function<bool(uint64_t line, const std::vector<std::string>& fields)>& deliver,
                  const std::string& localeName);  // throws WorkbookError

}  // namespace tabulix
