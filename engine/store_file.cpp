// Attaching a workspace file: its layout, creating a new file, the
// upgrade of older layouts with its backup, and the checks an opened file
// must pass.
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <utility>

#include "engine/cell_chunk.h"
#include "engine/log.h"
#include "engine/sql.h"
#include "engine/store.h"
#include "engine/store_history.h"

namespace tabulix {

namespace fs = std::filesystem;
using namespace storage;

namespace {

// The largest variable number a stored file may hold: numbers grow by one
// with each added variable and are not reused, so this leaves room for a
// million additions while keeping `num + 1` far from overflow.
constexpr int32_t kMaxColumnNumber = 1 << 20;

// Tables of the current format (version 6: the history tables, in
// store_history.cpp); version 1 had `cells` in place of `cell_chunks`,
// version 2 no `label`, version 3 no `levelOrder`, version 4 no
// `missingCodes`, version 5 no history.
// The record tables take their attributes from the records' field tables,
// relationships as row ids.
std::string commonSchema() {
  return "CREATE TABLE tbx_info(key TEXT PRIMARY KEY, value TEXT);"
         "INSERT INTO tbx_info VALUES('format', 'Tabulix workspace');"
         "CREATE TABLE metadata(id INTEGER PRIMARY KEY, " +
         columnDefinitions(kMetadataFields) +
         ");"
         "CREATE TABLE columns(id INTEGER PRIMARY KEY, " +
         columnDefinitions(kColumnFields) +
         ");"
         "CREATE TABLE rows(id INTEGER PRIMARY KEY, " +
         columnDefinitions(kRowFields) +
         ");"
         "CREATE TABLE analyses(id INTEGER PRIMARY KEY, " +
         columnDefinitions(kAnalysisFields) +
         ", \"left\" INTEGER, \"right\" INTEGER);"
         "CREATE TABLE analysis_columns(analysis INTEGER NOT NULL, \"column\" INTEGER NOT NULL,"
         " position INTEGER NOT NULL, PRIMARY KEY(analysis, \"column\"));"
         "CREATE TABLE where_clauses(id INTEGER PRIMARY KEY, " +
         columnDefinitions(kWhereClauseFields) +
         ", x INTEGER, levels TEXT, whereOfAnalysis INTEGER, where2OfAnalysis INTEGER);";
}

// A rowid table: a chunk blob of up to a page stays whole in its leaf page.
// A WITHOUT ROWID row keeps only about a quarter of a page there and puts the
// rest in an overflow page of its own, which more than doubled the file of a
// wide import. Older files have that layout; the SQL is the same for both.
const char* kChunkSchema =
    "CREATE TABLE cell_chunks(colNum INTEGER NOT NULL, firstRow INTEGER NOT NULL, cells BLOB NOT NULL,"
    " PRIMARY KEY(colNum, firstRow));";

int userVersion(sqlite3* db) {
  Stmt s(db, "PRAGMA user_version");
  s.step();
  return static_cast<int>(s.int64(0));
}

bool isWorkspace(sqlite3* db) {
  Stmt s(db, "SELECT count(*) FROM sqlite_master WHERE type='table' AND name='tbx_info'");
  s.step();
  if (s.int64(0) == 0) return false;
  Stmt f(db, "SELECT value FROM tbx_info WHERE key='format'");
  return f.step() && f.optText(0) == OptText("Tabulix workspace");
}

// Converts a version 1 file (one SQL row per cell, numbered or tied to its
// row and column records) to chunks. Cells whose numbers can be found
// neither directly nor through their relationships cannot be placed and are
// dropped, with a log line.
void upgradeFromVersion1(sqlite3* db) {
  exec(db, "BEGIN IMMEDIATE");
  try {
    exec(db, kChunkSchema);
    Stmt q(db,
           "SELECT coalesce(c.colNum, col.num), coalesce(c.rowNum, r.num), c.data FROM cells c"
           " LEFT JOIN columns col ON col.id = c.\"column\" LEFT JOIN rows r ON r.id = c.\"row\""
           " ORDER BY 1, 2");
    Stmt ins(db, "INSERT OR REPLACE INTO cell_chunks(colNum, firstRow, cells) VALUES(?,?,?)");
    std::unique_ptr<CellChunk> holder;
    int32_t curCol = 0, curFirst = 0;
    auto flush = [&]() {
      if (!holder) return;
      ins.bindInt64(1, curCol);
      ins.bindInt64(2, curFirst);
      ins.bindBlob(3, holder->encode());
      ins.run();
      holder.reset();
    };
    size_t dropped = 0;
    while (q.step()) {
      // Numbers out of range (read whole, never truncated) cannot be placed.
      if (q.isNull(0) || q.isNull(1) || q.int64(0) < 0 || q.int64(0) > kMaxColumnNumber || q.int64(1) < 1 ||
          q.int64(1) > static_cast<int64_t>(kMaxWorkspaceRows)) {
        ++dropped;
        continue;
      }
      OptInt col = q.optInt(0), row = q.optInt(1);
      int32_t first = chunkStart(*row);
      if (!holder || *col != curCol || first != curFirst) {
        flush();
        holder = std::make_unique<CellChunk>();
        curCol = *col;
        curFirst = first;
      }
      OptText data = q.optText(2);
      holder->set(*row - first, data ? std::optional<std::string_view>(*data) : std::nullopt);
    }
    flush();
    if (dropped) logLine("Dropped " + std::to_string(dropped) + " cells without row or column");
    exec(db, "DROP TABLE cells");
    exec(db, "PRAGMA user_version = 2");
    exec(db, "COMMIT");
  } catch (...) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

}  // namespace

namespace storage {

// Refuses a workspace beyond the limits the program works with.
void checkLimits(sqlite3* db, const fs::path& file) {
  auto count = [&](const char* sql) {
    Stmt s(db, sql);
    s.step();
    return static_cast<uint64_t>(s.int64(0));
  };
  uint64_t cols = count("SELECT count(*) FROM columns");
  uint64_t rows = count("SELECT count(*) FROM rows");
  if (cols > kMaxVariables || rows > kMaxWorkspaceRows)
    throw StoreError("The workspace is too large: it has " + std::to_string(cols) + " variables and " +
                         std::to_string(rows) + " observations; Tabulix opens workspaces of at most " +
                         std::to_string(kMaxVariables) + " variables and " +
                         std::to_string(kMaxWorkspaceRows) + " observations",
                     "file " + file.string());
}

// Refuses stored keys and counts outside the ranges the program works in, so
// that no row or column number read later can overflow or index out of
// bounds: row numbers 1 … kMaxWorkspaceRows, column numbers 0 …
// kMaxColumnNumber, chunks at chunk boundaries and each stored once.
void checkStoredValues(sqlite3* db, const fs::path& file) {
  const std::string rows = std::to_string(kMaxWorkspaceRows), cols = std::to_string(kMaxColumnNumber);
  auto inRange = [](const std::string& col, const std::string& lo, const std::string& hi) {
    return "(" + col + " IS NULL OR (typeof(" + col + ")='integer' AND " + col + " BETWEEN " + lo + " AND " +
           hi + "))";
  };
  std::string counts;
  for (const char* c : {"obs", "obsNumeric", "obsDate", "levels", "levelsDate"})
    counts += " AND " + inRange(c, "0", rows);
  const std::string chunk = std::to_string(kCellsPerChunk);
  const std::pair<std::string, const char*> checks[] = {
      {"SELECT count(*) FROM columns WHERE NOT (" + inRange("num", "0", cols) + " AND " +
           inRange("\"order\"", "-" + cols, cols) + counts + ")",
       "a variable with a number or count out of range"},
      {"SELECT count(*) FROM rows WHERE NOT " + inRange("num", "1", rows),
       "an observation number out of range"},
      {"SELECT count(*) FROM cell_chunks WHERE typeof(colNum)!='integer' OR colNum NOT BETWEEN 0 AND " +
           cols + " OR typeof(firstRow)!='integer' OR firstRow NOT BETWEEN 1 AND " + rows +
           " OR (firstRow-1)%" + chunk + "!=0 OR typeof(cells)!='blob'",
       "cells stored out of range"},
      {"SELECT count(*) FROM (SELECT 1 FROM cell_chunks GROUP BY colNum, firstRow HAVING count(*)>1)",
       "cells stored twice"},
  };
  for (const auto& [sql, what] : checks) {
    Stmt s(db, sql.c_str());
    if (s.step() && s.int64(0) != 0)
      throw StoreError(std::string("The workspace file is damaged: it holds ") + what,
                       "file " + file.string());
  }
}

}  // namespace storage

fs::path migrationBackupName(const fs::path& file, int n) {
  std::string tilde = n <= 1 ? "~" : "~" + std::to_string(n);
  return file.parent_path() / (file.stem().string() + tilde + file.extension().string());
}

bool isMigrationBackupName(const fs::path& file) {
  std::string stem = file.stem().string();
  size_t tilde = stem.rfind('~');
  if (tilde == std::string::npos) return false;
  return stem.find_first_not_of("0123456789", tilde + 1) == std::string::npos;
}

namespace {

void closeQuietly(sqlite3* db) { sqlite3_close(db); }

// Flushes a folder's entries (a rename) to disk; failures only cost
// durability against a power cut, never atomicity.
void syncFolder(const fs::path& folder) {
  int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// Builds a new, empty workspace at `file`: the tables are created and
// committed in a hidden file beside it, which then takes the name. A process
// killed on the way leaves at most that hidden file, never a file under the
// workspace's name that does not open. An existing file is never replaced.
void createWorkspaceFile(const fs::path& file) {
  static std::atomic<unsigned> counter{0};
  fs::path tmp = file.parent_path() / ("." + file.filename().string() + ".new-" + std::to_string(::getpid()) +
                                       "-" + std::to_string(counter++));
  std::error_code ec;
  fs::remove(tmp, ec);
  sqlite3* db = nullptr;
  try {
    db = openConnection(tmp, true, false);
    // Large pages keep a chunk of cells in a few pages rather than a long
    // chain of 4 KiB overflow pages.
    exec(db, "PRAGMA page_size=65536");
    exec(db, "PRAGMA journal_mode=DELETE");
    exec(db, "PRAGMA synchronous=FULL");
    exec(db, "BEGIN IMMEDIATE");
    exec(db, commonSchema().c_str());
    exec(db, kChunkSchema);
    exec(db, kHistorySchema);
    exec(db, ("PRAGMA user_version = " + std::to_string(kStoreFormatVersion)).c_str());
    exec(db, "COMMIT");
    closeQuietly(db);
    db = nullptr;
    // link() refuses to replace a file that appeared meanwhile; rename is
    // the fallback on file systems without hard links.
    if (::link(tmp.c_str(), file.c_str()) == 0) {
      fs::remove(tmp, ec);
    } else if (errno == EEXIST) {
      throw StoreError("Cannot create workspace file: the file exists", "file " + file.string());
    } else {
      fs::rename(tmp, file);
    }
    syncFolder(file.parent_path());
  } catch (const StoreError&) {
    if (db) closeQuietly(db);
    fs::remove(tmp, ec);
    throw;
  } catch (const std::exception& e) {
    if (db) closeQuietly(db);
    fs::remove(tmp, ec);
    throw StoreError(std::string("Cannot create workspace file: ") + e.what(), "file " + file.string());
  }
}

// Gives a file of version `to` - 1 one more text attribute of the variables
// (none set yet) and marks it as version `to`, in one transaction: version
// 3 added `label`, 4 `levelOrder`, 5 `missingCodes`.
void upgradeAddingColumnAttribute(sqlite3* db, const char* attribute, int to) {
  exec(db, "BEGIN IMMEDIATE");
  try {
    exec(db, (std::string("ALTER TABLE columns ADD COLUMN ") + attribute + " TEXT").c_str());
    exec(db, ("PRAGMA user_version = " + std::to_string(to)).c_str());
    exec(db, "COMMIT");
  } catch (...) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

// Gives a version 5 file the empty history tables and marks it as version
// 6, in one transaction.
void upgradeAddingHistory(sqlite3* db) {
  exec(db, "BEGIN IMMEDIATE");
  try {
    exec(db, kHistorySchema);
    exec(db, "PRAGMA user_version = 6");
    exec(db, "COMMIT");
  } catch (...) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

// Copies a file to be upgraded to the first free backup name; a file that
// already has the name (the user's own) is never overwritten.
fs::path makeUpgradeBackup(const fs::path& file) {
  for (int n = 1; n <= 99; ++n) {
    fs::path backup = migrationBackupName(file, n);
    std::error_code ec;
    if (fs::exists(backup, ec) || ec) continue;
    if (fs::copy_file(file, backup, fs::copy_options::none, ec)) return backup;
    if (ec && ec != std::errc::file_exists)
      throw StoreError("Cannot back up the workspace before upgrading it: " + ec.message(),
                       "file " + file.string());
  }
  throw StoreError("Cannot back up the workspace before upgrading it: no free backup name",
                   "file " + file.string());
}

// Refuses schema objects the format does not define: a trigger, a view, an
// index or a table of its own would run or read SQL the program never wrote.
// `cells` is the version 1 cell table, converted on attach.
void checkSchema(sqlite3* db, const fs::path& file, int version) {
  static const std::set<std::string, std::less<>> kTables = {
      "tbx_info",      "metadata",    "columns",       "rows",           "analyses",   "analysis_columns",
      "where_clauses", "cell_chunks", "history_steps", "history_images", "history_ids"};
  // Tables SQLite itself keeps (ANALYZE statistics, AUTOINCREMENT counters).
  static const std::set<std::string, std::less<>> kInternal = {"sqlite_stat1", "sqlite_stat4",
                                                               "sqlite_sequence"};
  Stmt s(db, "SELECT type, name, tbl_name, coalesce(sql, '') FROM sqlite_master");
  while (s.step()) {
    std::string type = s.optText(0).value_or(""), name = s.optText(1).value_or("");
    std::string table = s.optText(2).value_or(""), sql = s.optText(3).value_or("");
    bool ours = kTables.count(table) || (version <= 1 && table == "cells");
    bool known = false;
    if (type == "table")
      known = (ours || kInternal.count(name)) && sql.compare(0, 12, "CREATE TABLE") == 0;
    else if (type == "index")
      known = ours && name.compare(0, 17, "sqlite_autoindex_") == 0;
    if (!known)
      throw StoreError("The file holds a " + type + " \"" + name +
                           "\" that Tabulix workspaces do not have; it is not opened",
                       "file " + file.string());
  }
}

// A save cut short (a killed process, a power cut) leaves a hot journal
// beside the file, which SQLite plays back on the next open that may write
// and for which it refuses a read-only one ("attempt to write a readonly
// database"). A read-only open plays it back first, through a connection
// that may write: the file then holds its last saved state, as any open
// would make it. Where that is not allowed the file stays as it is and the
// message says what happened and what to do.
void recoverHotJournal(const fs::path& file) {
  fs::path journal = file;
  journal += "-journal";
  std::error_code ec;
  if (!fs::exists(journal, ec) || fs::file_size(journal, ec) == 0 || ec) return;
  sqlite3* db = nullptr;
  try {
    db = openConnection(file, false, false);
  } catch (const StoreError&) {
    db = nullptr;
  }
  // Reading the schema is the first read, which plays a hot journal back
  // (a journal of a save still running elsewhere is not hot: the read
  // waits for it instead).
  if (db && sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr) == SQLITE_OK) {
    sqlite3_close(db);
    logLine("Undid the interrupted last save of " + file.string());
    return;
  }
  if (db) sqlite3_close(db);
  throw StoreError(
      "The workspace was being saved when the program saving it stopped; the unfinished save (in " +
          journal.filename().string() +
          ") must be undone before the workspace can be read, and that needs permission to write the "
          "workspace and its folder. Open it once where it may be written (the file is unchanged)",
      "file " + file.string());
}

}  // namespace

void StoreCoordinator::addStore(const fs::path& file, StoreAccess access) {
  std::error_code ec;
  bool exists = fs::exists(file, ec);
  if (ec) throw StoreError("Cannot read the workspace file: " + ec.message(), "file " + file.string());
  if (!exists) {
    if (access == StoreAccess::ReadOnly) throw StoreError("No such workspace file", "file " + file.string());
    if (isMigrationBackupName(file))
      throw StoreError("A workspace name may not end in \"~\": such files are upgrade backups",
                       "file " + file.string());
    createWorkspaceFile(file);
  } else {
    // Look at the header before SQLite does anything to the file: an empty
    // or foreign file is refused, never turned into a workspace.
    char header[16] = {};
    std::FILE* f = std::fopen(file.c_str(), "rb");
    if (!f) throw StoreError("Cannot read the workspace file", "file " + file.string());
    size_t got = std::fread(header, 1, sizeof header, f);
    std::fclose(f);
    if (got < sizeof header || std::memcmp(header, "SQLite format 3", 16) != 0)
      throw StoreError("The file is not a Tabulix workspace", "file " + file.string());
  }
  bool readOnly = access == StoreAccess::ReadOnly;
  if (readOnly) recoverHotJournal(file);
  std::optional<fs::path> backup;
  sqlite3* db = openConnection(file, false, readOnly);
  try {
    if (!isWorkspace(db)) throw StoreError("The file is not a Tabulix workspace", "file " + file.string());
    int version = userVersion(db);
    if (version > kStoreFormatVersion)
      throw StoreError(
          "The workspace was written by a newer Tabulix (format " + std::to_string(version) + ")",
          "file " + file.string());
    checkSchema(db, file, version);
    checkLimits(db, file);
    if (version < kStoreFormatVersion) {
      if (readOnly)
        throw StoreError("The workspace has an older format; open it once in Tabulix to upgrade it",
                         "file " + file.string());
      exec(db, "PRAGMA journal_mode=DELETE");
      // Keep the original until the upgraded store has opened; the open
      // then deletes this backup, and only this one.
      backup = makeUpgradeBackup(file);
      if (version <= 1) upgradeFromVersion1(db);
      if (version <= 2) upgradeAddingColumnAttribute(db, "label", 3);
      if (version <= 3) upgradeAddingColumnAttribute(db, "levelOrder", 4);
      if (version <= 4) upgradeAddingColumnAttribute(db, "missingCodes", 5);
      if (version <= 5) upgradeAddingHistory(db);
    }
    checkStoredValues(db, file);
    Stmt check(db, "PRAGMA quick_check");
    if (!check.step() || check.optText(0) != OptText("ok"))
      throw StoreError("The workspace file is damaged", "file " + file.string());
  } catch (const StoreError&) {
    sqlite3_close(db);
    throw;
  } catch (const std::exception& e) {
    sqlite3_close(db);
    throw StoreError(e.what(), "file " + file.string());
  }
  sqlite3_close(db);
  file_ = file;
  backup_ = backup;
  access_ = access;
}

void StoreCoordinator::removeStore() {
  file_.reset();
  backup_.reset();
  access_ = StoreAccess::OpenOrCreate;
}

}  // namespace tabulix
