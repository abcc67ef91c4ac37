// Turning a data file into the contents of a new workspace.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "engine/model.h"
#include "import/csv_parser.h"

namespace tabulix {

// The application's own error domain (limits of the import).
inline constexpr std::string_view kImportErrorDomain = "TabulixImportErrorDomain";
// Completion code: the file was read to its end.
inline constexpr long kImportReadToEnd = -1;
// Completion code: the row limit stopped, or the column limit cut, the import.
inline constexpr long kImportLimitReached = 3;
// Completion code: no reader reads files of this kind.
inline constexpr long kImportUnreadableKind = 4;
// At most this many fields are stored per line.
inline constexpr size_t kMaxImportFields = 500;
// The import stops after this data row.
inline constexpr uint32_t kMaxImportRows = 100000;

class FileImporter;

// Why no reader can import the file, by its kind, or none when one can.
std::optional<std::string> importRefusal(const std::filesystem::path& file);

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
  // The sheets of a workbook (none for delimited text).
  virtual void importerDidInspectURL(FileImporter& /*importer*/, const std::filesystem::path& /*file*/,
                                     const std::optional<std::vector<std::string>>& /*sheets*/) {}
};

// Reads one file into the open store of its Model, then computes every
// variable's statistics and type. One importer serves one import.
class FileImporter : private CsvParserDelegate {
 public:
  // An importer filling the store open in `model`.
  FileImporter(Model& model, FileImporterDelegate* delegate) : model_(model), delegate_(delegate) {}

  // Finds a workbook's sheets; delimited text has none.
  void inspectURL(const std::filesystem::path& file);
  // Fills the workspace with an empty grid of R rows and C columns.
  void createEmptyWorkspaceWithRows(uint32_t rows, uint32_t cols);
  // Imports the file with the given options.
  void createWorkspaceFromText(const std::filesystem::path& file, bool withHeader, int sheet, char16_t delim,
                               const std::string& decimalSeparator);
  // Reads delimited text with the delimiter.
  void importTxt(const std::filesystem::path& file, char16_t delim);

  // The engine instance receiving the data.
  Model& model() { return model_; }
  // True when the row limit stopped the import.
  bool hitRowLimit() const { return hitRowLimit_; }
  // True when the column limit cut the first line.
  bool hitColLimit() const { return hitColLimit_; }
  // The file being imported.
  const std::string& currentFile() const { return currentFile_; }
  // What the import could not store although no reader failed (an unclosed
  // quote, lines cut to the variables), one sentence each.
  const std::vector<std::string>& unreadNotes() const { return notes_; }

  // Stores one line of a reader (line numbers from 1); returns false once
  // the row limit has been reached. Workbook readers call it too.
  bool handleLine(uint64_t line, const std::vector<std::string>& fields);
  // Ends the import: code -1 read to end, 3 a limit, other a reader failure.
  void finished(const CsvError& error);

 private:
  void parserDidBeginDocument(CsvParser& parser) override;
  void parserDidBeginLine(CsvParser& parser, uint64_t line) override;
  void parserDidReadField(CsvParser& parser, std::u16string_view field, int64_t index) override;
  void parserDidEndLine(CsvParser& parser, uint64_t line) override;
  void parserDidEndDocument(CsvParser& parser) override;
  void parserDidFailWithError(CsvParser& parser, const CsvError& error) override;

  Model& model_;
  FileImporterDelegate* delegate_;
  std::string currentFile_;
  bool importHasHeader_ = true;
  int importIndexSheet_ = 0;
  std::vector<std::string> currentRow_;
  size_t fieldsInRow_ = 0;
  std::vector<Column*> columnsForImport_;
  bool hitRowLimit_ = false;
  bool hitColLimit_ = false;
  CsvParser* parser_ = nullptr;
  std::optional<uint64_t> pendingEmptyLine_;
  std::vector<std::string> notes_;
  bool leadingBlankLine_ = false;  // line 1 was empty and named the only variable
  uint64_t linesCut_ = 0;          // lines whose fields beyond the variables held data
  uint64_t firstCutLine_ = 0;
};

}  // namespace tabulix
