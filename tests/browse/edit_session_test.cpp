// The editing cycle over a real store: what marks a variable as changed,
// refused renames, the variable limit, statistics and types after editing,
// edits that survive the store releasing cell memory, and a process killed
// while leaving edit mode.
#include "browse/edit_session.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "engine/workspace_data.h"

namespace fs = std::filesystem;
using namespace tabulix;

namespace {

struct Workspace {
  fs::path dir;
  std::unique_ptr<Model> model = std::make_unique<Model>();
  Workspace(const std::vector<std::string>& names, const std::vector<std::vector<std::string>>& rowsData) {
    char tmpl[] = "/tmp/tabulix-edit-XXXXXX";
    dir = mkdtemp(tmpl);
    model->openStore(dir / "w.tbx");
    model->setMetadataValue(".", "decimalSeparator");
    addColumns(*model, names);
    auto cols = columns(*model);
    for (size_t r = 0; r < rowsData.size(); ++r)
      addRow(*model, static_cast<uint32_t>(r + 1), rowsData[r], cols);
    for (Column* c : columns(*model)) {
      basicStatsForColumn(*model, *c);
      c->type = static_cast<int32_t>(guessTypeOfColumn(*c));
    }
    EXPECT_NO_THROW(model->saveContext());
  }
  ~Workspace() { fs::remove_all(dir); }
  Column& col(int num) { return *columnNumber(*model, num); }
  // Opens the file afresh, as another process would.
  void reopen() {
    model = std::make_unique<Model>();
    ASSERT_NO_THROW(model->openStore(dir / "w.tbx"));
  }
  std::string cell(int colNum, int rowNum) {
    auto c = model->context().cellAt(colNum, rowNum);
    return c && c->data ? *c->data : "<none>";
  }
};

}  // namespace

TEST(EditSession, OnlyRealChangesMarkAVariableAndTypesFollowTheEdits) {
  Workspace w({"n", "s"}, {{"1", "a"}, {"2", "b"}, {"3", "a"}});
  EditSession session;
  EXPECT_FALSE(session.editCell(*w.model, 0, 2, "2"));  // retyping the current text
  EXPECT_TRUE(session.changedColumns().empty());
  EXPECT_THROW(session.editCell(*w.model, 0, 9, "1"), EditError);
  EXPECT_THROW(session.editCell(*w.model, 5, 1, "1"), EditError);
  // A hand-set type is replaced by the guessed one once the variable is edited.
  changeColumn(*w.model, &w.col(1), VariableType::Categorical);
  EXPECT_TRUE(session.editCell(*w.model, 0, 2, "two"));
  EXPECT_TRUE(session.editCell(*w.model, 0, 3, "three"));
  EXPECT_TRUE(session.editCell(*w.model, 1, 3, "b"));
  EXPECT_EQ(*session.pendingText(0, 2), "two");
  // Other readers still see the saved state while the session is open.
  EXPECT_EQ(w.cell(0, 2), "2");
  endEditing(*w.model, session);
  w.reopen();
  EXPECT_EQ(w.cell(0, 2), "two");
  EXPECT_EQ(w.col(0).type, static_cast<int>(VariableType::Categorical));  // 1, two, three
  EXPECT_EQ(w.col(0).obsNumeric, 1);
  EXPECT_EQ(w.col(1).type,
            static_cast<int>(VariableType::Binary));  // a, b, b: the guess, not the hand-set type
  // And back to Numeric.
  EditSession again;
  EXPECT_TRUE(again.editCell(*w.model, 0, 2, "2.5"));
  EXPECT_TRUE(again.editCell(*w.model, 0, 3, "4"));
  endEditing(*w.model, again);
  EXPECT_EQ(w.col(0).type, static_cast<int>(VariableType::Numeric));
  EXPECT_DOUBLE_EQ(*w.col(0).mean, 7.5 / 3);
}

