// The history of undoable steps: images of what a step touched, written in
// the transaction of the save that touches it, undo and redo as one
// transaction each, and the bound (kHistoryMaxSteps steps, kHistoryMaxShare
// of the file).
#include "engine/store_history.h"

#include <sqlite3.h>
#include <zlib.h>

#include <cstring>
#include <vector>

#include "engine/cell_chunk.h"
#include "engine/sql.h"
#include "engine/store.h"

namespace tabulix {

namespace fs = std::filesystem;
using namespace storage;

namespace storage {

const char* const kHistorySchema =
    "CREATE TABLE history_steps(id INTEGER PRIMARY KEY, name TEXT NOT NULL, undone INTEGER NOT NULL,"
    " bytes INTEGER NOT NULL);"
    "CREATE TABLE history_images(step INTEGER NOT NULL, tbl INTEGER NOT NULL, k1 INTEGER NOT NULL,"
    " k2 INTEGER NOT NULL, before BLOB NOT NULL, after BLOB, PRIMARY KEY(step, tbl, k1, k2));"
    "CREATE TABLE history_ids(tbl INTEGER PRIMARY KEY, maxId INTEGER NOT NULL);";

namespace {

// Images larger than this are refused when read back (a damaged or hostile
// file could otherwise ask for gigabytes).
constexpr uint64_t kMaxImageBytes = 256u << 20;

const char* tableName(ImageTable t) {
  switch (t) {
    case ImageTable::Metadata:
      return "metadata";
    case ImageTable::Columns:
      return "columns";
    case ImageTable::Rows:
      return "rows";
    case ImageTable::Analyses:
      return "analyses";
    case ImageTable::AnalysisColumns:
      return "analysis_columns";
    case ImageTable::WhereClauses:
      return "where_clauses";
    case ImageTable::CellChunks:
      return "cell_chunks";
  }
  return "";
}

bool isRecordTable(ImageTable t) { return t != ImageTable::AnalysisColumns && t != ImageTable::CellChunks; }

[[noreturn]] void damaged(const std::string& what) {
  throw StoreError("The workspace's history is damaged: " + what, "undo and redo refused");
}

uint64_t zigzag(int64_t v) { return (static_cast<uint64_t>(v) << 1) ^ static_cast<uint64_t>(v >> 63); }
int64_t unzigzag(uint64_t v) { return static_cast<int64_t>(v >> 1) ^ -static_cast<int64_t>(v & 1); }

// An image as stored: the raw length, then the raw bytes deflated.
std::string deflateImage(const std::string& raw) {
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  std::string out;
  putVarint(out, raw.size());
  size_t head = out.size();
  out.resize(head + size);
  if (compress2(reinterpret_cast<Bytef*>(out.data() + head), &size,
                reinterpret_cast<const Bytef*>(raw.data()), static_cast<uLong>(raw.size()), 6) != Z_OK)
    throw StoreError("Cannot store the step in the history", "compression failed");
  out.resize(head + size);
  return out;
}

std::string inflateImage(std::string_view stored) {
  uint64_t rawSize = 0;
  if (!getVarint(stored, rawSize) || rawSize > kMaxImageBytes) damaged("an image of impossible size");
  std::string raw(rawSize, '\0');
  uLongf got = static_cast<uLongf>(rawSize);
  if (uncompress(reinterpret_cast<Bytef*>(raw.data()), &got, reinterpret_cast<const Bytef*>(stored.data()),
                 static_cast<uLong>(stored.size())) != Z_OK ||
      got != rawSize)
    damaged("an image does not decompress");
  return raw;
}

// The current image of a key: the empty text when it has no row (a record
// or chunk), else its values encoded.
std::string currentImage(sqlite3* db, const ImageKey& key) {
  std::string raw;
  if (key.table == ImageTable::CellChunks) {
    Stmt s(db, "SELECT cells FROM cell_chunks WHERE colNum=? AND firstRow=?");
    s.bindInt64(1, key.k1);
    s.bindInt64(2, key.k2);
    if (!s.step()) return {};
    raw.push_back('c');
    raw += s.blob(0);
  } else if (key.table == ImageTable::AnalysisColumns) {
    Stmt s(db, "SELECT \"column\", position FROM analysis_columns WHERE analysis=? ORDER BY position");
    s.bindInt64(1, key.k1);
    raw.push_back('l');
    std::string body;
    uint64_t n = 0;
    while (s.step()) {
      putVarint(body, zigzag(s.int64(0)));
      putVarint(body, zigzag(s.int64(1)));
      ++n;
    }
    putVarint(raw, n);
    raw += body;
  } else {
    sqlite3_stmt* st = nullptr;
    std::string sql = std::string("SELECT * FROM ") + tableName(key.table) + " WHERE id=?";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) fail(db, "prepare " + sql);
    sqlite3_bind_int64(st, 1, key.k1);
    int rc = sqlite3_step(st);
    if (rc != SQLITE_ROW) {
      sqlite3_finalize(st);
      if (rc == SQLITE_DONE) return {};
      fail(db, "step");
    }
    int n = sqlite3_column_count(st);
    raw.push_back('r');
    putVarint(raw, static_cast<uint64_t>(n));
    for (int i = 0; i < n; ++i) {
      switch (sqlite3_column_type(st, i)) {
        case SQLITE_INTEGER:
          raw += '\1';
          putVarint(raw, zigzag(sqlite3_column_int64(st, i)));
          break;
        case SQLITE_FLOAT: {
          raw += '\2';
          double d = sqlite3_column_double(st, i);
          char bytes[8];
          std::memcpy(bytes, &d, 8);
          raw.append(bytes, 8);
          break;
        }
        case SQLITE_TEXT:
        case SQLITE_BLOB: {
          bool text = sqlite3_column_type(st, i) == SQLITE_TEXT;
          const void* p =
              text ? static_cast<const void*>(sqlite3_column_text(st, i)) : sqlite3_column_blob(st, i);
          auto len = static_cast<size_t>(sqlite3_column_bytes(st, i));
          raw += text ? '\3' : '\4';
          putVarint(raw, len);
          if (len) raw.append(static_cast<const char*>(p), len);
          break;
        }
        default:
          raw += '\0';
      }
    }
    sqlite3_finalize(st);
  }
  return deflateImage(raw);
}

// Writes an image back over a key (an empty image deletes it).
void restoreImage(sqlite3* db, const ImageKey& key, std::string_view stored) {
  const std::string table = tableName(key.table);
  if (key.table == ImageTable::CellChunks) {
    Stmt del(db, "DELETE FROM cell_chunks WHERE colNum=? AND firstRow=?");
    del.bindInt64(1, key.k1);
    del.bindInt64(2, key.k2);
    del.run();
  } else if (key.table == ImageTable::AnalysisColumns) {
    Stmt del(db, "DELETE FROM analysis_columns WHERE analysis=?");
    del.bindInt64(1, key.k1);
    del.run();
  } else {
    Stmt del(db, ("DELETE FROM " + table + " WHERE id=?").c_str());
    del.bindInt64(1, key.k1);
    del.run();
  }
  if (stored.empty()) return;
  std::string raw = inflateImage(stored);
  std::string_view in(raw);
  if (in.empty()) damaged("an empty image");
  char kind = in.front();
  in.remove_prefix(1);
  if (key.table == ImageTable::CellChunks) {
    if (kind != 'c') damaged("a chunk image of another kind");
    CellChunk check;
    check.decode(in);  // a chunk that would not read back is refused now
    Stmt ins(db, "INSERT INTO cell_chunks(colNum, firstRow, cells) VALUES(?,?,?)");
    ins.bindInt64(1, key.k1);
    ins.bindInt64(2, key.k2);
    ins.bindBlob(3, std::string(in));
    ins.run();
    return;
  }
  if (key.table == ImageTable::AnalysisColumns) {
    if (kind != 'l') damaged("a variable list of another kind");
    uint64_t n = 0;
    if (!getVarint(in, n) || n > in.size()) damaged("a variable list cut short");
    Stmt ins(db, "INSERT OR IGNORE INTO analysis_columns(analysis, \"column\", position) VALUES(?,?,?)");
    for (uint64_t i = 0; i < n; ++i) {
      uint64_t c = 0, p = 0;
      if (!getVarint(in, c) || !getVarint(in, p)) damaged("a variable list cut short");
      ins.bindInt64(1, key.k1);
      ins.bindInt64(2, unzigzag(c));
      ins.bindInt64(3, unzigzag(p));
      ins.run();
    }
    return;
  }
  if (kind != 'r') damaged("a record image of another kind");
  uint64_t n = 0;
  if (!getVarint(in, n) || n == 0 || n > 64) damaged("a record image with no fields");
  // The image must fit the table as this format defines it.
  {
    sqlite3_stmt* probe = nullptr;
    std::string sql = "SELECT * FROM " + table + " LIMIT 0";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &probe, nullptr) != SQLITE_OK) fail(db, "prepare " + sql);
    int cols = sqlite3_column_count(probe);
    sqlite3_finalize(probe);
    if (static_cast<uint64_t>(cols) != n) damaged("a record image of another layout");
  }
  std::string sql = "INSERT INTO " + table + " VALUES(";
  for (uint64_t i = 0; i < n; ++i) sql += i ? ",?" : "?";
  sql += ")";
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) fail(db, "prepare " + sql);
  struct Finalize {
    sqlite3_stmt* s;
    ~Finalize() { sqlite3_finalize(s); }
  } finalize{st};
  for (int i = 1; i <= static_cast<int>(n); ++i) {
    if (in.empty()) damaged("a record image cut short");
    char tag = in.front();
    in.remove_prefix(1);
    uint64_t v = 0;
    switch (tag) {
      case '\0':
        sqlite3_bind_null(st, i);
        break;
      case '\1':
        if (!getVarint(in, v)) damaged("a record image cut short");
        if (i == 1 && unzigzag(v) != key.k1) damaged("a record image of another record");
        sqlite3_bind_int64(st, i, unzigzag(v));
        break;
      case '\2': {
        if (in.size() < 8) damaged("a record image cut short");
        double d;
        std::memcpy(&d, in.data(), 8);
        in.remove_prefix(8);
        sqlite3_bind_double(st, i, d);
        break;
      }
      case '\3':
      case '\4':
        if (!getVarint(in, v) || v > in.size()) damaged("a record image cut short");
        if (tag == '\3')
          sqlite3_bind_text(st, i, in.data(), static_cast<int>(v), SQLITE_TRANSIENT);
        else
          sqlite3_bind_blob(st, i, in.data(), static_cast<int>(v), SQLITE_TRANSIENT);
        in.remove_prefix(v);
        break;
      default:
        damaged("a record image with an unknown value");
    }
    if (i == 1 && tag != '\1') damaged("a record image without its id");
  }
  if (sqlite3_step(st) != SQLITE_DONE) fail(db, "restore " + table);
}

