// The hypothesis tests against R (tests/reference/hypothesis_tests.R: t.test
// with and without var.equal and paired, binom.test, prop.test and
// mcnemar.test without correction, z-tests from pnorm) on sleep, PlantGrowth,
// ToothGrowth, mtcars (unequal groups) and a 2 x 2 paired table, run through the analysis kinds with
// their filters; then the edge cases of the formulas, the names and the
// validity messages.
#include "analyses/hypothesis_test/hypothesis_test.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "analyses/analysis_kind.h"
#include "analyses/hypothesis_test/hypothesis_report.h"
#include "engine/cell_access.h"
#include "engine/workspace_data.h"
#include "stats/statistics.h"
#include "test_workspace.h"

namespace fs = std::filesystem;
using namespace tabulix;

namespace {

using tabulix::testing::readCsv;
const fs::path& kRef = tabulix::testing::kReferenceDir;

// A workspace of the CSV file's columns and rows, plus any extra rows.
struct Workspace : tabulix::testing::TestWorkspace {
  explicit Workspace(const std::string& file, const std::vector<std::vector<std::string>>& extra = {})
      : TestWorkspace(withExtraRows(readCsv(kRef / file), extra)) {}
  static std::vector<std::vector<std::string>> withExtraRows(
      std::vector<std::vector<std::string>> table, const std::vector<std::vector<std::string>>& extra) {
    table.insert(table.end(), extra.begin(), extra.end());
    return table;
  }
  nlohmann::json run(const std::string& kind, const AnalysisRequest& request) {
    return analysisKinds().at(kind).run(model, request).result;
  }
};

WhereClauseObj equals(int64_t col, const std::string& value) {
  WhereClauseObj w;
  w.colNum = col;
  w.op = kOpEqual;
  w.constant = value;
  return w;
}

// Absent keys read as NaN (a double: json::value returns its default's type).
const double kMissing = std::nan("");

double num(const std::string& s) { return s == "NA" ? NAN : std::stod(s); }

// Relative closeness, with an absolute floor for figures near 0.
void expectNear(double actual, double expected, double rel, const std::string& what) {
  if (std::isnan(expected)) return;
  EXPECT_NEAR(actual, expected, rel * std::max(1.0, std::fabs(expected))) << what;
}

}  // namespace

