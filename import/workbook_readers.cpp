#include "import/workbook_readers.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

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

// Lines handed from the parsing thread to the storing one, in batches; at
// most kMaxBatches wait at a time, which bounds the memory either way.
struct LineQueue : XlsxParserDelegate {
  static constexpr size_t kBatchLines = 256;
  static constexpr size_t kMaxBatches = 8;

  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::vector<std::vector<std::string>>> batches;
  std::vector<std::vector<std::string>> filling;
  bool started = false, done = false;
  std::atomic<bool>* stop = nullptr;
  int sheet = 0;
  std::optional<CsvError> failure;
  std::optional<std::string> note;  // columns past the variable limit

  // Parsing thread.
  void parserDidInspectDocument(XlsxParser& parser, const std::string& path,
                                const std::vector<XlsxSheet>& sheets) override {
    if (sheet < 0 || static_cast<size_t>(sheet) >= sheets.size())
      throw WorkbookError("The workbook " + path + " has no sheet number " + std::to_string(sheet + 1) +
                          " (it has " + std::to_string(sheets.size()) + ").");
    {
      std::lock_guard lock(mutex);
      started = true;
    }
    changed.notify_all();
    // Columns past the variable limit are left out here and named in a
    // note; the rows a reader stops before do not widen the lines.
    parser.setColumnLimit(kMaxImportFields);
    parser.setMeasuredRows(uint64_t{kMaxImportRows} + 1);
    parser.parseSheetAtIndex(static_cast<size_t>(sheet));
  }
  void parserDidLeaveOutColumns(XlsxParser&, const XlsxLeftOut& leftOut) override {
    std::lock_guard lock(mutex);
    note = leftOutNote(leftOut);
  }
  void parserDidCompleteLine(XlsxParser& parser, const std::vector<std::string>& line, uint64_t,
                             uint64_t) override {
    if (*stop) {
      parser.cancelParsing();
      return;
    }
    filling.push_back(line);
    if (filling.size() >= kBatchLines) hand();
  }
  void parserDidCompleteDocument(XlsxParser&, const std::string& path) override {
    hand();
    logLine("Parser ended document: " + path);
  }
  void hand() {
    if (filling.empty()) return;
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return batches.size() < kMaxBatches || *stop; });
    if (!*stop) batches.push_back(std::move(filling));
    filling.clear();
    changed.notify_all();
  }
  void finish(std::optional<CsvError> error) {
    std::lock_guard lock(mutex);
    failure = std::move(error);
    done = true;
    changed.notify_all();
  }
};

}  // namespace

void XlsxReader::read(int sheet, ImportLineSink& sink) {
  LineQueue queue;
  queue.stop = &cancelled_;
  queue.sheet = sheet;
  std::thread parsing([&] {
    std::optional<CsvError> error;
    try {
      // The parser reads the sheet list, then the chosen sheet from
      // parserDidInspectDocument, all before its constructor returns.
      XlsxParser parser(file_, &queue);
    } catch (const WorkbookError& e) {
      error = unreadable(e);
    } catch (const std::exception& e) {
      error = CsvError{std::string(kImportErrorDomain), kWorkbookUnreadable,
                       "The file " + file_.string() + " could not be read: " + e.what()};
    }
    // Lines read before a failure are delivered all the same.
    queue.hand();
    queue.finish(std::move(error));
  });
  // Whatever happens here (a store failure thrown by the sink), the parsing
  // thread is stopped and joined before this frame is left.
  struct Join {
    LineQueue& queue;
    std::thread& thread;
    std::atomic<bool>& stop;
    ~Join() {
      stop = true;
      queue.changed.notify_all();
      thread.join();
    }
  } join{queue, parsing, cancelled_};

  bool told = false;
  uint64_t consecutive = 0;
  for (;;) {
    std::vector<std::vector<std::string>> batch;
    bool finished = false;
    {
      std::unique_lock lock(queue.mutex);
      queue.changed.wait(lock,
                         [&] { return !queue.batches.empty() || queue.done || (queue.started && !told); });
      if (queue.started && !told) {
        told = true;
      } else if (!queue.batches.empty()) {
        batch = std::move(queue.batches.front());
        queue.batches.pop_front();
      } else {
        finished = true;
      }
    }
    queue.changed.notify_all();
    if (finished) break;
    if (batch.empty()) {
      logLine("Parser started!");
      sink.readerDidStart();
      continue;
    }
    for (const auto& line : batch) {
      if (cancelled_) break;
      if (!sink.readerDidReadLine(++consecutive, line)) cancelled_ = true;
    }
  }
  std::optional<CsvError> failure;
  std::optional<std::string> note;
  {
    std::lock_guard lock(queue.mutex);
    failure = queue.failure;
    note = queue.note;
  }
  if (note) sink.readerDidNote(*note);
  if (failure) {
    if (!told) logLine("Couldn't start parsing xlsx file");
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
    readXlsSheet(file_, sheet, [&](uint64_t line, const std::vector<std::string>& fields) {
      if (cancelled_) return false;
      if (!sink.readerDidReadLine(line, fields)) cancelled_ = true;
      return !cancelled_;
    });
    logLine("Parser ended document: " + file_.string());
  } catch (const WorkbookError& e) {
    logLine(std::string("Parser failed with error: ") + e.what());
    outcome = unreadable(e);
  }
  sink.readerDidFinish(outcome);
}

}  // namespace tabulix
