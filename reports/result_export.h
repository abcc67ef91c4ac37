// A result handed on as two files at once: its CSV lines and its PDF
// report, written into a private temporary folder per request (so that two
// requests never overwrite each other's files), named after the result.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "reports/layout.h"
#include "reports/pdf_writer.h"
#include "textio/csv_writer.h"

namespace tabulix::reports {

// The two files of one export and the base name they are offered under.
struct ExportedResult {
  std::filesystem::path dir;  // removed by removeExport
  std::filesystem::path csv;  // dir/results.csv
  std::filesystem::path pdf;  // dir/export.pdf
  std::string baseName;       // the files are offered as baseName + ".csv" / ".pdf"
};

// Writes results.csv through `writeCSVLines` and export.pdf from the print
// layout with the furniture on every page. Throws std::runtime_error when the folder cannot be made and
// ExportError when a file cannot be written (the folder is then removed).
ExportedResult exportResult(const std::string& baseName, const std::function<void(CsvWriter&)>& writeCSVLines,
                            const Element& printLayout, const PageFurniture& furniture = {});
// Writes only the CSV file of a result into `path`; throws ExportError
// (naming the file and the reason) when it cannot, leaving no partial file.
void writeCSVOutputAtPath(const std::filesystem::path& path,
                          const std::function<void(CsvWriter&)>& writeCSVLines);
// Removes an export's folder and files.
void removeExport(const ExportedResult& exported);

// MIME types of the two files.
inline constexpr const char* kPdfMime = "application/pdf";
inline constexpr const char* kCsvMime = "text/csv";

}  // namespace tabulix::reports
