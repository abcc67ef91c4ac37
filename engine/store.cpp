#include "engine/store.h"

#include <sqlite3.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <set>

#include <nlohmann/json.hpp>

#include "engine/log.h"

namespace tabulix {

namespace fs = std::filesystem;

namespace {

// --- SQLite helpers -------------------------------------------------------

[[noreturn]] void fail(sqlite3* db, const std::string& what) {
  std::string msg = db ? sqlite3_errmsg(db) : "out of memory";
  const char* file = db ? sqlite3_db_filename(db, "main") : nullptr;
  throw StoreError(what + ": " + msg, std::string("file ") + (file ? file : "?"));
}

void exec(sqlite3* db, const char* sql) {
  char* err = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
    std::string msg = err ? err : "unknown error";
    sqlite3_free(err);
    throw StoreError(std::string("SQL failed: ") + msg, sql);
  }
}

// A prepared statement, finalized on scope exit.
class Stmt {
 public:
  Stmt(sqlite3* db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &s_, nullptr) != SQLITE_OK) fail(db, std::string("prepare ") + sql);
  }
  ~Stmt() { sqlite3_finalize(s_); }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;

  // Binds an optional value, NULL when absent.
  void bind(int i, const OptInt& v) { v ? sqlite3_bind_int(s_, i, *v) : sqlite3_bind_null(s_, i); }
  void bind(int i, const OptReal& v) { v ? sqlite3_bind_double(s_, i, *v) : sqlite3_bind_null(s_, i); }
  void bind(int i, const OptText& v) {
    v ? sqlite3_bind_text(s_, i, v->data(), static_cast<int>(v->size()), SQLITE_TRANSIENT) : sqlite3_bind_null(s_, i);
  }
  void bind(int i, const std::optional<bool>& v) { bind(i, v ? OptInt(*v ? 1 : 0) : OptInt()); }
  void bindId(int i, int64_t id) { id ? sqlite3_bind_int64(s_, i, id) : sqlite3_bind_null(s_, i); }
  void bindInt64(int i, int64_t v) { sqlite3_bind_int64(s_, i, v); }
  void bindBlob(int i, const std::string& b) {
    sqlite3_bind_blob(s_, i, b.data(), static_cast<int>(b.size()), SQLITE_TRANSIENT);
  }

  bool step() {
    int rc = sqlite3_step(s_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    fail(db_, "step");
  }
  void run() {
    step();
    sqlite3_reset(s_);
    sqlite3_clear_bindings(s_);
  }
  void reset() { sqlite3_reset(s_); }

  bool isNull(int i) { return sqlite3_column_type(s_, i) == SQLITE_NULL; }
  OptInt optInt(int i) { return isNull(i) ? OptInt() : OptInt(sqlite3_column_int(s_, i)); }
  OptReal optReal(int i) { return isNull(i) ? OptReal() : OptReal(sqlite3_column_double(s_, i)); }
  OptText optText(int i) {
    if (isNull(i)) return std::nullopt;
    auto p = reinterpret_cast<const char*>(sqlite3_column_text(s_, i));
    return std::string(p, static_cast<size_t>(sqlite3_column_bytes(s_, i)));
  }
  std::optional<bool> optBool(int i) { return isNull(i) ? std::optional<bool>() : sqlite3_column_int(s_, i) != 0; }
  int64_t int64(int i) { return sqlite3_column_int64(s_, i); }
  std::string_view blob(int i) {
    auto p = static_cast<const char*>(sqlite3_column_blob(s_, i));
    return {p ? p : "", static_cast<size_t>(sqlite3_column_bytes(s_, i))};
  }

 private:
  sqlite3* db_;
  sqlite3_stmt* s_ = nullptr;
};

sqlite3* openConnection(const std::filesystem::path& file, bool create, bool readOnly) {
  sqlite3* db = nullptr;
  int flags = readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
  if (sqlite3_open_v2(file.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    std::string msg = db ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close(db);
    throw StoreError("Cannot open workspace file: " + msg, "file " + file.string());
  }
  sqlite3_busy_timeout(db, 10000);
  return db;
}

// Tables shared by both format versions; version 1 adds `cells`, version 2
// `cell_chunks`.
const char* kCommonSchema = R"sql(
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
)sql";

const char* kChunkSchema =
    "CREATE TABLE cell_chunks(colNum INTEGER NOT NULL, firstRow INTEGER NOT NULL, cells BLOB NOT NULL,"
    " PRIMARY KEY(colNum, firstRow)) WITHOUT ROWID;";

int32_t chunkStart(int32_t rowNum) {
  // Rows count from 1; chunk k holds rows k*N+1 … (k+1)*N. Row numbers below
  // 1 (never made by the engine) still land in a well-defined chunk.
  int64_t r = static_cast<int64_t>(rowNum) - 1;
  int64_t k = r >= 0 ? r / kCellsPerChunk : -((-r + kCellsPerChunk - 1) / kCellsPerChunk);
  return static_cast<int32_t>(k * kCellsPerChunk + 1);
}

void putVarint(std::string& out, uint64_t v) {
  while (v >= 0x80) {
    out.push_back(static_cast<char>((v & 0x7f) | 0x80));
    v >>= 7;
  }
  out.push_back(static_cast<char>(v));
}

bool getVarint(std::string_view& in, uint64_t& v) {
  v = 0;
  for (int shift = 0; shift < 64 && !in.empty(); shift += 7) {
    auto b = static_cast<uint8_t>(in.front());
    in.remove_prefix(1);
    v |= static_cast<uint64_t>(b & 0x7f) << shift;
    if (!(b & 0x80)) return true;
  }
  return false;
}

}  // namespace