// Every case of the reference table, run through the kinds. Statistics,
// means, standard errors and Welch's df are plain arithmetic: 1e-12. The
// p-values come from the library's t, normal, chi-square and binomial
// tails, checked to 1e-12 relative (no quantile enters these tests:
// no critical value or interval is reported).
TEST(HypothesisTest, MatchesR) {
  Workspace plants("hypothesis_data_plants.csv");                            // weight, group (variables 0, 1)
  Workspace tooth("hypothesis_data_tooth.csv");                              // len, supp, dose, high
  Workspace sleep("hypothesis_data_sleep.csv", {{"9.9", ""}, {"", "1.5"}});  // incomplete pairs are dropped
  Workspace pairs("hypothesis_data_pairs.csv");                              // before, after
  Workspace mtcars("hypothesis_data_mtcars.csv");                            // mpg, am: 19 and 13 cars
  auto ref = readCsv(kRef / "hypothesis_expected.csv");
  ASSERT_GT(ref.size(), 20u);
  int checked = 0;
  for (size_t i = 1; i < ref.size(); ++i) {
    const auto& row = ref[i];
    const std::string name = row[0];
    const std::string tails = name.substr(name.rfind('_') + 1);
    AnalysisRequest q;
    q.settings["tails"] = tails;
    Workspace* ws = nullptr;
    std::string kind = "means";
    if (name.rfind("t1_plants", 0) == 0 || name.rfind("z1_plants", 0) == 0) {
      ws = &plants;
      q.left = 0;
      q.wheres = {equals(1, "ctrl")};
      q.settings["expected"] = "5.2";
      q.settings["test"] = name[0] == 'z' ? "0" : "1";
    } else if (name.rfind("t2_tooth", 0) == 0 || name.rfind("z2_tooth", 0) == 0) {
      ws = &tooth;
      q.left = q.right = 0;
      q.wheres = {equals(1, "OJ")};
      q.wheres2 = {equals(1, "VC")};
      q.settings["samples"] = "2";
      if (name[0] == 'z') q.settings["test"] = "0";
    } else if (name.rfind("t2_mtcars", 0) == 0) {
      ws = &mtcars;
      q.left = q.right = 0;
      q.wheres = {equals(1, "0")};
      q.wheres2 = {equals(1, "1")};
      q.settings["samples"] = "2";
    } else if (name.rfind("t2_plants", 0) == 0) {
      ws = &plants;
      q.left = q.right = 0;
      q.wheres = {equals(1, "trt1")};
      q.wheres2 = {equals(1, "trt2")};
      q.settings["samples"] = "2";
    } else if (name.rfind("t2pooled", 0) == 0) {
      // Welch's test is not the pooled-variance one: same t here (equal
      // sizes), different df and p.
      auto r = plants.run("means", {0, 0, {}, {equals(1, "trt1")}, {equals(1, "trt2")}, {{"samples", "2"}}});
      expectNear(r["t"], num(row[1]), 1e-12, name);
      EXPECT_GT(std::fabs(r["df"].get<double>() - num(row[2])), 3) << name;
      EXPECT_GT(std::fabs(r["p"].get<double>() - num(row[3])), 1e-3) << name;
      ++checked;
      continue;
    } else if (name.rfind("tp_sleep", 0) == 0) {
      ws = &sleep;
      q.left = 0;
      q.right = 1;
      q.settings["samples"] = "2";
      q.settings["isPaired"] = "1";
    } else if (name.rfind("binom1_tooth", 0) == 0) {
      ws = &tooth;
      kind = "proportions";
      q.left = 3;
      q.settings["leftLevel1"] = "yes";
      q.settings["expected"] = name.substr(13, 3);
    } else if (name.rfind("chi2_tooth", 0) == 0 || name.rfind("z2prop_tooth", 0) == 0) {
      ws = &tooth;
      kind = "proportions";
      q.left = q.right = 3;
      q.wheres = {equals(1, "OJ")};
      q.wheres2 = {equals(1, "VC")};
      q.settings.insert({{"samples", "2"}, {"leftLevel1", "yes"}, {"rightLevel1", "yes"}});
      if (name[0] == 'z') q.settings["test"] = "0";
    } else if (name.rfind("mcnemar_pairs", 0) == 0 || name.rfind("binomp_pairs", 0) == 0) {
      ws = &pairs;
      kind = "proportions";
      q.left = 0;
      q.right = 1;
      q.settings.insert({{"samples", "2"}, {"isPaired", "1"}, {"leftLevel1", "yes"}, {"rightLevel1", "yes"}});
      if (name[0] == 'b') q.settings["test"] = "2";
    }
    ASSERT_NE(ws, nullptr) << name;
    auto r = ws->run(kind, q);
    expectNear(r["t"], num(row[1]), 1e-12, name + " statistic");
    expectNear(r["df"], num(row[2]), 1e-12, name + " df");
    EXPECT_NEAR(r["p"].get<double>(), num(row[3]), 1e-12 * num(row[3]) + 1e-15) << name << " p";
    expectNear(r.value("meanX", kMissing), num(row[4]), 1e-12, name + " meanX");
    expectNear(r.value("meanY", kMissing), num(row[5]), 1e-12, name + " meanY");
    expectNear(r.value("seX", kMissing), num(row[6]), 1e-12, name + " seX");
    expectNear(r.value("seY", kMissing), num(row[7]), 1e-12, name + " seY");
    expectNear(r.value("seDiff", kMissing), num(row[8]), 1e-12, name + " seDiff");
    // The interval (1e-9 relative: the t quantile's Newton steps), Cohen's d
    // (1e-12) and Shapiro–Wilk (W 1e-8, p 1e-6 relative: Royston's
    // polynomial approximations, as R's).
    if (!std::isnan(num(row[9]))) {
      ASSERT_TRUE(r.contains("ci")) << name;
      expectNear(r["ci"][0], num(row[9]), 1e-9, name + " ci lower");
      expectNear(r["ci"][1], num(row[10]), 1e-9, name + " ci upper");
    } else {
      EXPECT_FALSE(r.contains("ci")) << name;
    }
    expectNear(r.value("cohenD", kMissing), num(row[11]), 1e-12, name + " Cohen's d");
    EXPECT_EQ(r.contains("cohenD"), !std::isnan(num(row[11]))) << name;
    for (size_t k = 0; k < 2; ++k) {
      const double W = num(row[12 + 2 * k]), p = num(row[13 + 2 * k]);
      if (std::isnan(W)) continue;
      ASSERT_TRUE(r.contains("shapiro") && r["shapiro"].size() > k) << name;
      expectNear(r["shapiro"][k]["W"], W, 1e-8, name + " W");
      EXPECT_NEAR(r["shapiro"][k]["p"].get<double>(), p, 1e-6 * p + 1e-12) << name << " Shapiro p";
    }
    if (name.rfind("tp_sleep", 0) == 0) {
      EXPECT_EQ(r["obsX"], 10) << "incomplete pairs must be dropped";
    }
    if (name.rfind("mcnemar", 0) == 0) {
      EXPECT_EQ(r["x0y0"], 20);
      EXPECT_EQ(r["x0y1"], 12);
      EXPECT_EQ(r["x1y0"], 4);
      EXPECT_EQ(r["x1y1"], 14);
    }
    ++checked;
  }
  EXPECT_EQ(checked, static_cast<int>(ref.size()) - 1);
}

