// Model lifecycle and the variable rules: type choices and guesses, names,
// metadata, the status line and the help-tip counters.
#include "engine/model.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "engine/preferences.h"
#include "engine/workspace_data.h"
#include "engine/workspace_status.h"
#include "tests/temp_dir.h"

namespace fs = std::filesystem;
using namespace tabulix;

namespace {
Column counts(int obs, int numeric, int dates, int levels) {
  Column c;
  c.obs = obs;
  c.obsNumeric = numeric;
  c.obsDate = dates;
  c.levels = levels;
  return c;
}
using tabulix::testing::TempDir;

}  // namespace

TEST(VariableRules, GuessAndChoicesFollowTheCounts) {
  using VT = VariableType;
  EXPECT_EQ(guessTypeOfColumn(counts(9, 3, 3, 9)), VT::Numeric);
  EXPECT_EQ(guessTypeOfColumn(counts(9, 2, 3, 9)), VT::Categorical);
  EXPECT_EQ(guessTypeOfColumn(counts(8, 2, 3, 8)), VT::DateTime);  // dates tie with other texts
  EXPECT_EQ(guessTypeOfColumn(counts(3, 0, 0, 2)), VT::Binary);
  EXPECT_EQ(guessTypeOfColumn(counts(0, 0, 0, 0)), VT::Numeric);  // all missing
  EXPECT_EQ(guessTypeOfColumn(Column{}), VT::Numeric);            // nothing cached yet
  EXPECT_EQ(variableTypesForColumn(counts(3, 0, 0, 2)), (std::vector<VT>{VT::Binary, VT::Categorical}));
  EXPECT_EQ(variableTypesForColumn(counts(5, 1, 1, 2)),
            (std::vector<VT>{VT::Numeric, VT::DateTime, VT::Binary, VT::Categorical}));
}

TEST(ModelLifecycle, NamesMetadataStatusLineAndHelpCounters) {
  TempDir dir;
  Model m;
  EXPECT_EQ(statusLine(m), "None, 0 Variables, 0 Observations");
  EXPECT_EQ(statusLine(m, true), "Open Workspace: None, Source File: N/A, Variables: 0, Observations: 0");

  fs::path file = dir.path / "grades.tbx";
  ASSERT_NO_THROW(m.openStore(file));
  EXPECT_EQ(m.metadataValueForKey("hasCellIndices"), OptText("YES"));
  addColumns(m, {"Score", "score"});
  addRow(m, 1, {"1", "2"}, columns(m));
  addEmptyRow(m);
  m.setMetadataValue("/data/in/grades.csv", "dataSource");
  m.setMetadataValue("__EMPTY__", "dataSource");
  EXPECT_EQ(m.context().allMetadata().size(), 2u);  // hasCellIndices and one dataSource
  EXPECT_EQ(statusLine(m), "grades.tbx, 2 Variables, 2 Observations");
  EXPECT_EQ(statusLine(m, true),
            "Open Workspace: grades.tbx, Source File: Entered Manually, Variables: 2, Observations: 2");
  EXPECT_FALSE(nameIsValid(m, ""));
  EXPECT_FALSE(nameIsValid(m, "Score"));
  EXPECT_TRUE(nameIsValid(m, "SCORE"));
  EXPECT_EQ(m.metadataValueForKey("missing"), std::nullopt);

  // Opening another file closes the first; the row count is per file.
  ASSERT_NO_THROW(m.openStore(dir.path / "other.tbx"));
  EXPECT_EQ(statusLine(m), "other.tbx, 0 Variables, 0 Observations");
  m.closeStores();
  EXPECT_EQ(m.currentStore(), std::nullopt);

  Preferences prefs(dir.path / "config" / "preferences.json");
  EXPECT_EQ(timesSeenHelpKey(prefs, "import"), 0);
  incrementTimesSeenHelpKey(prefs, "import");
  incrementTimesSeenHelpKey(prefs, "import");
  incrementTimesSeenHelpKey(prefs, "browse");
  Preferences reread(prefs.file());
  EXPECT_EQ(timesSeenHelpKey(reread, "import"), 2);
  EXPECT_EQ(timesSeenHelpKey(reread, "browse"), 1);
}
