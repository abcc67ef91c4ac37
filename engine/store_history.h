// The workspace's history of undoable steps, as the store's own files use
// it: the tables, recording before-images during a save, identities that
// never reuse one the history still names, the bound, and the checks an
// attached file must pass (shared with restoring images).
//
// A step is a row of history_steps; each key a step touched (a record by
// table and id, an analysis's variable list, a cell chunk by column and
// first row) is a row of history_images with the key's image before the
// step and, once undone, after it. An image is the SQL row (or list, or
// chunk blob) deflated, or an empty blob for "no such row". Undo swaps:
// the current images of the step's keys become its `after` and the
// `before` images are written back; redo swaps the other way.
#pragma once

#include <sqlite3.h>

#include <compare>
#include <cstdint>
#include <filesystem>
#include <string>

namespace tabulix::storage {

// The tables a history image restores, by the code stored with it.
enum class ImageTable : int {
  Metadata = 1,
  Columns = 2,
  Rows = 3,
  Analyses = 4,
  AnalysisColumns = 5,  // key: the analysis id; image: its (column, position) list
  WhereClauses = 6,
  CellChunks = 7,  // key: colNum, firstRow
};

// One key of a history image.
struct ImageKey {
  ImageTable table;
  int64_t k1 = 0;
  int64_t k2 = 0;
  auto operator<=>(const ImageKey&) const = default;
};

// The history tables (format 6).
extern const char* const kHistorySchema;

// The next identity for a record table: past every id in the table and
// every id a history image names, so that undoing a deletion never
// overwrites a record created after it.
int64_t nextRecordId(sqlite3* db, ImageTable table);

// Records the before-images of one save into a step (inside the save's
// transaction). A key the step already holds keeps its first image.
class HistoryRecorder {
 public:
  // Starts recording into step `stepId`.
  HistoryRecorder(sqlite3* db, int64_t stepId);
  // Records the current image of a key.
  void capture(const ImageKey& key);
  // Records that a key the save creates did not exist.
  void absent(const ImageKey& key);
  // Adds the bytes recorded to the step and applies the history's bound.
  void finish();

 private:
  void put(const ImageKey& key, const std::string& image);
  sqlite3* db_;
  int64_t step_;
  int64_t bytes_ = 0;
};

// Starts a step named `name` (dropping every undone step); returns its id.
int64_t startStep(sqlite3* db, const std::string& name);
// True when step `id` exists, is not undone and no step follows it.
bool stepIsNewest(sqlite3* db, int64_t id);

// Refuses a workspace beyond the limits the program works with.
void checkLimits(sqlite3* db, const std::filesystem::path& file);
// Refuses stored keys and counts outside the ranges the program works in.
void checkStoredValues(sqlite3* db, const std::filesystem::path& file);

}  // namespace tabulix::storage