int64_t single(sqlite3* db, const char* sql) {
  Stmt s(db, sql);
  return s.step() ? s.int64(0) : 0;
}

double real(sqlite3* db, const char* sql) {
  Stmt s(db, sql);
  return s.step() ? s.optReal(0).value_or(0) : 0;
}

// Drops steps until the history is within its bound; `keep` (the step just
// written or moved) always stays. The oldest step that is not undone goes
// first; when only undone ones are left, the last to be redone goes, so
// that redo keeps its order.
void applyBound(sqlite3* db, int64_t keep) {
  for (;;) {
    int64_t steps = single(db, "SELECT count(*) FROM history_steps");
    if (steps <= 1) return;
    // total() cannot overflow, whatever a damaged file stores.
    double bytes = real(db, "SELECT total(bytes) FROM history_steps");
    int64_t file = single(db, "PRAGMA page_count") * single(db, "PRAGMA page_size");
    if (static_cast<size_t>(steps) <= kHistoryMaxSteps &&
        bytes <= kHistoryMaxShare * static_cast<double>(file))
      return;
    Stmt pick(db,
              "SELECT id FROM (SELECT id, 0 AS k, id AS o FROM history_steps WHERE undone=0 AND id<>?1"
              " UNION ALL SELECT id, 1 AS k, -id AS o FROM history_steps WHERE undone=1 AND id<>?1)"
              " ORDER BY k, o LIMIT 1");
    pick.bindInt64(1, keep);
    if (!pick.step()) return;
    int64_t victim = pick.int64(0);
    Stmt delImages(db, "DELETE FROM history_images WHERE step=?");
    delImages.bindInt64(1, victim);
    delImages.run();
    Stmt delStep(db, "DELETE FROM history_steps WHERE id=?");
    delStep.bindInt64(1, victim);
    delStep.run();
  }
}

}  // namespace

