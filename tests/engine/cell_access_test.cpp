// Cell access and cached statistics over a real store: counts, figures,
// the cache rules, matrices with listwise deletion, codes and frequencies.
#include "engine/cell_access.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>

#include "engine/workspace_data.h"

namespace fs = std::filesystem;
using namespace tabulix;

namespace {

struct Workspace {
  fs::path dir;
  Model model;
  Workspace(const std::vector<std::string>& names, const std::vector<std::vector<std::string>>& rowsData,
            const char* decimal = ".") {
    char tmpl[] = "/tmp/tabulix-cells-XXXXXX";
    dir = mkdtemp(tmpl);
    model.openStore(dir / "w.tbx");
    model.setMetadataValue(decimal, "decimalSeparator");
    addColumns(model, names);
    auto cols = columns(model);
    for (size_t r = 0; r < rowsData.size(); ++r)
      addRow(model, static_cast<uint32_t>(r + 1), rowsData[r], cols);
    model.saveContext();
  }
  ~Workspace() { fs::remove_all(dir); }
  Column& col(int i) { return *columns(model)[i]; }
};

std::vector<Cell> cellsOf(std::initializer_list<const char*> texts) {
  std::vector<Cell> out;
  int r = 1;
  for (const char* t : texts) out.push_back(Cell{std::string(t), 0, r++});
  return out;
}

}  // namespace

TEST(CellStats, CountsFiguresAndTheCacheRules) {
  // Column a: 1, 2, (empty), x, 3; b: all empty; c: dates and a number.
  Workspace w({"a", "b", "c"}, {{"1", "", "2021-03-15"},
                                {"2", "", "03/16/2021"},
                                {"", "", ""},
                                {"x", "", "2012"},
                                {"3", "", "2021-03-15"}});
  BasicStats a = dictBasicStatsForColumn(w.model, w.col(0));
  EXPECT_EQ(a.obs, 4);
  EXPECT_EQ(a.obsNumeric, 3);
  EXPECT_EQ(a.obsDate, 0);
  EXPECT_EQ(a.levels, 4);
  EXPECT_EQ(a.min, 1.0);
  EXPECT_EQ(a.max, 3.0);
  EXPECT_EQ(a.mean, 2.0);
  EXPECT_DOUBLE_EQ(*a.sd, 1.0);
  EXPECT_EQ(a.pc25, 1.5);  // (n-1)p/100 interpolation over 1, 2, 3
  EXPECT_FALSE(a.minDate.has_value());

  BasicStats c = dictBasicStatsForColumn(w.model, w.col(2));
  EXPECT_EQ(c.obsNumeric, 1);  // 2012 is a number, not a year
  EXPECT_EQ(c.obsDate, 3);
  EXPECT_EQ(c.levels, 3);
  EXPECT_EQ(c.levelsDate, 2);
  EXPECT_LT(*c.minDate, *c.maxDate);
  EXPECT_NEAR(*c.maxDate - *c.minDate, 86400, 3600);  // one calendar day, whatever the zone rules

  // The empty column: three counts, nothing else, and a cache that keeps
  // asking for a refresh when typed Numeric.
  Column& b = w.col(1);
  b.type = static_cast<int32_t>(VariableType::Numeric);
  EXPECT_TRUE(needCalcBasicStatsForColumn(b));
  StatList got = retrieveBasicStatsForColumn(w.model, b);
  EXPECT_EQ(got, (StatList{{"obs", 0}, {"obsNumeric", 0}, {"levels", 0}}));
  EXPECT_TRUE(needCalcBasicStatsForColumn(b));
  EXPECT_EQ(b.obs, OptInt(0));
  EXPECT_FALSE(b.min.has_value());

  // DateTime figures come back under the plain keys.
  Column& cc = w.col(2);
  cc.type = static_cast<int32_t>(VariableType::DateTime);
  StatList dates = retrieveBasicStatsForColumn(w.model, cc);
  ASSERT_EQ(dates.size(), 10u);
  EXPECT_EQ(dates[2], (std::pair<std::string, double>{"levels", 2}));
  EXPECT_EQ(dates[3].first, "min");
  EXPECT_EQ(dates[3].second, *cc.minDate);
  EXPECT_FALSE(needCalcBasicStatsForColumn(cc));
  EXPECT_FALSE(w.model.context().hasChanges());  // retrieving saved the refreshed cache

  // Applying a dictionary without date figures clears the cached ones.
  applyBasicStats(a, cc);
  EXPECT_FALSE(cc.minDate.has_value());
  EXPECT_EQ(cc.obsNumeric, OptInt(3));
}

