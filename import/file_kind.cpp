#include "import/file_kind.h"

namespace tabulix {

std::string extensionOf(const std::filesystem::path& file) {
  std::string e = file.extension().string();
  if (!e.empty() && e[0] == '.') e.erase(0, 1);
  return e;
}

FileKind fileKindOf(const std::filesystem::path& file) {
  const std::string e = extensionOf(file);
  if (e == "tbx") return FileKind::Workspace;
  if (e == "csv" || e == "txt") return FileKind::DelimitedText;
  if (e == "xlsx") return FileKind::Xlsx;
  if (e == "xls") return FileKind::Xls;
  if (e == "sav" || e == "zsav" || e == "por" || e == "dta" || e == "sas7bdat" || e == "xpt")
    return FileKind::StatFile;
  return FileKind::Other;
}

}  // namespace tabulix
