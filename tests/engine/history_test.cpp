// The workspace's history: undo and redo of saved steps, identities never
// reused, the bound, the upgrade of version 5 files, a damaged history, and
// survival of processes killed during steps and during undo.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "engine/model.h"
#include "engine/workspace_data.h"
#include "tests/engine/column_texts.h"
#include "tests/engine/raw_sqlite.h"
#include "tests/temp_dir.h"

namespace fs = std::filesystem;
using namespace tabulix;
using tabulix::testing::columnTexts;
using tabulix::testing::TempDir;

using tabulix::testing::killRounds;
using tabulix::testing::sql;
using tabulix::testing::sqlNumber;

namespace {

// A workspace of two variables over `rows` rows, made without history.
void makeWorkspace(const fs::path& file, int rows) {
  Model m;
  m.openStore(file);
  addColumns(m, {"a", "b"});
  for (int r = 1; r <= rows; ++r) addRow(m, r, {std::to_string(r), "x"}, columns(m));
  m.saveContext();
}

// Everything a step may change, as one comparable text.
std::string snapshot(Model& m) {
  std::string out;
  for (Column* c : columns(m)) {
    out += c->name.value_or("?") + "#" + std::to_string(c->num.value_or(-1)) + " type " +
           std::to_string(c->type.value_or(-1)) + " obs " + std::to_string(c->obs.value_or(-1)) + " mean " +
           std::to_string(c->mean.value_or(-1)) + ":";
    for (const std::string& t : columnTexts(m, c->num.value_or(-1))) out += t + ",";
    out += "\n";
  }
  for (Analysis* a : m.context().allAnalyses()) {
    out += "analysis " + a->name.value_or("") + " left " + (a->left ? a->left->name.value_or("") : "-") +
           " columns " + std::to_string(a->columns.size()) + " wheres " + std::to_string(a->wheres.size()) +
           "\n";
  }
  out += "rows " + std::to_string(countRows(m));
  return out;
}

}  // namespace

// Each step comes back exactly, also one of several saves: cells, figures
// and type, a deleted variable with the analysis references its deletion
// removed; another process sees the same; a new change drops what could
// be redone. (tests/cli/undo.test goes through every kind of step.)
TEST(History, UndoAndRedoRestoreEachStepAcrossProcesses) {
  TempDir dir;
  fs::path file = dir.path / "w.tbx";
  makeWorkspace(file, 5000);
  std::vector<std::string> states;
  {
    Model m;
    m.openStore(file);
    Column* a = columns(m)[0];
    a->obs = 5000;
    a->mean = 2500.5;
    a->type = 3;
    Analysis* an = m.context().insertAnalysis();
    an->name = "uses a";
    an->left = a;
    an->columns = {a, columns(m)[1]};
    m.saveContext();  // outside a step: not in the history
    states.push_back(snapshot(m));
    {
      StepScope step(m.context(), "edit cells of a");
      m.context().setCell(0, 7, "seven");
      m.context().setCell(0, 4500, "late");
      m.saveContext();
      // A second save of the same step (the figures after an edit).
      columns(m)[0]->mean = 1.0;
      m.saveContext();
    }
    states.push_back(snapshot(m));
    {
      StepScope step(m.context(), "add rows");
      addEmptyRow(m);
      addEmptyRow(m);
      m.saveContext();
    }
    states.push_back(snapshot(m));
    {
      StepScope step(m.context(), "delete variable a");
      removeColumn(m, columns(m)[0]);
    }
    states.push_back(snapshot(m));
  }
  // Back through every step in another process, then forward again.
  for (int i = 3; i >= 1; --i) {
    Model m;
    m.openStore(file);
    ASSERT_TRUE(m.context().undo().has_value());
    EXPECT_EQ(snapshot(m), states[static_cast<size_t>(i - 1)]) << "undo to state " << i - 1;
  }
  {
    Model m;
    m.openStore(file);
    EXPECT_EQ(m.context().undo(), std::nullopt);
    EXPECT_EQ(m.context().history().size(), 3u);
  }
  for (int i = 1; i <= 3; ++i) {
    Model m;
    m.openStore(file);
    ASSERT_TRUE(m.context().redo().has_value());
    EXPECT_EQ(snapshot(m), states[static_cast<size_t>(i)]) << "redo to state " << i;
  }
  Model m;
  m.openStore(file);
  EXPECT_EQ(m.context().redo(), std::nullopt);
  EXPECT_EQ(m.context().undo(), OptText("delete variable a"));
  EXPECT_EQ(m.context().undo(), OptText("add rows"));
  {
    StepScope step(m.context(), "rename b");
    columns(m)[1]->name = "bee";
    m.saveContext();
  }
  EXPECT_EQ(m.context().redo(), std::nullopt);
  auto h = m.context().history();
  ASSERT_EQ(h.size(), 2u);
  EXPECT_EQ(h[0].name, "edit cells of a");
  EXPECT_EQ(h[1].name, "rename b");
  // Unsaved changes are never swept away by an undo.
  columns(m)[0]->name = "pending";
  EXPECT_THROW(m.context().undo(), StoreError);
}

