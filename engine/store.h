// The workspace object store: a thin layer of records and contexts over one
// SQLite file per workspace.
//
// A StoreCoordinator names the attached workspace file and upgrades its
// layout when it is attached. Each Context has its own SQLite connection to
// that file, holds the records it has fetched, tracks unsaved changes and
// saves them in one transaction. Contexts are not thread-safe: each is used
// by one thread at a time (the shared model's on the main thread, others on
// their worker).
//
// File layout (format version 6): small tables for metadata, columns, rows,
// analyses and filter conditions, and the cells of each column stored in
// chunks of kCellsPerChunk consecutive rows, one blob per (column number,
// first row). Chunks make a 100,000-row column a few dozen blob reads.
// Version 1 kept one SQL row per cell tied to its row and column by
// relationships; attaching a version 1 file converts it (see store_file.cpp).
// Version 3 added the variables' labels (columns.label); a version 2 file
// gets the empty column when it is attached; version 4 the level orders
// (columns.levelOrder), version 5 the missing-value codes
// (columns.missingCodes), added the same way. Version 6 added the history
// of undoable steps (history_steps, history_images, history_ids; see
// store_history.cpp); an older file gets the empty tables.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/records.h"

struct sqlite3;

namespace tabulix {

namespace storage {
class HistoryRecorder;
}

struct CellChunk;

// Rows per stored cell chunk.
inline constexpr int32_t kCellsPerChunk = 4096;
// The current on-disk format version (SQLite user_version).
inline constexpr int kStoreFormatVersion = 6;
// The largest workspace the program works with: an import stops there, and
// a file beyond it is refused when it is opened (every screen would
// otherwise scan thousands of variables for each request).
inline constexpr size_t kMaxVariables = 500;
inline constexpr size_t kMaxWorkspaceRows = 100000;
// The history keeps at most this many steps…
inline constexpr size_t kHistoryMaxSteps = 50;
// …and at most this share of the file's size (the newest step is always kept).
inline constexpr double kHistoryMaxShare = 0.2;

// One step of a workspace's history.
struct HistoryStep {
  int64_t id = 0;
  std::string name;  // what the user did, as "delete variable Wind"
  bool undone = false;
  int64_t bytes = 0;  // what its stored images take in the file
};

// How a workspace file is attached.
enum class StoreAccess {
  // Opens the file, upgrading an older layout; a missing file is created.
  OpenOrCreate,
  // Opens the file for reading only: it must exist, is never created,
  // upgraded or written, and a save is refused.
  ReadOnly,
};

// A failure of the store: its description and details, as logged.
class StoreError : public std::runtime_error {
 public:
  StoreError(std::string description, std::string details)
      : std::runtime_error(description), details_(std::move(details)) {}
  // Further details (the file, the SQLite message).
  const std::string& details() const { return details_; }

 private:
  std::string details_;
};

// Names the attached workspace file; contexts on it share the file.
class StoreCoordinator {
 public:
  // Attaches a workspace file. A missing file is created (OpenOrCreate
  // only): built under a temporary name and moved into place once its
  // tables are committed, so that no half-made workspace ever carries the
  // name. An older layout is upgraded in place after copying the file to a
  // migration backup (name~.tbx, or name~2.tbx … when that name is taken).
  // Throws StoreError when the file is empty, not a workspace, damaged,
  // beyond the workspace limits or cannot be opened.
  void addStore(const std::filesystem::path& file, StoreAccess access = StoreAccess::OpenOrCreate);
  // Detaches the store; contexts keep their connections until reset.
  void removeStore();
  // The attached file, if any.
  std::optional<std::filesystem::path> storeFile() const { return file_; }
  // How the attached file was opened.
  StoreAccess access() const { return access_; }
  // The backup that attaching this file made before upgrading it, if any;
  // only this file may be deleted, once the upgraded store has opened.
  std::optional<std::filesystem::path> upgradeBackup() const { return backup_; }