TEST(HypothesisTest, FormulaEdges) {
  // 1..5 against 3: t = 0, df 4, p 1.
  auto r = hypothesisForSample({1, 2, 3, 4, 5}, 3, 0, 0, kTestT, false);
  EXPECT_EQ(r.t, 0);
  EXPECT_EQ(r.df, 4);
  EXPECT_DOUBLE_EQ(r.p, 1);
  // Alternative "less" with the mean above the expected value: 1 - p0 > 0.5.
  auto less = hypothesisForSample({1, 2, 3, 4, 5}, 2.5, 0, 1, kTestT, false);
  auto two = hypothesisForSample({1, 2, 3, 4, 5}, 2.5, 0, 0, kTestT, false);
  EXPECT_GT(less.p, 0.5);
  EXPECT_NEAR(less.p, 1 - two.p / 2, 1e-15);
  // Welch's df for equal sizes and variances is 2 (n - 1).
  auto w = hypothesisTestForSampleX({1, 2, 3, 4, 5}, {11, 12, 13, 14, 15}, 0, 0, kTestT);
  EXPECT_DOUBLE_EQ(w.df, 8);
  // McNemar with b = 10, c = 0.
  std::vector<int32_t> x(10, 0), y(10, 1);
  auto m = hypothesisTestForBinomialSample(x, y, 0, kTestMcNemar);
  EXPECT_DOUBLE_EQ(m.t, 10);
  EXPECT_EQ(m.df, 1);
  EXPECT_EQ(*m.x0y1, 10);
  // One tail: with b > c the chi-square's upper tail P = pchisq(10, 1, lower = FALSE)
  // halves for "greater" and leaves 1 - P / 2 for "less"; with b < c the other way round.
  const double P = 0.0015654022580025519;
  EXPECT_NEAR(m.p, P, 1e-12 * P);
  EXPECT_NEAR(hypothesisTestForBinomialSample(x, y, 2, kTestMcNemar).p, P / 2, 1e-12 * P);
  EXPECT_NEAR(hypothesisTestForBinomialSample(x, y, 1, kTestMcNemar).p, 1 - P / 2, 1e-12);
  EXPECT_NEAR(hypothesisTestForBinomialSample(y, x, 1, kTestMcNemar).p, P / 2, 1e-12 * P);
  EXPECT_NEAR(hypothesisTestForBinomialSample(y, x, 2, kTestMcNemar).p, 1 - P / 2, 1e-12);
  // A test not valid for the setting gives zeros.
  auto bad = hypothesisForSample({1, 2, 3}, 2, 0, 0, kTestMcNemar, false);
  EXPECT_EQ(bad.t, 0);
  EXPECT_EQ(bad.p, 0);
  // Curves: 100 points over the span, binomial one point per count.
  EXPECT_EQ(two.pdfSample1->x.size(), 100u);
  auto b = hypothesisForSample({1, 1, 0, 1, 0, 0, 0, 0, 1, 0}, 0.5, 2, 0, kTestBinomial, false);
  ASSERT_TRUE(b.pdfSample1);
  for (size_t i = 1; i < b.pdfSample1->x.size(); ++i)
    EXPECT_NEAR(b.pdfSample1->x[i] - b.pdfSample1->x[i - 1], 0.1, 1e-12);
}

