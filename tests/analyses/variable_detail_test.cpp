// The variable detail against R on airquality's Ozone (with missing values),
// faithful's eruptions and quakes' mag, over all rows and rows 1-100
// (tests/reference/variable_detail.R), and the edge cases of its figures.
#include "analyses/detail/variable_detail.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "engine/workspace_data.h"
#include "test_workspace.h"

namespace fs = std::filesystem;
using namespace tabulix;

namespace {

using Workspace = tabulix::testing::TestWorkspace;

using tabulix::testing::readCsv;
const fs::path& kRef = tabulix::testing::kReferenceDir;

}  // namespace

TEST(VariableDetail, FiguresAgreeWithR) {
  auto data = readCsv(kRef / "detail_data.csv");
  std::vector<std::string> names = data.front();
  data.erase(data.begin());
  Workspace w(names, data);
  std::map<std::string, std::map<std::string, double>> expected;  // "variable/rows" -> key -> value
  auto ref = readCsv(kRef / "detail_expected.csv");
  for (size_t i = 1; i < ref.size(); ++i)
    expected[ref[i][0] + "/" + ref[i][1]][ref[i][2]] = std::stod(ref[i][3]);
  ASSERT_EQ(expected.size(), 6u);
  std::vector<int32_t> first100;
  for (int r = 1; r <= 100; ++r) first100.push_back(r);
  for (int c = 0; c < 3; ++c) {
    for (std::string subset : {"all", "first100"}) {
      SCOPED_TRACE(names[c] + "/" + subset);
      auto& e = expected[names[c] + "/" + subset];
      VariableDetailResult d = varDetailForColumn(w.model, w.col(c), subset == "all" ? nullptr : &first100);
      ASSERT_EQ(d.type, VariableType::Numeric);
      EXPECT_EQ(*d.obsNumeric, e["obsNumeric"]);
      EXPECT_EQ(*d.levels, e["levels"]);
      // Exact up to rounding: sums and order statistics (relative 1e-12);
      // the one-pass standard deviation loses a few more digits (1e-10).
      for (auto [key, value] :
           std::vector<std::pair<std::string, std::optional<double>>>{{"min", d.min},
                                                                      {"pc25", d.pc25},
                                                                      {"pc50", d.pc50},
                                                                      {"pc75", d.pc75},
                                                                      {"max", d.max},
                                                                      {"mean", d.mean},
                                                                      {"rms", d.rms},
                                                                      {"meanAbsDev", d.meanAbsDev},
                                                                      {"range", d.range},
                                                                      {"midrange", d.midrange},
                                                                      {"sum", d.sum},
                                                                      {"lower_fence", d.lower_fence},
                                                                      {"upper_fence", d.upper_fence},
                                                                      {"mode", d.mode}})
        EXPECT_NEAR(*value, e[key], 1e-12 * std::fabs(e[key]) + 1e-12) << key;
      for (auto [key, value] :
           std::vector<std::pair<std::string, std::optional<double>>>{{"sd", d.sd},
                                                                      {"variance", d.variance},
                                                                      {"coeffVar", d.coeffVar},
                                                                      {"skew", d.skew},
                                                                      {"kurtosis", d.kurtosis}})
        EXPECT_NEAR(*value, e[key], 1e-10 * std::fabs(e[key])) << key;
      EXPECT_EQ(d.outliers->size(), e["outliers"]);
      // The intervals use the exact t and chi-square quantiles (qt, qchisq to
      // about 1e-13): as close to R as the figures themselves.
      EXPECT_NEAR((*d.ciMean)[0], e["ciMean0"], 1e-10 * std::fabs(e["ciMean0"]));
      EXPECT_NEAR((*d.ciMean)[1], e["ciMean1"], 1e-10 * std::fabs(e["ciMean1"]));
      EXPECT_NEAR((*d.ciVariance)[0], e["ciVariance0"], 1e-10 * e["ciVariance0"]);
      EXPECT_NEAR((*d.ciVariance)[1], e["ciVariance1"], 1e-10 * e["ciVariance1"]);
      EXPECT_NEAR((*d.ciStd)[1], std::sqrt(e["ciVariance1"]), 1e-10 * std::sqrt(e["ciVariance1"]));
      // Q-Q data: sorted values against Filliben's positions.
      ASSERT_EQ(d.sorted->size(), static_cast<size_t>(e["obsNumeric"]));
      EXPECT_TRUE(std::is_sorted(d.sorted->begin(), d.sorted->end()));
      EXPECT_LT(d.qnorm->front(), 0);
      EXPECT_NEAR(d.qnorm->front(), -d.qnorm->back(), 1e-9);
      // The histogram counts every value once.
      double counted = 0;
      for (double k : (*d.graph)[1]) counted += k;
      EXPECT_EQ(counted, e["obsNumeric"]);
    }
  }
}

