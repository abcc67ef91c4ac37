// Row filters over a real store: numeric, date and text comparisons, IN,
// missing cells, intersections and the texts conditions are shown as.
#include "analyses/filters.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "engine/cell_access.h"
#include "engine/workspace_data.h"
#include "test_workspace.h"

namespace fs = std::filesystem;
using namespace tabulix;

namespace {

using Workspace = tabulix::testing::TestWorkspace;

WhereClauseObj cond(int64_t col, uint64_t op, std::string c) {
  WhereClauseObj w;
  w.colNum = col;
  w.op = op;
  w.constant = std::move(c);
  return w;
}

WhereClauseObj in(int64_t col, std::set<std::string> levels) {
  WhereClauseObj w;
  w.colNum = col;
  w.op = kOpIn;
  w.levels = std::move(levels);
  return w;
}

std::vector<int32_t> kept(Model& m, std::vector<WhereClauseObj> w) { return rowsWhere(m, w).value(); }

// Columns: n (numeric), fruit (categorical), day (dates).
const std::vector<std::vector<std::string>> kRows = {
    {"1.50", "Banana", "2021-03-15"}, {"10", "apple", "2021-03-16"},
    {"9", "APPLE", "2020-12-31"},     {"", "Cherry", ""},
    {"2", "banana", "03/17/2021"},    {"1", "", "2021-01-01"},
    {"2.0", "Mango", "2021-03-15"},   {"5", "apple", "2022-06-01"}};

}  // namespace

TEST(RowFilters, NumbersAndDatesCompareByValueAndMissingCellsFailEveryCondition) {
  Workspace w({"n", "fruit", "day"}, kRows);
  ASSERT_EQ(columnNumber(w.model, 0)->type, 3);
  ASSERT_EQ(columnNumber(w.model, 2)->type, 4);
  EXPECT_FALSE(rowsWhere(w.model, {}).has_value());  // no filter: every row
  EXPECT_EQ(kept(w.model, {cond(0, kOpEqual, "1.5")}), (std::vector<int32_t>{1}));
  EXPECT_EQ(kept(w.model, {cond(0, kOpGreater, "9")}), (std::vector<int32_t>{2}));  // 10 > 9, not as text
  // ≠ never keeps the empty cell of row 4.
  EXPECT_EQ(kept(w.model, {cond(0, kOpNotEqual, "5")}), (std::vector<int32_t>{1, 2, 3, 5, 6, 7}));
  EXPECT_EQ(kept(w.model, {in(0, {"1", "2.0"})}), (std::vector<int32_t>{5, 6, 7}));
  // Two conditions on one column intersect.
  EXPECT_EQ(kept(w.model, {cond(0, kOpGreaterEqual, "1"), cond(0, kOpLess, "5")}),
            (std::vector<int32_t>{1, 5, 6, 7}));
  // Dates compare in time whatever their writing.
  EXPECT_EQ(kept(w.model, {cond(2, kOpGreater, "03/15/2021")}), (std::vector<int32_t>{2, 5, 8}));
  EXPECT_EQ(kept(w.model, {cond(2, kOpEqual, "2021-03-15")}), (std::vector<int32_t>{1, 7}));
  EXPECT_EQ(kept(w.model, {cond(2, kOpLessEqual, "2021-01-01")}), (std::vector<int32_t>{3, 6}));
  // A constant that does not read as a number (the type changed since) keeps nothing.
  EXPECT_TRUE(kept(w.model, {cond(0, kOpEqual, "abc")}).empty());
  EXPECT_TRUE(kept(w.model, {in(0, {"abc", "10"})}) == (std::vector<int32_t>{2}));
}

TEST(RowFilters, TextsIgnoreCaseAndAnEmptySetStopsEarly) {
  Workspace w({"n", "fruit", "day"}, kRows);
  EXPECT_EQ(kept(w.model, {cond(1, kOpEqual, "apple")}), (std::vector<int32_t>{2, 3, 8}));
  EXPECT_EQ(kept(w.model, {cond(1, kOpContains, "AN")}), (std::vector<int32_t>{1, 5, 7}));
  EXPECT_EQ(kept(w.model, {in(1, {"cherry", "MANGO"})}), (std::vector<int32_t>{4, 7}));
  // The empty cell takes part as the empty text.
  EXPECT_EQ(kept(w.model, {cond(1, kOpNotEqual, "apple")}), (std::vector<int32_t>{1, 4, 5, 6, 7}));
  // Order of conditions: the intersection is the same either way.
  EXPECT_EQ(kept(w.model, {cond(1, kOpEqual, "apple"), cond(0, kOpGreater, "6")}),
            (std::vector<int32_t>{2, 3}));
  // Nothing left after the first condition: the result is empty, not "no filter".
  auto none = rowsWhere(w.model, {cond(1, kOpEqual, "kiwi"), cond(0, kOpGreater, "0")});
  ASSERT_TRUE(none.has_value());
  EXPECT_TRUE(none->empty());
  // A condition on a variable that no longer exists keeps nothing.
  EXPECT_TRUE(kept(w.model, {cond(7, kOpEqual, "x")}).empty());
  // Non-ASCII texts fold too.
  Workspace u({"city"}, {{"ÉCOLE"}, {"école"}, {"Straße"}});
  EXPECT_EQ(kept(u.model, {cond(0, kOpEqual, "École")}), (std::vector<int32_t>{1, 2}));
}

