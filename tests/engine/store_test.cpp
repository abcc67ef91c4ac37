// The workspace store: persistence, change tracking, contexts, deletion
// rules, the upgrade of version 1 files, and survival of a killed save.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <thread>

#include "engine/log.h"
#include "engine/model.h"
#include "engine/workspace_data.h"
#include "tests/engine/column_texts.h"
#include "tests/engine/raw_sqlite.h"
#include "tests/temp_dir.h"

namespace fs = std::filesystem;
using namespace tabulix;

using tabulix::testing::killRounds;
using tabulix::testing::sql;

namespace {

using tabulix::testing::TempDir;

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace

using tabulix::testing::columnTexts;

TEST(Store, RecordsAndCellsSurviveReopenWithAbsentValuesKept) {
  TempDir dir;
  fs::path file = dir.path / "w.tbx";
  {
    Model m;
    ASSERT_NO_THROW(m.openStore(file));
    addColumns(m, {"a", "b"});
    auto cols = columns(m);
    cols[0]->obs = 0;  // present and zero, unlike obsNumeric
    addRow(m, 1, {"1", "x"}, cols);
    addRow(m, 2, {"2"}, cols);  // shorter than the largest num: b gets ""
    for (int r = 3; r <= 9000; ++r) addRow(m, r, {std::to_string(r), "y"}, cols);  // spans three chunks
    m.context().setCell(1, 5, std::nullopt);                                       // a cell without data
    Analysis* a = m.context().insertAnalysis();
    a->name = "t";
    a->left = cols[0];
    a->columns = {cols[1], cols[0]};
    WhereClause* w = m.context().insertWhereClause();
    w->x = cols[1];
    w->op = 10;
    w->levels = std::vector<std::string>{"x", "", "y"};
    w->whereOfAnalysis = a;
    a->wheres.push_back(w);
    ASSERT_NO_THROW(m.saveContext());
    EXPECT_FALSE(m.context().hasChanges());
  }
  Model m;
  ASSERT_NO_THROW(m.openStore(file));
  auto cols = columns(m);
  ASSERT_EQ(cols.size(), 2u);
  EXPECT_EQ(cols[0]->obs, OptInt(0));
  EXPECT_EQ(cols[0]->obsNumeric, std::nullopt);
  EXPECT_EQ(countRows(m), 9000u);
  auto b = columnTexts(m, 1);
  ASSERT_EQ(b.size(), 9000u);
  EXPECT_EQ(b[0], "x");
  EXPECT_EQ(b[1], "");
  EXPECT_EQ(b[4], "<nil>");
  EXPECT_EQ(b[8999], "y");
  EXPECT_EQ(columnTexts(m, 0)[8191], "8192");
  auto as = analyses(m);
  ASSERT_EQ(as.size(), 1u);
  EXPECT_EQ(as[0]->left, cols[0]);
  EXPECT_EQ(as[0]->right, nullptr);
  EXPECT_EQ(as[0]->columns, (std::vector<Column*>{cols[1], cols[0]}));
  ASSERT_EQ(as[0]->wheres.size(), 1u);
  EXPECT_EQ(as[0]->wheres[0]->levels, (std::vector<std::string>{"x", "", "y"}));
  EXPECT_EQ(as[0]->wheres[0]->c, std::nullopt);
}

TEST(Store, FetchesFilterSortLimitCountAndDistinct) {
  TempDir dir;
  Model m;
  ASSERT_NO_THROW(m.openStore(dir.path / "w.tbx"));
  addColumns(m, {"a", "b", "c"});
  auto cols = columns(m);
  const char* texts[] = {"b", "", "a", "b", "c"};
  for (int r = 1; r <= 5; ++r) addRow(m, r, {texts[r - 1], std::to_string(r), "z"}, cols);
  // Unsaved cells are visible to fetches, saved ones after a release too.
  for (int pass = 0; pass < 2; ++pass) {
    CellFetch f;
    f.colNum = 0;
    f.nonEmptyOnly = true;
    EXPECT_EQ(m.context().countCells(f), 4u);
    std::vector<int32_t> wanted = {5, 1, 2};
    f.rowNums = &wanted;
    f.sort = {{CellKey::Data, false}, {CellKey::RowNum, true}};
    auto got = m.context().fetchCells(f);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].data, OptText("c"));
    EXPECT_EQ(got[1].rowNum, OptInt(1));
    auto d = m.context().distinctCellData(0, true);
    std::sort(d.begin(), d.end());
    EXPECT_EQ(d, (std::vector<std::string>{"a", "b", "c"}));
    // The grid's fetch: all columns by row then column, limited.
    CellFetch grid;
    grid.sort = {{CellKey::RowNum, true}, {CellKey::ColNum, true}};
    grid.fetchLimit = 7;
    auto g = m.context().fetchCells(grid);
    ASSERT_EQ(g.size(), 7u);
    EXPECT_EQ(g[3].rowNum, OptInt(2));
    EXPECT_EQ(g[3].colNum, OptInt(0));
    EXPECT_EQ(g[6].colNum, OptInt(0));
    m.saveContext();
    m.context().releaseCellMemory();
  }
  FetchRequest<Column> req{
      [](const Column& c) { return *c.name != "b"; }, {sortBy(&Column::num, false)}, 0, 1};
  auto top = m.context().fetch(req);
  ASSERT_EQ(top.size(), 1u);
  EXPECT_EQ(*top[0]->name, "c");
  EXPECT_EQ(m.context().count(FetchRequest<Column>{}), 3u);
  EXPECT_EQ(m.context().distinct(FetchRequest<Column>{}, &Column::type), (std::vector<OptInt>{0}));
}