// Undoing a deletion must not overwrite what was created after it outside
// any step (a new analysis taking the deleted one's identity).
TEST(History, IdentitiesNamedByTheHistoryAreNotReused) {
  TempDir dir;
  fs::path file = dir.path / "w.tbx";
  makeWorkspace(file, 3);
  Model m;
  m.openStore(file);
  Analysis* old = m.context().insertAnalysis();
  old->name = "old";
  m.saveContext();
  {
    StepScope step(m.context(), "delete analysis old");
    m.context().deleteObject(old);
    m.saveContext();
  }
  Analysis* fresh = m.context().insertAnalysis();
  fresh->name = "new";
  m.saveContext();
  ASSERT_EQ(m.context().undo(), OptText("delete analysis old"));
  std::vector<std::string> names;
  for (Analysis* a : m.context().allAnalyses()) names.push_back(a->name.value_or(""));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"new", "old"}));
}

// At most 50 steps, the oldest dropped first; steps beyond a fifth of the
// file go too, but the newest always stays undoable.
TEST(History, KeepsTheLastFiftyStepsWithinAFifthOfTheFile) {
  TempDir dir;
  fs::path file = dir.path / "w.tbx";
  makeWorkspace(file, 200);
  Model m;
  m.openStore(file);
  for (int i = 1; i <= 60; ++i) {
    StepScope step(m.context(), "step " + std::to_string(i));
    m.context().setCell(1, 1 + i % 200, std::to_string(i));
    m.saveContext();
  }
  auto h = m.context().history();
  ASSERT_EQ(h.size(), kHistoryMaxSteps);
  EXPECT_EQ(h.front().name, "step 11");
  EXPECT_EQ(h.back().name, "step 60");

  // In a new file, a step rewriting every cell of long random texts is
  // larger than a fifth of the file alone: it stays undoable, and the next
  // one drops it.
  fs::path fresh = dir.path / "fresh.tbx";
  Model f;
  f.openStore(fresh);
  addColumns(f, {"a", "b"});
  std::mt19937 rng(9);
  auto text = [&]() {
    std::string t(100, ' ');
    for (char& ch : t) ch = static_cast<char>('0' + rng() % 64);
    return t;
  };
  for (int r = 1; r <= 8192; ++r) addRow(f, r, {text(), text()}, columns(f));
  f.saveContext();
  const std::string first = columnTexts(f, 0)[0];
  for (int i = 1; i <= 2; ++i) {
    StepScope step(f.context(), "rewrite all " + std::to_string(i));
    for (int c = 0; c < 2; ++c)
      for (int r = 1; r <= 8192; ++r) f.context().setCell(c, r, text());
    f.saveContext();
    auto steps = f.context().history();
    ASSERT_EQ(steps.size(), 1u);
    EXPECT_EQ(steps[0].name, "rewrite all " + std::to_string(i));
  }
  const std::string second = columnTexts(f, 0)[0];
  EXPECT_EQ(f.context().undo(), OptText("rewrite all 2"));
  EXPECT_NE(columnTexts(f, 0)[0], second);
  EXPECT_NE(columnTexts(f, 0)[0], first);
}

// A version 5 file gets the empty history (backed up first, as every
// upgrade) and then records steps.
TEST(History, UpgradesVersion5FilesWithAnEmptyHistory) {
  TempDir dir;
  fs::path file = dir.path / "v5.tbx";
  makeWorkspace(file, 3);
  sql(file,
      "DROP TABLE history_steps; DROP TABLE history_images; DROP TABLE history_ids; PRAGMA user_version = "
      "5;");
  {
    Model m;
    ASSERT_NO_THROW(m.openStore(file, StoreAccess::OpenOrCreate));
    EXPECT_EQ(sqlNumber(file, "PRAGMA user_version"), kStoreFormatVersion);
    EXPECT_TRUE(m.context().history().empty());
    EXPECT_EQ(columnTexts(m, 0), (std::vector<std::string>{"1", "2", "3"}));
    StepScope step(m.context(), "edit");
    m.context().setCell(0, 2, "two");
    m.saveContext();
  }
  Model m;
  m.openStore(file);
  EXPECT_EQ(m.context().undo(), OptText("edit"));
  EXPECT_EQ(columnTexts(m, 0), (std::vector<std::string>{"1", "2", "3"}));
}

// A history that does not decode, or whose images would write values out
// of range, refuses the undo and changes nothing.
TEST(History, DamagedHistoryRefusesTheUndoAndChangesNothing) {
  TempDir dir;
  fs::path file = dir.path / "w.tbx";
  makeWorkspace(file, 3);
  {
    Model m;
    m.openStore(file);
    StepScope step(m.context(), "rename");
    columns(m)[0]->name = "renamed";
    m.saveContext();
  }
  sql(file, "UPDATE history_images SET before = X'0578'");
  {
    Model m;
    m.openStore(file);
    EXPECT_THROW(m.context().undo(), StoreError);
    EXPECT_EQ(columns(m)[0]->name, OptText("renamed"));
    EXPECT_FALSE(m.context().history().back().undone);
  }
  // Well-formed images that would write a variable number out of range.
  Model m;
  m.openStore(file);
  {
    StepScope step(m.context(), "out of range");
    columns(m)[0]->num = 1 << 21;
    m.saveContext();
  }
  {
    StepScope step(m.context(), "back in range");
    columns(m)[0]->num = 0;
    m.saveContext();
  }
  EXPECT_THROW(m.context().undo(), StoreError);
  EXPECT_EQ(columns(m)[0]->num, OptInt(0));
  EXPECT_FALSE(m.context().history().back().undone);
}