TEST(EditSession, RenamesAndAdditions) {
  Workspace w({"a", "b"}, {{"1", "2"}});
  EXPECT_FALSE(renameVariable(*w.model, 0, ""));
  EXPECT_FALSE(renameVariable(*w.model, 0, "b"));
  EXPECT_EQ(w.col(0).name, "a");
  EXPECT_TRUE(renameVariable(*w.model, 0, "alpha"));
  addRows(*w.model, 2);
  EXPECT_EQ(countRows(*w.model), 3u);
  Column* added = addVariable(*w.model);
  EXPECT_EQ(added->name, "Var3");
  w.reopen();
  EXPECT_EQ(w.col(0).name, "alpha");
  EXPECT_EQ(w.cell(2, 3), "");
  // The limit: adding the 501st variable is refused and adds nothing.
  for (size_t n = countColumns(*w.model); n < kMaxVariables; ++n) addEmptyColumn(*w.model);
  ASSERT_NO_THROW(w.model->saveContext());
  try {
    addVariable(*w.model);
    FAIL() << "the 501st variable was added";
  } catch (const EditError& e) {
    EXPECT_NE(std::string(e.what()).find("500 Variable Limit Reached"), std::string::npos);
  }
  EXPECT_EQ(countColumns(*w.model), kMaxVariables);
}

// The figures a worker computed after a session are not applied once an
// undo has brought back the cells and figures from before it; after a redo
// they are.
TEST(EditSession, FiguresComputedBeforeAnUndoAreNotAppliedAfterIt) {
  Workspace w({"x"}, {{"1"}, {"2"}, {"3"}});
  Model& m = *w.model;
  EditSession session;
  session.editCell(m, 0, 1, "100");
  const double meanBefore = columns(m)[0]->mean.value_or(0);
  storeEdits(m, session);
  Model worker(m.coordinator());
  auto figures = statisticsForColumns(worker, {0});
  ASSERT_EQ(m.context().undo(), OptText("edit a cell of x"));
  applyColumnStatistics(m, figures[0]);
  EXPECT_FALSE(m.context().hasChanges());
  EXPECT_EQ(columns(m)[0]->mean, OptReal(meanBefore));
  ASSERT_EQ(m.context().redo(), OptText("edit a cell of x"));
  applyColumnStatistics(m, figures[0]);
  EXPECT_EQ(columns(m)[0]->mean, OptReal(35.0));
}

TEST(EditSession, EditsSurviveTheStoreReleasingCellMemoryBeforeTheSave) {
  std::vector<std::vector<std::string>> data;
  for (int r = 1; r <= 9000; ++r) data.push_back({std::to_string(r)});  // three cell chunks
  Workspace w({"n"}, data);
  basicStatsForColumn(*w.model, *columnNumber(*w.model, 0));
  EditSession session;
  ASSERT_TRUE(session.editCell(*w.model, 0, 5000, "-1"));
  session.applyTo(*w.model);
  // The old figures are gone with the edit: none may be shown until the new ones are computed.
  EXPECT_TRUE(needCalcBasicStatsForColumn(*columnNumber(*w.model, 0)));
  EXPECT_FALSE(columnNumber(*w.model, 0)->max);
  w.model->context().releaseCellMemory();  // must keep the unsaved chunk
  ASSERT_NO_THROW(w.model->saveContext());
  w.reopen();
  EXPECT_EQ(w.cell(0, 5000), "-1");
  EXPECT_EQ(w.cell(0, 4999), "4999");
}

TEST(EditSession, AProcessKilledWhileLeavingEditModeLeavesAWorkspaceThatOpens) {
  std::vector<std::vector<std::string>> data;
  for (int r = 1; r <= 20000; ++r) {
    std::string t = "t";
    t += std::to_string(r % 7);
    data.push_back({std::to_string(r), t});
  }
  Workspace w({"n", "s"}, data);
  w.model.reset();
  int edited = 0;
  for (int round = 0; round < 12; ++round) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      try {
        Model m;
        m.openStore(w.dir / "w.tbx");
        EditSession s;
        std::string text = "x";
        text += std::to_string(round);
        s.editCell(m, 0, 7, text);
        s.editCell(m, 1, 19000, "");
        endEditing(m, s);
      } catch (const std::exception&) {
        _exit(3);
      }
      _exit(0);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(2000 + round * 4000));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    w.reopen();
    // The cell holds either a whole earlier state or this round's edit, and
    // the statistics once applied describe the cells.
    std::string n7 = w.cell(0, 7);
    EXPECT_TRUE(n7 == "7" || n7.rfind("x", 0) == 0) << n7;
    if (n7 == "x" + std::to_string(round)) ++edited;
    Column& n = w.col(0);
    if (n.type == static_cast<int>(VariableType::Categorical)) {
      EXPECT_EQ(n.obsNumeric, 19999);
    }
    w.model.reset();
  }
  RecordProperty("rounds_with_edit_saved", edited);
}