int64_t nextRecordId(sqlite3* db, ImageTable table) {
  Stmt s(db, (std::string("SELECT max(coalesce((SELECT max(id) FROM ") + tableName(table) +
              "), 0), coalesce((SELECT maxId FROM history_ids WHERE tbl=?), 0)) + 1")
                 .c_str());
  s.bindInt64(1, static_cast<int64_t>(table));
  s.step();
  return s.int64(0);
}

HistoryRecorder::HistoryRecorder(sqlite3* db, int64_t stepId) : db_(db), step_(stepId) {}

void HistoryRecorder::put(const ImageKey& key, const std::string& image) {
  Stmt ins(db_, "INSERT OR IGNORE INTO history_images(step, tbl, k1, k2, before) VALUES(?,?,?,?,?)");
  ins.bindInt64(1, step_);
  ins.bindInt64(2, static_cast<int64_t>(key.table));
  ins.bindInt64(3, key.k1);
  ins.bindInt64(4, key.k2);
  ins.bindBlob(5, image);
  ins.step();
  if (sqlite3_changes(db_) > 0) bytes_ += static_cast<int64_t>(image.size()) + 16;
  if (isRecordTable(key.table)) {
    Stmt ids(db_,
             "INSERT INTO history_ids(tbl, maxId) VALUES(?1, ?2)"
             " ON CONFLICT(tbl) DO UPDATE SET maxId = max(maxId, ?2)");
    ids.bindInt64(1, static_cast<int64_t>(key.table));
    ids.bindInt64(2, key.k1);
    ids.step();
  }
}

