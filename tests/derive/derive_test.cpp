// Derived variables: values against R on airquality, the missing-value rules,
// the editor's status, name and preview rules, numbering, the worker/shared
// split, decimal-comma workspaces and the random generators.
#include "derive/derive.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "engine/number_format.h"
#include "engine/number_reading.h"
#include "engine/values.h"
#include "engine/workspace_data.h"
#include "tests/temp_dir.h"
#include "textio/plain_number.h"

namespace fs = std::filesystem;
using namespace tabulix;

namespace {

using tabulix::testing::TempDir;

std::vector<std::string> splitCsv(const std::string& line) {
  std::vector<std::string> out;
  std::stringstream ss(line);
  std::string f;
  while (std::getline(ss, f, ',')) out.push_back(f);
  if (!line.empty() && line.back() == ',') out.push_back("");
  return out;
}

// A workspace whose columns hold the given texts row by row, each column's
// statistics cached and its type guessed, saved.
void fill(Model& m, const std::vector<std::string>& names,
          const std::vector<std::vector<std::string>>& rowsData) {
  addColumns(m, names);
  auto cols = columns(m);
  for (size_t r = 0; r < rowsData.size(); ++r) addRow(m, static_cast<uint32_t>(r + 1), rowsData[r], cols);
  for (Column* c : cols) {
    basicStatsForColumn(m, *c);
    c->type = static_cast<int32_t>(guessTypeOfColumn(*c));
  }
  ASSERT_NO_THROW(m.saveContext());
}

Column* named(Model& m, const std::string& name) {
  for (Column* c : columns(m))
    if (c->name == name) return c;
  return nullptr;
}

// The texts of a column by row.
std::vector<std::string> texts(Model& m, const Column& c) {
  std::vector<std::string> out;
  for (const Cell& cell : cellsForColumn(m, c, {{CellKey::RowNum, true}}))
    out.push_back(cell.data.value_or("?"));
  return out;
}

Column* derive(Model& m, const std::string& name, uint32_t code, Column* x, Column* y = nullptr,
               std::optional<double> c = std::nullopt) {
  return addColumnNamed(m, name, x, y, c, valueFunctionForCode(code, xFiguresForColumn(m, x)));
}

// |a - b| <= tol * max(1, |b|): relative for large values, absolute near 0.
void expectNear(double a, double b, double tol, const std::string& what) {
  EXPECT_LE(std::fabs(a - b), tol * std::max(1.0, std::fabs(b))) << what << ": " << a << " vs " << b;
}

}  // namespace

// Every code except the random ones against R (tests/reference/derive.R):
// each cell to 1e-12 (relative, absolute below 1), the same missing cells, and
// the new column's cached mean, sd and quartiles to 1e-10.
TEST(DeriveAgainstR, AirqualityCasesValuesAndStatistics) {
  const std::string ref = std::string(TABULIX_SOURCE_DIR) + "/tests/data/reference/";
  std::ifstream data(ref + "derive_airquality.csv"), casesFile(ref + "derive_cases.csv");
  ASSERT_TRUE(data && casesFile);
  std::string line;
  std::getline(data, line);
  std::vector<std::string> header = splitCsv(line);
  std::vector<std::vector<std::string>> table;
  while (std::getline(data, line)) table.push_back(splitCsv(line));
  ASSERT_EQ(table.size(), 153u);

  TempDir dir;
  Model m;
  ASSERT_NO_THROW(m.openStore(dir.path / "aq.tbx"));
  std::vector<std::vector<std::string>> inputs;
  for (const auto& row : table) inputs.push_back({row[0], row[1], row[2]});
  fill(m, {"Ozone", "Wind", "S"}, inputs);

  std::getline(casesFile, line);
  std::set<uint32_t> codes;
  while (std::getline(casesFile, line)) {
    auto f = splitCsv(line);  // case,code,x,y,c,obs,mean,sd,pc25,pc50,pc75
    const std::string name = f[0];
    const uint32_t code = static_cast<uint32_t>(std::stoul(f[1]));
    codes.insert(code);
    std::optional<double> c;
    if (!f[4].empty()) c = std::stod(f[4]);
    Column* x = f[2].empty() ? nullptr : named(m, f[2]);
    Column* y = f[3].empty() ? nullptr : named(m, f[3]);
    Column* made = derive(m, name, code, x, y, c);
    ASSERT_NE(made, nullptr);
    size_t col = std::find(header.begin(), header.end(), name) - header.begin();
    ASSERT_LT(col, header.size());
    auto got = texts(m, *made);
    ASSERT_EQ(got.size(), table.size());
    for (size_t r = 0; r < table.size(); ++r) {
      const std::string& want = table[r][col];
      std::string what = name + " (code " + f[1] + ") row " + std::to_string(r + 1);
      if (want.empty()) {
        EXPECT_EQ(got[r], "") << what;
        continue;
      }
      auto v = decimalNumberForString(m, got[r]);
      ASSERT_TRUE(v) << what << ": " << got[r];
      expectNear(*v, std::stod(want), 1e-12, what);
    }
    EXPECT_EQ(made->type, static_cast<int32_t>(VariableType::Numeric)) << name;
    EXPECT_EQ(made->obsNumeric.value_or(-1), std::stoi(f[5])) << name;
    const std::pair<OptReal, int> figures[] = {
        {made->mean, 6}, {made->sd, 7}, {made->pc25, 8}, {made->pc50, 9}, {made->pc75, 10}};
    for (auto [v, i] : figures) {
      if (f[static_cast<size_t>(i)].empty()) continue;
      ASSERT_TRUE(v) << name;
      expectNear(*v, std::stod(f[static_cast<size_t>(i)]), 1e-10, name + " statistic " + std::to_string(i));
    }
  }
  // All 34 codes except the three random ones are covered.
  for (const auto& t : transformations()) {
    if (t.code < 335 || t.code > 337) {
      EXPECT_TRUE(codes.count(t.code)) << t.code;
    }
  }
}

