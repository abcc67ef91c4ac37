// Saves that fail on the disk: a full disk and write errors, injected by a
// file-system layer under SQLite that refuses writes once a byte budget is
// spent. Whatever the moment of the failure, the save is reported and the
// file keeps the last saved state.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <iostream>
#include <string>

#include "engine/log.h"
#include "engine/model.h"
#include "engine/workspace_data.h"
#include "tests/engine/column_texts.h"

namespace fs = std::filesystem;
using namespace tabulix;

namespace {

// Bytes that may still be written; below zero: no limit.
std::atomic<long> g_budget{-1};
// The error a refused write returns.
std::atomic<int> g_error{SQLITE_FULL};
sqlite3_vfs* g_real = nullptr;

struct FaultFile {
  sqlite3_file base;
  sqlite3_file* real;
};

sqlite3_file* realOf(sqlite3_file* f) { return reinterpret_cast<FaultFile*>(f)->real; }

int faultClose(sqlite3_file* f) {
  int rc = realOf(f)->pMethods->xClose(realOf(f));
  f->pMethods = nullptr;
  return rc;
}
int faultRead(sqlite3_file* f, void* p, int n, sqlite3_int64 off) {
  return realOf(f)->pMethods->xRead(realOf(f), p, n, off);
}
int faultWrite(sqlite3_file* f, const void* p, int n, sqlite3_int64 off) {
  long budget = g_budget.load();
  if (budget >= 0) {
    if (n > budget) return g_error.load();
    g_budget -= n;
  }
  return realOf(f)->pMethods->xWrite(realOf(f), p, n, off);
}
int faultTruncate(sqlite3_file* f, sqlite3_int64 size) {
  return realOf(f)->pMethods->xTruncate(realOf(f), size);
}
int faultSync(sqlite3_file* f, int flags) { return realOf(f)->pMethods->xSync(realOf(f), flags); }
int faultFileSize(sqlite3_file* f, sqlite3_int64* size) {
  return realOf(f)->pMethods->xFileSize(realOf(f), size);
}
int faultLock(sqlite3_file* f, int l) { return realOf(f)->pMethods->xLock(realOf(f), l); }
int faultUnlock(sqlite3_file* f, int l) { return realOf(f)->pMethods->xUnlock(realOf(f), l); }
int faultCheckLock(sqlite3_file* f, int* out) {
  return realOf(f)->pMethods->xCheckReservedLock(realOf(f), out);
}
int faultControl(sqlite3_file* f, int op, void* arg) {
  return realOf(f)->pMethods->xFileControl(realOf(f), op, arg);
}
int faultSectorSize(sqlite3_file* f) { return realOf(f)->pMethods->xSectorSize(realOf(f)); }
int faultDevice(sqlite3_file* f) { return realOf(f)->pMethods->xDeviceCharacteristics(realOf(f)); }

// Version 1 methods: no shared memory and no memory map, which a store in
// rollback-journal mode does without.
const sqlite3_io_methods kFaultMethods = {
    1,         faultClose,  faultRead,      faultWrite,   faultTruncate,   faultSync,   faultFileSize,
    faultLock, faultUnlock, faultCheckLock, faultControl, faultSectorSize, faultDevice, nullptr,
    nullptr,   nullptr,     nullptr,        nullptr,      nullptr};

int faultOpen(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* f, int flags, int* outFlags) {
  auto* ff = reinterpret_cast<FaultFile*>(f);
  ff->real = reinterpret_cast<sqlite3_file*>(ff + 1);
  int rc = g_real->xOpen(g_real, name, ff->real, flags, outFlags);
  f->pMethods = ff->real->pMethods ? &kFaultMethods : nullptr;
  return rc;
}

int faultDelete(sqlite3_vfs*, const char* name, int sync) { return g_real->xDelete(g_real, name, sync); }
int faultAccess(sqlite3_vfs*, const char* name, int flags, int* out) {
  return g_real->xAccess(g_real, name, flags, out);
}
int faultFullPath(sqlite3_vfs*, const char* name, int n, char* out) {
  return g_real->xFullPathname(g_real, name, n, out);
}
int faultRandom(sqlite3_vfs*, int n, char* out) { return g_real->xRandomness(g_real, n, out); }
int faultSleep(sqlite3_vfs*, int us) { return g_real->xSleep(g_real, us); }
int faultTime(sqlite3_vfs*, double* t) { return g_real->xCurrentTime(g_real, t); }
int faultLastError(sqlite3_vfs*, int n, char* out) { return g_real->xGetLastError(g_real, n, out); }

sqlite3_vfs g_fault;

// Makes the faulty layer the default for the test's lifetime.
struct FaultLayer {
  FaultLayer() {
    g_real = sqlite3_vfs_find(nullptr);
    g_fault = sqlite3_vfs{1,
                          static_cast<int>(sizeof(FaultFile)) + g_real->szOsFile,
                          g_real->mxPathname,
                          nullptr,
                          "tabulix-faults",
                          nullptr,
                          faultOpen,
                          faultDelete,
                          faultAccess,
                          faultFullPath,
                          nullptr,
                          nullptr,
                          nullptr,
                          nullptr,
                          faultRandom,
                          faultSleep,
                          faultTime,
                          faultLastError,
                          nullptr,
                          nullptr,
                          nullptr,
                          nullptr};
    sqlite3_vfs_register(&g_fault, 1);
  }
  ~FaultLayer() {
    g_budget = -1;
    sqlite3_vfs_unregister(&g_fault);
    sqlite3_vfs_register(g_real, 1);
  }
};

}  // namespace

