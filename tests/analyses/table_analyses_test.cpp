// The one-way ANOVA by levels and the two-way table against R
// (tests/reference/table_analyses.R: aov / oneway.test with equal variances,
// quantile type 7, table and chisq.test without continuity correction) on
// chickwts, InsectSprays, ChickWeight, warpbreaks, esoph, UCBAdmissions and
// quakes; and their edge cases: pooling, level order, empty groups, Binary
// coding, the bandwidth fallback, missing values, the p = 0.05 boundary.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "analyses/tab_summarize/tab_summarize.h"
#include "analyses/two_way/two_way.h"
#include "engine/cell_access.h"
#include "engine/workspace_data.h"
#include "test_workspace.h"

namespace fs = std::filesystem;
using namespace tabulix;

namespace {

using Workspace = tabulix::testing::TestWorkspace;

using tabulix::testing::readCsv;
const fs::path& kRef = tabulix::testing::kReferenceDir;

// Relative closeness with an absolute floor for figures near 0.
void expectNear(double expected, double actual, double rel, const std::string& what) {
  EXPECT_NEAR(actual, expected, rel * std::max(1.0, std::abs(expected))) << what;
}

class TablesAgainstR : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    auto data = readCsv(kRef / "tables_data.csv");
    std::vector<std::string> names = data.front();
    data.erase(data.begin());
    w = new Workspace(names, data);
    for (auto& row : readCsv(kRef / "tables_expected.csv"))
      if (row.size() == 3 && row[0] != "analysis") expected[row[0]][row[1]] = std::stod(row[2]);
  }
  static void TearDownTestSuite() { delete w; }
  static Workspace* w;
  static std::map<std::string, std::map<std::string, double>> expected;
};
Workspace* TablesAgainstR::w = nullptr;
std::map<std::string, std::map<std::string, double>> TablesAgainstR::expected;

}  // namespace