TEST(DeriveColumns, NumberingCellsMissingRulesAndTypes) {
  TempDir dir;
  Model m;
  ASSERT_NO_THROW(m.openStore(dir.path / "w.tbx"));
  fill(m, {"a", "b", "c"}, {{"100", "4", "x"}, {"0", "0", "y"}, {"-3", "", "z"}, {"", "2", "w"}});
  // Columns numbered 0, 1 and 5: the next number is 6, placed last.
  named(m, "c")->num = 5;
  ASSERT_NO_THROW(m.saveContext());
  Column* a = named(m, "a");
  Column* b = named(m, "b");

  Column* lg = derive(m, "lg", 300, a);
  EXPECT_EQ(lg->num, 6);
  EXPECT_EQ(lg->order, 3);
  EXPECT_EQ(texts(m, *lg), (std::vector<std::string>{"2", "", "", ""}));
  EXPECT_EQ(lg->obs, 1);
  EXPECT_EQ(lg->type, static_cast<int32_t>(VariableType::Numeric));

  EXPECT_EQ(texts(m, *derive(m, "ratio", 318, a, b)), (std::vector<std::string>{"25", "", "", ""}));
  EXPECT_EQ(texts(m, *derive(m, "mn", 314, a, nullptr, 7)), (std::vector<std::string>{"7", "0", "-3", "7"}));
  EXPECT_EQ(texts(m, *derive(m, "mxy", 322, a, b)), (std::vector<std::string>{"100", "0", "-3", "2"}));
  EXPECT_EQ(texts(m, *derive(m, "eq", 329, a, nullptr, 0)), (std::vector<std::string>{"0", "1", "0", "0"}));
  EXPECT_EQ(texts(m, *derive(m, "ne", 340, a, nullptr, 0)), (std::vector<std::string>{"1", "0", "1", "1"}));
  EXPECT_EQ(texts(m, *derive(m, "ge", 330, a, nullptr, 0)), (std::vector<std::string>{"1", "1", "0", "0"}));
  EXPECT_EQ(texts(m, *derive(m, "sum", 309, a, nullptr, 0.5)),
            (std::vector<std::string>{"100.5", "0.5", "-2.5", ""}));
  // A constant without x fills every row; a value that is 0 or 1 only is still Numeric.
  Column* k = derive(m, "k", 334, nullptr, nullptr, 1.5);
  EXPECT_EQ(texts(m, *k), (std::vector<std::string>{"1.5", "1.5", "1.5", "1.5"}));
  EXPECT_EQ(named(m, "eq")->type, static_cast<int32_t>(VariableType::Numeric));
  // Z(x) with mean 10 and sd 2 maps 14 to 2; rescale without x uses 0 and 1.
  EXPECT_EQ(valueFunctionForCode(327, {0, 0, 10, 2})(14, NAN, 0), 2);
  EXPECT_EQ(valueFunctionForCode(339, XFigures{})(0.25, NAN, 0), 0.25);
  // log(x + 1) and log10(x + 1) are 0 at 0 and 1 at e - 1 and 9.
  EXPECT_EQ(valueFunctionForCode(307, XFigures{})(0, NAN, 0), 0);
  EXPECT_NEAR(valueFunctionForCode(307, XFigures{})(std::exp(1.0) - 1, NAN, 0), 1, 1e-15);
  EXPECT_EQ(valueFunctionForCode(301, XFigures{})(0, NAN, 0), 0);
  EXPECT_NEAR(valueFunctionForCode(301, XFigures{})(9, NAN, 0), 1, 1e-15);

  // Everything persisted in one save: reopened, the columns and cells are there.
  size_t before = countColumns(m);
  Model again;
  ASSERT_NO_THROW(again.openStore(dir.path / "w.tbx"));
  EXPECT_EQ(countColumns(again), before);
  Column* sum = named(again, "sum");
  ASSERT_NE(sum, nullptr);
  EXPECT_EQ(texts(again, *sum), (std::vector<std::string>{"100.5", "0.5", "-2.5", ""}));
  EXPECT_DOUBLE_EQ(sum->mean.value_or(0), (100.5 + 0.5 - 2.5) / 3);
  std::vector<int32_t> orders;
  for (Column* c : columns(again)) orders.push_back(c->order.value_or(-1));
  for (size_t i = 0; i < orders.size(); ++i) EXPECT_EQ(orders[i], static_cast<int32_t>(i));
}

