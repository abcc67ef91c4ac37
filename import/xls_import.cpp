// Placeholder until the .xls reader lands: every .xls file is refused.
#include "import/xls_import.h"

namespace tabulix {

std::vector<std::string> xlsSheetNames(const std::filesystem::path& file) {
  throw WorkbookError("The file " + file.string() + " cannot be read: .xls workbooks are not supported yet.");
}

void readXlsSheet(const std::filesystem::path& file, int,
                  const std::function<bool(uint64_t, const std::vector<std::string>&)>&, const std::string&) {
  throw WorkbookError("The file " + file.string() + " cannot be read: .xls workbooks are not supported yet.");
}

}  // namespace tabulix