 private:
  std::optional<std::filesystem::path> file_;
  std::optional<std::filesystem::path> backup_;
  StoreAccess access_ = StoreAccess::OpenOrCreate;
};

// The name of the migration backup of a workspace file (name~.tbx). A
// workspace is never created under such a name.
std::filesystem::path migrationBackupName(const std::filesystem::path& file, int n = 1);
// True when a file name has the form of a migration backup (ends in "~"
// before the extension).
bool isMigrationBackupName(const std::filesystem::path& file);

// A sort key for a fetch: a comparison of two records on one attribute.
template <class T>
struct SortDescriptor {
  std::function<int(const T&, const T&)> compare;  // <0, 0, >0
  bool ascending = true;
};

// A fetch of one kind of record: predicate, sort orders, offset and limit.
template <class T>
struct FetchRequest {
  std::function<bool(const T&)> predicate;  // empty: every record
  std::vector<SortDescriptor<T>> sortDescriptors;
  size_t fetchOffset = 0;
  size_t fetchLimit = 0;  // 0: no limit
};

// Attributes a cell fetch can sort on.
enum class CellKey { RowNum, ColNum, Data };

// A sort key of a cell fetch.
struct CellSort {
  CellKey key = CellKey::RowNum;
  bool ascending = true;
};

// A fetch of cells: by column, by row, restricted to a list of row numbers,
// only non-empty texts; sorted and limited.
struct CellFetch {
  std::optional<int32_t> colNum;                  // "(colNum == %u)"
  std::optional<int32_t> rowNum;                  // "(rowNum == %u)"
  const std::vector<int32_t>* rowNums = nullptr;  // rowNum IN list
  bool nonEmptyOnly = false;                      // data != ''
  std::vector<CellSort> sort;                     // empty: unordered
  size_t fetchLimit = 0;                          // 0: no limit
};

// One context on a coordinator's store: fetched records and unsaved changes.
class Context {
 public:
  // A context with its own connection to the coordinator's attached store.
  explicit Context(std::shared_ptr<StoreCoordinator> coordinator);
  ~Context();
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;

  // The coordinator this context works on.
  const std::shared_ptr<StoreCoordinator>& coordinator() const { return coordinator_; }
  // True when a store file is attached and this context is connected to it.
  bool isAttached() const { return db_ != nullptr; }

  // --- records ---
  // Every live record of a kind (loading them on first use), in store order.
  std::vector<Metadata*> allMetadata();
  std::vector<Column*> allColumns();
  std::vector<Analysis*> allAnalyses();
  std::vector<WhereClause*> allWhereClauses();
  // The rows, loaded on first use.
  std::vector<Row*> allRows();

  // Fetches records of one kind by predicate, sort orders and limit.
  template <class T>
  std::vector<T*> fetch(const FetchRequest<T>& request);
  // Counts the records a fetch would return (unsaved ones included).
  template <class T>
  size_t count(const FetchRequest<T>& request);
  // Distinct values of one attribute over the records a fetch would return.
  template <class T, class V>
  std::vector<V> distinct(const FetchRequest<T>& request, V T::*attribute);

  // The number of rows, unsaved additions included, without loading them.
  size_t countRows();

  // Inserts a new record owned by this context.
  Metadata* insertMetadata();
  Column* insertColumn();
  Row* insertRow(int32_t num);
  Analysis* insertAnalysis();
  WhereClause* insertWhereClause();

  // Deletes a record, applying the workspace's deletion rules:
  // - a column: its cells are deleted; analyses that use it as left or right
  //   lose that variable (nullified), it leaves their `columns`, and filter
  //   conditions on it are deleted (a condition on a variable that no longer
  //   exists could never be edited or shown);
  // - an analysis: its filter conditions (wheres and wheres2) are deleted;
  // - a filter condition: it leaves its analysis's lists.
  void deleteObject(Column* column);
  void deleteObject(Analysis* analysis);
  void deleteObject(WhereClause* where);
  void deleteObject(Metadata* metadata);

