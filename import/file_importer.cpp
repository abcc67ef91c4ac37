#include "import/file_importer.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "engine/cell_access.h"
#include "engine/log.h"
#include "engine/translate.h"
#include "engine/workspace_data.h"
#include "import/file_kind.h"
#include "import/text_encoding.h"

namespace tabulix {

namespace {
std::string varName(size_t i) { return "Var" + std::to_string(i); }
}  // namespace

std::optional<std::string> importRefusal(const std::filesystem::path& file) {
  // The workbook readers are not there yet: without them a workbook would
  // be read as text and give one variable of garbage.
  if (isWorkbookKind(fileKindOf(file)))
    return fillPlaceholders(
        tr("%@ is an Excel workbook, which cannot be imported yet. Save it as CSV and import that."),
        {file.filename().string()});
  return std::nullopt;
}

void FileImporter::inspectURL(const std::filesystem::path& file) {
  // Workbooks list their sheets; delimited text has none.
  if (delegate_) delegate_->importerDidInspectURL(*this, file, std::nullopt);
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
  importHasHeader_ = withHeader;
  importIndexSheet_ = sheet;
  model_.setMetadataValue(decimalSeparator, "decimalSeparator");
  model_.dropNumberReaders();
  // Workbook readers plug in here by kind; everything else is text.
  if (auto refusal = importRefusal(file)) {
    logLine("Parser failed with error: " + *refusal);
    finished(CsvError{std::string(kImportErrorDomain), kImportUnreadableKind, *refusal});
    return;
  }
  importTxt(file, delim);
}

void FileImporter::importTxt(const std::filesystem::path& file, char16_t delim) {
  auto source = std::make_unique<FileByteSource>(file);
  source->open();
  if (!source->isOpen()) {
    // A reader that cannot be made is logged; the import then ends as a
    // reader failure so that the caller hears of it.
    logLine("Parser failed with error: cannot open " + file.string());
    finished(CsvError{std::string(kImportErrorDomain), 2, "The file " + file.string() + " cannot be read."});
    return;
  }
  CsvParser parser(std::move(source), nullptr, delim);
  parser.setSanitizesFields(true);
  parser.setDelegate(this);
  parser_ = &parser;
  parser.parse();
  parser_ = nullptr;
}

void FileImporter::parserDidBeginDocument(CsvParser&) {
  logLine("Parser started!");
  if (delegate_) delegate_->importerDidStartDocument(*this, currentFile_);
}

void FileImporter::parserDidBeginLine(CsvParser& parser, uint64_t) {
  if (pendingEmptyLine_) {
    // The held-back line was not the last one after all: store it.
    uint64_t line = *pendingEmptyLine_;
    pendingEmptyLine_.reset();
    fieldsInRow_ = 1;
    if (currentRow_.empty()) currentRow_.emplace_back();
    currentRow_[0].clear();
    if (!handleLine(line, {})) {
      parser.cancelParsing();
      return;
    }
  }
  fieldsInRow_ = 0;
}

void FileImporter::parserDidReadField(CsvParser&, std::u16string_view field, int64_t) {
  if (fieldsInRow_ >= kMaxImportFields) return;
  // The row's strings are reused from line to line to keep their storage.
  if (currentRow_.size() <= fieldsInRow_) currentRow_.emplace_back();
  std::string& s = currentRow_[fieldsInRow_++];
  s.clear();
  appendUtf8(s, field);
}

void FileImporter::parserDidEndLine(CsvParser& parser, uint64_t line) {
  // A text file ends with a line break, after which the parser reports one
  // more record holding a single empty field. It is held back until another
  // line follows, so that the usual final line break adds no empty row.
  if (fieldsInRow_ == 1 && currentRow_[0].empty()) {
    pendingEmptyLine_ = line;
    return;
  }
  if (!handleLine(line, {})) parser.cancelParsing();
}

bool FileImporter::handleLine(uint64_t line, const std::vector<std::string>& fields) {
  // Readers other than the delimited-text parser hand their fields in.
  std::span<const std::string> row = parser_ ? std::span<const std::string>(currentRow_.data(), fieldsInRow_)
                                             : std::span<const std::string>(fields);
  uint32_t n = 0;
  if (line == 1) {
    std::vector<std::string> names;
    for (size_t i = 0; i < row.size(); ++i) {
      if (i >= kMaxImportFields) {
        hitColLimit_ = true;
        break;
      }
      names.push_back(importHasHeader_ && !row[i].empty() ? row[i] : varName(i + 1));
    }
    addColumns(model_, names);
    columnsForImport_ = columns(model_);
    leadingBlankLine_ = row.size() == 1 && row[0].empty();
    if (!importHasHeader_) addRow(model_, 1, row, columnsForImport_);
  } else {
    n = static_cast<uint32_t>(importHasHeader_ ? line - 1 : line);
    addRow(model_, n, row, columnsForImport_);
    // Fields beyond the last variable are dropped; the end message counts
    // the lines where that lost data.
    for (size_t i = columnsForImport_.size(); i < row.size(); ++i) {
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
  if (n >= kMaxImportRows) {
    hitRowLimit_ = true;
    return false;
  }
  return true;
}

void FileImporter::parserDidEndDocument(CsvParser& parser) {
  pendingEmptyLine_.reset();
  if (const auto& unread = parser.unreadInput()) {
    const std::string after = std::to_string(unread->afterLine);
    switch (unread->reason) {
      case CsvUnreadInput::Reason::UnclosedQuote:
        notes_.push_back(fillPlaceholders(tr("%u lines could not be read after line %u: unclosed quote."),
                                          {std::to_string(unread->lines), after}));
        break;
      case CsvUnreadInput::Reason::NulCharacter:
        notes_.push_back(fillPlaceholders(tr("%u lines could not be read after line %u: NUL character."),
                                          {std::to_string(unread->lines), after}));
        break;
      case CsvUnreadInput::Reason::UndecodableBytes:
        notes_.push_back(fillPlaceholders(
            tr("%u bytes could not be read after line %u: they are not text in the file's encoding."),
            {std::to_string(unread->bytes), after}));
        break;
    }
  }
  logLine("Parser ended document: " + currentFile_);
  finished(CsvError{std::string(kImportErrorDomain), kImportReadToEnd, "The file was read to its end."});
}

void FileImporter::parserDidFailWithError(CsvParser&, const CsvError& error) {
  pendingEmptyLine_.reset();
  logLine("Parser failed with error: " + error.description + " " + error.domain);
  finished(error);
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
    if (count < 2 || threads < 2 || !model.saveContext()) {
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
          if (Column* c = columnNumber(model, static_cast<uint32_t>(k))) stats = dictBasicStatsForColumn(model, *c);
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
  if (linesCut_ > 0) {
    notes_.insert(
        notes_.begin(),
        leadingBlankLine_
            ? fillPlaceholders(tr("The file starts with a blank line, which gave a single variable: "
                                  "%u lines were cut to their first field."),
                               {std::to_string(linesCut_)})
            : fillPlaceholders(tr("%u lines had more fields than there are variables, the first at "
                                  "line %u: their extra fields were dropped."),
                               {std::to_string(linesCut_), std::to_string(firstCutLine_)}));
  }
  CsvError error = reported;
  if (error.code == kImportReadToEnd && (hitRowLimit_ || hitColLimit_))
    error =
        CsvError{std::string(kImportErrorDomain), kImportLimitReached, "A limit of the import was reached."};
  if (delegate_) delegate_->importerDidCompleteParsing(*this, currentFile_);
  model_.setMetadataValue(currentFile_, "dataSource");
  size_t count = countColumns(model_);
  ColumnStatsAhead ahead(model_, count);
  // The loop below saves through the delegate; a save waits for every
  // reader of the file, so the workers finish first.
  ahead.finish();
  for (size_t k = 0; k < count; ++k) {
    logLine("Column " + std::to_string(k + 1) + " out of " + std::to_string(count));
    Column* c = columnNumber(model_, static_cast<uint32_t>(k));
    if (!c) continue;
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
