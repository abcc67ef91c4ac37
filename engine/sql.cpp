#include "engine/sql.h"

namespace tabulix::storage {

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

sqlite3* openConnection(const std::filesystem::path& file, bool create, bool readOnly) {
  sqlite3* db = nullptr;
  int flags = readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
  if (sqlite3_open_v2(file.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    std::string msg = db ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close(db);
    throw StoreError("Cannot open workspace file: " + msg, "file " + file.string());
  }
  // A workspace may come from anyone: its schema runs no functions with side
  // effects, fires no triggers, expands no views, and SQL cannot corrupt the
  // file through the schema or the page store.
  int ok = 0;
  sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, &ok);
  sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, &ok);
  sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, &ok);
  sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_VIEW, 0, &ok);
  sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, &ok);
  sqlite3_busy_timeout(db, 10000);
  return db;
}

}  // namespace tabulix::storage