  // Fetches the record with a saved identity, or nullptr when none exists.
  Column* existingColumn(const ObjectId& id);
  Analysis* existingAnalysis(const ObjectId& id);
  WhereClause* existingWhereClause(const ObjectId& id);
  Metadata* existingMetadata(const ObjectId& id);

  // --- cells ---
  // The cells a fetch selects, as values.
  std::vector<Cell> fetchCells(const CellFetch& request);
  // Counts the cells a fetch selects.
  size_t countCells(const CellFetch& request);
  // Distinct data texts of a column (non-empty ones only when asked).
  std::vector<std::string> distinctCellData(int32_t colNum, bool nonEmptyOnly);
  // Visits the cells of one column in row order (restricted to rowNums when
  // given, which must be ascending) without copying texts. The view is valid
  // during the call only. A cell with absent data is visited as nullopt.
  void forEachCellOfColumn(
      int32_t colNum, const std::vector<int32_t>* rowNums,
      const std::function<void(int32_t rowNum, std::optional<std::string_view> data)>& fn);
  // Creates or changes the cell at (colNum, rowNum).
  void setCell(int32_t colNum, int32_t rowNum, OptText data);
  // Appends cells of one row to a column faster than setCell (import path).
  void setCellText(int32_t colNum, int32_t rowNum, std::string_view data);
  // The cell at (colNum, rowNum), if it exists.
  std::optional<Cell> cellAt(int32_t colNum, int32_t rowNum);
  // Deletes the rows with these numbers (ascending, each a row of the
  // workspace) with their cells. The rows after them move up: the kept rows
  // take, in order, the smallest row numbers in use, so that rows stay
  // numbered 1 to R; the records of the largest numbers go. Not saved.
  void deleteRows(const std::vector<int32_t>& rowNums);

  // --- history ---
  // Opens a step of the workspace's history: every save until endStep() is
  // recorded as that one step (the first save that changes something
  // starts it and drops the steps that were undone; later saves add what
  // they touch). Nested calls join the outer step. Saves outside a step
  // are not recorded.
  void beginStep(const std::string& name);
  // Closes the step beginStep() opened.
  void endStep();
  // The steps stored in the file, oldest first (undone ones last).
  std::vector<HistoryStep> history();
  // Undoes the newest step that is not undone, in one transaction, and
  // forgets every fetched record (pointers become invalid). Returns its
  // name, or nothing when there is no step to undo. Throws StoreError when
  // the context holds unsaved changes or the store fails (nothing changed).
  std::optional<std::string> undo();
  // Redoes the oldest undone step, the same way.
  std::optional<std::string> redo();

  // --- lifecycle ---
  // True when records or cells changed since the last save or reset.
  bool hasChanges();
  // Saves every change in one transaction; throws StoreError on failure and
  // then keeps the changes in memory (nothing is half-written to the file).
  void save();
  // Forgets every fetched record and unsaved change. Pointers to records of
  // this context become invalid.
  void reset();
  // Drops saved, unchanged cell chunks from memory (long imports call it).
  void releaseCellMemory();
  // Reconnects after the coordinator attached another file (or detached).
  void reconnect();
  // With `durable` off, saves stay atomic against a killed process but are
  // not flushed to disk at once (bulk work on a new file); on by default.
  void setDurable(bool durable);

 private:
  struct ChunkKey {
    int32_t colNum;
    int32_t first;
    auto operator<=>(const ChunkKey&) const = default;
  };

  void ensureLoaded();
  void loadRecords();
  CellChunk& chunk(int32_t colNum, int32_t first);
  std::vector<int32_t> storedColumnNums();

  // A record with its last saved state (none while never saved).
  template <class T>
  struct Slot {
    std::unique_ptr<T> rec;
    std::optional<T> saved;
    bool deleted = false;
  };
  template <class T>
  static std::vector<T*> live(std::vector<Slot<T>>& slots);
  template <class T>
  static bool slotsChanged(const std::vector<Slot<T>>& slots);
  template <class T>
  static T* findById(std::vector<Slot<T>>& slots, const ObjectId& id);
  template <class T>
  std::vector<T*> records();