TEST(DeriveColumns, WorkerComputesSharedAppliesRowsAddedMeanwhileAreMissing) {
  TempDir dir;
  Model shared;
  ASSERT_NO_THROW(shared.openStore(dir.path / "w.tbx"));
  fill(shared, {"x"}, {{"1"}, {"2"}, {"3"}});
  DerivedColumn values;
  {
    Model worker(shared.coordinator());
    Column* x = worker.context().existingColumn(named(shared, "x")->objectID);
    ASSERT_NE(x, nullptr);
    values =
        deriveColumnValues(worker, x, nullptr, 10, valueFunctionForCode(312, xFiguresForColumn(worker, x)));
    EXPECT_FALSE(worker.context().hasChanges());
  }
  addEmptyRow(shared);  // a row added while the worker computed
  Column* made = applyDerivedColumn(shared, "x10", values);
  EXPECT_FALSE(shared.context().hasChanges());
  EXPECT_EQ(texts(shared, *made), (std::vector<std::string>{"10", "20", "30", ""}));
  EXPECT_EQ(made->obs, 3);
  EXPECT_EQ(made->max, 30);
}

TEST(DeriveColumns, DecimalCommaWorkspacesGetTextsTheyReadBack) {
  TempDir dir;
  Model m;
  ASSERT_NO_THROW(m.openStore(dir.path / "w.tbx"));
  m.setMetadataValue(",", "decimalSeparator");
  fill(m, {"x"}, {{"1,5"}, {"2"}});
  Column* made = derive(m, "half", 313, named(m, "x"), nullptr, 0.25);
  EXPECT_EQ(texts(m, *made), (std::vector<std::string>{"0,875", "1,125"}));
  EXPECT_EQ(made->type, static_cast<int32_t>(VariableType::Numeric));
  EXPECT_DOUBLE_EQ(made->mean.value_or(0), 1.0);
}

