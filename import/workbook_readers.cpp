#include "import/workbook_readers.h"

#include "engine/log.h"
#include "engine/translate.h"
#include "import/file_importer.h"
#include "import/stat_file_reader.h"
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

// The note naming the columns of a sheet past the variable limit.
std::string leftOutNote(const XlsxLeftOut& leftOut) {
  const std::string values = leftOut.values == 1
                                 ? tr("1 value")
                                 : fillPlaceholders(tr("%u values"), {std::to_string(leftOut.values)});
  const std::string limit = std::to_string(kMaxImportFields);
  if (leftOut.firstColumn == leftOut.lastColumn)
    return fillPlaceholders(
        tr("Column %@ of the sheet was left out (%@): a workspace holds at most %u variables."),
        {XlsxParser::columnName(leftOut.firstColumn), values, limit});
  return fillPlaceholders(
      tr("Columns %@ to %@ of the sheet were left out (%@): a workspace holds at most %u variables."),
      {XlsxParser::columnName(leftOut.firstColumn), XlsxParser::columnName(leftOut.lastColumn), values,
       limit});
}

}  // namespace

// Workbook dates are written in one form for every locale (workbook_dates.h),
// so the locale is not needed here.
std::unique_ptr<ImportReader> makeImportReader(const std::filesystem::path& file, char16_t delimiter,
                                               const std::string& /*localeName*/) {
  std::string ext = file.extension().string();
  if (ext == ".xlsx") return std::make_unique<XlsxReader>(file);
  if (ext == ".xls") return std::make_unique<XlsSheetReader>(file);
  if (auto format = statFormatForExtension(ext)) return std::make_unique<StatFileReader>(file, *format);
  return std::make_unique<TextReader>(file, delimiter);
}

std::optional<std::vector<std::string>> XlsxReader::sheets() {
  XlsxParser parser(file_, nullptr);
  std::vector<std::string> names;
  for (const auto& s : parser.sheets()) names.push_back(s.name);
  return names;
}

namespace {

// Hands the parser's lines straight to the sink; the import runs the
// reader on a thread of its own (read_ahead.h), so parsing the XML and
// storing the rows overlap all the same.
struct SheetLines : XlsxParserDelegate {
  ImportLineSink& sink;
  std::atomic<bool>& stop;
  std::optional<double>& fraction;
  int sheet;
  bool started = false;
  uint64_t consecutive = 0;
  std::optional<std::string> note;  // columns past the variable limit

  SheetLines(ImportLineSink& s, std::atomic<bool>& stopFlag, std::optional<double>& readFraction,
             int sheetIndex)
      : sink(s), stop(stopFlag), fraction(readFraction), sheet(sheetIndex) {}

  void parserDidInspectDocument(XlsxParser& parser, const std::string& path,
                                const std::vector<XlsxSheet>& sheets) override {
    if (sheet < 0 || static_cast<size_t>(sheet) >= sheets.size())
      throw WorkbookError("The workbook " + path + " has no sheet number " + std::to_string(sheet + 1) +
                          " (it has " + std::to_string(sheets.size()) + ").");
    started = true;
    logLine("Parser started!");
    sink.readerDidStart();
    // Columns past the variable limit are left out here and named in a
    // note; the rows a reader stops before do not widen the lines.
    parser.setColumnLimit(kMaxImportFields);
    parser.setMeasuredRows(uint64_t{kMaxImportRows} + 1);
    parser.parseSheetAtIndex(static_cast<size_t>(sheet));
  }
  void parserDidLeaveOutColumns(XlsxParser&, const XlsxLeftOut& leftOut) override {
    note = leftOutNote(leftOut);
  }
  void parserDidCompleteLine(XlsxParser& parser, const std::vector<std::string>& line, uint64_t,
                             uint64_t) override {
    fraction = parser.fractionRead();
    if (!stop && !sink.readerDidReadLine(++consecutive, line)) stop = true;
    if (stop) parser.cancelParsing();
  }
  void parserDidCompleteDocument(XlsxParser&, const std::string& path) override {
    logLine("Parser ended document: " + path);
  }
};

}  // namespace

void XlsxReader::read(int sheet, ImportLineSink& sink) {
  SheetLines lines(sink, cancelled_, fraction_, sheet);
  std::optional<CsvError> failure;
  try {
    // The parser reads the sheet list, then the chosen sheet from
    // parserDidInspectDocument, all before its constructor returns.
    XlsxParser parser(file_, &lines);
  } catch (const WorkbookError& e) {
    failure = unreadable(e);
  } catch (const std::exception& e) {
    failure = CsvError{std::string(kImportErrorDomain), kWorkbookUnreadable,
                       "The file " + file_.string() + " could not be read: " + e.what()};
  }
  // Lines read before a failure have been delivered all the same.
  if (lines.note) sink.readerDidNote(*lines.note);
  if (failure) {
    if (!lines.started) logLine("Couldn't start parsing xlsx file");
    logLine("Parser failed with error: " + failure->description);
  }
  // The statistics run after the workbook has been let go.
  sink.readerDidFinish(failure.value_or(readToEnd()));
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
        &fraction_);
    logLine("Parser ended document: " + file_.string());
  } catch (const WorkbookError& e) {
    logLine(std::string("Parser failed with error: ") + e.what());
    outcome = unreadable(e);
  }
  sink.readerDidFinish(outcome);
}

}  // namespace tabulix