TEST(CellStats, DecimalCommaWorkspacesReadTheirOwnNumbers) {
  Workspace w({"a"}, {{"3,5"}, {"1.234,5"}, {"-0,5"}, {"3.5"}}, ",");
  BasicStats s = dictBasicStatsForColumn(w.model, w.col(0));
  EXPECT_EQ(s.obsNumeric, 3);
  EXPECT_DOUBLE_EQ(*s.max, 1234.5);
  EXPECT_DOUBLE_EQ(*s.min, -0.5);
}

TEST(CellVectors, MatrixListwiseDeletionBinaryNamesAndDates) {
  Workspace w({"A", "B", "D"}, {{"1", "yes", "2021-01-01"}, {"2", "no", "2021-01-02"}, {"", "yes", "junk"}});
  Column& a = w.col(0);
  Column& b = w.col(1);
  Column& d = w.col(2);
  a.type = static_cast<int32_t>(VariableType::Numeric);
  b.type = static_cast<int32_t>(VariableType::Binary);
  d.type = static_cast<int32_t>(VariableType::DateTime);
  NumericMatrix m = numericOfColumns(w.model, {&a, &b});
  EXPECT_EQ(m.Xmat, (std::vector<std::vector<double>>{{1, 2}, {0, 1}}));
  EXPECT_EQ(m.names, (std::vector<std::string>{"A", "(B=no)"}));
  // Restricted to rows 2 and 3: row 3 lacks A, so only row 2 stays; the
  // reference level is the first one met within the rows (row 2's "no").
  std::vector<int32_t> rows = {3, 2};
  NumericMatrix r = numericOfColumns(w.model, {&b, &a}, &rows);
  EXPECT_EQ(r.Xmat, (std::vector<std::vector<double>>{{0}, {2}}));
  EXPECT_EQ(r.names[0], "(B=yes)");
  NumericMatrix dm = numericOfColumns(w.model, {&d});
  ASSERT_EQ(dm.Xmat[0].size(), 2u);
  EXPECT_NEAR(dm.Xmat[0][1] - dm.Xmat[0][0], 86400, 3600);

  auto dates =
      numericOfCells(w.model, cellsForColumn(w.model, d, {{CellKey::RowNum, true}}), VariableType::DateTime);
  EXPECT_EQ(dates.size(), 2u);
  EXPECT_EQ(numericOfCells(w.model, cellsOf({"1", "", "a", "2.5"})), (std::vector<double>{1, 2.5}));
}

TEST(CellCodes, FactorsAndFrequencies) {
  Factor f = factorOfCategorical(cellsOf({"b", "a", "b", ""}));
  EXPECT_EQ(f.data, (std::vector<int32_t>{0, 1, 0, 2}));
  std::map<std::string, int32_t> given = {{"a", 0}};
  EXPECT_EQ(factorOfCategorical(cellsOf({"b", "a"}), &given).data, (std::vector<int32_t>{1, 0}));

  TopValues t = dictionary({{"a", 2}, {"b", 5}, {"c", 2}}, 2);
  EXPECT_EQ(t.levels, (std::vector<std::string>{"b", "a"}));
  EXPECT_EQ(t.counts, (std::vector<int64_t>{5, 2}));

  auto cells = cellsOf({"a", "a", "a", "a", "a", "b", "b", "b", "c", "d", ""});
  TopFrequencies three = frequenciesOfCells(cells, 3);
  EXPECT_EQ(three.levels, (std::vector<std::string>{"a", "b", "Others"}));
  EXPECT_EQ(three.counts, (std::vector<int64_t>{5, 3, 2}));
  ASSERT_EQ(three.cumulative.size(), 3u);
  EXPECT_DOUBLE_EQ(three.cumulative[0], 0.5);
  EXPECT_DOUBLE_EQ(three.cumulative[1], 0.8);
  EXPECT_DOUBLE_EQ(three.cumulative[2], 1.0);
  TopFrequencies four = frequenciesOfCells(cells, 4);
  EXPECT_EQ(four.levels, (std::vector<std::string>{"a", "b", "c", "d"}));
}