void HistoryRecorder::capture(const ImageKey& key) {
  Stmt has(db_, "SELECT 1 FROM history_images WHERE step=? AND tbl=? AND k1=? AND k2=?");
  has.bindInt64(1, step_);
  has.bindInt64(2, static_cast<int64_t>(key.table));
  has.bindInt64(3, key.k1);
  has.bindInt64(4, key.k2);
  if (has.step()) return;
  put(key, currentImage(db_, key));
}

void HistoryRecorder::absent(const ImageKey& key) { put(key, std::string()); }

void HistoryRecorder::finish() {
  Stmt up(db_, "UPDATE history_steps SET bytes = bytes + ? WHERE id=?");
  up.bindInt64(1, bytes_);
  up.bindInt64(2, step_);
  up.run();
  applyBound(db_, step_);
}

int64_t startStep(sqlite3* db, const std::string& name) {
  exec(db, "DELETE FROM history_images WHERE step IN (SELECT id FROM history_steps WHERE undone<>0)");
  exec(db, "DELETE FROM history_steps WHERE undone<>0");
  Stmt ins(db, "INSERT INTO history_steps(name, undone, bytes) VALUES(?, 0, 0)");
  ins.bind(1, OptText(name));
  ins.run();
  return sqlite3_last_insert_rowid(db);
}

bool stepIsNewest(sqlite3* db, int64_t id) {
  Stmt s(db, "SELECT id, undone FROM history_steps ORDER BY id DESC LIMIT 1");
  return s.step() && s.int64(0) == id && s.int64(1) == 0;
}

}  // namespace storage

// --- the context's side -------------------------------------------------------

void Context::beginStep(const std::string& name) {
  if (stepDepth_++ == 0) {
    stepName_ = name;
    stepId_ = 0;
  }
}