TEST(Store, ChangeTrackingResetAndNoOpSave) {
  TempDir dir;
  fs::path file = dir.path / "w.tbx";
  Model m;
  ASSERT_NO_THROW(m.openStore(file));
  addColumns(m, {"a"});
  addRow(m, 1, {"1"}, columns(m));
  ASSERT_NO_THROW(m.saveContext());
  auto before = slurp(file);
  auto mtime = fs::last_write_time(file);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(m.context().hasChanges());
  EXPECT_NO_THROW(m.saveContext());
  EXPECT_EQ(slurp(file), before);
  EXPECT_EQ(fs::last_write_time(file), mtime);

  columns(m)[0]->name = "renamed";
  EXPECT_TRUE(m.context().hasChanges());
  columns(m)[0]->name = "a";  // back to the saved value: nothing to save
  EXPECT_FALSE(m.context().hasChanges());
  m.context().setCell(0, 1, "2");
  addEmptyRow(m);
  EXPECT_EQ(countRows(m), 2u);
  m.context().reset();
  EXPECT_FALSE(m.context().hasChanges());
  EXPECT_EQ(countRows(m), 1u);
  EXPECT_EQ(columnTexts(m, 0), (std::vector<std::string>{"1"}));
}

TEST(Store, BackgroundContextSharesRecordsByIdentity) {
  TempDir dir;
  Model main;
  ASSERT_NO_THROW(main.openStore(dir.path / "w.tbx"));
  addColumns(main, {"a", "b"});
  for (int r = 1; r <= 3; ++r) addRow(main, r, {"1", "2"}, columns(main));
  main.saveContext();
  ObjectId id = columns(main)[1]->objectID;
  ASSERT_FALSE(id.isTemporary());

  std::thread worker([&] {
    Model background(main.coordinator());
    Column* b = background.context().existingColumn(id);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->name, OptText("b"));
    background.context().setCell(*b->num, 2, "edited");
    b->obs = 3;
    background.saveContext();
  });
  worker.join();
  // The main context still holds what it fetched until it is reset.
  EXPECT_EQ(main.context().existingColumn(id)->obs, std::nullopt);
  main.context().reset();
  EXPECT_EQ(main.context().existingColumn(id)->obs, OptInt(3));
  EXPECT_EQ(columnTexts(main, 1)[1], "edited");
  EXPECT_EQ(main.context().existingColumn(ObjectId{Entity::Column, 999}), nullptr);
}

