// Workspace files made by someone else: keys and counts out of range,
// chunks that overlap or do not decode, and schema objects the format does
// not have. Each is refused with a message naming the file, or opens and
// reads without reading or writing out of bounds (the sanitizer build runs
// these too).
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <climits>
#include <filesystem>
#include <string>

#include "engine/cell_access.h"
#include "engine/model.h"
#include "engine/workspace_data.h"
#include "tests/engine/raw_sqlite.h"
#include "tests/temp_dir.h"

namespace fs = std::filesystem;
using namespace tabulix;

using tabulix::testing::sql;

namespace {

using tabulix::testing::TempDir;

// A sound workspace of two variables over three observations.
void makeWorkspace(const fs::path& file) {
  Model m;
  m.openStore(file);
  addColumns(m, {"x", "y"});
  auto cols = columns(m);
  addRow(m, 1, {"1", "a"}, cols);
  addRow(m, 2, {"2", "b"}, cols);
  addRow(m, 3, {"3", "a"}, cols);
  m.saveContext();
}

// Every read a screen or an analysis makes of the variables.
void readEverything(Model& m) {
  auto cols = columns(m);
  for (Column* c : cols) {
    cellsForColumn(m, *c);
    dictBasicStatsForColumn(m, *c);
    frequenciesOfColumn(m, *c, 10);
  }
  std::vector<int32_t> someRows = {1, 3, INT32_MAX};
  numericOfColumns(m, cols, nullptr);
  numericOfColumns(m, cols, &someRows);
  // A requested row at the top of the number range, its chunk held in memory.
  m.context().cellAt(0, INT32_MAX);
  numericOfColumns(m, cols, &someRows);
  for (Row* r : rows(m)) cellsForRow(m, *r);
}

// Opens the file; returns the refusal's text, or "" when it opened and
// every read either worked or failed with a store error.
std::string openAndRead(const fs::path& file) {
  Model m;
  try {
    m.openStore(file);
  } catch (const StoreError& e) {
    return std::string(e.what()) + " | " + e.details();
  }
  try {
    readEverything(m);
  } catch (const StoreError&) {
  }
  return "";
}

// A sound workspace changed by `change`, at `file`.
void hostileWorkspace(const fs::path& file, const std::string& change) {
  makeWorkspace(file);
  sql(file, change);
}

}  // namespace

// Keys and counts outside the ranges the program works in are refused when
// the file is opened, before any row number reaches an index.
TEST(HostileWorkspace, StoredKeysAndCountsOutOfRangeAreRefused) {
  const char* cases[] = {
      "UPDATE cell_chunks SET firstRow = -2147483648 WHERE colNum = 0",
      "UPDATE cell_chunks SET firstRow = 2147483647 WHERE colNum = 0",
      "UPDATE cell_chunks SET firstRow = 4294967297 WHERE colNum = 0",
      "UPDATE cell_chunks SET firstRow = 0 WHERE colNum = 0",
      // Overlapping chunks: one starting inside another.
      "INSERT INTO cell_chunks SELECT colNum, 3, cells FROM cell_chunks WHERE colNum = 0",
      "UPDATE cell_chunks SET colNum = 2147483647 WHERE colNum = 1",
      "UPDATE cell_chunks SET colNum = -1 WHERE colNum = 1",
      "UPDATE cell_chunks SET cells = 'text' WHERE colNum = 1",
      "UPDATE cell_chunks SET firstRow = '1' || 'x' WHERE colNum = 1",
      "UPDATE columns SET num = 2147483647 WHERE name = 'y'",
      "UPDATE columns SET num = -2147483648 WHERE name = 'y'",
      "UPDATE columns SET num = 1.5 WHERE name = 'y'",
      "UPDATE columns SET \"order\" = 2147483647 WHERE name = 'y'",
      "UPDATE columns SET obs = -1 WHERE name = 'y'",
      "UPDATE columns SET levels = 9000000000 WHERE name = 'y'",
      "UPDATE rows SET num = -2147483648 WHERE num = 2",
      "UPDATE rows SET num = 0 WHERE num = 2",
      "UPDATE rows SET num = 100001 WHERE num = 2",
      // The same key twice, in a chunk table without its primary key.
      "CREATE TABLE c2 AS SELECT * FROM cell_chunks; DROP TABLE cell_chunks;"
      " CREATE TABLE cell_chunks(colNum INTEGER, firstRow INTEGER, cells BLOB);"
      " INSERT INTO cell_chunks SELECT * FROM c2; INSERT INTO cell_chunks SELECT * FROM c2; DROP TABLE c2",
  };
  for (const char* change : cases) {
    TempDir dir;
    fs::path file = dir.path / "w.tbx";
    hostileWorkspace(file, change);
    std::string refusal = openAndRead(file);
    EXPECT_NE(refusal.find("damaged"), std::string::npos) << change << ": " << refusal;
    EXPECT_NE(refusal.find(file.string()), std::string::npos) << change;
  }
}

