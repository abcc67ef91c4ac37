#include "import/file_importer.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "engine/cell_access.h"
#include "engine/date_detector.h"
#include "engine/log.h"
#include "engine/missing_codes.h"
#include "engine/number_format.h"
#include "engine/translate.h"
#include "engine/workspace_data.h"
#include "import/file_kind.h"
#include "import/read_ahead.h"

namespace tabulix {

namespace {
std::string varName(size_t i) { return "Var" + std::to_string(i); }
}  // namespace

void FileImporter::inspectURL(const std::filesystem::path& file) {
  inspectionError_.clear();
  std::optional<std::vector<std::string>> sheets;
  try {
    sheets = makeImportReader(file, u',', deviceLocaleName())->sheets();
  } catch (const WorkbookError& e) {
    logLine(file.extension() == ".xlsx" ? "Could not initialize XLSX parser to inspect file"
                                        : "Could not open XLS file to inspect it");
    logLine(e.what());
    inspectionError_ = e.what();
    return;
  }
  if (delegate_) delegate_->importerDidInspectURL(*this, file, sheets);
}

void FileImporter::createEmptyWorkspaceWithRows(uint32_t rows, uint32_t cols) {
  std::vector<std::string> names;
  for (uint32_t i = 1; i <= cols; ++i) names.push_back(varName(i));
  addColumns(model_, names);
  auto all = columns(model_);
  std::vector<std::string> empty(cols);
  for (uint32_t n = 1; n <= rows; ++n) addRow(model_, n, empty, all);
  model_.setMetadataValue("__EMPTY__", "dataSource");
  for (uint32_t k = 0; k < cols; ++k) {
    logLine("Column " + std::to_string(k + 1) + " out of " + std::to_string(cols));
    if (Column* c = columnNumber(model_, k)) {
      basicStatsForColumn(model_, *c);
      c->type = static_cast<int32_t>(guessTypeOfColumn(*c));
    }
  }
}

void FileImporter::createWorkspaceFromText(const std::filesystem::path& file, bool withHeader, int sheet,
                                           char16_t delim, const std::string& decimalSeparator) {
  currentFile_ = file.string();
  // A statistical file names its variables and writes its numbers with a
  // point, whatever the text options say.
  bool statFile = fileKindOf(file) == FileKind::StatFile;
  importHasHeader_ = withHeader || statFile;
  importIndexSheet_ = sheet;
  model_.setMetadataValue(statFile ? "." : decimalSeparator, "decimalSeparator");
  model_.dropNumberReaders();
  auto reader = makeImportReader(file, delim, deviceLocaleName());
  importWith(*reader);
}

void FileImporter::importWith(ImportReader& reader) {
  reader_ = &reader;
  readFraction_.reset();
  struct Done {
    FileImporter& importer;
    ~Done() { importer.reader_ = nullptr; }
  } done{*this};
  readAhead(reader, importIndexSheet_, *this, &readFraction_);
}

void FileImporter::readerDidNote(const std::string& note) { notes_.push_back(note); }

void FileImporter::readerDidDescribeFile(const ImportFileDescription& description) {
  description_ = description;
  if (!description.fileLabel.empty()) model_.setMetadataValue(description.fileLabel, "fileLabel");
}

void FileImporter::readerDidStart() {
  if (delegate_) delegate_->importerDidStartDocument(*this, currentFile_);
}

bool FileImporter::readerDidReadLine(uint64_t line, std::span<const std::string> fields) {
  return handleLine(line, fields);
}

void FileImporter::readerDidFinish(const CsvError& outcome) { finished(outcome); }

bool FileImporter::handleLine(uint64_t line, std::span<const std::string> row) {
  if (delegate_ && delegate_->importerShouldStop(*this)) {
    stopped_ = true;
    return false;
  }
  uint32_t n = 0;
  if (dateOrder_ == "auto" && !dateEvidence_ && (line > 1 || !importHasHeader_)) {
    for (const std::string& field : row) {
      if (auto order = DateDetector::orderEvidence(field)) {
        dateEvidence_ = static_cast<int>(*order);
        break;
      }
    }
  }
  if (line == 1) {
    std::vector<std::string> names;
    for (size_t i = 0; i < row.size(); ++i) {
      if (i >= kMaxImportFields) {
        hitColLimit_ = true;
        break;
      }
      names.push_back(importHasHeader_ && !row[i].empty() ? row[i] : varName(i + 1));
    }
    if (hitColLimit_)
      notes_.push_back(fillPlaceholders(
          tr("The first line has %u fields: the first %u became variables, the other %u were left out."),
          {std::to_string(row.size()), std::to_string(kMaxImportFields),
           std::to_string(row.size() - kMaxImportFields)}));
    addColumns(model_, names);
    columnsForImport_ = columns(model_);
    for (size_t i = 0; i < columnsForImport_.size() && i < description_.variableLabels.size(); ++i)
      if (!description_.variableLabels[i].empty())
        columnsForImport_[i]->label = description_.variableLabels[i];
    for (size_t i = 0; i < columnsForImport_.size() && i < description_.variableMissingCodes.size(); ++i)
      setStoredMissingCodes(*columnsForImport_[i], description_.variableMissingCodes[i]);
    leadingBlankLine_ = row.size() == 1 && row[0].empty();
    if (!importHasHeader_) addRow(model_, 1, row, columnsForImport_);
  } else {
    const uint64_t dataRow = importHasHeader_ ? line - 1 : line;
    // A row beyond the limit is the sign that rows are left out: a file of
    // exactly the limit imports whole and says nothing.
    if (dataRow > kMaxImportRows) {
      hitRowLimit_ = true;
      return false;
    }
    n = static_cast<uint32_t>(dataRow);
    addRow(model_, n, row, columnsForImport_);
    // Fields beyond the last variable are dropped; the end message counts
    // the lines where that lost data (variables beyond the limit have a
    // note of their own).
    for (size_t i = columnsForImport_.size(); !hitColLimit_ && i < row.size(); ++i) {
      if (!row[i].empty()) {
        if (linesCut_++ == 0) firstCutLine_ = line;
        break;
      }
    }
  }
  if (n != 0 && n % 100 == 0) {
    logLine("Row: " + std::to_string(n));
    if (delegate_) delegate_->importerDidCompleteLineNumber(*this, n, n);
    columnsForImport_ = columns(model_);
  }
  return true;
}

namespace {

// Computes the statistics of columns 0 … count-1 on worker threads, each
// with its own Model (and store connection) on the importer's coordinator,
// before the importer's loop, which takes them in column order. The
// figures are those basicStatsForColumn gives; only the work is spread over
// the machine's cores. Anything a worker cannot do (a store error) is left
// to the loop, which then computes that column itself.
class ColumnStatsAhead {
 public:
  ColumnStatsAhead(Model& model, size_t count) : results_(count), ready_(count, false) {
    unsigned threads = std::min<unsigned>(std::max(1u, std::thread::hardware_concurrency()), 4);
    // The workers read the store: everything must be saved first.
    bool saved = false;
    if (count >= 2 && threads >= 2) {
      try {
        model.saveContext();
        saved = true;
      } catch (const StoreError&) {
        // The loop computes every column itself; the import's next save
        // meets the same failure and reports it.
      }
    }
    if (!saved) {
      std::fill(ready_.begin(), ready_.end(), true);
      return;
    }
    auto coordinator = model.coordinator();
    for (unsigned t = 0; t < threads; ++t) workers_.emplace_back([this, coordinator] { work(coordinator); });
  }
  ~ColumnStatsAhead() {
    stop_ = true;
    finish();
  }