TEST(Store, DeletionRulesForColumnsAndAnalyses) {
  TempDir dir;
  fs::path file = dir.path / "w.tbx";
  {
    Model m;
    ASSERT_NO_THROW(m.openStore(file));
    addColumns(m, {"a", "b", "c", "d", "e"});
    for (int r = 1; r <= 2; ++r) addRow(m, r, {"1", "2", "3", "4", "5"}, columns(m));
    auto cols = columns(m);
    Analysis* a = m.context().insertAnalysis();
    a->left = cols[2];
    a->right = cols[1];
    a->columns = {cols[2], cols[3]};
    for (Column* x : {cols[2], cols[4]}) {
      WhereClause* w = m.context().insertWhereClause();
      w->x = x;
      w->whereOfAnalysis = a;
      a->wheres.push_back(w);
    }
    Analysis* other = m.context().insertAnalysis();
    WhereClause* w2 = m.context().insertWhereClause();
    w2->x = cols[0];
    w2->where2OfAnalysis = other;
    other->wheres2.push_back(w2);
    m.saveContext();

    removeColumn(m, cols[2]);  // order 2 of five
    m.context().deleteObject(other);
    m.saveContext();
  }
  Model m;
  ASSERT_NO_THROW(m.openStore(file));
  auto cols = columns(m);
  ASSERT_EQ(cols.size(), 4u);
  std::vector<int32_t> orders, nums;
  for (Column* c : cols) {
    orders.push_back(*c->order);
    nums.push_back(*c->num);
  }
  EXPECT_EQ(orders, (std::vector<int32_t>{0, 1, 2, 3}));
  EXPECT_EQ(nums, (std::vector<int32_t>{0, 1, 3, 4}));
  auto as = analyses(m);
  ASSERT_EQ(as.size(), 1u);
  EXPECT_EQ(as[0]->left, nullptr);
  EXPECT_EQ(*as[0]->right->name, "b");
  ASSERT_EQ(as[0]->columns.size(), 1u);
  EXPECT_EQ(*as[0]->columns[0]->name, "d");
  ASSERT_EQ(as[0]->wheres.size(), 1u);  // the condition on the removed column is gone
  EXPECT_EQ(*as[0]->wheres[0]->x->name, "e");
  EXPECT_EQ(m.context().allWhereClauses().size(), 1u);  // the deleted analysis took its condition along
  CellFetch f;
  f.colNum = 2;
  EXPECT_EQ(m.context().countCells(f), 0u);

  // The next empty column takes the largest number + 1 and its name from it,
  // with empty cells for every row.
  Column* added = addEmptyColumn(m);
  EXPECT_EQ(added->num, OptInt(5));
  EXPECT_EQ(added->name, OptText("Var6"));
  EXPECT_EQ(added->order, OptInt(4));
  EXPECT_EQ(columnTexts(m, 5), (std::vector<std::string>{"", ""}));
  // A removed last column's number is taken again without its old cells.
  removeColumn(m, added);
  removeColumn(m, columnNumber(m, 4));
  Column* again = addEmptyColumn(m);
  EXPECT_EQ(again->num, OptInt(4));
  m.saveContext();
  EXPECT_EQ(columnTexts(m, 4), (std::vector<std::string>{"", ""}));
}

// The tables of formats 1 and 2 apart from the cells (format 3 added the
// variables' labels).
constexpr const char* kTablesBeforeLabels = R"(
    CREATE TABLE tbx_info(key TEXT PRIMARY KEY, value TEXT);
    INSERT INTO tbx_info VALUES('format', 'Tabulix workspace');
    CREATE TABLE metadata(id INTEGER PRIMARY KEY, key TEXT, value TEXT);
    CREATE TABLE columns(id INTEGER PRIMARY KEY, name TEXT, num INTEGER, "order" INTEGER, type INTEGER,
      obs INTEGER, obsNumeric INTEGER, obsDate INTEGER, levels INTEGER, levelsDate INTEGER,
      min REAL, max REAL, mean REAL, sd REAL, pc25 REAL, pc50 REAL, pc75 REAL,
      minDate REAL, maxDate REAL, meanDate REAL, sdDate REAL, pc25Date REAL, pc50Date REAL, pc75Date REAL);
    CREATE TABLE rows(id INTEGER PRIMARY KEY, num INTEGER);
    CREATE TABLE analyses(id INTEGER PRIMARY KEY, name TEXT, type INTEGER, lastOpened REAL,
      "left" INTEGER, "right" INTEGER, distribution INTEGER, test INTEGER, tails INTEGER, samples INTEGER,
      isPaired INTEGER, expected REAL, leftLevel1 TEXT, rightLevel1 TEXT, includeMissing INTEGER,
      twoWayPercAgg INTEGER, twoWayPercDisplay INTEGER);
    CREATE TABLE analysis_columns(analysis INTEGER NOT NULL, "column" INTEGER NOT NULL, position INTEGER NOT NULL,
      PRIMARY KEY(analysis, "column"));
    CREATE TABLE where_clauses(id INTEGER PRIMARY KEY, x INTEGER, op INTEGER, c TEXT, levels TEXT,
      whereOfAnalysis INTEGER, where2OfAnalysis INTEGER);
)";

