// libFuzzer target for workspace files opened through the store.
//
// An input that starts with SQLite's header is the file itself. Any other
// input is SQL run against a sound workspace held in memory (loaded with
// sqlite3_deserialize): the changes a crafted file can carry — keys, counts,
// blobs, schema objects — reach the store's checks far more often than
// random pages do. The result is written to a temporary file, attached
// through the store's open path, and every variable is read. A refusal is a
// StoreError; anything else (a crash, a sanitizer report, another exception)
// is a finding.
#include <sqlite3.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/cell_access.h"
#include "engine/log.h"
#include "engine/model.h"
#include "engine/workspace_data.h"

namespace {

namespace fs = std::filesystem;
using namespace tabulix;

fs::path g_dir;
std::string g_template;  // the bytes of a sound workspace

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void makeTemplate() {
  // A memory file system where there is one: the store flushes every save.
  std::string tmpl =
      fs::is_directory("/dev/shm") ? "/dev/shm/tabulix-wsfuzz-XXXXXX" : "/tmp/tabulix-wsfuzz-XXXXXX";
  if (!mkdtemp(tmpl.data())) std::abort();
  g_dir = tmpl;
  std::atexit([] {
    std::error_code ec;
    fs::remove_all(g_dir, ec);
  });
  fs::path file = g_dir / "template.tbx";
  {
    Model m;
    m.openStore(file);
    addColumns(m, {"x", "y", "when"});
    auto cols = columns(m);
    for (uint32_t r = 1; r <= 40; ++r)
      addRow(m, r, {std::to_string(r % 7), r % 3 ? "a" : "b", "2024-01-" + std::to_string(1 + r % 28)}, cols);
    m.saveContext();
  }
  g_template = slurp(file);
  fs::remove(file);
}

// Stops SQL that would run for long (recursive queries) or reach outside.
int progress(void*) { return 1; }
int authorize(void*, int action, const char*, const char*, const char*, const char*) {
  return action == SQLITE_ATTACH || action == SQLITE_DETACH ? SQLITE_DENY : SQLITE_OK;
}

// The template changed by `script`; empty when SQLite could not serialize.
std::string applySql(const std::string& script) {
  sqlite3* db = nullptr;
  if (sqlite3_open(":memory:", &db) != SQLITE_OK) std::abort();
  auto size = static_cast<sqlite3_int64>(g_template.size());
  auto* buf = static_cast<unsigned char*>(sqlite3_malloc64(static_cast<sqlite3_uint64>(size)));
  std::memcpy(buf, g_template.data(), g_template.size());
  if (sqlite3_deserialize(db, "main", buf, size, size,
                          SQLITE_DESERIALIZE_FREEONCLOSE | SQLITE_DESERIALIZE_RESIZEABLE) != SQLITE_OK)
    std::abort();
  sqlite3_limit(db, SQLITE_LIMIT_LENGTH, 1 << 20);
  sqlite3_set_authorizer(db, authorize, nullptr);
  sqlite3_progress_handler(db, 200000, progress, nullptr);
  sqlite3_exec(db, script.c_str(), nullptr, nullptr, nullptr);
  sqlite3_int64 outSize = 0;
  unsigned char* out = sqlite3_serialize(db, "main", &outSize, 0);
  std::string bytes = out ? std::string(reinterpret_cast<char*>(out), static_cast<size_t>(outSize)) : "";
  sqlite3_free(out);
  sqlite3_close(db);
  return bytes;
}

void readEverything(Model& m) {
  auto cols = columns(m);
  for (Column* c : cols) {
    cellsForColumn(m, *c, {{CellKey::RowNum, true}});
    dictBasicStatsForColumn(m, *c);
    frequenciesOfColumn(m, *c, 10);
    distinctValuesForColumn(m, c);
  }
  std::vector<int32_t> someRows = {1, 2, 5, 4097, 99999};
  numericOfColumns(m, cols, nullptr);
  numericOfColumns(m, cols, &someRows);
  for (Row* r : rows(m)) cellsForRow(m, *r);
  for (Analysis* a : analyses(m)) (void)a->columns.size();
  // A change and a save go through the same connection the file opened.
  if (!cols.empty()) {
    cols[0]->name = "renamed";
    addEmptyColumn(m);
    m.saveContext();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setLogSink([](std::string_view) {});
  makeTemplate();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  bool raw = size >= 16 && std::memcmp(data, "SQLite format 3", 16) == 0;
  std::string bytes = raw ? input : applySql(input);
  if (bytes.empty()) return 0;
  fs::path file = g_dir / "w.tbx";
  // Journals and upgrade backups of the previous input go too.
  for (const auto& e : fs::directory_iterator(g_dir)) fs::remove(e.path());
  std::ofstream(file, std::ios::binary) << bytes;
  try {
    Model m;
    m.openStore(file);
    readEverything(m);
  } catch (const StoreError&) {
  }
  return 0;
}
