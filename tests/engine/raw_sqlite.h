// Raw SQLite access to a workspace file, for tests that damage or inspect it
// behind the store's back, and the kill tests' round count.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace tabulix::testing {

// Runs SQL statements on the file (fails the test on an error).
inline void sql(const std::filesystem::path& file, const std::string& text) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  char* err = nullptr;
  ASSERT_EQ(sqlite3_exec(db, text.c_str(), nullptr, nullptr, &err), SQLITE_OK) << (err ? err : "");
  sqlite3_close(db);
}

// The first column of the query's first row as an integer; -1 for no row.
inline int64_t sqlNumber(const std::filesystem::path& file, const std::string& query) {
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, query.c_str(), -1, &st, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  int64_t v = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : -1;
  sqlite3_finalize(st);
  sqlite3_close(db);
  return v;
}

// How many kill rounds to run: the fallback keeps CI quick (half of it under
// AddressSanitizer, where every round takes several times longer);
// bench/kill_bench.sh raises it through TABULIX_KILL_ROUNDS for the long run.
inline int killRounds(int fallback) {
  const char* env = std::getenv("TABULIX_KILL_ROUNDS");
  if (env && std::atoi(env) > 0) return std::atoi(env);
#ifdef __SANITIZE_ADDRESS__
  return fallback / 2;
#else
  return fallback;
#endif
}

}  // namespace tabulix::testing