TEST(Store, UpgradesVersion1FilesOnceAndKeepsIndexedOnesAsTheyAre) {
  TempDir dir;
  fs::path file = dir.path / "old.tbx";
  // Version 1 of the format: one SQL row per cell; these cells carry only
  // their relationships, as older stores did.
  sql(file, std::string(kTablesBeforeLabels) + R"(
    CREATE TABLE cells(id INTEGER PRIMARY KEY, data TEXT, colNum INTEGER, rowNum INTEGER, "column" INTEGER, "row" INTEGER);
    PRAGMA user_version = 1;
    INSERT INTO columns(id, name, num, "order") VALUES (10, 'x', 0, 1), (11, 'y', 1, 0);
    INSERT INTO rows(id, num) VALUES (20, 1), (21, 2);
    INSERT INTO cells(data, "column", "row") VALUES ('x1', 10, 20), ('x2', 10, 21), ('y1', 11, 20);
    INSERT INTO cells(data, colNum, rowNum) VALUES ('y2', 1, 2);
    INSERT INTO cells(data) VALUES ('orphan');
  )");
  fs::path backup = dir.path / "old~.tbx";
  {
    Model m;
    ASSERT_NO_THROW(m.openStore(file));
    EXPECT_FALSE(fs::exists(backup));
    EXPECT_EQ(m.metadataValueForKey("hasCellIndices"), OptText("YES"));
    auto cols = columns(m);
    ASSERT_EQ(cols.size(), 2u);
    EXPECT_EQ(*cols[0]->name, "x");  // order now equals num
    EXPECT_EQ(columnTexts(m, 0), (std::vector<std::string>{"x1", "x2"}));
    EXPECT_EQ(columnTexts(m, 1), (std::vector<std::string>{"y1", "y2"}));
    // The user reorders; opening again must leave that alone.
    cols[0]->order = 1;
    cols[1]->order = 0;
    m.saveContext();
  }
  Model m;
  ASSERT_NO_THROW(m.openStore(file));
  EXPECT_EQ(*columns(m)[0]->name, "y");
  EXPECT_EQ(m.context().allMetadata().size(), 1u);
}

// Version 2 had no variable labels: attaching such a file adds the empty
// column, keeps everything else, and a label then survives a reopen.
TEST(Store, UpgradesVersion2FilesWithEmptyVariableLabels) {
  TempDir dir;
  fs::path file = dir.path / "v2.tbx";
  sql(file, std::string(kTablesBeforeLabels) + R"(
    CREATE TABLE cell_chunks(colNum INTEGER NOT NULL, firstRow INTEGER NOT NULL, cells BLOB NOT NULL,
      PRIMARY KEY(colNum, firstRow)) WITHOUT ROWID;
    PRAGMA user_version = 2;
    INSERT INTO metadata(key, value) VALUES ('dataSource', 'old.csv');
    INSERT INTO columns(id, name, num, "order", type, obs, mean) VALUES (10, 'x', 0, 0, 3, 2, 1.5);
    INSERT INTO rows(id, num) VALUES (20, 1), (21, 2);
  )");
  {
    Model m;
    ASSERT_NO_THROW(m.openStore(file));
    auto cols = columns(m);
    ASSERT_EQ(cols.size(), 1u);
    EXPECT_EQ(cols[0]->name, OptText("x"));
    EXPECT_EQ(cols[0]->mean, OptReal(1.5));
    EXPECT_EQ(cols[0]->type, OptInt(3));
    EXPECT_FALSE(cols[0]->label.has_value());
    EXPECT_EQ(m.metadataValueForKey("dataSource"), OptText("old.csv"));
    cols[0]->label = "Weight in kg";
    m.saveContext();
  }
  // The upgrade's backup is gone once the upgraded file opened.
  for (const auto& e : fs::directory_iterator(dir.path)) EXPECT_EQ(e.path().filename(), "v2.tbx");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &st, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(st, 0), kStoreFormatVersion);
  sqlite3_finalize(st);
  sqlite3_close(db);
  Model m;
  ASSERT_NO_THROW(m.openStore(file, StoreAccess::ReadOnly));
  EXPECT_EQ(columns(m)[0]->label, OptText("Weight in kg"));
}

// Version 3 had no level orders: the upgrade adds the empty column, the
// file's figures and labels stay, and an order then survives a reopen.
TEST(Store, UpgradesVersion3FilesWithoutLevelOrders) {
  TempDir dir;
  fs::path file = dir.path / "v3.tbx";
  std::string tables = kTablesBeforeLabels;
  tables.replace(tables.find("type INTEGER,"), 13, "type INTEGER, label TEXT,");
  sql(file, tables + R"(
    CREATE TABLE cell_chunks(colNum INTEGER NOT NULL, firstRow INTEGER NOT NULL, cells BLOB NOT NULL,
      PRIMARY KEY(colNum, firstRow)) WITHOUT ROWID;
    PRAGMA user_version = 3;
    INSERT INTO columns(id, name, num, "order", type, label, obs, levels) VALUES (10, 'g', 0, 0, 1, 'Group', 3, 3);
    INSERT INTO rows(id, num) VALUES (20, 1);
  )");
  {
    Model m;
    ASSERT_NO_THROW(m.openStore(file));
    Column* c = columns(m)[0];
    EXPECT_EQ(c->label, OptText("Group"));
    EXPECT_EQ(c->levels, OptInt(3));
    EXPECT_FALSE(c->levelOrder.has_value());
    c->levelOrder = R"(["low","mid","high"])";
    m.saveContext();
  }
  Model m;
  ASSERT_NO_THROW(m.openStore(file, StoreAccess::ReadOnly));
  EXPECT_EQ(columns(m)[0]->levelOrder, OptText(R"(["low","mid","high"])"));
  EXPECT_EQ(columns(m)[0]->label, OptText("Group"));
}