void Context::endStep() {
  if (stepDepth_ > 0 && --stepDepth_ == 0) {
    stepName_.clear();
    stepId_ = 0;
  }
}

std::vector<HistoryStep> Context::history() {
  std::vector<HistoryStep> out;
  if (!db_) return out;
  Stmt s(db_, "SELECT id, name, undone, bytes FROM history_steps ORDER BY id");
  while (s.step()) out.push_back({s.int64(0), s.optText(1).value_or(""), s.int64(2) != 0, s.int64(3)});
  return out;
}

std::optional<std::string> Context::undo() { return moveInHistory(false); }
std::optional<std::string> Context::redo() { return moveInHistory(true); }

std::optional<std::string> Context::moveInHistory(bool forward) {
  if (!db_) throw StoreError("No workspace is open", "nothing to undo");
  if (coordinator_->access() == StoreAccess::ReadOnly)
    throw StoreError("The workspace is open read-only", "nothing was undone");
  if (hasChanges()) throw StoreError("The workspace has unsaved changes", "nothing was undone");
  struct Rollback {
    sqlite3* db;
    bool committed = false;
    ~Rollback() {
      if (!committed && !sqlite3_get_autocommit(db)) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
  } guard{db_};
  exec(db_, "BEGIN IMMEDIATE");
  Stmt pick(db_, forward ? "SELECT id, name FROM history_steps WHERE undone<>0 ORDER BY id LIMIT 1"
                         : "SELECT id, name FROM history_steps WHERE undone=0 ORDER BY id DESC LIMIT 1");
  if (!pick.step()) return std::nullopt;
  const int64_t step = pick.int64(0);
  const std::string name = pick.optText(1).value_or("");
  pick.reset();
  std::vector<ImageKey> keys;
  {
    Stmt k(db_, "SELECT tbl, k1, k2 FROM history_images WHERE step=?");
    k.bindInt64(1, step);
    while (k.step()) {
      int64_t t = k.int64(0);
      if (t < 1 || t > 7) damaged("an image of an unknown table");
      keys.push_back({static_cast<ImageTable>(t), k.int64(1), k.int64(2)});
    }
  }
  // Undo writes `before` back and keeps the present as `after`; redo the
  // other way round.
  const char* from = forward ? "after" : "before";
  const char* to = forward ? "before" : "after";
  Stmt get(db_,
           (std::string("SELECT ") + from + " FROM history_images WHERE step=? AND tbl=? AND k1=? AND k2=?")
               .c_str());
  Stmt put(db_,
           (std::string("UPDATE history_images SET ") + to + "=? WHERE step=? AND tbl=? AND k1=? AND k2=?")
               .c_str());
  int64_t bytes = 0;
  for (const ImageKey& key : keys) {
    auto bindKey = [&](Stmt& s, int first) {
      s.bindInt64(first, step);
      s.bindInt64(first + 1, static_cast<int64_t>(key.table));
      s.bindInt64(first + 2, key.k1);
      s.bindInt64(first + 3, key.k2);
    };
    bindKey(get, 1);
    if (!get.step() || get.isNull(0))
      damaged("a step without the images to " + std::string(forward ? "redo" : "undo") + " it");
    std::string image(get.blob(0));
    get.reset();
    std::string present = currentImage(db_, key);
    restoreImage(db_, key, image);
    put.bindBlob(1, present);
    bindKey(put, 2);
    put.run();
    bytes += static_cast<int64_t>(image.size() + present.size()) + 16;
  }
  {
    Stmt up(db_, "UPDATE history_steps SET undone=?, bytes=? WHERE id=?");
    up.bindInt64(1, forward ? 0 : 1);
    up.bindInt64(2, bytes);
    up.bindInt64(3, step);
    up.run();
  }
  // What the images wrote must pass the checks an attached file passes.
  const fs::path file = coordinator_->storeFile().value_or(fs::path());
  checkLimits(db_, file);
  checkStoredValues(db_, file);
  applyBound(db_, step);
  exec(db_, "COMMIT");
  guard.committed = true;
  reset();
  return name;
}

}  // namespace tabulix