TEST(HypothesisTest, NamesAndDefaults) {
  EXPECT_EQ(nameForTest(kTestT, 0, 2, false), "Welch's two sample two tail t-test");
  EXPECT_EQ(nameForTest(kTestBinomial, 1, 2, true), "One sample one tail binomial test");
  EXPECT_EQ(nameForTest(kTestT, 3, 1, false), std::nullopt);
  EXPECT_EQ(nameForTest(kTestMcNemar, 0, 1, false), "Paired two tail McNemar's Chi-squared test");
  EXPECT_EQ(nameForTest(kTestZ, 2, 1, true), "One sample one tail z-test");
  EXPECT_EQ(testForDistribution(2, 2, true, 30), kTestMcNemar);
  EXPECT_EQ(validTestsForDistribution(2, 2, true), (std::vector<int>{kTestMcNemar, kTestBinomial}));
  EXPECT_EQ(testForDistribution(1, 2, false, 30), kTestT);
  EXPECT_EQ(statForTest(kTestBinomial), "!");
  EXPECT_EQ(statForTest(kTestChiSquare), "χ²");
  EXPECT_EQ(decisionLines(0.05)[0], "Fail to reject the null hypothesis");
  EXPECT_EQ(decisionLines(0.0499)[0], "Reject the null hypothesis");
}

TEST(HypothesisTest, SuccessLevelFallsBackToLastDistinctValue) {
  Workspace tooth("hypothesis_data_tooth.csv");
  AnalysisRequest q;
  q.left = 3;
  q.settings = {{"expected", "0.5"}, {"leftLevel1", "maybe"}};
  auto fallback = tooth.run("proportions", q);
  std::vector<std::string> levels = distinctValuesForColumn(tooth.model, columnNumber(tooth.model, 3));
  const std::string last = *std::max_element(levels.begin(), levels.end());
  EXPECT_EQ(fallback["leftLevel1"], last);
  q.settings["leftLevel1"] = last;
  auto chosen = tooth.run("proportions", q);
  EXPECT_EQ(fallback["meanX"], chosen["meanX"]);
  EXPECT_EQ(fallback["p"], chosen["p"]);
  q.settings["leftLevel1"] = last == "yes" ? "no" : "yes";
  EXPECT_NEAR(tooth.run("proportions", q)["meanX"].get<double>(), 1 - chosen["meanX"].get<double>(), 1e-15);
}