TEST(DeriveEditor, StatusOrderNamesAndPreview) {
  TempDir dir;
  Model m;
  ASSERT_NO_THROW(m.openStore(dir.path / "w.tbx"));
  fill(m, {"Var1", "Var2", "Ozone"}, {{"1", "2", "3"}});
  EXPECT_EQ(proposedName(m), "Var3");

  DeriveRequest r;
  EXPECT_EQ(deriveStatus(m, r), "Please provide a name for the new variable");
  r.nameNewVar = "Ozone";
  EXPECT_EQ(deriveStatus(m, r), "Another variable already exists with the name Ozone");
  r.nameNewVar = "ozone";  // differs in case only: accepted
  EXPECT_EQ(deriveStatus(m, r), "Please select a variable to transform");
  EXPECT_EQ(previewLine(r), "ozone = log(x)");
  r.column = named(m, "Ozone");
  EXPECT_EQ(deriveStatus(m, r), "");
  EXPECT_EQ(previewLine(r), "ozone = log(Ozone)");
  r.equation = 311;
  EXPECT_EQ(deriveStatus(m, r), "Please enter a numerical constant");
  EXPECT_EQ(previewLine(r), "ozone = Ozone / c");
  r.scalarC = 0;
  EXPECT_EQ(deriveStatus(m, r), "Make constant non-zero for division");
  r.scalarC = 2.5;
  EXPECT_EQ(deriveStatus(m, r), "");
  EXPECT_EQ(previewLine(r), "ozone = Ozone / 2.5");
  r.equation = 316;  // x+y without y
  EXPECT_EQ(deriveStatus(m, r), "Please select a variable to transform");
  EXPECT_EQ(previewLine(r), "ozone = Ozone + y");
  r.nameNewVar.clear();
  r.equation = 338;
  EXPECT_EQ(previewLine(r), "x = |x|");
  r.nameNewVar = "z";
  r.column = nullptr;
  r.equation = 335;  // rand(0,1) needs nothing
  EXPECT_EQ(deriveStatus(m, r), "");
  r.equation = 336;
  r.scalarC.reset();
  EXPECT_EQ(deriveStatus(m, r), "Please enter a numerical constant");

  // With Var1 … Var499 taken the search stops and proposes Var500.
  std::vector<std::string> many;
  for (int i = 3; i <= 499; ++i) many.push_back("Var" + std::to_string(i));
  for (const auto& n : many) m.context().insertColumn()->name = n;
  EXPECT_EQ(proposedName(m), "Var500");
}

TEST(DeriveEditor, ConstantsAndPlainDecimalTexts) {
  EXPECT_EQ(readConstant("2.5"), 2.5);
  EXPECT_EQ(readConstant("-.5"), -0.5);
  EXPECT_EQ(readConstant("+3"), 3);
  EXPECT_EQ(readConstant("1e3"), 1000);
  EXPECT_EQ(readConstant("7."), 7);
  for (const char* bad : {"", "abc", "1,5", "1.2.3", "inf", "nan", " 2", "2 ", "-", ".", "1e", "0x10"})
    EXPECT_FALSE(readConstant(bad)) << bad;

  EXPECT_EQ(plainDecimalText(0.1), "0.1");
  EXPECT_EQ(plainDecimalText(-0.0), "0");
  EXPECT_EQ(plainDecimalText(1234567.5), "1234567.5");
  EXPECT_EQ(plainDecimalText(1e-8), "1e-8");
  EXPECT_EQ(plainDecimalText(-1.5e21), "-1.5e+21");
  EXPECT_EQ(plainDecimalText(2.5, ','), "2,5");
  // Every written text reads back as the same double under its separator.
  NumberReaders point("."), comma(",");
  std::mt19937_64 gen(7);
  std::uniform_real_distribution<double> mant(-10, 10);
  std::uniform_int_distribution<int> exp10(-30, 30);
  for (int i = 0; i < 20000; ++i) {
    double v = mant(gen) * std::pow(10.0, exp10(gen));
    EXPECT_EQ(point.decimalNumberForString(plainDecimalText(v, '.')), v) << plainDecimalText(v);
    EXPECT_EQ(comma.decimalNumberForString(plainDecimalText(v, ',')), v) << plainDecimalText(v, ',');
  }
}