  std::shared_ptr<StoreCoordinator> coordinator_;
  sqlite3* db_ = nullptr;
  bool loaded_ = false;
  bool rowsLoaded_ = false;
  size_t savedRowCount_ = 0;

  std::vector<Slot<Metadata>> metadata_;
  std::vector<Slot<Column>> columns_;
  std::vector<Slot<Row>> rows_;
  std::vector<Slot<Analysis>> analyses_;
  std::vector<Slot<WhereClause>> wheres_;
  std::vector<int32_t> deletedColumnNums_;

  std::map<ChunkKey, std::unique_ptr<CellChunk>> chunks_;
  // The chunk setCellText last wrote, per column number below
  // kRecentChunkColumns: an import writes row after row into the same
  // chunks, and the map lookup per cell was a tenth of its time. Cleared
  // wherever chunks leave the map.
  struct RecentChunk {
    int32_t first = INT32_MIN;
    CellChunk* chunk = nullptr;
  };
  static constexpr int32_t kRecentChunkColumns = 1024;
  std::vector<RecentChunk> recentChunks_;

  // The open step: its name, nesting depth and, once a save recorded it,
  // its id in history_steps.
  std::string stepName_;
  int stepDepth_ = 0;
  int64_t stepId_ = 0;
  std::optional<std::string> moveInHistory(bool forward);
  void recordBeforeImages(storage::HistoryRecorder& history);
};

// Opens a history step for the lifetime of the scope.
class StepScope {
 public:
  // Opens a step named `name` on the context (joining an open one).
  StepScope(Context& context, const std::string& name) : context_(context) { context_.beginStep(name); }
  ~StepScope() { context_.endStep(); }
  StepScope(const StepScope&) = delete;
  StepScope& operator=(const StepScope&) = delete;

 private:
  Context& context_;
};

}  // namespace tabulix

namespace tabulix {

template <class T>
std::vector<T*> Context::fetch(const FetchRequest<T>& request) {
  std::vector<T*> out;
  for (T* r : records<T>())
    if (!request.predicate || request.predicate(*r)) out.push_back(r);
  if (!request.sortDescriptors.empty()) {
    std::stable_sort(out.begin(), out.end(), [&](const T* a, const T* b) {
      for (const auto& d : request.sortDescriptors) {
        int c = d.compare(*a, *b);
        if (c != 0) return d.ascending ? c < 0 : c > 0;
      }
      return false;
    });
  }
  if (request.fetchOffset >= out.size()) return {};
  out.erase(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(request.fetchOffset));
  if (request.fetchLimit && out.size() > request.fetchLimit) out.resize(request.fetchLimit);
  return out;
}

template <class T>
size_t Context::count(const FetchRequest<T>& request) {
  FetchRequest<T> unsorted{request.predicate, {}, request.fetchOffset, request.fetchLimit};
  return fetch(unsorted).size();
}

template <class T, class V>
std::vector<V> Context::distinct(const FetchRequest<T>& request, V T::*attribute) {
  std::vector<V> out;
  for (T* r : fetch(request)) {
    const V& v = r->*attribute;
    if (std::find(out.begin(), out.end(), v) == out.end()) out.push_back(v);
  }
  return out;
}

// Orders two optional attributes: absent first, then by value.
template <class V>
int compareOptional(const std::optional<V>& a, const std::optional<V>& b) {
  if (!a || !b) return static_cast<int>(a.has_value()) - static_cast<int>(b.has_value());
  return *a < *b ? -1 : (*b < *a ? 1 : 0);
}

// A sort descriptor on one optional attribute of a record.
template <class T, class V>
SortDescriptor<T> sortBy(std::optional<V> T::*attribute, bool ascending = true) {
  return {[attribute](const T& a, const T& b) { return compareOptional(a.*attribute, b.*attribute); },
          ascending};
}

}  // namespace tabulix