// Schema objects the format does not define never run: the file is refused
// and keeps its observations.
TEST(HostileWorkspace, TriggersViewsAndForeignObjectsAreRefused) {
  const char* cases[] = {
      "CREATE TRIGGER wipe AFTER UPDATE ON columns BEGIN DELETE FROM rows; END",
      "CREATE TRIGGER wipe2 BEFORE INSERT ON cell_chunks BEGIN DELETE FROM rows; END",
      "CREATE VIEW v AS SELECT * FROM rows",
      "CREATE TABLE extra(a)",
      "CREATE INDEX byNum ON rows(num)",
      "CREATE TABLE cells(id INTEGER PRIMARY KEY, data TEXT)",
  };
  for (const char* change : cases) {
    TempDir dir;
    fs::path file = dir.path / "w.tbx";
    hostileWorkspace(file, change);
    std::string refusal = openAndRead(file);
    EXPECT_NE(refusal.find("Tabulix workspaces do not have"), std::string::npos) << change << ": " << refusal;
    EXPECT_NE(refusal.find(file.string()), std::string::npos) << change;
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "SELECT count(*) FROM rows", -1, &s, nullptr);
    ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(s, 0), 3) << change;
    sqlite3_finalize(s);
    sqlite3_close(db);
  }
}

// Even on a connection that never passed the attach checks (a trigger added
// after the file was opened), a trigger does not fire on a save.
TEST(HostileWorkspace, TriggerAddedAfterOpeningDoesNotFire) {
  TempDir dir;
  fs::path file = dir.path / "w.tbx";
  makeWorkspace(file);
  Model m;
  m.openStore(file);
  sql(file, "CREATE TRIGGER wipe AFTER UPDATE ON columns BEGIN DELETE FROM rows; END");
  columns(m)[0]->name = "renamed";
  m.saveContext();
  Model again;
  sql(file, "DROP TRIGGER wipe");
  again.openStore(file);
  EXPECT_EQ(countRows(again), 3u);
  EXPECT_EQ(columns(again)[0]->name, OptText("renamed"));
}

// Chunk blobs that lie about their length, and counts that lie within range,
// open and read without going past the blob: a damaged chunk is a store error.
TEST(HostileWorkspace, LyingBlobsAndCountsReadSafely) {
  const char* cases[] = {
      "UPDATE cell_chunks SET cells = substr(cells, 1, 3) WHERE colNum = 0",
      "UPDATE cell_chunks SET cells = CAST(cells || x'00ff' AS BLOB) WHERE colNum = 0",
      "UPDATE cell_chunks SET cells = x'ffffffffffffffffff01' WHERE colNum = 0",
      "UPDATE cell_chunks SET cells = CAST(x'8120' || zeroblob(10) AS BLOB) WHERE colNum = 0",  // 4097 cells
      "UPDATE cell_chunks SET cells = x'03ffffffff0f0202' WHERE colNum = 0",  // a 4 GiB text
      "UPDATE cell_chunks SET cells = x'' WHERE colNum = 0",
      "UPDATE columns SET obs = 100000, levels = 0, obsNumeric = 7",
      "DELETE FROM rows WHERE num = 2",
      "UPDATE cell_chunks SET colNum = 7 WHERE colNum = 1",
      "UPDATE cell_chunks SET firstRow = 98305 WHERE colNum = 1",
  };
  for (const char* change : cases) {
    TempDir dir;
    fs::path file = dir.path / "w.tbx";
    hostileWorkspace(file, change);
    EXPECT_EQ(openAndRead(file), "") << change;
  }
}