// Version 4 had no missing-value codes: the upgrade adds the empty column
// and keeps the level orders; codes then survive a reopen.
TEST(Store, UpgradesVersion4FilesWithoutMissingCodes) {
  TempDir dir;
  fs::path file = dir.path / "v4.tbx";
  std::string tables = kTablesBeforeLabels;
  tables.replace(tables.find("type INTEGER,"), 13, "type INTEGER, label TEXT, levelOrder TEXT,");
  sql(file, tables + R"(
    CREATE TABLE cell_chunks(colNum INTEGER NOT NULL, firstRow INTEGER NOT NULL, cells BLOB NOT NULL,
      PRIMARY KEY(colNum, firstRow)) WITHOUT ROWID;
    PRAGMA user_version = 4;
    INSERT INTO columns(id, name, num, "order", type, levelOrder, obs) VALUES (10, 'g', 0, 0, 1, '["b","a"]', 3);
    INSERT INTO rows(id, num) VALUES (20, 1);
  )");
  {
    Model m;
    ASSERT_NO_THROW(m.openStore(file));
    Column* c = columns(m)[0];
    EXPECT_EQ(c->levelOrder, OptText(R"(["b","a"])"));
    EXPECT_FALSE(c->missingCodes.has_value());
    c->missingCodes = R"(["999"])";
    m.saveContext();
  }
  Model m;
  ASSERT_NO_THROW(m.openStore(file, StoreAccess::ReadOnly));
  EXPECT_EQ(columns(m)[0]->missingCodes, OptText(R"(["999"])"));
  EXPECT_EQ(columns(m)[0]->obs, OptInt(3));
}

TEST(Store, ForeignAndDamagedFilesAreReportedAndLeftUntouched) {
  TempDir dir;
  std::vector<std::string> alerts, logs;
  setStoreErrorHandler(
      [&](const std::string& title, const std::string&, const std::string&) { alerts.push_back(title); });
  setLogSink([&](std::string_view l) { logs.emplace_back(l); });
  fs::path text = dir.path / "notes.tbx";
  std::ofstream(text) << "just some text, not a database\n";
  fs::path otherDb = dir.path / "other.tbx";
  sql(otherDb, "CREATE TABLE t(x); INSERT INTO t VALUES(1);");
  fs::path truncated = dir.path / "cut.tbx";
  {
    Model m;
    ASSERT_NO_THROW(m.openStore(dir.path / "good.tbx"));
    addColumns(m, {"a"});
    for (int r = 1; r <= 20000; ++r) addRow(m, r, {std::string(40, 'x')}, columns(m));
    m.saveContext();
  }
  auto good = slurp(dir.path / "good.tbx");
  std::ofstream(truncated, std::ios::binary) << good.substr(0, good.size() / 2);

  for (const fs::path& f : {text, otherDb, truncated}) {
    auto before = slurp(f);
    Model m;
    try {
      m.openStore(f);
      ADD_FAILURE() << f << " opened";
    } catch (const StoreError& e) {
      EXPECT_EQ(e.details(), "file " + f.string());
      // What the front ends do with it: one log line and the alert.
      reportStoreError(e);
    }
    EXPECT_EQ(m.currentStore(), std::nullopt);
    EXPECT_EQ(slurp(f), before) << f;
  }
  EXPECT_EQ(alerts, (std::vector<std::string>(3, "Error!")));
  ASSERT_EQ(logs.size(), 3u);
  EXPECT_EQ(logs[0], "Unresolved error The file is not a Tabulix workspace, file " + text.string());
  setStoreErrorHandler({});
  setLogSink({});
}