// Tolerances: group figures 1e-12 relative (sums of at most 578 values);
// F 1e-9 relative; p 1e-6 relative (the F distribution's tail).
TEST_F(TablesAgainstR, OneWayAnova) {
  struct Case {
    const char *name, *values, *groups;
    size_t levels;
  };
  for (const Case& c :
       {Case{"chickwts", "cw_weight", "cw_feed", 6}, Case{"insects", "is_count", "is_spray", 6},
        Case{"chicks", "ck_weight", "ck_chick", 20}}) {
    SCOPED_TRACE(c.name);
    auto& e = expected.at(c.name);
    TabSummarizeResult r = tabColumnSummarizing(w->model, w->col(c.groups), w->col(c.values), 20, nullptr);
    ASSERT_EQ(r.summary.size(), c.levels);
    expectNear(e.at("F"), r.F, 1e-9, "F");
    expectNear(e.at("F_aov"), r.F, 1e-9, "F (aov)");
    EXPECT_NEAR(r.p, e.at("p"), 1e-6 * e.at("p") + 1e-300);
    for (const auto& l : r.summary) {
      SCOPED_TRACE(l.level);
      EXPECT_EQ(l.obs, e.at(l.level + "/obs"));
      expectNear(e.at(l.level + "/mean"), l.mean, 1e-12, "mean");
      expectNear(e.at(l.level + "/sd"), l.sd, 1e-12, "sd");
      ASSERT_TRUE(l.median && l.density && l.botwhisker && l.topwhisker);
      for (int pc : {0, 25, 50, 75, 100})
        expectNear(e.at(l.level + "/pc" + std::to_string(pc)), l.median->at(pc), 1e-12, "percentile");
      EXPECT_EQ(*l.botwhisker, l.median->at(0));
      EXPECT_EQ(*l.topwhisker, l.median->at(100));
      EXPECT_EQ(l.density->size(), 100u);
    }
    // The tables beside F, as summary(aov()), oneway.test, the ANOVA of
    // |x − median|, kruskal.test and TukeyHSD. Tolerances: sums of squares,
    // effect sizes and statistics 1e-9 relative; p-values 1e-6 relative;
    // Tukey's differences 1e-10, limits 2e-4 of the half-width and p 1e-6
    // absolute (R's qtukey and ptukey are good to about 1e-4 and 1e-7).
    TabSummarizeResult t =
        tabColumnSummarizing(w->model, w->col(c.groups), w->col(c.values), 20, nullptr, PostHoc::Tukey);
    const OneWayTables& o = t.tables;
    EXPECT_EQ(o.anova.dfBetween, e.at("dfBetween"));
    EXPECT_EQ(o.anova.dfWithin, e.at("dfWithin"));
    expectNear(e.at("ssBetween"), o.anova.ssBetween, 1e-9, "SSB");
    expectNear(e.at("ssWithin"), o.anova.ssWithin, 1e-9, "SSW");
    expectNear(e.at("msWithin"), o.anova.msWithin, 1e-9, "MSW");
    expectNear(e.at("eta2"), o.anova.eta2, 1e-9, "eta2");
    expectNear(e.at("omega2"), o.anova.omega2, 1e-9, "omega2");
    expectNear(e.at("welch/F"), o.welch.F, 1e-9, "Welch F");
    expectNear(e.at("welch/df2"), o.welch.df2, 1e-9, "Welch df2");
    EXPECT_NEAR(o.welch.p, e.at("welch/p"), 1e-6 * e.at("welch/p") + 1e-300);
    expectNear(e.at("levene/F"), o.levene.F, 1e-9, "Levene F");
    EXPECT_NEAR(o.levene.p, e.at("levene/p"), 1e-6 * e.at("levene/p") + 1e-300);
    expectNear(e.at("kruskal/H"), o.kruskal.H, 1e-9, "H");
    EXPECT_NEAR(o.kruskal.p, e.at("kruskal/p"), 1e-6 * e.at("kruskal/p") + 1e-300);
    const size_t pairs = c.levels * (c.levels - 1) / 2;
    ASSERT_EQ(o.comparisons.size(), pairs);
    EXPECT_EQ(o.rankComparisons.size(), pairs);
    for (const PairComparison& pc : o.comparisons) {
      const std::string a = o.levels.at(static_cast<size_t>(pc.a)),
                        b = o.levels.at(static_cast<size_t>(pc.b));
      // R names the pair by its own level order: "a|b" is mean(a) − mean(b).
      const bool same = e.contains("tukey/" + a + "|" + b + "/diff");
      const std::string key = "tukey/" + (same ? a + "|" + b : b + "|" + a);
      SCOPED_TRACE(key);
      const double sign = same ? 1 : -1;
      expectNear(sign * e.at(key + "/diff"), pc.diff, 1e-10, "diff");
      const double half = (e.at(key + "/upr") - e.at(key + "/lwr")) / 2;
      EXPECT_NEAR(pc.lower, same ? e.at(key + "/lwr") : -e.at(key + "/upr"), 2e-4 * half);
      EXPECT_NEAR(pc.upper, same ? e.at(key + "/upr") : -e.at(key + "/lwr"), 2e-4 * half);
      EXPECT_NEAR(pc.p, e.at(key + "/p"), 1e-6);
    }
    // Without the setting no comparisons are computed; the JSON names levels.
    EXPECT_TRUE(r.tables.comparisons.empty());
    const nlohmann::json j = toJson(t);
    EXPECT_EQ(j.at("comparisons").size(), pairs);
    EXPECT_EQ(j.at("comparisons")[0].at("a"), o.levels.at(static_cast<size_t>(o.comparisons[0].a)));
    EXPECT_FALSE(toJson(r).contains("comparisons"));
  }
  // 50 chicks: the 19 most frequent and "Others", which holds the rest.
  TabSummarizeResult chicks =
      tabColumnSummarizing(w->model, w->col("ck_chick"), w->col("ck_weight"), 20, nullptr);
  uint32_t total = 0;
  for (const auto& l : chicks.summary) total += l.obs;
  EXPECT_EQ(total, 578u);
  EXPECT_EQ(chicks.summary.back().level, "Others");
  EXPECT_EQ(chicks.summary.back().obs, 578 - 19 * 12u);

  // Weights as dates (day numbers) by feed: the table's Std Dev column is in
  // days, R's sd of the seconds over 86400; 1e-3 relative (the text
  // shows at least 4 significant digits).
  TabSummarizeResult dates =
      tabColumnSummarizing(w->model, w->col("cw_feed"), w->col("cw_date"), 20, nullptr);
  ASSERT_EQ(dates.summarizedType, VariableType::DateTime);
  auto rows = tabSummarizeRows(dates);
  ASSERT_EQ(rows.size(), 7u);
  for (size_t i = 1; i < rows.size(); ++i)
    expectNear(expected.at("chickwts_dates").at(rows[i][0] + "/sd_days"), std::stod(rows[i][6]), 1e-3,
               rows[i][0] + " Std Dev");
}

