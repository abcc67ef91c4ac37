// What kind of file a path names, by its extension: the one classifier that
// the documents list, the import and the server use.
#pragma once

#include <filesystem>
#include <string>

namespace tabulix {

// The kinds of file the documents folder knows.
enum class FileKind {
  Workspace,      // .tbx
  DelimitedText,  // .csv, .txt
  Xlsx,           // .xlsx workbook
  Xls,            // .xls workbook
  StatFile,       // SPSS .sav, .zsav, .por; Stata .dta; SAS .sas7bdat, .xpt
  Other,          // anything else (imported as delimited text when asked)
};

// The extension without its dot, as written.
std::string extensionOf(const std::filesystem::path& file);
// The kind of the file, by its extension compared exactly with the lower-case
// ones ("data.CSV" is Other: listed nowhere, imported as delimited text).
FileKind fileKindOf(const std::filesystem::path& file);
// True for the kinds listed as data files: delimited text, workbooks and
// statistical files.
inline bool isDataFileKind(FileKind kind) {
  return kind == FileKind::DelimitedText || kind == FileKind::Xlsx || kind == FileKind::Xls ||
         kind == FileKind::StatFile;
}
// True for .xlsx and .xls workbooks.
inline bool isWorkbookKind(FileKind kind) { return kind == FileKind::Xlsx || kind == FileKind::Xls; }

}  // namespace tabulix