TEST(HypothesisTest, ValidityMessages) {
  Workspace tooth("hypothesis_data_tooth.csv");  // len Numeric, supp and high text, dose Numeric
  auto message = [&](const std::string& kind, AnalysisRequest q) -> std::string {
    try {
      tooth.run(kind, q);
    } catch (const AnalysisRequestError& e) {
      return e.what();
    }
    return "accepted";
  };
  EXPECT_EQ(message("means", {}), "Choose a variable to sample.");
  EXPECT_EQ(message("means", {0, {}, {}, {}, {}, {}}), "Enter an expected value.");
  EXPECT_EQ(message("means", {0, {}, {}, {}, {}, {{"expected", "abc"}}}),
            "Sample is a numeric variable. Expected value must be numeric.");
  EXPECT_EQ(message("proportions", {3, {}, {}, {}, {}, {{"expected", "1.5"}}}),
            "Sample is a categorical variable. Expected value must be a proportion between 0 and 1.");
  EXPECT_EQ(message("proportions", {3, {}, {}, {}, {}, {{"expected", "1"}}}), "accepted");
  EXPECT_EQ(message("means", {0, {}, {}, {}, {}, {{"samples", "2"}}}),
            "Please define a second sample to perform a two sample test.");
  EXPECT_EQ(message("means", {0, 1, {}, {}, {}, {{"samples", "2"}}}),
            "Samples must be of same variable type.");
  // Proportions accept samples of different types.
  EXPECT_EQ(message("proportions", {3, 1, {}, {}, {}, {{"samples", "2"}}}), "accepted");
  EXPECT_NE(message("means", {0, {}, {}, {}, {}, {{"expected", "3"}, {"tails", "5"}}}), "accepted");
}

// The sample plots: box plots are the library's percentiles (picked by
// selection, so odd and even sizes and ties are checked against the sorted
// rule); the density is the library's curve with the sample's sd, whose
// bandwidth is sd / 5 over min - sd .. max + sd, which is why small samples
// show a bumpy, narrow curve. The distribution curves span 3 standard errors
// around both centres (clipped to [0, 1] for proportions).
TEST(HypothesisTest, PlotCurvesAndBoxes) {
  for (size_t n : {1u, 2u, 7u, 100u, 101u}) {
    std::vector<double> v;
    for (size_t i = 0; i < n; ++i) v.push_back(static_cast<double>((i * i * 7 + 3) % 23) / 4);
    auto r = hypothesisForSample(v, 1, 0, 0, kTestT, false);
    static const double pcs[] = {0, 25, 50, 75, 100};
    auto expected = Statistics::percentiles(pcs, v);
    ASSERT_TRUE(r.boxX);
    for (int k = 0; k < 5; ++k)
      EXPECT_EQ((*r.boxX)[k], expected[pcs[k]]) << "n " << n << " percent " << pcs[k];
  }

  const std::vector<double> v = {1, 2, 2.5, 4, 7, 7.5, 8, 12};
  auto r = hypothesisForSample(v, 3, 0, 0, kTestT, false);
  const double sd = Statistics::sdNormal(v), h = sd / 5, se = sd / std::sqrt(8.0), m = Statistics::mean(v);
  ASSERT_TRUE(r.densityX);
  ASSERT_EQ(r.densityX->x.size(), 100u);
  EXPECT_DOUBLE_EQ(r.densityX->x.front(), 1 - sd);
  EXPECT_NEAR(r.densityX->x[1] - r.densityX->x[0], (12 + 2 * sd - 1) / 100, 1e-12);
  std::vector<double> direct;
  for (double x : r.densityX->x) {
    double sum = 0;
    for (double value : v) sum += std::exp(-0.5 * ((value - x) / h) * ((value - x) / h));
    direct.push_back(sum);
  }
  const double peak = *std::max_element(direct.begin(), direct.end());
  for (size_t i = 0; i < direct.size(); ++i) EXPECT_NEAR(r.densityX->y[i], direct[i] / peak, 1e-12) << i;

  // Sample plot: both t curves over min(m, 3) - 3 se .. max(m, 3) + 3 se at
  // 100 points; difference plot around diff and 0.
  ASSERT_TRUE(r.pdfSample1 && r.pdfSample2 && r.pdfDiff1 && r.pdfDiff2);
  EXPECT_DOUBLE_EQ(r.pdfSample1->x.front(), std::min(m, 3.0) - 3 * se);
  EXPECT_DOUBLE_EQ(r.pdfSample1->x.back(), std::max(m, 3.0) + 3 * se);
  EXPECT_EQ(r.pdfSample2->x, r.pdfSample1->x);
  EXPECT_DOUBLE_EQ(r.pdfDiff1->x.front(), std::min(m - 3, 0.0) - 3 * se);
  EXPECT_DOUBLE_EQ(r.pdfDiff1->x.back(), std::max(m - 3, 0.0) + 3 * se);
  const size_t mid = 50;
  const double at = r.pdfSample1->x[mid];
  EXPECT_NEAR(r.pdfSample1->y[mid], Statistics::dtpdf(at, m, se, 7), 1e-15);
  EXPECT_NEAR(r.pdfSample2->y[mid], Statistics::dtpdf(at, 3, se, 7), 1e-15);
  EXPECT_NEAR(r.pdfDiff2->y[mid], Statistics::dtpdf(r.pdfDiff2->x[mid], 0, se, 7), 1e-15);

  // Proportions near 1: the sample span is clipped at 1; chi-square curves
  // stay at or below 10.
  std::vector<double> s1(40, 1.0), s2(40, 1.0);
  s1[0] = 0;
  for (int i = 0; i < 10; ++i) s2[i] = 0;
  auto chi = hypothesisTestForSampleX(s1, s2, 2, 0, kTestChiSquare);
  ASSERT_TRUE(chi.pdfSample1);
  EXPECT_EQ(chi.pdfSample1->x.back(), 1.0);
  EXPECT_LE(*std::max_element(chi.pdfSample1->y.begin(), chi.pdfSample1->y.end()), 10.0);
}