TEST(VariableDetail, TheEdgeCasesOfTheFigures) {
  Workspace w({"x", "b", "same", "word", "n2"}, {{"1", "yes", "0.1", "a", "3"},
                                                 {"2", "yes", "0.1", "b", "5"},
                                                 {"3", "yes", "0.1", "", ""},
                                                 {"4", "no", "0.1", "", ""},
                                                 {"100", "", "0.1", "", ""}});
  VariableDetailResult x = varDetailForColumn(w.model, w.col(0), nullptr);
  EXPECT_EQ(*x.pc25, 2);
  EXPECT_EQ(*x.pc50, 3);
  EXPECT_EQ(*x.pc75, 4);
  EXPECT_EQ(*x.lower_fence, 1);
  EXPECT_EQ(*x.upper_fence, 4);
  EXPECT_EQ(*x.outliers, std::vector<double>{100});
  // Binary: the share of the most frequent level and its binomial sd.
  VariableDetailResult b = varDetailForColumn(w.model, w.col(1), nullptr);
  ASSERT_EQ(b.type, VariableType::Binary);
  EXPECT_DOUBLE_EQ(*b.mean, 0.75);
  EXPECT_DOUBLE_EQ(*b.sd, std::sqrt(0.75 * 0.25));
  EXPECT_FALSE(b.pc25.has_value());
  // Identical values not exact in binary: no skew, no kurtosis.
  VariableDetailResult same = varDetailForColumn(w.model, w.col(2), nullptr);
  EXPECT_TRUE(std::isnan(*same.skew));
  EXPECT_TRUE(std::isnan(*same.kurtosis));
  // Two values (3, 5): the t critical value for one degree of freedom is qt(0.975, 1) =
  // 12.706204736174707, and the variance's interval 2 / qchisq(c(0.975, 0.025), 1) is
  // [0.39810, 2036.5] (Wilson-Hilferty's quantiles made its upper end negative).
  VariableDetailResult two = varDetailForColumn(w.model, w.col(4), nullptr);
  EXPECT_NEAR((*two.ciMean)[1] - *two.mean, 12.706204736174707, 1e-12 * 12.7);
  EXPECT_NEAR((*two.ciVariance)[0], 2 / 5.0238861873148846, 1e-12);
  EXPECT_NEAR((*two.ciVariance)[1], 2 / 0.00098206911717525617, 1e-12 * 2036.5);
  EXPECT_NEAR((*two.ciStd)[1], std::sqrt(2 / 0.00098206911717525617), 1e-12 * 45.1);
  // A Numeric column whose values never read is reported as Categorical.
  changeColumn(w.model, &w.col(3), VariableType::Numeric);
  VariableDetailResult word = varDetailForColumn(w.model, w.col(3), nullptr);
  EXPECT_EQ(word.type, VariableType::Categorical);
  EXPECT_FALSE(word.obsNumeric.has_value());
  EXPECT_EQ(word.graphLevels->levels.size(), 2u);
  // Over chosen rows only.
  std::vector<int32_t> rows = {1, 2, 3, 4};
  VariableDetailResult some = varDetailForColumn(w.model, w.col(0), &rows);
  EXPECT_EQ(*some.max, 4);
  EXPECT_TRUE(some.outliers->empty());
}