// A save that fails half-way, whatever the exception, leaves the file at the
// last saved state and keeps every change pending: once the cause is gone
// the next save writes all of it.
TEST(Store, FailedSavesRollBackAndKeepTheirChanges) {
  TempDir dir;
  fs::path file = dir.path / "w.tbx";
  Model m;
  ASSERT_NO_THROW(m.openStore(file));
  addColumns(m, {"a"});
  addRow(m, 1, {"saved"}, columns(m));
  ASSERT_NO_THROW(m.saveContext());
  auto before = slurp(file);

  m.context().setCell(0, 1, "edited");
  addEmptyRow(m);
  Column* added = addEmptyColumn(m);
  Analysis* a = m.context().insertAnalysis();
  a->left = added;
  WhereClause* w = m.context().insertWhereClause();
  w->x = added;
  w->levels = std::vector<std::string>{"ok", "\xff\xfe not text"};  // the JSON encoder refuses this
  w->whereOfAnalysis = a;
  a->wheres.push_back(w);
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_ANY_THROW(m.context().save());
    EXPECT_TRUE(m.context().hasChanges());
    EXPECT_TRUE(added->objectID.isTemporary());
    EXPECT_TRUE(a->objectID.isTemporary());
    EXPECT_EQ(slurp(file), before);
  }
  w->levels = std::vector<std::string>{"ok", "fixed"};
  m.context().save();
  EXPECT_FALSE(m.context().hasChanges());

  Model again;
  ASSERT_NO_THROW(again.openStore(file));
  EXPECT_EQ(columnTexts(again, 0), (std::vector<std::string>{"edited", ""}));
  EXPECT_EQ(countColumns(again), 2u);
  ASSERT_EQ(analyses(again).size(), 1u);
  EXPECT_EQ(*analyses(again)[0]->left->name, "Var2");
  EXPECT_EQ(analyses(again)[0]->wheres.at(0)->levels, (std::vector<std::string>{"ok", "fixed"}));
}

// Opening never deletes a file it did not make: a user's name~.tbx survives
// opening and creating name.tbx; an upgrade backs up under a free name and
// deletes only that backup, only after the upgraded store opened.
TEST(Store, OnlyTheUpgradesOwnBackupIsDeleted) {
  TempDir dir;
  auto write = [](const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; };
  fs::path file = dir.path / "w.tbx", mine = dir.path / "w~.tbx";
  write(mine, "the user's own file");
  {
    Model m;
    ASSERT_NO_THROW(m.openStore(file));  // created
    addColumns(m, {"a"});
    ASSERT_NO_THROW(m.openStore(file));  // opened
  }
  EXPECT_EQ(slurp(mine), "the user's own file");

  // A version 1 file: the upgrade takes w~2.tbx and removes it afterwards.
  fs::remove(file);
  sql(file,
      "CREATE TABLE tbx_info(key TEXT PRIMARY KEY, value TEXT);"
      "INSERT INTO tbx_info VALUES('format', 'Tabulix workspace');"
      "CREATE TABLE metadata(id INTEGER PRIMARY KEY, key TEXT, value TEXT);"
      "CREATE TABLE columns(id INTEGER PRIMARY KEY, name TEXT, num INTEGER, \"order\" INTEGER, type INTEGER,"
      " obs INTEGER, obsNumeric INTEGER, obsDate INTEGER, levels INTEGER, levelsDate INTEGER, min REAL, max "
      "REAL,"
      " mean REAL, sd REAL, pc25 REAL, pc50 REAL, pc75 REAL, minDate REAL, maxDate REAL, meanDate REAL,"
      " sdDate REAL, pc25Date REAL, pc50Date REAL, pc75Date REAL);"
      "CREATE TABLE rows(id INTEGER PRIMARY KEY, num INTEGER);"
      "CREATE TABLE analyses(id INTEGER PRIMARY KEY, name TEXT, type INTEGER, lastOpened REAL, \"left\" "
      "INTEGER,"
      " \"right\" INTEGER, distribution INTEGER, test INTEGER, tails INTEGER, samples INTEGER, isPaired "
      "INTEGER,"
      " expected REAL, leftLevel1 TEXT, rightLevel1 TEXT, includeMissing INTEGER, twoWayPercAgg INTEGER,"
      " twoWayPercDisplay INTEGER);"
      "CREATE TABLE analysis_columns(analysis INTEGER, \"column\" INTEGER, position INTEGER);"
      "CREATE TABLE where_clauses(id INTEGER PRIMARY KEY, x INTEGER, op INTEGER, c TEXT, levels TEXT,"
      " whereOfAnalysis INTEGER, where2OfAnalysis INTEGER);"
      "PRAGMA user_version = 1;");
  auto original = slurp(file);
  {
    // Without its cells table the upgrade fails: the backup is the
    // user's copy of the original now and stays.
    Model m;
    EXPECT_THROW(m.openStore(file), StoreError);
    EXPECT_EQ(slurp(dir.path / "w~2.tbx"), original);
  }
  sql(file,
      "CREATE TABLE cells(id INTEGER PRIMARY KEY, data TEXT, colNum INTEGER, rowNum INTEGER,"
      " \"column\" INTEGER, \"row\" INTEGER)");
  {
    Model m;
    ASSERT_NO_THROW(m.openStore(file));
    EXPECT_FALSE(fs::exists(dir.path / "w~3.tbx"));  // made and deleted
  }
  EXPECT_TRUE(fs::exists(dir.path / "w~2.tbx"));
  EXPECT_EQ(slurp(mine), "the user's own file");
  Model m;
  EXPECT_THROW(m.openStore(dir.path / "new~.tbx"), StoreError);  // no workspace under a backup's name
  EXPECT_FALSE(fs::exists(dir.path / "new~.tbx"));
}

