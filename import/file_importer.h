// Turning a data file into the contents of a new workspace.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "engine/model.h"
#include "import/csv_parser.h"
#include "import/import_reader.h"

namespace tabulix {

// The application's own error domain (limits of the import).
inline constexpr std::string_view kImportErrorDomain = "TabulixImportErrorDomain";
// Completion code: the file was read to its end.
inline constexpr long kImportReadToEnd = -1;
// Completion code: the row limit stopped the import (rows were left out).
inline constexpr long kImportLimitReached = 3;
// Completion code: no reader reads files of this kind.
inline constexpr long kImportUnreadableKind = 4;
// Completion code: the delegate asked the import to stop.
inline constexpr long kImportStopped = 5;
// At most this many fields are stored per line.
inline constexpr size_t kMaxImportFields = kMaxVariables;
// The import stops after this data row.
inline constexpr uint32_t kMaxImportRows = 100000;

class FileImporter;

// Receives an import's progress, all from the importing thread, in order.
class FileImporterDelegate {
 public:
  virtual ~FileImporterDelegate() = default;
  // The reader started on the file.
  virtual void importerDidStartDocument(FileImporter& /*importer*/, const std::string& /*path*/) {}
  // Data row n (a multiple of 100) has been stored.
  virtual void importerDidCompleteLineNumber(FileImporter& /*importer*/, uint32_t /*n*/,
                                             uint32_t /*consecutive*/) {}
  // The reader has finished.
  virtual void importerDidCompleteParsing(FileImporter& /*importer*/, const std::string& /*path*/) {}
  // A variable's statistics are about to be computed.
  virtual void importerWillAnalyzeColumnNamed(FileImporter& /*importer*/, const std::string& /*name*/) {}
  // The import is over; `error.code` is the completion code.
  virtual void importerDidCompleteDocument(FileImporter& /*importer*/, const std::string& /*path*/,
                                           const CsvError& /*error*/) {}
  // Asked before each line and each variable's statistics: true stops the
  // import there, and it completes with kImportStopped.
  virtual bool importerShouldStop(FileImporter& /*importer*/) { return false; }
  // The sheets of a workbook (none for delimited text).
  virtual void importerDidInspectURL(FileImporter& /*importer*/, const std::filesystem::path& /*file*/,
                                     const std::optional<std::vector<std::string>>& /*sheets*/) {}
};

// Reads one file into the open store of its Model, then computes every
// variable's statistics and type. One importer serves one import. The file's
// reader (delimited text, .xlsx or .xls, by extension) delivers its lines.
class FileImporter : private ImportLineSink {
 public:
  // An importer filling the store open in `model`.
  FileImporter(Model& model, FileImporterDelegate* delegate) : model_(model), delegate_(delegate) {}

  // Finds a workbook's sheets; delimited text has none. A workbook that
  // cannot be read gets no answer: inspectionError() then says why.
  void inspectURL(const std::filesystem::path& file);
  // Why the last inspection found no sheets; empty when it did not fail.
  const std::string& inspectionError() const { return inspectionError_; }
  // Fills the workspace with an empty grid of R rows and C columns.
  void createEmptyWorkspaceWithRows(uint32_t rows, uint32_t cols);
  // Imports the file with the given options; `sheet` is the position of the
  // workbook sheet in its sheet list.
  void createWorkspaceFromText(const std::filesystem::path& file, bool withHeader, int sheet, char16_t delim,
                               const std::string& decimalSeparator);
  // How all-numeric dates are read: "auto" (the first one whose day or
  // month is above 12 settles the order for the file; the locale's until
  // then), "dmy", "mdy" or "ymd". Kept in the workspace's "dateOrder".
  void setDateOrder(const std::string& order) { dateOrder_ = order; }
  // The order the import read its dates in ("dmy", "mdy", "ymd"), known
  // once it has finished.
  const std::string& dateOrderUsed() const { return dateOrderUsed_; }
  // Imports the file through `reader` (the sheet and header as set by
  // createWorkspaceFromText, or their defaults).
  void importWith(ImportReader& reader);

  // The engine instance receiving the data.
  Model& model() { return model_; }
  // True when the row limit stopped the import with rows left out.
  bool hitRowLimit() const { return hitRowLimit_; }
  // True when the column limit cut the first line.
  bool hitColLimit() const { return hitColLimit_; }
  // The file being imported.
  const std::string& currentFile() const { return currentFile_; }
  // How much of the file its reader has read, 0..1, while it reads; none
  // when the reader cannot tell.
  std::optional<double> fractionRead() const { return reader_ ? readFraction_ : std::nullopt; }
  // What the import could not store although no reader failed (an unclosed
  // quote, lines cut to the variables), one sentence each.
  const std::vector<std::string>& unreadNotes() const { return notes_; }

  // Stores one line of a reader (line numbers from 1); returns false once
  // the row limit has been reached.
  bool handleLine(uint64_t line, std::span<const std::string> fields);
  // Ends the import: code -1 read to end, 3 a limit, other a reader failure.
  void finished(const CsvError& error);

 private:
  void readerDidStart() override;
  bool readerDidReadLine(uint64_t line, std::span<const std::string> fields) override;
  void readerDidFinish(const CsvError& outcome) override;
  void readerDidNote(const std::string& note) override;
  void readerDidDescribeFile(const ImportFileDescription& description) override;

  Model& model_;
  FileImporterDelegate* delegate_;
  ImportReader* reader_ = nullptr;  // the one reading, during importWith
  // The reader runs on a thread of its own and tells its fraction with each batch of lines.
  std::optional<double> readFraction_;
  bool stopped_ = false;  // the delegate asked to stop
  std::string currentFile_;
  bool importHasHeader_ = true;
  int importIndexSheet_ = 0;
  std::vector<Column*> columnsForImport_;
  ImportFileDescription description_;  // a statistical file's labels
  bool hitRowLimit_ = false;
  bool hitColLimit_ = false;
  std::string inspectionError_;
  std::vector<std::string> notes_;
  bool leadingBlankLine_ = false;  // line 1 was empty and named the only variable
  uint64_t linesCut_ = 0;          // lines whose fields beyond the variables held data
  uint64_t firstCutLine_ = 0;
  std::string dateOrder_ = "auto";
  std::string dateOrderUsed_;
  std::optional<int> dateEvidence_;  // the order the first telling date showed (auto)
};

}  // namespace tabulix