// The random codes over 100,000 rows. Tolerances are about 5 standard errors:
// uniform mean 0.5 (se 0.00091) within 0.005 and sd 1/sqrt(12) within 0.003;
// normal mean 0 (se 0.0032) within 0.016 and sd 1 (se 0.0022) within 0.012.
TEST(DeriveRandom, UniformAndNormalDrawsOverAHundredThousandRows) {
  TempDir dir;
  Model m;
  ASSERT_NO_THROW(m.openStore(dir.path / "w.tbx"));
  addColumns(m, {"id"});
  auto cols = columns(m);
  for (uint32_t r = 1; r <= 100000; ++r) addRow(m, r, {std::to_string(r)}, cols);
  ASSERT_NO_THROW(m.saveContext());

  Column* u = derive(m, "u", 335, nullptr);
  EXPECT_EQ(u->obsNumeric, 100000);
  EXPECT_GE(*u->min, 0);
  EXPECT_LT(*u->max, 1);
  EXPECT_NEAR(*u->mean, 0.5, 0.005);
  EXPECT_NEAR(*u->sd, 1 / std::sqrt(12.0), 0.003);

  Column* u10 = derive(m, "u10", 336, nullptr, nullptr, 10);
  EXPECT_GE(*u10->min, 0);
  EXPECT_LT(*u10->max, 10);
  EXPECT_NEAR(*u10->mean, 5, 0.05);

  Column* z = derive(m, "z", 337, nullptr);
  EXPECT_EQ(z->obsNumeric, 100000);
  EXPECT_NEAR(*z->mean, 0, 0.016);
  EXPECT_NEAR(*z->sd, 1, 0.012);
  // The inverse error function approximation stays within 0.5% of R's
  // qnorm: qnorm(0.975) = 1.959963984540054, qnorm(0.1) = -1.281551565544601,
  // qnorm(0.999) = 3.090232306167813.
  EXPECT_NEAR(normalFromUniform(0.975), 1.959963984540054, 0.01);
  EXPECT_NEAR(normalFromUniform(0.1), -1.281551565544601, 0.0065);
  EXPECT_NEAR(normalFromUniform(0.999), 3.090232306167813, 0.016);
  EXPECT_EQ(normalFromUniform(0.5), 0);
  EXPECT_GT(*z->max, 3);
  EXPECT_LT(*z->min, -3);
}

// Each derivation draws from its own stream: two made at once differ (the
// clock seed in whole seconds gave rand(0,10) = 10 × rand(0,1)); one seed
// gives the same draws again.
TEST(DeriveRandom, EachDerivationHasItsOwnSeed) {
  for (uint32_t code : {335u, 336u, 337u}) {
    SCOPED_TRACE(code);
    ValueFunction a = valueFunctionForCode(code, XFigures{});
    ValueFunction b = valueFunctionForCode(code, XFigures{});
    ValueFunction s1 = valueFunctionForCode(code, XFigures{}, 42);
    ValueFunction s2 = valueFunctionForCode(code, XFigures{}, 42);
    int differ = 0;
    for (int i = 0; i < 100; ++i) {
      differ += a(NAN, NAN, 10) != b(NAN, NAN, 10);
      EXPECT_EQ(s1(NAN, NAN, 10), s2(NAN, NAN, 10));
    }
    EXPECT_GT(differ, 90);
  }
  ValueFunction one = valueFunctionForCode(335, XFigures{}), ten = valueFunctionForCode(336, XFigures{});
  int scaled = 0;
  for (int i = 0; i < 100; ++i) scaled += ten(NAN, NAN, 10) == 10 * one(NAN, NAN, 0);
  EXPECT_LT(scaled, 5);
  EXPECT_NE(freshRandomSeed(), freshRandomSeed());
  EXPECT_TRUE(drawsRandomNumbers(337));
  EXPECT_FALSE(drawsRandomNumbers(334));
}

// Z(x) at a 1e12 offset standardises with the cached mean and sd, which keep
// their digits there (R: scale(x) of 1e12 + 0.1, 0.25, 0.3, 0.45, 0.9 is
// -0.979923, -0.489962, -0.326508, 0.163055, 1.632940); 1e-8, R and this
// working on the same doubles (a one-pass sd gave 0 or 16,384 here).
TEST(DeriveColumns, StandardisationAtALargeOffset) {
  TempDir dir;
  Model m;
  ASSERT_NO_THROW(m.openStore(dir.path / "w.tbx"));
  fill(m, {"x"},
       {{"1000000000000.1"},
        {"1000000000000.25"},
        {"1000000000000.3"},
        {"1000000000000.45"},
        {"1000000000000.9"}});
  Column* z = derive(m, "z", 327, named(m, "x"));
  const std::vector<std::string> got = texts(m, *z);
  const double r[] = {-0.979923459389571, -0.489961729694786, -0.326508264133466, 0.163054798572146,
                      1.6329399876565};
  ASSERT_EQ(got.size(), 5u);
  for (size_t i = 0; i < 5; ++i) expectNear(std::stod(got[i]), r[i], 1e-8, "z" + std::to_string(i));
}