// Read-only opening: never creates, fills, upgrades or writes a file.
TEST(Store, ReadOnlyOpeningNeverChangesAFile) {
  TempDir dir;
  fs::path empty = dir.path / "empty.tbx";
  std::ofstream(empty).close();
  for (StoreAccess access : {StoreAccess::ReadOnly, StoreAccess::OpenOrCreate}) {
    Model m;
    EXPECT_THROW(m.openStore(empty, access), StoreError);
    EXPECT_EQ(fs::file_size(empty), 0u);
  }
  Model missing;
  EXPECT_THROW(missing.openStore(dir.path / "missing.tbx", StoreAccess::ReadOnly), StoreError);
  EXPECT_FALSE(fs::exists(dir.path / "missing.tbx"));

  fs::path file = dir.path / "w.tbx";
  {
    Model m;
    ASSERT_NO_THROW(m.openStore(file));
    addColumns(m, {"a"});
    addRow(m, 1, {"x"}, columns(m));
    m.saveContext();
  }
  // A workspace that has not yet been marked indexed would be written by a
  // read-write open.
  sql(file, "DELETE FROM metadata");
  auto before = slurp(file);
  Model m;
  ASSERT_NO_THROW(m.openStore(file, StoreAccess::ReadOnly));
  EXPECT_EQ(columnTexts(m, 0), (std::vector<std::string>{"x"}));
  m.context().setCell(0, 1, "changed");
  EXPECT_THROW(m.context().save(), StoreError);
  m.closeStores();
  EXPECT_EQ(slurp(file), before);
}

// A save killed half way leaves a hot journal: a read-only open plays it
// back (the file then holds its last saved state) instead of refusing with
// "attempt to write a readonly database".
TEST(Store, ReadOnlyOpeningUndoesAKilledSave) {
  TempDir dir;
  fs::path file = dir.path / "w.tbx";
  {
    Model m;
    ASSERT_NO_THROW(m.openStore(file));
    addColumns(m, {"a", "b"});
    auto cols = columns(m);
    for (int32_t r = 1; r <= 9000; ++r) addRow(m, r, {std::to_string(r), "text"}, cols);
    m.saveContext();
  }
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // A save that has written part of its pages into the file when it dies:
    // a tiny cache spills them before the commit.
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    sqlite3_exec(db,
                 "PRAGMA cache_size=2; BEGIN IMMEDIATE; DELETE FROM cell_chunks; DELETE FROM rows;"
                 " UPDATE columns SET name = 'gone';",
                 nullptr, nullptr, nullptr);
    kill(getpid(), SIGKILL);
    _exit(1);
  }
  waitpid(pid, nullptr, 0);
  fs::path journal = dir.path / "w.tbx-journal";
  ASSERT_TRUE(fs::exists(journal));
  {
    Model m;
    ASSERT_NO_THROW(m.openStore(file, StoreAccess::ReadOnly));
    EXPECT_EQ(countRows(m), 9000u);
    EXPECT_EQ(*columns(m)[0]->name, "a");
    EXPECT_EQ(columnTexts(m, 0).back(), "9000");
  }
  EXPECT_FALSE(fs::exists(journal));
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), "ok");
  sqlite3_finalize(st);
  sqlite3_close(db);
}

// A workspace beyond 500 variables or 100,000 observations is refused when
// it is opened, with a message saying why.
TEST(Store, WorkspacesBeyondTheLimitsAreRefused) {
  TempDir dir;
  auto make = [&](const std::string& name, int cols, int rows) {
    fs::path f = dir.path / name;
    {
      Model m;
      EXPECT_NO_THROW(m.openStore(f));
    }
    sql(f, "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i + 1 < " +
               std::to_string(cols) +
               ") INSERT INTO columns(name, num, \"order\") SELECT 'v' || i, i, i FROM n;"
               "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
               std::to_string(rows) + ") INSERT INTO rows(num) SELECT i FROM n;");
    return f;
  };
  Model m;
  EXPECT_NO_THROW(m.openStore(make("edge.tbx", 500, 100000)));
  EXPECT_EQ(countColumns(m), 500u);
  for (auto [cols, rows] : {std::pair{501, 1}, std::pair{1, 100001}}) {
    fs::path f = make("big.tbx", cols, rows);
    try {
      m.openStore(f);
      ADD_FAILURE() << cols << " x " << rows << " opened";
    } catch (const StoreError& e) {
      std::string what = e.what();
      EXPECT_NE(what.find("too large"), std::string::npos) << what;
      EXPECT_NE(what.find(std::to_string(cols) + " variables and " + std::to_string(rows)),
                std::string::npos);
    }
    EXPECT_EQ(m.currentStore(), std::nullopt);
    fs::remove(f);
  }
}