// The exported files' base names (also the mail subject) of the kinds of
// this folder and their neighbours: the correlation names the right
// variable first, a regression is named by the model it fitted, a test by
// what it compares.
TEST(HypothesisTest, BaseNames) {
  Workspace tooth("hypothesis_data_tooth.csv");  // len, supp, dose, high
  auto base = [&](const std::string& kind, AnalysisRequest q) {
    return analysisKinds().at(kind).run(tooth.model, q).baseName;
  };
  EXPECT_EQ(base("correlation", {0, 2, {}, {}, {}, {}}), "Analysis of variables dose and len");
  EXPECT_EQ(base("linear", {0, {}, {2}, {}, {}, {}}), "Linear regression model for variable len");
  EXPECT_EQ(base("logistic", {3, {}, {0}, {}, {}, {}}), "Logistic regression model for variable high");
  EXPECT_EQ(base("means", {0, {}, {}, {}, {}, {{"expected", "20"}}}), "Hypothesis Test of Means");
  EXPECT_EQ(base("proportions", {3, {}, {}, {}, {}, {{"expected", "0.5"}}}),
            "Hypothesis Test of Proportions");
}

// Every element of the print variant, charts included, lies within the
// page's width for each setting (two samples of means have the most charts);
// what does not fit below continues on the next page.
TEST(HypothesisTest, PrintLayoutFitsThePageWidth) {
  Workspace tooth("hypothesis_data_tooth.csv");  // len, supp, dose, high
  const std::vector<std::pair<std::string, AnalysisRequest>> settings = {
      {"means", {0, {}, {}, {}, {}, {{"expected", "20"}}}},
      {"means", {0, 0, {}, {equals(1, "OJ")}, {equals(1, "VC")}, {{"samples", "2"}}}},
      {"means", {0, 2, {}, {}, {}, {{"samples", "2"}, {"isPaired", "1"}}}},
      {"proportions", {3, {}, {}, {}, {}, {{"expected", "0.5"}}}},
      {"proportions", {3, 3, {}, {equals(1, "OJ")}, {equals(1, "VC")}, {{"samples", "2"}}}},
      {"proportions", {3, 1, {}, {}, {}, {{"samples", "2"}, {"isPaired", "1"}}}}};
  for (const auto& [kind, q] : settings) {
    const reports::Element page = analysisKinds().at(kind).run(tooth.model, q).print;
    int charts = 0;
    for (const reports::Element& e : page.children) {
      if (e.kind == reports::ElementKind::Table) continue;
      charts += e.chart ? 1 : 0;
      EXPECT_LE(e.frame.x + e.frame.w, 612) << kind << " " << e.role;
    }
    EXPECT_GE(charts, 3) << kind;
  }
}