TEST(RowFilters, TextsOfConditionsAndTheEditorRules) {
  Workspace w({"n", "fruit", "day"}, kRows);
  Model& m = w.model;
  EXPECT_EQ(stringForWhere(m, cond(0, kOpGreaterEqual, "30")), "n ≥ 30");
  EXPECT_EQ(stringForWhere(m, in(1, {"M", "F"})), "fruit IN F, M");
  EXPECT_EQ(stringForWhere(m, cond(0, 7, "1")), "n Unknown op 1");
  EXPECT_EQ(stringForWhere(m, cond(1, kOpContains, "an")), "fruit Contains an");
  EXPECT_EQ(stringForWheres(m, {}), "");
  // The given order, then the sorted one (column, operator, constant).
  std::vector<WhereClauseObj> ws = {cond(2, kOpEqual, "2021-03-15"), cond(0, kOpGreater, "2"),
                                    cond(0, kOpGreater, "10")};
  EXPECT_EQ(stringForWheres(m, ws), "day = 2021-03-15 & n > 2 & n > 10");
  EXPECT_EQ(stringForWhereSet(m, ws), "n > 10 & n > 2 & day = 2021-03-15");

  // Every type ends with "is missing" (20) and "is not missing" (21).
  EXPECT_EQ(operatorsForType(VariableType::Numeric), (std::vector<uint64_t>{4, 2, 3, 0, 1, 5, 10, 20, 21}));
  EXPECT_EQ(operatorsForType(VariableType::Categorical), (std::vector<uint64_t>{4, 99, 5, 10, 20, 21}));
  EXPECT_EQ(operatorsForType(VariableType::Binary), (std::vector<uint64_t>{4, 5, 10, 20, 21}));
  EXPECT_TRUE(operatorsForType(static_cast<VariableType>(0)).empty());
  EXPECT_TRUE(whereCanBeApplied(m, cond(0, kOpEqual, ""), VariableType::Numeric));
  EXPECT_FALSE(whereCanBeApplied(m, cond(0, kOpEqual, "1,5x"), VariableType::Numeric));
  EXPECT_FALSE(whereCanBeApplied(m, in(2, {"2021-03-15", "soon"}), VariableType::DateTime));
  EXPECT_TRUE(whereCanBeApplied(m, cond(1, kOpEqual, "anything"), VariableType::Categorical));
  EXPECT_EQ(summaryForWhere(m, cond(0, kOpLess, "")), "No filter");
  EXPECT_EQ(summaryForWhere(m, in(1, {})), "No filter");
  EXPECT_EQ(summaryForWhere(m, cond(0, kOpLess, "4")), "Browse filter: n < 4");
  EXPECT_EQ(suggestionsForColumn(m, *columnNumber(m, 1), "PP"), (std::vector<std::string>{"APPLE", "apple"}));
}

TEST(RowFilters, TheBrowseGridKeepsOneConditionPerColumn) {
  Workspace w({"n", "fruit", "day"}, kRows);
  BrowseFilter f;
  EXPECT_EQ(f.statusText(w.model), "No filter. Tap filter icons in column headers");
  EXPECT_TRUE(f.apply(cond(1, kOpEqual, "apple")));
  EXPECT_FALSE(f.apply(cond(1, kOpEqual, "apple")));  // the same condition changes nothing
  EXPECT_TRUE(f.apply(cond(0, kOpLess, "9")));
  EXPECT_TRUE(f.apply(cond(1, kOpContains, "an")));  // replaces the column's condition
  EXPECT_EQ(f.wheres().size(), 2u);
  EXPECT_EQ(f.statusText(w.model), "Filters: n < 9 & fruit Contains an");
  EXPECT_EQ(rowsWhere(w.model, f.wheres()).value(), (std::vector<int32_t>{1, 5, 7}));
  EXPECT_TRUE(f.apply(cond(0, kOpLess, "")));  // incomplete: removes the column's condition
  EXPECT_FALSE(f.whereForColumn(0).has_value());
  EXPECT_FALSE(f.apply(in(2, {})));
}