// --- cell chunks ------------------------------------------------------------

// The cells of kCellsPerChunk consecutive rows of one column. Texts are kept
// in one byte buffer; a changed cell appends its new text, and encode()
// writes only the live bytes.
struct CellChunk {
  enum : uint8_t { kNoCell = 0, kNoData = 1, kText = 2 };
  std::vector<uint8_t> state = std::vector<uint8_t>(kCellsPerChunk, kNoCell);
  std::vector<uint32_t> start = std::vector<uint32_t>(kCellsPerChunk, 0);
  std::vector<uint32_t> len = std::vector<uint32_t>(kCellsPerChunk, 0);
  std::string bytes;
  bool dirty = false;

  void set(int i, std::optional<std::string_view> text) {
    if (!text) {
      state[i] = kNoData;
      len[i] = 0;
    } else {
      state[i] = kText;
      start[i] = static_cast<uint32_t>(bytes.size());
      len[i] = static_cast<uint32_t>(text->size());
      bytes.append(*text);
    }
    dirty = true;
  }
  std::optional<std::string_view> get(int i) const {
    if (state[i] != kText) return std::nullopt;
    return std::string_view(bytes).substr(start[i], len[i]);
  }

  // Blob layout: for each cell up to the last one present, a varint tag
  // (0 no cell, 1 cell without data, 2 + length a text), then all texts.
  std::string encode() const {
    int n = kCellsPerChunk;
    while (n > 0 && state[n - 1] == kNoCell) --n;
    std::string head, body;
    for (int i = 0; i < n; ++i) {
      if (state[i] == kText) {
        putVarint(head, 2 + uint64_t{len[i]});
        body.append(bytes, start[i], len[i]);
      } else {
        putVarint(head, state[i]);
      }
    }
    std::string out;
    putVarint(out, static_cast<uint64_t>(n));
    out += head;
    out += body;
    return out;
  }

  // Decodes a stored blob; a damaged blob throws instead of reading past it.
  void decode(std::string_view in) {
    state.assign(kCellsPerChunk, kNoCell);
    uint64_t n = 0;
    if (!getVarint(in, n) || n > static_cast<uint64_t>(kCellsPerChunk)) throw StoreError("Damaged cell chunk", "");
    uint64_t total = 0;
    for (uint64_t i = 0; i < n; ++i) {
      uint64_t tag;
      if (!getVarint(in, tag)) throw StoreError("Damaged cell chunk", "");
      if (tag >= 2) {
        uint64_t l = tag - 2;
        if (l > in.size() || total + l > in.size()) throw StoreError("Damaged cell chunk", "");
        state[i] = kText;
        start[i] = static_cast<uint32_t>(total);
        len[i] = static_cast<uint32_t>(l);
        total += l;
      } else {
        state[i] = static_cast<uint8_t>(tag);
      }
    }
    if (total != in.size()) throw StoreError("Damaged cell chunk", "");
    bytes.assign(in.data(), in.size());
  }

  // Drops the texts that edits replaced, once they outweigh the live ones.
  void compact() {
    size_t live = 0;
    for (int i = 0; i < kCellsPerChunk; ++i) live += len[i];
    if (bytes.size() > 2 * live + 4096) decode(encode());
  }
};

// --- coordinator ------------------------------------------------------------

