// Managing variables over a real store: chosen types and when they give way
// to the guess, missing-value codes as every reader sees them (against R with
// NA in their place, tests/reference/missing_codes.R), deleting variables
// that analyses use, and deleting rows with what moves up after them.
#include "browse/variable_edit.h"

#include <gtest/gtest.h>

#include "analyses/filters.h"
#include "analyses/regression/regression.h"
#include "browse/edit_session.h"
#include "engine/cell_access.h"
#include "engine/missing_codes.h"
#include "engine/workspace_data.h"
#include "tests/analyses/test_workspace.h"

using namespace tabulix;
using Workspace = tabulix::testing::TestWorkspace;

namespace {

VariableType typeOf(Column& c) { return static_cast<VariableType>(c.type.value_or(0)); }

std::vector<int32_t> kept(Model& m, int64_t col, uint64_t op) {
  WhereClauseObj w;
  w.colNum = col;
  w.op = op;
  return rowsWhere(m, {w}).value();
}

std::string cell(Model& m, int col, int row) {
  auto c = m.context().cellAt(col, row);
  return c && c->data ? *c->data : "<none>";
}

}  // namespace

TEST(VariableTypes, AChosenTypeIsOneOfTheOfferedAndLastsUntilTheNextEdit) {
  Workspace w({"group", "word"}, {{"0", "yes"}, {"1", "no"}, {"1", "yes"}, {"0", "yes"}});
  ASSERT_EQ(typeOf(w.col(0)), VariableType::Numeric);
  // A 0/1 code may be Numeric, Binary or Categorical, never a date.
  EXPECT_EQ(
      variableTypesForColumn(w.col(0)),
      (std::vector<VariableType>{VariableType::Numeric, VariableType::Binary, VariableType::Categorical}));
  changeVariableType(w.model, 0, VariableType::Categorical);
  EXPECT_EQ(typeOf(w.col(0)), VariableType::Categorical);
  try {
    changeVariableType(w.model, 1, VariableType::Numeric);
    ADD_FAILURE() << "a text variable became Numeric";
  } catch (const EditError& e) {
    EXPECT_STREQ(e.what(), "\"word\" cannot be Numeric: its types are Binary, Categorical");
  }
  EXPECT_EQ(typeOf(w.col(1)), VariableType::Binary);
  // The choice is stored; an edit of the variable guesses again.
  {
    Model again;
    again.openStore(w.dir / "w.tbx");
    EXPECT_EQ(columnNumber(again, 0)->type, static_cast<int32_t>(VariableType::Categorical));
  }
  EditSession s;
  s.editCell(w.model, 0, 2, "0");
  endEditing(w.model, s);
  EXPECT_EQ(typeOf(w.col(0)), VariableType::Numeric);
  EXPECT_EQ(variableTypeNamed("date / time"), VariableType::DateTime);
  EXPECT_EQ(variableTypeNamed("DateTime"), VariableType::DateTime);
  EXPECT_EQ(variableTypeNamed("Text"), VariableType::Unknown);
}

// x = c(1, 2, 999, 4, -1, 6, 8, " 999.0") with 999 and -1 missing; y by x.
TEST(MissingCodes, EveryReaderSeesTheCodesAsMissingAndTheCellsKeepTheirText) {
  Workspace w({"x", "y", "answer"}, {{"1", "3", "yes"},
                                     {"2", "5", "n/a"},
                                     {"999", "100", "no"},
                                     {"4", "8", "yes"},
                                     {"-1", "50", "n/a"},
                                     {"6", "13", "no"},
                                     {"8", "17", "yes"},
                                     {" 999.0", "70", ""}});
  setMissingCodes(w.model, 0, {"999", " -1 ", "999"});
  EXPECT_EQ(storedMissingCodes(w.col(0)), (std::vector<std::string>{"999", "-1"}));
  // R: x[x %in% c(999, -1)] <- NA; mean, sd, median and n of the rest.
  Column& x = w.col(0);
  EXPECT_EQ(x.obs, OptInt(5));
  EXPECT_NEAR(*x.mean, 4.2, 1e-15);
  EXPECT_NEAR(*x.sd, 2.8635642126552705, 1e-14);
  EXPECT_EQ(x.pc50, OptReal(4));
  EXPECT_EQ(x.max, OptReal(8));
  EXPECT_EQ(cell(w.model, 0, 3), "999");
  // lm(y ~ x): the rows with a code drop out, as NA rows do in R.
  auto m = numericOfColumns(w.model, {&w.col(1), &w.col(0)});
  ASSERT_EQ(m.Xmat.size(), 2u);
  EXPECT_EQ(m.Xmat[1], (std::vector<double>{1, 2, 4, 6, 8}));
  // Text codes leave the levels, the counts and the level lists.
  setMissingCodes(w.model, 2, {"n/a"});
  EXPECT_EQ(w.col(2).levels, OptInt(2));
  EXPECT_EQ(typeOf(w.col(2)), VariableType::Binary);  // yes/no once "n/a" is missing
  auto freq = frequenciesOfColumn(w.model, w.col(2));
  EXPECT_EQ(freq.count("n/a"), 0u);
  EXPECT_EQ(freq["yes"], 3);
  auto levels = distinctValuesForColumn(w.model, &w.col(2));
  EXPECT_EQ(std::count(levels.begin(), levels.end(), "n/a"), 0);
  // Filters: "is missing" takes the empty cell and the codes.
  EXPECT_EQ(kept(w.model, 2, kOpIsMissing), (std::vector<int32_t>{2, 5, 8}));
  EXPECT_EQ(kept(w.model, 0, kOpIsNotMissing), (std::vector<int32_t>{1, 2, 4, 6, 7}));
  WhereClauseObj big;
  big.colNum = 0;
  big.op = kOpGreater;
  big.constant = "7";
  EXPECT_EQ(rowsWhere(w.model, {big}).value(), (std::vector<int32_t>{7}));
  EXPECT_EQ(stringForWhere(w.model,
                           [] {
                             WhereClauseObj m;
                             m.op = kOpIsMissing;
                             return m;
                           }()),
            "x is missing");
  // Clearing the codes brings the values back.
  setMissingCodes(w.model, 0, {});
  EXPECT_FALSE(w.col(0).missingCodes.has_value());
  EXPECT_EQ(w.col(0).obs, OptInt(8));
  EXPECT_EQ(kept(w.model, 0, kOpIsMissing), std::vector<int32_t>{});
}

