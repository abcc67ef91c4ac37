#include "import/workbook_readers.h"

#include "engine/log.h"
#include "import/file_importer.h"
#include "import/text_reader.h"
#include "import/xls_import.h"

namespace tabulix {

namespace {

CsvError readToEnd() {
  return CsvError{std::string(kImportErrorDomain), kImportReadToEnd, "The file was read to its end."};
}

CsvError unreadable(const WorkbookError& e) {
  return CsvError{std::string(kImportErrorDomain), kWorkbookUnreadable, e.what()};
}

}  // namespace

std::unique_ptr<ImportReader> makeImportReader(const std::filesystem::path& file, char16_t delimiter,
                                               const std::string& localeName) {
  std::string ext = file.extension().string();
  if (ext == ".xlsx") return std::make_unique<XlsxReader>(file, localeName);
  if (ext == ".xls") return std::make_unique<XlsSheetReader>(file, localeName);
  return std::make_unique<TextReader>(file, delimiter);
}

std::optional<std::vector<std::string>> XlsxReader::sheets() {
  XlsxParser parser(file_, nullptr, locale_);
  std::vector<std::string> names;
  for (const auto& s : parser.sheets()) names.push_back(s.name);
  return names;
}

void XlsxReader::read(int sheet, ImportLineSink& sink) {
  sink_ = &sink;
  sheet_ = sheet;
  CsvError outcome = readToEnd();
  try {
    // The parser reads the sheet list, then the chosen sheet from
    // parserDidInspectDocument, all before its constructor returns.
    XlsxParser parser(file_, this, locale_);
  } catch (const WorkbookError& e) {
    if (!started_) logLine("Couldn't start parsing xlsx file");
    logLine(std::string("Parser failed with error: ") + e.what());
    outcome = unreadable(e);
  }
  parser_ = nullptr;
  // The statistics run after the workbook has been let go.
  sink.readerDidFinish(outcome);
}

void XlsxReader::cancel() {
  cancelled_ = true;
  if (parser_) parser_->cancelParsing();
}

void XlsxReader::parserDidInspectDocument(XlsxParser& parser, const std::string& path,
                                          const std::vector<XlsxSheet>& sheets) {
  parser_ = &parser;
  if (sheet_ < 0 || static_cast<size_t>(sheet_) >= sheets.size())
    throw WorkbookError("The workbook " + path + " has no sheet number " + std::to_string(sheet_ + 1) +
                        " (it has " + std::to_string(sheets.size()) + ").");
  logLine("Parser started!");
  started_ = true;
  sink_->readerDidStart();
  parser.parseSheetAtIndex(static_cast<size_t>(sheet_));
}

void XlsxReader::parserDidCompleteLine(XlsxParser& parser, const std::vector<std::string>& line, uint64_t,
                                       uint64_t consecutive) {
  if (cancelled_) return;
  if (!sink_->readerDidReadLine(consecutive, line)) cancel();
  (void)parser;
}

void XlsxReader::parserDidCompleteDocument(XlsxParser&, const std::string& path) {
  logLine("Parser ended document: " + path);
}

std::optional<std::vector<std::string>> XlsSheetReader::sheets() { return xlsSheetNames(file_); }

void XlsSheetReader::read(int sheet, ImportLineSink& sink) {
  CsvError outcome = readToEnd();
  logLine("Parser started!");
  sink.readerDidStart();
  try {
    readXlsSheet(
        file_, sheet,
        [&](uint64_t line, const std::vector<std::string>& fields) {
          if (cancelled_) return false;
          if (!sink.readerDidReadLine(line, fields)) cancelled_ = true;
          return !cancelled_;
        },
        locale_);
    logLine("Parser ended document: " + file_.string());
  } catch (const WorkbookError& e) {
    logLine(std::string("Parser failed with error: ") + e.what());
    outcome = unreadable(e);
  }
  sink.readerDidFinish(outcome);
}

}  // namespace tabulix
