// The readers behind the import driver: one class per file format, each
// delivering a file (or one sheet of a workbook) as numbered lines of texts.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "import/csv_parser.h"
#include "import/workbook_error.h"

namespace tabulix {

// What a file says about itself beside its data (statistical files): the
// file's label, each variable's label ("" for none) and its declared
// missing-value codes, by position.
struct ImportFileDescription {
  std::string fileLabel;
  std::vector<std::string> variableLabels;
  // Per variable, the texts its file declares missing (SPSS's user-missing values).
  std::vector<std::vector<std::string>> variableMissingCodes;
};

// Receives what a reader delivers, in this order: start, description (from
// the readers that have one), lines, finish.
class ImportLineSink {
 public:
  virtual ~ImportLineSink() = default;
  // The reader has started delivering lines.
  virtual void readerDidStart() = 0;
  // The file's own labels, before its first line.
  virtual void readerDidDescribeFile(const ImportFileDescription& /*description*/) {}
  // One line, numbered from 1; returning false stops the reader.
  virtual bool readerDidReadLine(uint64_t line, std::span<const std::string> fields) = 0;
  // The reader is done: code -1 when it read to the end (or was stopped),
  // any other code with a description when it failed.
  virtual void readerDidFinish(const CsvError& outcome) = 0;
  // Data of the file the reader could not deliver although it did not fail
  // (an unclosed quote at the end), one sentence each, before the finish.
  virtual void readerDidNote(const std::string& note) { (void)note; }
};

// One file format. A reader serves one file; `read` runs once.
class ImportReader {
 public:
  virtual ~ImportReader() = default;
  // The workbook's sheet names in order, or none for a format without
  // sheets. Throws WorkbookError when the file cannot be read.
  virtual std::optional<std::vector<std::string>> sheets() = 0;
  // Delivers sheet `sheet` (0-based; formats without sheets ignore it) to
  // `sink`. A failure is reported through readerDidFinish, never thrown.
  virtual void read(int sheet, ImportLineSink& sink) = 0;
  // Stops the delivery before the next line; may be called from the sink.
  virtual void cancel() = 0;
  // How much of the file has been read, 0..1, as far as the reader can tell
  // cheaply (bytes consumed of the file's size); none when it cannot.
  virtual std::optional<double> fractionRead() const { return std::nullopt; }
};

// The reader for a file, chosen by its extension compared exactly: "xlsx",
// "xls", the statistical formats (stat_file_reader.h), and delimited text with `delimiter` for anything else.
std::unique_ptr<ImportReader> makeImportReader(const std::filesystem::path& file, char16_t delimiter,
                                               const std::string& localeName);

// The error code of a workbook that cannot be read (a reader failure).
inline constexpr long kWorkbookUnreadable = 2;

}  // namespace tabulix
