// The order of a variable's levels: the default per kind of value, the
// user's order with the rest after it, the level cap and "Others".
#include "engine/level_order.h"

#include <gtest/gtest.h>

#include "engine/workspace_data.h"
#include "tests/temp_dir.h"

using namespace tabulix;

namespace {

using Levels = std::vector<std::string>;

struct Workspace {
  tabulix::testing::TempDir dir;
  Model model;
  Workspace() {
    model.openStore(dir.path / "w.tbx");
    model.setMetadataValue(".", "decimalSeparator");
    addColumns(model, {"v"});
  }
  Column& col() { return *columns(model)[0]; }
  Levels sorted(Levels levels, VariableType type) {
    col().type = static_cast<int32_t>(type);
    sortLevels(model, col(), levels);
    return levels;
  }
};

}  // namespace

TEST(LevelOrder, DefaultsByKindOfValue) {
  Workspace w;
  // Numbers by value, not as texts; a text that is no number follows.
  EXPECT_EQ(w.sorted({"10", "9", "100", "-2.5", "n/a", "1e1x"}, VariableType::Numeric),
            (Levels{"-2.5", "9", "10", "100", "1e1x", "n/a"}));
  // Natural order: case and accents ignored, digit runs by value.
  EXPECT_EQ(
      w.sorted({"item 10", "Item 2", "éclair", "Zebra", "apple", "item 02b"}, VariableType::Categorical),
      (Levels{"apple", "éclair", "Item 2", "item 02b", "item 10", "Zebra"}));
  // Dates in time whatever their written form; the empty text (missing) last.
  EXPECT_EQ(w.sorted({"2021-03-15", "", "03/01/2020", "2019-12-31"}, VariableType::DateTime),
            (Levels{"2019-12-31", "03/01/2020", "2021-03-15", ""}));
  // Texts equal but for case keep a fixed order between them.
  EXPECT_EQ(w.sorted({"male", "Male"}, VariableType::Categorical), (Levels{"Male", "male"}));
  EXPECT_TRUE(naturalLess("a9", "a10"));
  EXPECT_FALSE(naturalLess("a10", "a9"));
  EXPECT_FALSE(naturalLess("x", "x"));
}

TEST(LevelOrder, UserOrderFirstAndTheCapKeepsTheMostFrequent) {
  Workspace w;
  setStoredLevelOrder(w.col(), {"high", "low", "high", "gone"});
  EXPECT_EQ(storedLevelOrder(w.col()), (Levels{"high", "low", "gone"}));
  // Levels not named follow in the default order; a named level absent
  // from the data takes no place.
  EXPECT_EQ(w.sorted({"low", "mid", "b 10", "high", "b 9"}, VariableType::Categorical),
            (Levels{"high", "low", "b 9", "b 10", "mid"}));

  FrequencyDict f = {{"low", 5}, {"mid", 1}, {"high", 3}, {"b 9", 4}, {"b 10", 2}};
  TopFrequencies t = orderedLevels(w.model, w.col(), f, 4);
  // The three most frequent (low, b 9, high) in order, the rest pooled last.
  EXPECT_EQ(t.levels, (Levels{"high", "low", "b 9", "Others"}));
  EXPECT_EQ(t.counts, (std::vector<int64_t>{3, 5, 4, 3}));
  ASSERT_EQ(t.cumulative.size(), 4u);
  EXPECT_DOUBLE_EQ(t.cumulative[0], 3.0 / 15);
  EXPECT_DOUBLE_EQ(t.cumulative[3], 1.0);
  // Without a cut there is no "Others".
  EXPECT_EQ(orderedLevels(w.model, w.col(), f, 5).levels.size(), 5u);

  // Clearing the order returns to the default; a damaged stored value is no order.
  setStoredLevelOrder(w.col(), {});
  EXPECT_FALSE(w.col().levelOrder.has_value());
  w.col().levelOrder = "[not json";
  EXPECT_TRUE(storedLevelOrder(w.col()).empty());
}