using tabulix::testing::columnTexts;

TEST(StoreFaults, FullDiskAndWriteErrorsKeepTheLastSavedState) {
  char tmpl[] = "/tmp/tabulix-faults-XXXXXX";
  fs::path dir = mkdtemp(tmpl);
  fs::path file = dir / "w.tbx";
  FaultLayer layer;
  const int rows = 9000;  // three chunks per column
  {
    Model m;
    ASSERT_NO_THROW(m.openStore(file));
    addColumns(m, {"a", "b"});
    for (int r = 1; r <= rows; ++r) addRow(m, r, {"0", "0"}, columns(m));
    m.setMetadataValue("0", "counter");
  }
  int saved = 0, failed = 0, attempt = 0;
  for (int error : {SQLITE_FULL, SQLITE_IOERR_WRITE}) {
    g_error = error;
    // Budgets from nothing to more than one save needs: the failure lands
    // in the journal, between journal and file, and in the file itself.
    for (long budget = 0; budget <= 1'400'000; budget += 80'000) {
      std::string v = std::to_string(++attempt);
      Model m;
      ASSERT_NO_THROW(m.openStore(file));
      for (int r = 1; r <= rows; ++r) {
        m.context().setCell(0, r, v);
        m.context().setCell(1, r, v + "-" + std::to_string(r));
      }
      m.metadataForKey("counter")->value = v;
      g_budget = budget;
      bool ok = true;
      try {
        m.saveContext();
      } catch (const StoreError& e) {
        ok = false;
        EXPECT_NE(std::string(e.what()).find(error == SQLITE_FULL ? "full" : "I/O"), std::string::npos)
            << e.what();
      }
      g_budget = -1;
      if (ok) {
        ++saved;
      } else {
        ++failed;
        EXPECT_TRUE(m.context().hasChanges()) << "a failed save keeps its changes";
      }
      {
        // Another connection sees either the whole save or none of it.
        Model check;
        ASSERT_NO_THROW(check.openStore(file));
        std::string counter = *check.metadataValueForKey("counter");
        if (ok) {
          EXPECT_EQ(counter, v) << budget;
        } else {
          EXPECT_NE(counter, v) << budget;
        }
        auto a = columnTexts(check, 0);
        auto b = columnTexts(check, 1);
        ASSERT_EQ(a.size(), static_cast<size_t>(rows));
        for (int r = 0; r < rows; ++r) {
          ASSERT_EQ(a[r], counter) << "budget " << budget;
          std::string expected = counter == "0" ? "0" : counter + "-" + std::to_string(r + 1);
          ASSERT_EQ(b[r], expected) << "budget " << budget;
        }
      }
      if (!ok) {
        // Once there is room again, the same changes save whole.
        ASSERT_NO_THROW(m.saveContext()) << budget;
        Model check;
        ASSERT_NO_THROW(check.openStore(file));
        EXPECT_EQ(check.metadataValueForKey("counter"), OptText(v));
        EXPECT_EQ(columnTexts(check, 1)[rows - 1], v + "-" + std::to_string(rows));
      }
    }
  }
  EXPECT_GT(failed, 10);
  EXPECT_GT(saved, 0);
  std::cout << "[ figures  ] " << failed << " saves failed by a full disk or a write error, " << saved
            << " went through; the last saved state was intact after every one\n";
  fs::remove_all(dir);
}