TEST(MissingCodes, MatchTheSameNumberWrittenOtherwiseButNotOtherTexts) {
  Column c;
  setStoredMissingCodes(c, {"999", "n/a", "."});
  MissingCodes codes(c);
  for (const char* t : {"999", "999.0", " 999 ", "9.99e2", "+999", "n/a", "."})
    EXPECT_TRUE(codes.matches(t)) << t;
  for (const char* t : {"9990", "N/A", "n/a.", "", "99", "-999", ","}) EXPECT_FALSE(codes.matches(t)) << t;
  c.missingCodes = "not json";
  EXPECT_TRUE(MissingCodes(c).empty());
}

TEST(DeleteVariable, TheAnalysesUsingItAreNamedAndLoseIt) {
  Workspace w({"a", "b", "c"}, {{"1", "2", "3"}, {"4", "5", "6"}});
  Analysis* used = w.model.context().insertAnalysis();
  used->type = 3;
  used->left = &w.col(1);
  Analysis* filtered = w.model.context().insertAnalysis();
  filtered->type = 3;
  filtered->left = &w.col(0);
  WhereClause* where = w.model.context().insertWhereClause();
  where->x = &w.col(1);
  where->op = kOpGreater;
  where->c = "1";
  filtered->wheres.push_back(where);
  where->whereOfAnalysis = filtered;
  Analysis* other = w.model.context().insertAnalysis();
  other->type = 3;
  other->left = &w.col(2);
  w.model.saveContext();
  auto users = analysesUsingVariable(w.model, w.col(1));
  EXPECT_EQ(users.size(), 2u);
  EXPECT_NE(analysisNames(w.model, users).find("(id " + std::to_string(used->objectID.rowid) + ")"),
            std::string::npos);
  deleteVariable(w.model, 1);
  EXPECT_EQ(columnNumber(w.model, 1), nullptr);
  EXPECT_EQ(used->left, nullptr);
  EXPECT_TRUE(filtered->wheres.empty());
  EXPECT_EQ(other->left, &w.col(2));
  EXPECT_EQ(w.col(2).order, OptInt(1));
  EXPECT_THROW(deleteVariable(w.model, 1), EditError);
}

TEST(DeleteRows, LaterRowsMoveUpAndTheFileSaysSoAfterReopening) {
  std::vector<std::vector<std::string>> data;
  // Three chunks' worth, so that rows move across chunk boundaries.
  for (int r = 1; r <= 3000; ++r) data.push_back({std::to_string(r), r % 2 ? "odd" : "even"});
  Workspace w({"n", "parity"}, data);
  changeVariableType(w.model, 1, VariableType::Categorical);
  EXPECT_EQ(parseRowList("3, 7-9,3"), (std::vector<int32_t>{3, 7, 8, 9}));
  EXPECT_THROW(parseRowList("2-"), EditError);
  EXPECT_THROW(parseRowList("0"), EditError);
  EXPECT_THROW(parseRowList("5-3"), EditError);
  EXPECT_THROW(deleteRows(w.model, {2, 3001}), EditError);
  EXPECT_EQ(countRows(w.model), 3000u);
  std::vector<int32_t> gone = {1, 7, 8, 9};
  for (int r = 1000; r <= 2100; ++r) gone.push_back(r);
  deleteRows(w.model, gone);
  const int32_t left = 3000 - static_cast<int32_t>(gone.size());
  EXPECT_EQ(countRows(w.model), static_cast<size_t>(left));
  // The figures follow; the chosen type stays.
  EXPECT_EQ(w.col(0).obs, OptInt(left));
  EXPECT_EQ(typeOf(w.col(1)), VariableType::Categorical);
  Model again;
  again.openStore(w.dir / "w.tbx");
  EXPECT_EQ(countRows(again), static_cast<size_t>(left));
  auto nums = rows(again);
  EXPECT_EQ(*nums.back()->num, left);
  EXPECT_EQ(cell(again, 0, 1), "2");
  EXPECT_EQ(cell(again, 0, 5), "6");
  EXPECT_EQ(cell(again, 0, 6), "10");
  EXPECT_EQ(cell(again, 1, 6), "even");
  EXPECT_EQ(cell(again, 0, 995), "999");
  EXPECT_EQ(cell(again, 0, 996), "2101");
  EXPECT_EQ(cell(again, 0, left), "3000");
  EXPECT_EQ(cell(again, 0, left + 1), "<none>");
  // A row added now takes the next number, not one in use.
  addEmptyRow(again);
  again.saveContext();
  EXPECT_EQ(countRows(again), static_cast<size_t>(left + 1));
  EXPECT_EQ(cell(again, 0, left), "3000");
  EXPECT_EQ(cell(again, 0, left + 1), "");
}