namespace {

// The invariant a killed process must leave: every cell of the column and
// the counter agree, and the newest step not undone is the one that wrote
// that counter (or there is none for counter 0).
void expectConsistent(const fs::path& file, int round, int rows) {
  ASSERT_EQ(sqlNumber(file, "SELECT count(*) FROM pragma_integrity_check WHERE integrity_check <> 'ok'"), 0);
  Model m;
  ASSERT_NO_THROW(m.openStore(file));
  std::string counter = m.metadataValueForKey("counter").value_or("?");
  auto texts = columnTexts(m, 0);
  ASSERT_EQ(texts.size(), static_cast<size_t>(rows));
  for (const std::string& t : texts) ASSERT_EQ(t, counter) << "round " << round;
  std::string newest;
  for (const HistoryStep& s : m.context().history())
    if (!s.undone) newest = s.name;
  if (counter != "0") {
    EXPECT_EQ(newest, "set " + counter) << "round " << round;
  }
  // Undoing that step brings back the counter before it, with its cells.
  if (!newest.empty()) {
    ASSERT_EQ(m.context().undo(), OptText(newest));
    std::string before = m.metadataValueForKey("counter").value_or("?");
    EXPECT_EQ(std::stoi(before), std::stoi(counter) - 1) << "round " << round;
    for (const std::string& t : columnTexts(m, 0)) ASSERT_EQ(t, before) << "round " << round;
    ASSERT_EQ(m.context().redo(), OptText(newest));
  }
}

}  // namespace

// Children record steps (even rounds) or undo and redo (odd rounds) over
// and over and are killed at random moments; the data and the history
// must always agree.
TEST(History, KilledStepsAndUndosLeaveDataAndHistoryConsistent) {
  TempDir dir;
  fs::path file = dir.path / "w.tbx";
  const int rows = 6000;
  {
    Model m;
    m.openStore(file);
    addColumns(m, {"a"});
    for (int r = 1; r <= rows; ++r) addRow(m, r, {"0"}, columns(m));
    m.setMetadataValue("0", "counter");
  }
  auto stepOnce = [&](Model& m, int i) {
    StepScope step(m.context(), "set " + std::to_string(i));
    for (int r = 1; r <= rows; ++r) m.context().setCell(0, r, std::to_string(i));
    m.metadataForKey("counter")->value = std::to_string(i);
    m.saveContext();
  };
  auto t0 = std::chrono::steady_clock::now();
  {
    Model m;
    m.openStore(file);
    stepOnce(m, 1);
  }
  auto cycle =
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0).count();
  std::mt19937 rng(11);
  std::uniform_int_distribution<long> delay(cycle / 4, cycle * 3);
  const int rounds = killRounds(40);
  int completed = 0, inStep = 0, inUndo = 0;
  double scale = 1;
  for (int round = 0; round < rounds; ++round) {
    bool undoing = round % 2 == 1;
    int start = 0;
    {
      Model m;
      m.openStore(file);
      start = std::stoi(m.metadataValueForKey("counter").value_or("0"));
    }
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      try {
        Model m;
        m.openStore(file);
        for (int i = start + 1;; ++i) {
          if (undoing) {
            m.context().undo();
            m.context().redo();
          } else {
            stepOnce(m, i);
          }
        }
      } catch (const std::exception&) {
        _exit(4);
      }
    }
    // A busy machine may be slower than the timed step: a stepping round
    // without a completed step widens the following delays.
    std::this_thread::sleep_for(
        std::chrono::microseconds(static_cast<long>(static_cast<double>(delay(rng)) * scale)));
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "child exited by itself with " << WEXITSTATUS(status);
    // A journal left behind means the kill landed inside a transaction.
    std::error_code ec;
    fs::path journal = file;
    journal += "-journal";
    if (fs::exists(journal, ec) && fs::file_size(journal, ec) > 0) ++(undoing ? inUndo : inStep);
    expectConsistent(file, round, rows);
    Model m;
    m.openStore(file);
    int now = std::stoi(m.metadataValueForKey("counter").value_or("0"));
    if (!undoing) completed += now - start;
    if (!undoing && now == start) scale = std::min(scale * 2, 64.0);
  }
  EXPECT_GT(completed, 0);
  std::cout << "[ figures  ] " << rounds << " kills (" << inStep << " inside a step's save, " << inUndo
            << " inside an undo or redo; " << completed
            << " steps completed), data and history agreed every time\n";
}