// Checks that a file passes SQLite's integrity check.
void expectIntact(const fs::path& file, int round) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), "ok") << "round " << round;
  sqlite3_finalize(st);
  sqlite3_close(db);
}

// A child process saves over and over and is killed at a random moment; the
// file must then pass SQLite's integrity check and hold one complete save.
// Even rounds rewrite a whole column per save: every cell equals the counter
// saved with it. Odd rounds are editing saves: every seventh cell of three
// columns takes the counter and one empty row is added, so the row count
// tells how many editing saves went through and the edited cells must agree.
TEST(Store, KilledSavesLeaveTheLastSavedState) {
  TempDir dir;
  fs::path file = dir.path / "w.tbx";
  const int rows = 6000;
  {
    Model m;
    ASSERT_NO_THROW(m.openStore(file));
    addColumns(m, {"a", "b", "c", "d"});
    for (int r = 1; r <= rows; ++r) addRow(m, r, {"0", "0", "0", "0"}, columns(m));
    m.setMetadataValue("0", "counter");
    m.setMetadataValue("0", "edits");
  }
  // Time one open-write-save cycle here, so that the kills land before,
  // during and after saves whatever the build's speed (sanitizers, load).
  auto t0 = std::chrono::steady_clock::now();
  {
    Model m;
    ASSERT_NO_THROW(m.openStore(file));
    for (int r = 1; r <= rows; ++r) m.context().setCell(0, r, "0");
    m.metadataForKey("counter")->value = "0";
    m.saveContext();
  }
  auto cycle =
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0).count();
  std::mt19937 rng(42);
  std::uniform_int_distribution<long> delay(cycle / 8, cycle * 2);
  int lastSeen = 0, lastEdit = 0, kills = 0;
  double saveScale = 1, editScale = 1;
  const int rounds = killRounds(110);
  for (int round = 0; round < rounds; ++round) {
    bool editing = round % 2 == 1;
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      try {
        Model m;
        m.openStore(file);
        for (int i = (editing ? lastEdit : lastSeen) + 1;; ++i) {
          std::string v = std::to_string(i);
          if (editing) {
            for (int32_t col : {1, 2, 3})
              for (int r = 1; r <= rows; r += 7) m.context().setCell(col, r, v);
            addEmptyRow(m);
            m.metadataForKey("edits")->value = v;
          } else {
            for (int r = 1; r <= rows; ++r) m.context().setCell(0, r, v);
            m.metadataForKey("counter")->value = v;
          }
          m.saveContext();
        }
      } catch (const std::exception&) {
        _exit(4);
      }
    }
    // An editing save touches three columns and adds a row: about twice
    // the work of the timed cycle.
    // When the machine is slower than the timed cycle suggested (load), a
    // round without any completed save widens the following delays.
    std::this_thread::sleep_for(std::chrono::microseconds(static_cast<long>(
        static_cast<double>(delay(rng) * (editing ? 2 : 1)) * (editing ? editScale : saveScale))));
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "child exited by itself with " << WEXITSTATUS(status);
    ++kills;
    expectIntact(file, round);

    Model m;
    ASSERT_NO_THROW(m.openStore(file));
    std::string counter = *m.metadataValueForKey("counter");
    int edits = std::stoi(*m.metadataValueForKey("edits"));
    auto texts = columnTexts(m, 0);
    ASSERT_EQ(texts.size(), static_cast<size_t>(rows + edits));
    for (int r = 0; r < rows; ++r) ASSERT_EQ(texts[r], counter) << "round " << round;
    for (int32_t col : {1, 2, 3}) {
      auto edited = columnTexts(m, col);
      for (int r = 0; r < rows; r += 7) ASSERT_EQ(edited[r], std::to_string(edits)) << "round " << round;
      for (int r = rows; r < rows + edits; ++r) ASSERT_EQ(edited[r], "") << "round " << round;
    }
    if (editing && edits == lastEdit) editScale = std::min(editScale * 2, 64.0);
    if (!editing && std::stoi(counter) == lastSeen) saveScale = std::min(saveScale * 2, 64.0);
    lastSeen = std::stoi(counter);
    lastEdit = edits;
  }
  EXPECT_GT(lastSeen, 0);
  EXPECT_GT(lastEdit, 0);
  std::cout << "[ figures  ] " << kills << " kills during saves and editing saves (" << lastSeen << " and "
            << lastEdit << " of them completed), 0 damaged workspaces\n";
}