// Tolerances: chi-square, V and Phi 1e-10 relative; p 1e-6 relative, down to
// UCBAdmissions' 4e-166; counts exact.
TEST_F(TablesAgainstR, TwoWayTables) {
  struct Case {
    const char *name, *rows, *cols;
  };
  for (const Case& c :
       {Case{"warpbreaks", "wb_wool", "wb_tension"}, Case{"esoph", "es_agegp", "es_alcgp"},
        Case{"ucb_gender", "ucb_admit", "ucb_gender"}, Case{"ucb_dept", "ucb_admit", "ucb_dept"},
        Case{"quakes", "qk_stations", "qk_mag"}, Case{"chick_time", "ck_chick", "ck_time"}}) {
    SCOPED_TRACE(c.name);
    auto& e = expected.at(c.name);
    Column& a = w->col(c.rows);
    a.type = static_cast<int32_t>(VariableType::Categorical);  // quakes' stations read as numbers
    TwoWayResult r = twoWayTabOfColumn(w->model, a, w->col(c.cols), 10, 0, false, nullptr);
    EXPECT_EQ(r.sumTotal, e.at("sumTotal"));
    expectNear(e.at("chisq"), r.chisq, 1e-10, "chisq");
    EXPECT_EQ(r.df, e.at("df"));
    EXPECT_NEAR(r.p, e.at("p"), 1e-6 * e.at("p") + 1e-300);
    expectNear(e.at("v"), r.v, 1e-10, "V");
    if (e.contains("phi"))
      expectNear(e.at("phi"), r.phi, 1e-10, "phi");
    else
      EXPECT_TRUE(std::isnan(r.phi));
    for (size_t i = 0; i < r.levelsA.size(); ++i)
      for (size_t j = 0; j < r.levelsB.size(); ++j)
        EXPECT_EQ(r.freqs[i][j], e.at(r.levelsA[i] + "|" + r.levelsB[j]))
            << r.levelsA[i] << "|" << r.levelsB[j];
    // Expected counts and G² 1e-10 relative; Fisher's p 1e-6 relative where
    // R computes it (warpbreaks, esoph, ucb_gender) and the budget allows;
    // the 2 × 2 odds ratio and its limits 1e-9 relative, in the displayed
    // level order (fisher.test's definitions, the roots found tightly).
    double smallest = INFINITY;
    for (size_t i = 0; i < r.levelsA.size(); ++i)
      for (size_t j = 0; j < r.levelsB.size(); ++j) {
        expectNear(e.at("E/" + r.levelsA[i] + "|" + r.levelsB[j]), r.expected[i][j], 1e-10, "expected");
        smallest = std::min(smallest, r.expected[i][j]);
      }
    EXPECT_EQ(r.minExpected, smallest);
    expectNear(e.at("G2"), r.gTest.G2, 1e-10, "G2");
    if (e.contains("fisherP") && r.fisher.computed) {
      EXPECT_NEAR(r.fisher.p, e.at("fisherP"), 1e-6 * e.at("fisherP"));
    }
    if (std::string(c.name) == "warpbreaks" || std::string(c.name) == "ucb_gender") {
      EXPECT_TRUE(r.fisher.computed);
    }
    if (std::string(c.name) == "chick_time") {
      EXPECT_FALSE(r.fisher.computed);  // a 20 × 10 table of 578 is beyond the budget
      EXPECT_TRUE(toJson(r).at("fisherP").is_null());
    }
    if (e.contains("or")) {
      ASSERT_TRUE(r.oddsRatio);
      expectNear(e.at("or"), r.oddsRatio->estimate, 1e-9, "odds ratio");
      expectNear(e.at("or/lower"), r.oddsRatio->lower, 1e-9, "odds ratio lower");
      expectNear(e.at("or/upper"), r.oddsRatio->upper, 1e-9, "odds ratio upper");
    } else {
      EXPECT_FALSE(r.oddsRatio);
    }
    // Every row and column sums to its total, the pooled ones included.
    for (size_t j = 0; j < r.levelsB.size(); ++j) {
      double sum = 0;
      for (size_t i = 0; i < r.levelsA.size(); ++i) sum += r.freqs[i][j];
      EXPECT_EQ(sum, r.countsB[j]) << r.levelsB[j];
    }
    for (size_t i = 0; i < r.levelsA.size(); ++i) {
      double sum = 0;
      for (size_t j = 0; j < r.levelsB.size(); ++j) sum += r.freqs[i][j];
      EXPECT_EQ(sum, r.countsA[i]) << r.levelsA[i];
    }
  }
  TwoWayResult quakes =
      twoWayTabOfColumn(w->model, w->col("qk_stations"), w->col("qk_mag"), 10, 1, false, nullptr);
  ASSERT_EQ(quakes.levelsA.size(), 10u);
  EXPECT_EQ(quakes.levelsA.back(), "Others");
  // Base "Row": each row of percentages sums to 1 and the row shares are all ones.
  for (size_t i = 0; i < quakes.levelsA.size(); ++i) {
    EXPECT_NEAR(quakes.percs[i][0] + quakes.percs[i][1], 1, 1e-12);
    EXPECT_EQ(quakes.percsA[i], 1);
  }
  EXPECT_NE(quakes.percsB[0], 1);
  // Base "Column": the percentages of each column sum to 1.
  TwoWayResult dept =
      twoWayTabOfColumn(w->model, w->col("ucb_admit"), w->col("ucb_dept"), 10, 2, false, nullptr);
  for (size_t j = 0; j < dept.levelsB.size(); ++j) EXPECT_NEAR(dept.percs[0][j] + dept.percs[1][j], 1, 1e-12);
  EXPECT_EQ(dept.percsB, std::vector<double>(dept.levelsB.size(), 1));
  EXPECT_NE(twoWayAssociationText(dept).find("Cramer's V = "), std::string::npos);
  TwoWayResult gender =
      twoWayTabOfColumn(w->model, w->col("ucb_admit"), w->col("ucb_gender"), 10, 0, false, nullptr);
  EXPECT_NE(twoWayAssociationText(gender).find("Phi = "), std::string::npos);
  EXPECT_EQ(twoWayPText(gender.p), "p < 0.001 ***");
}