  // Waits until the workers are done.
  void finish() {
    for (auto& w : workers_) w.join();
    workers_.clear();
  }

  // The statistics of column k once ready, or none when the caller must compute them.
  std::optional<BasicStats> take(size_t k) {
    std::unique_lock lock(mutex_);
    done_.wait(lock, [&] { return ready_[k]; });
    return std::move(results_[k]);
  }

 private:
  void work(const std::shared_ptr<StoreCoordinator>& coordinator) {
    try {
      Model model(coordinator);
      for (size_t k; !stop_ && (k = next_++) < results_.size();) {
        std::optional<BasicStats> stats;
        try {
          if (Column* c = columnNumber(model, static_cast<uint32_t>(k)))
            stats = dictBasicStatsForColumn(model, *c);
        } catch (const std::exception&) {
        }
        std::lock_guard lock(mutex_);
        results_[k] = std::move(stats);
        ready_[k] = true;
        done_.notify_all();
      }
    } catch (const std::exception&) {
    }
    // Columns no worker reached are left to the caller.
    std::lock_guard lock(mutex_);
    for (size_t k = next_.exchange(results_.size()); k < results_.size(); ++k) ready_[k] = true;
    done_.notify_all();
  }

  std::vector<std::optional<BasicStats>> results_;
  std::vector<bool> ready_;
  std::atomic<size_t> next_{0};
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable done_;
  std::vector<std::thread> workers_;
};

}  // namespace

void FileImporter::finished(const CsvError& reported) {
  const CsvError stopped{std::string(kImportErrorDomain), kImportStopped, "The import was stopped."};
  if (stopped_) {
    // Nothing of a stopped import is kept: no statistics are computed.
    if (delegate_) delegate_->importerDidCompleteDocument(*this, currentFile_, stopped);
    return;
  }
  if (linesCut_ > 0) {
    const std::string lines = std::to_string(linesCut_), first = std::to_string(firstCutLine_);
    std::string note;
    if (leadingBlankLine_)
      note = linesCut_ == 1 ? fillPlaceholders(tr("The file starts with a blank line, which gave a single "
                                                  "variable: line %u was cut to its first field."),
                                               {first})
                            : fillPlaceholders(tr("The file starts with a blank line, which gave a single "
                                                  "variable: %u lines were cut to their first field."),
                                               {lines});
    else
      note = linesCut_ == 1 ? fillPlaceholders(tr("Line %u has more fields than there are variables: its "
                                                  "extra fields were dropped."),
                                               {first})
                            : fillPlaceholders(tr("%u lines have more fields than there are variables, the "
                                                  "first at line %u: their extra fields were dropped."),
                                               {lines, first});
    notes_.insert(notes_.begin(), note);
  }
  CsvError error = reported;
  // Only rows left out are "the limit": variables cut from a first line
  // beyond the limit are a note of the reader.
  if (error.code == kImportReadToEnd && hitRowLimit_)
    error =
        CsvError{std::string(kImportErrorDomain), kImportLimitReached, "A limit of the import was reached."};
  if (delegate_) delegate_->importerDidCompleteParsing(*this, currentFile_);
  model_.setMetadataValue(currentFile_, "dataSource");
  // A text file's dates are read in one order, kept for the edits to come
  // (workbooks and statistical files bring their dates as dates).
  const FileKind kind = fileKindOf(currentFile_);
  const bool text = !isWorkbookKind(kind) && kind != FileKind::StatFile;
  DateDetector::Order order = model_.detectDate().numericOrder();
  if (auto named = DateDetector::orderNamed(dateOrder_)) {
    order = *named;
  } else if (dateEvidence_) {
    order = static_cast<DateDetector::Order>(*dateEvidence_);
  }
  if (text) {
    dateOrderUsed_ = DateDetector::orderName(order);
    model_.setMetadataValue(dateOrderUsed_, "dateOrder");
    model_.dropNumberReaders();
  }
  size_t count = countColumns(model_);
  ColumnStatsAhead ahead(model_, count);
  // The loop below saves through the delegate; a save waits for every
  // reader of the file, so the workers finish first.
  ahead.finish();
  for (size_t k = 0; k < count; ++k) {
    logLine("Column " + std::to_string(k + 1) + " out of " + std::to_string(count));
    Column* c = columnNumber(model_, static_cast<uint32_t>(k));
    if (!c) continue;
    if (delegate_ && delegate_->importerShouldStop(*this)) {
      delegate_->importerDidCompleteDocument(*this, currentFile_, stopped);
      return;
    }
    if (delegate_) delegate_->importerWillAnalyzeColumnNamed(*this, c->name.value_or(""));
    // The delegate may have saved and released memory: look the column up again.
    c = columnNumber(model_, static_cast<uint32_t>(k));
    if (!c) continue;
    if (auto stats = ahead.take(k)) {
      applyBasicStats(*stats, *c);
    } else {
      basicStatsForColumn(model_, *c);
    }
    c->type = static_cast<int32_t>(guessTypeOfColumn(*c));
  }
  if (delegate_) delegate_->importerDidCompleteDocument(*this, currentFile_, error);
}

}  // namespace tabulix
