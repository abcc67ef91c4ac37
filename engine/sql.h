// SQLite access for the workspace store: statements, errors as StoreError,
// connections, and the SQL that the records' field tables generate. Used
// only by the store's own files.
#pragma once

#include <sqlite3.h>

#include <array>
#include <filesystem>
#include <string>
#include <string_view>
#include <type_traits>

#include "engine/records.h"
#include "engine/store.h"

namespace tabulix::storage {

// Throws StoreError with SQLite's message for the connection and its file.
[[noreturn]] void fail(sqlite3* db, const std::string& what);
// Runs SQL text without results; throws StoreError on failure.
void exec(sqlite3* db, const char* sql);
// Opens a connection to a workspace file (created when asked, read-only
// when asked); throws StoreError when it cannot.
sqlite3* openConnection(const std::filesystem::path& file, bool create, bool readOnly);

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
    v ? sqlite3_bind_text(s_, i, v->data(), static_cast<int>(v->size()), SQLITE_TRANSIENT)
      : sqlite3_bind_null(s_, i);
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
  std::optional<bool> optBool(int i) {
    return isNull(i) ? std::optional<bool>() : sqlite3_column_int(s_, i) != 0;
  }
  int64_t int64(int i) { return sqlite3_column_int64(s_, i); }
  std::string_view blob(int i) {
    auto p = static_cast<const char*>(sqlite3_column_blob(s_, i));
    return {p ? p : "", static_cast<size_t>(sqlite3_column_bytes(s_, i))};
  }

 private:
  sqlite3* db_;
  sqlite3_stmt* s_ = nullptr;
};

// The SQL type of an attribute.
template <class V>
constexpr const char* sqlType() {
  if constexpr (std::is_same_v<V, OptText>)
    return "TEXT";
  else if constexpr (std::is_same_v<V, OptReal>)
    return "REAL";
  else
    return "INTEGER";
}

// "\"a\" TEXT, \"b\" INTEGER" for a table's CREATE statement.
template <class R, size_t N>
std::string columnDefinitions(const std::array<Field<R>, N>& fields) {
  std::string out;
  for (const auto& f : fields) {
    if (!out.empty()) out += ", ";
    out += std::string("\"") + f.name + "\" ";
    out += std::visit([](auto m) { return sqlType<std::remove_cvref_t<decltype(std::declval<R>().*m)>>(); },
                      f.member);
  }
  return out;
}

// "\"a\", \"b\"" for a SELECT.
template <class R, size_t N>
std::string columnNames(const std::array<Field<R>, N>& fields) {
  std::string out;
  for (const auto& f : fields) out += (out.empty() ? "\"" : ", \"") + std::string(f.name) + "\"";
  return out;
}

// "\"a\"=?, \"b\"=?" for an UPDATE.
template <class R, size_t N>
std::string assignments(const std::array<Field<R>, N>& fields) {
  std::string out;
  for (const auto& f : fields) out += (out.empty() ? "\"" : ", \"") + std::string(f.name) + "\"=?";
  return out;
}

// Binds a record's attributes to parameters first, first + 1, …
template <class R, size_t N>
void bindFields(Stmt& s, const std::array<Field<R>, N>& fields, const R& record, int first) {
  int i = first;
  for (const auto& f : fields) visitField(f, record, [&](const auto& v) { s.bind(i++, v); });
}

// Reads a record's attributes from result columns first, first + 1, …
template <class R, size_t N>
void readFields(Stmt& s, const std::array<Field<R>, N>& fields, R& record, int first) {
  int i = first;
  for (const auto& f : fields) {
    visitField(f, record, [&](auto& v) {
      using V = std::remove_cvref_t<decltype(v)>;
      if constexpr (std::is_same_v<V, OptText>)
        v = s.optText(i);
      else if constexpr (std::is_same_v<V, OptReal>)
        v = s.optReal(i);
      else if constexpr (std::is_same_v<V, OptFlag>)
        v = s.optBool(i);
      else
        v = s.optInt(i);
    });
    ++i;
  }
}

}  // namespace tabulix::storage