TEST(TabSummarize, LevelOrderEmptyGroupsBinaryCodingAndBandwidth) {
  // Grouping g (numbers), binary answer, a value column with an unparsable
  // and an empty cell, and a constant group.
  Workspace w({"g", "answer", "v"}, {{"10", "No", "4"},
                                     {"9", "Yes", "5"},
                                     {"100", "No", "x"},
                                     {"10", "Yes", "6"},
                                     {"9", "Yes", "5"},
                                     {"100", "No", ""},
                                     {"7", "No", "3"},
                                     {"7", "Yes", "3"}});
  ASSERT_EQ(w.col("g").type, static_cast<int32_t>(VariableType::Numeric));
  w.col("answer").type = static_cast<int32_t>(VariableType::Binary);
  TabSummarizeResult r = tabColumnSummarizing(w.model, w.col("g"), w.col("v"), 20, nullptr);
  ASSERT_EQ(r.summary.size(), 4u);
  EXPECT_EQ(r.summary[0].level, "7");
  EXPECT_EQ(r.summary[1].level, "9");
  EXPECT_EQ(r.summary[2].level, "10");
  EXPECT_EQ(r.summary[3].level, "100");
  // 100's values are unparsable or empty: listed, with no figures.
  EXPECT_EQ(r.summary[3].obs, 0u);
  EXPECT_FALSE(r.summary[3].median || r.summary[3].density || r.summary[3].topwhisker);
  EXPECT_TRUE(std::isnan(r.summary[3].mean));
  auto rows = tabSummarizeRows(r);
  EXPECT_EQ(rows[4][1], "0");
  EXPECT_EQ(rows[4][2], "");
  // Group 9 is constant: its bandwidth is the column's sd / 10, and the
  // density grid starts one bandwidth below the minimum.
  const double bandwidth = *w.col("v").sd / 10;
  ASSERT_TRUE(r.summary[1].density);
  EXPECT_NEAR(r.summary[1].density->front().x, 5 - bandwidth, 1e-9);
  // Binary: the first non-empty text (No) codes as 0, so a mean is the share of Yes.
  TabSummarizeResult b = tabColumnSummarizing(w.model, w.col("g"), w.col("answer"), 20, nullptr);
  EXPECT_DOUBLE_EQ(b.summary[0].mean, 0.5);  // 7: No, Yes
  EXPECT_DOUBLE_EQ(b.summary[1].mean, 1);    // 9: Yes, Yes
  EXPECT_DOUBLE_EQ(b.summary[3].mean, 0);    // 100: No, No
}