namespace {

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
      OptInt col = q.optInt(0), row = q.optInt(1);
      if (!col || !row) {
        ++dropped;
        continue;
      }
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
  fs::path tmp = file.parent_path() / ("." + file.filename().string() + ".new-" + std::to_string(::getpid()) + "-" +
                                       std::to_string(counter++));
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
    exec(db, kCommonSchema);
    exec(db, kChunkSchema);
    exec(db, "PRAGMA user_version = 2");
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

// Copies a file to be upgraded to the first free backup name; a file that
// already has the name (the user's own) is never overwritten.
fs::path makeUpgradeBackup(const fs::path& file) {
  for (int n = 1; n <= 99; ++n) {
    fs::path backup = migrationBackupName(file, n);
    std::error_code ec;
    if (fs::exists(backup, ec) || ec) continue;
    if (fs::copy_file(file, backup, fs::copy_options::none, ec)) return backup;
    if (ec && ec != std::errc::file_exists)
      throw StoreError("Cannot back up the workspace before upgrading it: " + ec.message(), "file " + file.string());
  }
  throw StoreError("Cannot back up the workspace before upgrading it: no free backup name", "file " + file.string());
}

// Refuses a workspace beyond the limits the program works with.
void checkLimits(sqlite3* db, const fs::path& file) {
  auto count = [&](const char* sql) {
    Stmt s(db, sql);
    s.step();
    return static_cast<uint64_t>(s.int64(0));
  };
  uint64_t cols = count("SELECT count(*) FROM columns");
  uint64_t rows = count("SELECT count(*) FROM rows");
  if (cols > kMaxWorkspaceColumns || rows > kMaxWorkspaceRows)
    throw StoreError("The workspace is too large: it has " + std::to_string(cols) + " variables and " +
                         std::to_string(rows) + " observations; Tabulix opens workspaces of at most " +
                         std::to_string(kMaxWorkspaceColumns) + " variables and " +
                         std::to_string(kMaxWorkspaceRows) + " observations",
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
  std::optional<fs::path> backup;
  sqlite3* db = openConnection(file, false, readOnly);
  try {
    if (!isWorkspace(db)) throw StoreError("The file is not a Tabulix workspace", "file " + file.string());
    int version = userVersion(db);
    if (version > kStoreFormatVersion)
      throw StoreError("The workspace was written by a newer Tabulix (format " + std::to_string(version) + ")",
                       "file " + file.string());
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
    }
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

// --- context ----------------------------------------------------------------

Context::Context(std::shared_ptr<StoreCoordinator> coordinator) : coordinator_(std::move(coordinator)) {
  reconnect();
}

Context::~Context() {
  if (db_) sqlite3_close(db_);
}

void Context::reconnect() {
  reset();
  if (db_) sqlite3_close(db_);
  db_ = nullptr;
  if (auto file = coordinator_->storeFile()) {
    bool readOnly = coordinator_->access() == StoreAccess::ReadOnly;
    db_ = openConnection(*file, false, readOnly);
    if (!readOnly) {
      exec(db_, "PRAGMA journal_mode=DELETE");
      exec(db_, "PRAGMA synchronous=FULL");
    }
    // Reads through a memory map instead of a system call per page; the map
    // is capped so that several connections (import workers) on a large
    // workspace stay well under a gigabyte of resident memory.
    exec(db_, "PRAGMA mmap_size=134217728");
  }
}

void Context::setDurable(bool durable) {
  if (db_) exec(db_, durable ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=OFF");
}

void Context::reset() {
  metadata_.clear();
  columns_.clear();
  rows_.clear();
  analyses_.clear();
  wheres_.clear();
  deletedColumnNums_.clear();
  chunks_.clear();
  loaded_ = false;
  rowsLoaded_ = false;
  savedRowCount_ = 0;
}

template <class T>
std::vector<T*> Context::live(std::vector<Slot<T>>& slots) {
  std::vector<T*> out;
  out.reserve(slots.size());
  for (auto& s : slots)
    if (!s.deleted) out.push_back(s.rec.get());
  return out;
}

template <class T>
bool Context::slotsChanged(const std::vector<Slot<T>>& slots) {
  for (auto& s : slots)
    if (s.deleted || !s.saved || !(*s.saved == *s.rec)) return true;
  return false;
}

template <class T>
T* Context::findById(std::vector<Slot<T>>& slots, const ObjectId& id) {
  if (id.isTemporary()) return nullptr;
  for (auto& s : slots)
    if (!s.deleted && s.rec->objectID == id) return s.rec.get();
  return nullptr;
}

template <>
std::vector<Metadata*> Context::records<Metadata>() {
  return allMetadata();
}
template <>
std::vector<Column*> Context::records<Column>() {
  return allColumns();
}
template <>
std::vector<Row*> Context::records<Row>() {
  return allRows();
}
template <>
std::vector<Analysis*> Context::records<Analysis>() {
  return allAnalyses();
}
template <>
std::vector<WhereClause*> Context::records<WhereClause>() {
  return allWhereClauses();
}

void Context::ensureLoaded() {
  if (!loaded_) loadRecords();
}

void Context::loadRecords() {
  loaded_ = true;
  if (!db_) return;
  std::unordered_map<int64_t, Column*> colById;
  std::unordered_map<int64_t, Analysis*> anaById;
  {
    Stmt s(db_, "SELECT id, key, value FROM metadata ORDER BY id");
    while (s.step()) {
      auto m = std::make_unique<Metadata>();
      m->objectID = {Entity::Metadata, s.int64(0)};
      m->key = s.optText(1);
      m->value = s.optText(2);
      metadata_.push_back({std::move(m), std::nullopt, false});
      metadata_.back().saved = *metadata_.back().rec;
    }
  }
  {
    Stmt s(db_,
           "SELECT id, name, num, \"order\", type, obs, obsNumeric, obsDate, levels, levelsDate, min, max, mean, sd,"
           " pc25, pc50, pc75, minDate, maxDate, meanDate, sdDate, pc25Date, pc50Date, pc75Date FROM columns"
           " ORDER BY id");
    while (s.step()) {
      auto c = std::make_unique<Column>();
      c->objectID = {Entity::Column, s.int64(0)};
      c->name = s.optText(1);
      OptInt* ints[] = {&c->num, &c->order, &c->type, &c->obs, &c->obsNumeric, &c->obsDate, &c->levels, &c->levelsDate};
      for (int i = 0; i < 8; ++i) *ints[i] = s.optInt(2 + i);
      OptReal* reals[] = {&c->min,     &c->max,     &c->mean,   &c->sd,       &c->pc25,     &c->pc50, &c->pc75,
                          &c->minDate, &c->maxDate, &c->meanDate, &c->sdDate, &c->pc25Date, &c->pc50Date, &c->pc75Date};
      for (int i = 0; i < 14; ++i) *reals[i] = s.optReal(10 + i);
      colById[c->objectID.rowid] = c.get();
      columns_.push_back({std::move(c), std::nullopt, false});
    }
  }
  auto col = [&](Stmt& s, int i) -> Column* {
    if (s.isNull(i)) return nullptr;
    auto it = colById.find(s.int64(i));
    return it == colById.end() ? nullptr : it->second;
  };
  {
    Stmt s(db_,
           "SELECT id, name, type, lastOpened, \"left\", \"right\", distribution, test, tails, samples, isPaired,"
           " expected, leftLevel1, rightLevel1, includeMissing, twoWayPercAgg, twoWayPercDisplay FROM analyses"
           " ORDER BY id");
    while (s.step()) {
      auto a = std::make_unique<Analysis>();
      a->objectID = {Entity::Analysis, s.int64(0)};
      a->name = s.optText(1);
      a->type = s.optInt(2);
      a->lastOpened = s.optReal(3);
      a->left = col(s, 4);
      a->right = col(s, 5);
      a->distribution = s.optInt(6);
      a->test = s.optInt(7);
      a->tails = s.optInt(8);
      a->samples = s.optInt(9);
      a->isPaired = s.optBool(10);
      a->expected = s.optReal(11);
      a->leftLevel1 = s.optText(12);
      a->rightLevel1 = s.optText(13);
      a->includeMissing = s.optBool(14);
      a->twoWayPercAgg = s.optInt(15);
      a->twoWayPercDisplay = s.optInt(16);
      anaById[a->objectID.rowid] = a.get();
      analyses_.push_back({std::move(a), std::nullopt, false});
    }
  }
  {
    Stmt s(db_, "SELECT analysis, \"column\" FROM analysis_columns ORDER BY analysis, position");
    while (s.step()) {
      auto a = anaById.find(s.int64(0));
      Column* c = col(s, 1);
      if (a != anaById.end() && c) a->second->columns.push_back(c);
    }
  }
  {
    Stmt s(db_, "SELECT id, x, op, c, levels, whereOfAnalysis, where2OfAnalysis FROM where_clauses ORDER BY id");
    while (s.step()) {
      auto w = std::make_unique<WhereClause>();
      w->objectID = {Entity::WhereClause, s.int64(0)};
      w->x = col(s, 1);
      w->op = s.optInt(2);
      w->c = s.optText(3);
      if (OptText lv = s.optText(4)) {
        auto j = nlohmann::json::parse(*lv, nullptr, false);
        if (j.is_array()) {
          std::vector<std::string> levels;
          for (auto& e : j)
            if (e.is_string()) levels.push_back(e.get<std::string>());
          w->levels = std::move(levels);
        }
      }
      auto ana = [&](int i) -> Analysis* {
        if (s.isNull(i)) return nullptr;
        auto it = anaById.find(s.int64(i));
        return it == anaById.end() ? nullptr : it->second;
      };
      w->whereOfAnalysis = ana(5);
      w->where2OfAnalysis = ana(6);
      if (w->whereOfAnalysis) w->whereOfAnalysis->wheres.push_back(w.get());
      if (w->where2OfAnalysis) w->where2OfAnalysis->wheres2.push_back(w.get());
      wheres_.push_back({std::move(w), std::nullopt, false});
    }
  }
  for (auto& s : columns_) s.saved = *s.rec;
  for (auto& s : analyses_) s.saved = *s.rec;
  for (auto& s : wheres_) s.saved = *s.rec;
  Stmt n(db_, "SELECT count(*) FROM rows");
  n.step();
  savedRowCount_ = static_cast<size_t>(n.int64(0));
}

std::vector<Metadata*> Context::allMetadata() {
  ensureLoaded();
  return live(metadata_);
}
std::vector<Column*> Context::allColumns() {
  ensureLoaded();
  return live(columns_);
}
std::vector<Analysis*> Context::allAnalyses() {
  ensureLoaded();
  return live(analyses_);
}
std::vector<WhereClause*> Context::allWhereClauses() {
  ensureLoaded();
  return live(wheres_);
}

std::vector<Row*> Context::allRows() {
  ensureLoaded();
  if (!rowsLoaded_ && db_) {
    std::vector<Slot<Row>> stored;
    stored.reserve(savedRowCount_ + rows_.size());
    Stmt s(db_, "SELECT id, num FROM rows ORDER BY id");
    while (s.step()) {
      auto r = std::make_unique<Row>();
      r->objectID = {Entity::Row, s.int64(0)};
      r->num = s.optInt(1);
      Row saved = *r;
      stored.push_back({std::move(r), saved, false});
    }
    for (auto& r : rows_) stored.push_back(std::move(r));
    rows_ = std::move(stored);
  }
  rowsLoaded_ = true;
  return live(rows_);
}

size_t Context::countRows() {
  ensureLoaded();
  return (rowsLoaded_ ? 0 : savedRowCount_) + rows_.size();
}

Metadata* Context::insertMetadata() {
  ensureLoaded();
  metadata_.push_back({std::make_unique<Metadata>(), std::nullopt, false});
  metadata_.back().rec->objectID.entity = Entity::Metadata;
  return metadata_.back().rec.get();
}

Column* Context::insertColumn() {
  ensureLoaded();
  columns_.push_back({std::make_unique<Column>(), std::nullopt, false});
  columns_.back().rec->objectID.entity = Entity::Column;
  return columns_.back().rec.get();
}

Row* Context::insertRow(int32_t num) {
  ensureLoaded();
  rows_.push_back({std::make_unique<Row>(), std::nullopt, false});
  Row* r = rows_.back().rec.get();
  r->objectID.entity = Entity::Row;
  r->num = num;
  return r;
}

Analysis* Context::insertAnalysis() {
  ensureLoaded();
  analyses_.push_back({std::make_unique<Analysis>(), std::nullopt, false});
  analyses_.back().rec->objectID.entity = Entity::Analysis;
  return analyses_.back().rec.get();
}

WhereClause* Context::insertWhereClause() {
  ensureLoaded();
  wheres_.push_back({std::make_unique<WhereClause>(), std::nullopt, false});
  wheres_.back().rec->objectID.entity = Entity::WhereClause;
  return wheres_.back().rec.get();
}

namespace {
template <class T, class S>
S* slotOf(std::vector<S>& slots, const T* rec) {
  for (auto& s : slots)
    if (s.rec.get() == rec) return &s;
  return nullptr;
}
template <class T>
void eraseValue(std::vector<T*>& v, const T* x) {
  v.erase(std::remove(v.begin(), v.end(), x), v.end());
}
}  // namespace

void Context::deleteObject(WhereClause* where) {
  auto* s = slotOf(wheres_, where);
  if (!s || s->deleted) return;
  s->deleted = true;
  if (where->whereOfAnalysis) eraseValue(where->whereOfAnalysis->wheres, where);
  if (where->where2OfAnalysis) eraseValue(where->where2OfAnalysis->wheres2, where);
}

void Context::deleteObject(Analysis* analysis) {
  auto* s = slotOf(analyses_, analysis);
  if (!s || s->deleted) return;
  s->deleted = true;
  for (auto* list : {&analysis->wheres, &analysis->wheres2}) {
    auto copy = *list;
    for (WhereClause* w : copy) deleteObject(w);
  }
}

void Context::deleteObject(Column* column) {
  auto* s = slotOf(columns_, column);
  if (!s || s->deleted) return;
  s->deleted = true;
  for (auto& a : analyses_) {
    if (a.deleted) continue;
    if (a.rec->left == column) a.rec->left = nullptr;
    if (a.rec->right == column) a.rec->right = nullptr;
    eraseValue(a.rec->columns, column);
  }
  for (auto& w : wheres_)
    if (!w.deleted && w.rec->x == column) deleteObject(w.rec.get());
  if (column->num) {
    int32_t num = *column->num;
    // Cells belong to the column number; another live column may share the
    // number only in a damaged store, and then keeps its cells.
    bool shared = false;
    for (auto& c : columns_)
      if (!c.deleted && c.rec->num == column->num) shared = true;
    if (!shared) {
      for (auto it = chunks_.begin(); it != chunks_.end();)
        it = it->first.colNum == num ? chunks_.erase(it) : std::next(it);
      deletedColumnNums_.push_back(num);
    }
  }
}

void Context::deleteObject(Metadata* metadata) {
  if (auto* s = slotOf(metadata_, metadata)) s->deleted = true;
}

Column* Context::existingColumn(const ObjectId& id) {
  ensureLoaded();
  return findById(columns_, id);
}
Analysis* Context::existingAnalysis(const ObjectId& id) {
  ensureLoaded();
  return findById(analyses_, id);
}
WhereClause* Context::existingWhereClause(const ObjectId& id) {
  ensureLoaded();
  return findById(wheres_, id);
}
Metadata* Context::existingMetadata(const ObjectId& id) {
  ensureLoaded();
  return findById(metadata_, id);
}

// --- cells --------------------------------------------------------------------

CellChunk& Context::chunk(int32_t colNum, int32_t first) {
  auto key = ChunkKey{colNum, first};
  auto it = chunks_.find(key);
  if (it != chunks_.end()) return *it->second;
  auto c = std::make_unique<CellChunk>();
  bool deleted = std::find(deletedColumnNums_.begin(), deletedColumnNums_.end(), colNum) != deletedColumnNums_.end();
  if (db_ && !deleted) {
    Stmt s(db_, "SELECT cells FROM cell_chunks WHERE colNum=? AND firstRow=?");
    s.bindInt64(1, colNum);
    s.bindInt64(2, first);
    if (s.step()) c->decode(s.blob(0));
  }
  return *chunks_.emplace(key, std::move(c)).first->second;
}

namespace {

// Visits the cells of an encoded chunk in row order without copying texts;
// a damaged blob throws like CellChunk::decode.
void visitEncoded(int32_t first, std::string_view in,
                  const std::function<void(int32_t, std::optional<std::string_view>)>& fn) {
  uint64_t n = 0;
  if (!getVarint(in, n) || n > static_cast<uint64_t>(kCellsPerChunk)) throw StoreError("Damaged cell chunk", "");
  // The tags come first, then the texts in the same order.
  std::string_view tags = in;
  uint64_t total = 0;
  for (uint64_t i = 0; i < n; ++i) {
    uint64_t tag;
    if (!getVarint(in, tag)) throw StoreError("Damaged cell chunk", "");
    if (tag >= 2) total += tag - 2;
  }
  if (total != in.size()) throw StoreError("Damaged cell chunk", "");
  std::string_view body = in;
  size_t offset = 0;
  for (uint64_t i = 0; i < n; ++i) {
    uint64_t tag;
    getVarint(tags, tag);
    int32_t row = first + static_cast<int32_t>(i);
    if (tag >= 2) {
      fn(row, body.substr(offset, tag - 2));
      offset += tag - 2;
    } else if (tag == CellChunk::kNoData) {
      fn(row, std::nullopt);
    }
  }
}

}  // namespace

void Context::forEachCellOfColumn(
    int32_t colNum, const std::vector<int32_t>* rowNums,
    const std::function<void(int32_t rowNum, std::optional<std::string_view> data)>& fn) {
  bool deleted = std::find(deletedColumnNums_.begin(), deletedColumnNums_.end(), colNum) != deletedColumnNums_.end();
  // Stored chunks and chunks held in memory, in row order; memory wins.
  std::map<int32_t, const CellChunk*> order;
  std::vector<std::unique_ptr<CellChunk>> temporary;
  auto lo = chunks_.lower_bound(ChunkKey{colNum, INT32_MIN});
  for (auto it = lo; it != chunks_.end() && it->first.colNum == colNum; ++it) order[it->first.first] = it->second.get();
  auto visit = [&](int32_t first, const CellChunk& c) {
    if (!rowNums) {
      for (int i = 0; i < kCellsPerChunk; ++i)
        if (c.state[i] != CellChunk::kNoCell) fn(first + i, c.get(i));
      return;
    }
    auto b = std::lower_bound(rowNums->begin(), rowNums->end(), first);
    for (; b != rowNums->end() && *b < first + kCellsPerChunk; ++b) {
      int i = *b - first;
      if (c.state[i] != CellChunk::kNoCell) fn(*b, c.get(i));
    }
  };
  if (db_ && !deleted) {
    // A row list limits the scan to the chunks that can hold its rows.
    Stmt s(db_, "SELECT firstRow, cells FROM cell_chunks WHERE colNum=? AND firstRow BETWEEN ? AND ? ORDER BY firstRow");
    s.bindInt64(1, colNum);
    s.bindInt64(2, rowNums && !rowNums->empty() ? chunkStart(rowNums->front()) : INT32_MIN);
    s.bindInt64(3, rowNums && !rowNums->empty() ? chunkStart(rowNums->back()) : INT32_MAX);
    CellChunk scratch;
    while (s.step()) {
      auto first = static_cast<int32_t>(s.int64(0));
      // Visit the in-memory chunks that come before this stored one.
      while (!order.empty() && order.begin()->first < first) {
        visit(order.begin()->first, *order.begin()->second);
        order.erase(order.begin());
      }
      auto mem = order.find(first);
      if (mem != order.end()) {
        visit(first, *mem->second);
        order.erase(mem);
        continue;
      }
      if (rowNums) {
        auto b = std::lower_bound(rowNums->begin(), rowNums->end(), first);
        if (b == rowNums->end() || *b >= first + kCellsPerChunk) continue;
      }
      if (!rowNums) {
        // A whole stored chunk is visited straight from the blob.
        visitEncoded(first, s.blob(1), fn);
        continue;
      }
      scratch.decode(s.blob(1));
      visit(first, scratch);
    }
  }
  for (auto& [first, c] : order) visit(first, *c);
}

std::vector<Cell> Context::fetchCells(const CellFetch& request) {
  std::vector<Cell> out;
  std::vector<int32_t> sortedRows;
  const std::vector<int32_t>* rows = request.rowNums;
  if (rows && !std::is_sorted(rows->begin(), rows->end())) {
    sortedRows = *rows;
    std::sort(sortedRows.begin(), sortedRows.end());
    rows = &sortedRows;
  }
  if (request.rowNum) {
    if (rows && !std::binary_search(rows->begin(), rows->end(), *request.rowNum)) return out;
    sortedRows = {*request.rowNum};
    rows = &sortedRows;
  }
  std::vector<int32_t> cols;
  if (request.colNum) {
    cols.push_back(*request.colNum);
  } else {
    cols = storedColumnNums();
  }
  bool sorted = request.sort.empty();
  // Without a sort order the limit can stop the scan early.
  size_t limit = sorted ? request.fetchLimit : 0;
  for (int32_t c : cols) {
    if (limit && out.size() >= limit) break;
    forEachCellOfColumn(c, rows, [&](int32_t r, std::optional<std::string_view> d) {
      if (request.nonEmptyOnly && (!d || d->empty())) return;
      if (limit && out.size() >= limit) return;
      Cell cell;
      if (d) cell.data = std::string(*d);
      cell.colNum = c;
      cell.rowNum = r;
      out.push_back(std::move(cell));
    });
  }
  if (!request.sort.empty()) {
    std::stable_sort(out.begin(), out.end(), [&](const Cell& a, const Cell& b) {
      for (const auto& s : request.sort) {
        int cmp = 0;
        switch (s.key) {
          case CellKey::RowNum: cmp = compareOptional(a.rowNum, b.rowNum); break;
          case CellKey::ColNum: cmp = compareOptional(a.colNum, b.colNum); break;
          case CellKey::Data: cmp = compareOptional(a.data, b.data); break;
        }
        if (cmp != 0) return s.ascending ? cmp < 0 : cmp > 0;
      }
      return false;
    });
    if (request.fetchLimit && out.size() > request.fetchLimit) out.resize(request.fetchLimit);
  }
  return out;
}

size_t Context::countCells(const CellFetch& request) {
  CellFetch unsorted = request;
  unsorted.sort.clear();
  return fetchCells(unsorted).size();
}

std::vector<std::string> Context::distinctCellData(int32_t colNum, bool nonEmptyOnly) {
  std::set<std::string, std::less<>> seen;
  std::vector<std::string> out;
  forEachCellOfColumn(colNum, nullptr, [&](int32_t, std::optional<std::string_view> d) {
    if (!d || (nonEmptyOnly && d->empty())) return;
    if (seen.find(*d) == seen.end()) {
      seen.emplace(*d);
      out.emplace_back(*d);
    }
  });
  return out;
}

std::vector<int32_t> Context::storedColumnNums() {
  // Every cell belongs to a column: the live columns' numbers name the
  // stored cells without scanning the cell table itself.
  std::set<int32_t> nums;
  for (Column* c : allColumns())
    if (c->num) nums.insert(*c->num);
  for (auto& [k, c] : chunks_) nums.insert(k.colNum);
  return {nums.begin(), nums.end()};
}

void Context::setCell(int32_t colNum, int32_t rowNum, OptText data) {
  int32_t first = chunkStart(rowNum);
  CellChunk& c = chunk(colNum, first);
  c.set(rowNum - first, data ? std::optional<std::string_view>(*data) : std::nullopt);
}

void Context::setCellText(int32_t colNum, int32_t rowNum, std::string_view data) {
  int32_t first = chunkStart(rowNum);
  auto it = chunks_.find(ChunkKey{colNum, first});
  CellChunk& c = it != chunks_.end() ? *it->second : chunk(colNum, first);
  c.set(rowNum - first, data);
}

std::optional<Cell> Context::cellAt(int32_t colNum, int32_t rowNum) {
  int32_t first = chunkStart(rowNum);
  CellChunk& c = chunk(colNum, first);
  int i = rowNum - first;
  if (c.state[i] == CellChunk::kNoCell) return std::nullopt;
  Cell cell;
  if (auto d = c.get(i)) cell.data = std::string(*d);
  cell.colNum = colNum;
  cell.rowNum = rowNum;
  return cell;
}

void Context::releaseCellMemory() {
  for (auto it = chunks_.begin(); it != chunks_.end();) it = it->second->dirty ? std::next(it) : chunks_.erase(it);
}

// --- saving -------------------------------------------------------------------

bool Context::hasChanges() {
  if (!deletedColumnNums_.empty()) return true;
  for (auto& [k, c] : chunks_)
    if (c->dirty) return true;
  return slotsChanged(metadata_) || slotsChanged(columns_) || slotsChanged(rows_) || slotsChanged(analyses_) ||
         slotsChanged(wheres_);
}

namespace {

void bindColumn(Stmt& s, const Column& c) {
  s.bind(1, c.name);
  const OptInt* ints[] = {&c.num, &c.order, &c.type, &c.obs, &c.obsNumeric, &c.obsDate, &c.levels, &c.levelsDate};
  for (int i = 0; i < 8; ++i) s.bind(2 + i, *ints[i]);
  const OptReal* reals[] = {&c.min,     &c.max,     &c.mean,     &c.sd,     &c.pc25,     &c.pc50,     &c.pc75,
                            &c.minDate, &c.maxDate, &c.meanDate, &c.sdDate, &c.pc25Date, &c.pc50Date, &c.pc75Date};
  for (int i = 0; i < 14; ++i) s.bind(10 + i, *reals[i]);
  s.bindInt64(24, c.objectID.rowid);
}

int64_t idOf(const Record* r) { return r ? r->objectID.rowid : 0; }

}  // namespace

void Context::save() {
  if (!db_) {
    if (hasChanges()) throw StoreError("No workspace is open", "nothing to save to");
    return;
  }
  if (!hasChanges()) return;
  if (coordinator_->access() == StoreAccess::ReadOnly)
    throw StoreError("The workspace is open read-only", "changes were not saved");
  // Whatever leaves this block before the commit (a store error, a text
  // the JSON encoder refuses, an allocation failure) rolls the transaction
  // back and takes back the identities given on the way, so that the
  // changes stay pending as they were and the next save starts clean.
  struct Rollback {
    sqlite3* db;
    std::vector<Record*> given;
    bool committed = false;
    ~Rollback() {
      if (committed) return;
      if (!sqlite3_get_autocommit(db)) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      for (Record* r : given) r->objectID.rowid = 0;
    }
  } guard{db_, {}};
  std::vector<Record*>& given = guard.given;
  {
    exec(db_, "BEGIN IMMEDIATE");
    // New records first get their row ids, so that relationships can refer
    // to them below.
    auto assign = [&](auto& slots, const char* sql) {
      Stmt ins(db_, sql);
      for (auto& s : slots) {
        if (s.deleted || !s.rec->objectID.isTemporary()) continue;
        ins.run();
        given.push_back(s.rec.get());
        s.rec->objectID.rowid = sqlite3_last_insert_rowid(db_);
      }
    };
    assign(metadata_, "INSERT INTO metadata(key) VALUES(NULL)");
    assign(columns_, "INSERT INTO columns(name) VALUES(NULL)");
    assign(analyses_, "INSERT INTO analyses(name) VALUES(NULL)");
    assign(wheres_, "INSERT INTO where_clauses(x) VALUES(NULL)");

    auto removeDeleted = [&](auto& slots, const char* sql) {
      Stmt del(db_, sql);
      for (auto& s : slots)
        if (s.deleted && !s.rec->objectID.isTemporary()) {
          del.bindInt64(1, s.rec->objectID.rowid);
          del.run();
        }
    };
    removeDeleted(metadata_, "DELETE FROM metadata WHERE id=?");
    removeDeleted(columns_, "DELETE FROM columns WHERE id=?");
    removeDeleted(analyses_, "DELETE FROM analyses WHERE id=?");
    removeDeleted(wheres_, "DELETE FROM where_clauses WHERE id=?");
    {
      Stmt del(db_, "DELETE FROM analysis_columns WHERE \"column\"=?");
      for (auto& s : columns_)
        if (s.deleted && !s.rec->objectID.isTemporary()) {
          del.bindInt64(1, s.rec->objectID.rowid);
          del.run();
        }
    }
    {
      Stmt del(db_, "DELETE FROM cell_chunks WHERE colNum=?");
      for (int32_t n : deletedColumnNums_) {
        del.bindInt64(1, n);
        del.run();
      }
    }
    {
      Stmt up(db_, "UPDATE metadata SET key=?, value=? WHERE id=?");
      for (auto& s : metadata_) {
        if (s.deleted || (s.saved && *s.saved == *s.rec)) continue;
        up.bind(1, s.rec->key);
        up.bind(2, s.rec->value);
        up.bindInt64(3, s.rec->objectID.rowid);
        up.run();
      }
    }
    {
      Stmt up(db_,
              "UPDATE columns SET name=?, num=?, \"order\"=?, type=?, obs=?, obsNumeric=?, obsDate=?, levels=?,"
              " levelsDate=?, min=?, max=?, mean=?, sd=?, pc25=?, pc50=?, pc75=?, minDate=?, maxDate=?,"
              " meanDate=?, sdDate=?, pc25Date=?, pc50Date=?, pc75Date=? WHERE id=?");
      for (auto& s : columns_) {
        if (s.deleted || (s.saved && *s.saved == *s.rec)) continue;
        bindColumn(up, *s.rec);
        up.run();
      }
    }
    {
      Stmt up(db_,
              "UPDATE analyses SET name=?, type=?, lastOpened=?, \"left\"=?, \"right\"=?, distribution=?, test=?,"
              " tails=?, samples=?, isPaired=?, expected=?, leftLevel1=?, rightLevel1=?, includeMissing=?,"
              " twoWayPercAgg=?, twoWayPercDisplay=? WHERE id=?");
      Stmt delCols(db_, "DELETE FROM analysis_columns WHERE analysis=?");
      Stmt insCol(db_, "INSERT OR IGNORE INTO analysis_columns(analysis, \"column\", position) VALUES(?,?,?)");
      for (auto& s : analyses_) {
        if (s.deleted) {
          if (!s.rec->objectID.isTemporary()) {
            delCols.bindInt64(1, s.rec->objectID.rowid);
            delCols.run();
          }
          continue;
        }
        if (s.saved && *s.saved == *s.rec) continue;
        const Analysis& a = *s.rec;
        up.bind(1, a.name);
        up.bind(2, a.type);
        up.bind(3, a.lastOpened);
        up.bindId(4, idOf(a.left));
        up.bindId(5, idOf(a.right));
        up.bind(6, a.distribution);
        up.bind(7, a.test);
        up.bind(8, a.tails);
        up.bind(9, a.samples);
        up.bind(10, a.isPaired);
        up.bind(11, a.expected);
        up.bind(12, a.leftLevel1);
        up.bind(13, a.rightLevel1);
        up.bind(14, a.includeMissing);
        up.bind(15, a.twoWayPercAgg);
        up.bind(16, a.twoWayPercDisplay);
        up.bindInt64(17, a.objectID.rowid);
        up.run();
        delCols.bindInt64(1, a.objectID.rowid);
        delCols.run();
        int pos = 0;
        for (Column* c : a.columns) {
          insCol.bindInt64(1, a.objectID.rowid);
          insCol.bindInt64(2, idOf(c));
          insCol.bindInt64(3, pos++);
          insCol.run();
        }
      }
    }
    {
      Stmt up(db_, "UPDATE where_clauses SET x=?, op=?, c=?, levels=?, whereOfAnalysis=?, where2OfAnalysis=? WHERE id=?");
      for (auto& s : wheres_) {
        if (s.deleted || (s.saved && *s.saved == *s.rec)) continue;
        const WhereClause& w = *s.rec;
        up.bindId(1, idOf(w.x));
        up.bind(2, w.op);
        up.bind(3, w.c);
        up.bind(4, w.levels ? OptText(nlohmann::json(*w.levels).dump()) : OptText());
        up.bindId(5, idOf(w.whereOfAnalysis));
        up.bindId(6, idOf(w.where2OfAnalysis));
        up.bindInt64(7, w.objectID.rowid);
        up.run();
      }
    }
    {
      Stmt ins(db_, "INSERT INTO rows(num) VALUES(?)");
      Stmt up(db_, "UPDATE rows SET num=? WHERE id=?");
      for (auto& s : rows_) {
        if (s.rec->objectID.isTemporary()) {
          ins.bind(1, s.rec->num);
          ins.run();
          given.push_back(s.rec.get());
          s.rec->objectID.rowid = sqlite3_last_insert_rowid(db_);
        } else if (s.saved && !(*s.saved == *s.rec)) {
          up.bind(1, s.rec->num);
          up.bindInt64(2, s.rec->objectID.rowid);
          up.run();
        }
      }
    }
    {
      Stmt put(db_, "INSERT OR REPLACE INTO cell_chunks(colNum, firstRow, cells) VALUES(?,?,?)");
      for (auto& [k, c] : chunks_) {
        if (!c->dirty) continue;
        put.bindInt64(1, k.colNum);
        put.bindInt64(2, k.first);
        put.bindBlob(3, c->encode());
        put.run();
      }
    }
    exec(db_, "COMMIT");
    guard.committed = true;
  }
  // The file now holds this state: it becomes the saved state.
  auto settle = [](auto& slots) {
    std::erase_if(slots, [](auto& s) { return s.deleted; });
    for (auto& s : slots) s.saved = *s.rec;
  };
  settle(metadata_);
  settle(columns_);
  settle(analyses_);
  settle(wheres_);
  settle(rows_);
  if (!rowsLoaded_) {
    savedRowCount_ += rows_.size();
    rows_.clear();
  }
  deletedColumnNums_.clear();
  for (auto& [k, c] : chunks_) {
    if (!c->dirty) continue;
    c->dirty = false;
    c->compact();
  }
}

}  // namespace tabulix