TEST(TableTexts, SignificanceAtTheBoundary) {
  TabSummarizeResult r;
  TabSummarizeContext c{"y", "g", "", true};
  r.p = 0.05;
  EXPECT_EQ(tabSummarizeInterpretation(r, c), "Mean of y is significantly different by value of g.");
  r.p = 0.0500001;
  EXPECT_EQ(tabSummarizeInterpretation(r, c), "Mean of y is not significantly different by value of g.");
  r.p = NAN;
  r.summary.resize(2);
  r.summary[0].obs = r.summary[1].obs = 1;
  EXPECT_EQ(tabSummarizeInterpretation(r, c),
            "Could not compute ANOVA. Every level of g has only one observation.");
  r.summary.resize(1);
  EXPECT_EQ(tabSummarizeInterpretation(r, c),
            "Could not compute ANOVA. g has fewer than two levels with observations.");
  TwoWayResult t;
  TwoWayContext tc{"a", "b", "", true, false};
  t.p = 0.05;
  EXPECT_EQ(twoWayPText(0.05), "p = 0.05 *");
  EXPECT_EQ(twoWayInterpretation(t, tc), "Distribution of a is not significantly different by b");
  t.p = 0.0499;
  EXPECT_EQ(twoWayInterpretation(t, tc), "Distribution of a is significantly different by b");
  EXPECT_EQ(twoWayPText(0.0500001), "p = 0.05");
  EXPECT_EQ(twoWayPText(0.0004), "p < 0.001 ***");
  EXPECT_EQ(twoWayPText(0.001), "p = 0.001 ***");
  EXPECT_EQ(twoWayPText(0.005), "p = 0.005 **");
}

TEST(TwoWay, MissingValuesCaseAndTable) {
  Workspace w(
      {"sex", "smoker"},
      {{"Male", "yes"}, {"male", "no"}, {"Male", ""}, {"", "no"}, {"Female", "yes"}, {"Female", "no"}});
  for (Column* c : columns(w.model)) c->type = static_cast<int32_t>(VariableType::Categorical);
  TwoWayResult r = twoWayTabOfColumn(w.model, w.col("sex"), w.col("smoker"), 10, 0, false, nullptr);
  EXPECT_EQ(r.sumTotal, 4);
  EXPECT_EQ(r.levelsA, (std::vector<std::string>{"Female", "Male", "male"}));  // case makes levels
  // With missing values: each is a level "" that comes last, as R's NA.
  TwoWayResult m = twoWayTabOfColumn(w.model, w.col("sex"), w.col("smoker"), 10, 0, true, nullptr);
  EXPECT_EQ(m.sumTotal, 6);
  EXPECT_EQ(m.levelsA, (std::vector<std::string>{"Female", "Male", "male", ""}));
  EXPECT_EQ(m.levelsB, (std::vector<std::string>{"no", "yes", ""}));
  // Each base divides by its own total: Female|no is 1 of the 2 Female rows,
  // of the 3 "no" rows, of all 6; Male|yes 1 of the 2 "yes" rows; the
  // missing sex's one row is "no".
  EXPECT_DOUBLE_EQ(m.percs[0][0], 1.0 / 6);
  TwoWayResult byRow = twoWayTabOfColumn(w.model, w.col("sex"), w.col("smoker"), 10, 1, true, nullptr);
  EXPECT_DOUBLE_EQ(byRow.percs[0][0], 0.5);
  EXPECT_DOUBLE_EQ(byRow.percs[3][0], 1);
  TwoWayResult byColumn = twoWayTabOfColumn(w.model, w.col("sex"), w.col("smoker"), 10, 2, true, nullptr);
  EXPECT_DOUBLE_EQ(byColumn.percs[0][0], 1.0 / 3);
  EXPECT_DOUBLE_EQ(byColumn.percs[1][1], 0.5);
  // The margins: the base's own totals are 100%, the other margin is its share of all 6.
  EXPECT_EQ(byRow.percsA, std::vector<double>(4, 1));
  EXPECT_DOUBLE_EQ(byRow.percsB[0], 3.0 / 6);
  EXPECT_EQ(byColumn.percsB, std::vector<double>(3, 1));
  EXPECT_DOUBLE_EQ(byColumn.percsA[0], 2.0 / 6);
  EXPECT_DOUBLE_EQ(m.percsA[0], 2.0 / 6);
  EXPECT_DOUBLE_EQ(m.percsB[1], 2.0 / 6);
  TwoWayContext c{"sex", "smoker", "", true, true};
  auto rows = twoWayRows(m, c);
  EXPECT_EQ(rows[1], (std::vector<std::string>{"Female", "1 17%", "1 17%", "0 0%", "2 33%"}));
  EXPECT_EQ(rows.back().back(), "6 100%");
  c.showPercents = false;
  EXPECT_EQ(twoWayRows(m, c)[1], (std::vector<std::string>{"Female", "1", "1", "0", "2"}));
  // The stacked bars: one per row level and the totals, each series a column level.
  charts::Chart chart = twoWayChart(m);
  ASSERT_EQ(chart.rangeBars.size(), 3u);
  EXPECT_EQ(chart.rangeBars[1].from[0], chart.rangeBars[0].to[0]);
  EXPECT_NEAR(chart.rangeBars[2].to.back(), 100, 1e-9);
}
