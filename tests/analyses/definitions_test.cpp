// Saved analysis definitions: the chooser's rules per kind and position,
// filling positions, the list's summaries, search and deleting by position,
// the hypothesis tests' names; a saved request computed again.
#include "analyses/definitions.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "analyses/analysis_kind.h"
#include "engine/cell_access.h"
#include "engine/workspace_data.h"

namespace fs = std::filesystem;
using namespace tabulix;

namespace {

struct Workspace {
  fs::path dir;
  Model model;
  Workspace() {
    char tmpl[] = "/tmp/tabulix-defs-XXXXXX";
    dir = mkdtemp(tmpl);
    model.openStore(dir / "w.tbx");
    model.setMetadataValue(".", "decimalSeparator");
    // cat50: 50 levels; num21 / num20: 21 and 20 levels; yesno and zeroone:
    // two texts; when: dates; y, x1, x2 numbers.
    addColumns(model, {"cat50", "num21", "num20", "yesno", "zeroone", "when", "y", "x1", "x2", "Éclair"});
    auto cols = columns(model);
    for (int r = 0; r < 60; ++r) {
      std::vector<std::string> row = {"c" + std::to_string(r % 50), std::to_string(r % 21),
                                      std::to_string(r % 20),       r % 2 ? "yes" : "no",
                                      std::to_string(r % 2),        "2020-01-" + std::to_string(10 + r % 15),
                                      std::to_string(r * 1.5),      std::to_string(r % 7),
                                      std::to_string(r % 5),        "e" + std::to_string(r % 3)};
      addRow(model, static_cast<uint32_t>(r + 1), row, cols);
    }
    for (Column* c : columns(model)) {
      basicStatsForColumn(model, *c);
      c->type = static_cast<int32_t>(guessTypeOfColumn(*c));
    }
    col("cat50").type = static_cast<int32_t>(VariableType::Categorical);
    col("zeroone").type = col("yesno").type = static_cast<int32_t>(VariableType::Binary);
    model.saveContext();
  }
  ~Workspace() { fs::remove_all(dir); }
  Column& col(const std::string& name) {
    for (Column* c : columns(model))
      if (c->name == name) return *c;
    throw std::runtime_error("no column " + name);
  }
  std::vector<std::string> names(const std::vector<Column*>& cs) {
    std::vector<std::string> out;
    for (Column* c : cs) out.push_back(*c->name);
    return out;
  }
};

bool contains(const std::vector<std::string>& v, const std::string& s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}

// A plain substring test; the server's matcher also folds case and diacritics.
bool plainContains(std::string_view text, std::string_view search) { return text.find(search) != text.npos; }

}  // namespace

TEST(Definitions, ChooserRules) {
  Workspace w;
  ASSERT_EQ(w.col("when").type, static_cast<int32_t>(VariableType::DateTime));
  auto grouping = w.names(columnsForAnalysisType(w.model, TabSummarize, 2));
  EXPECT_TRUE(contains(grouping, "cat50"));   // Categorical: always
  EXPECT_FALSE(contains(grouping, "num21"));  // Numeric with 21 levels: no
  EXPECT_TRUE(contains(grouping, "num20"));   // 20 levels: yes
  // Dates have the same cap: 20 levels are offered, 21 are not.
  for (int levels : {20, 21}) {
    w.col("when").levels = levels;
    EXPECT_EQ(contains(w.names(columnsForAnalysisType(w.model, TabSummarize, 2)), "when"), levels == 20)
        << levels;
  }
  w.col("when").levels = 15;
  auto summarized = w.names(columnsForAnalysisType(w.model, TabSummarize, 1));
  EXPECT_FALSE(contains(summarized, "yesno"));  // Binary texts: no numbers
  EXPECT_TRUE(contains(summarized, "zeroone"));
  EXPECT_TRUE(contains(summarized, "when"));
  EXPECT_FALSE(contains(summarized, "cat50"));
  auto table = w.names(columnsForAnalysisType(w.model, TwoWayTab, 1));
  EXPECT_EQ(table, (std::vector<std::string>{"cat50", "yesno", "zeroone", "Éclair"}));

  Analysis* props = addAnalysisFromMenu(w.model, 3);  // test of proportions
  ASSERT_EQ(props->distribution, 2);
  for (int position : {1, 2, 3})
    EXPECT_EQ(w.names(columnsToAddToAnalysis(w.model, *props, position)),
              (std::vector<std::string>{"yesno", "zeroone"}));
  Analysis* means = addAnalysisFromMenu(w.model, 2);
  EXPECT_EQ(w.names(columnsToAddToAnalysis(w.model, *means, 2)),
            (std::vector<std::string>{"num21", "num20", "when", "y", "x1", "x2"}));

  Analysis* reg = addAnalysisFromMenu(w.model, 5);
  chooseColumnsForAnalysis(w.model, reg, 3, {&w.col("x2"), &w.col("y"), &w.col("x1")});
  chooseColumnsForAnalysis(w.model, reg, 1, {&w.col("y")});
  EXPECT_EQ(w.names(reg->columns), (std::vector<std::string>{"x2", "x1"}));  // left leaves the columns
  EXPECT_FALSE(contains(w.names(columnsToAddToAnalysis(w.model, *reg, 3)), "y"));
  AnalysisSummary s = summaryForAnalysis(w.model, *reg);
  EXPECT_EQ(s.displayStyle, "Regression");
  EXPECT_EQ(s.title, "Linear regression explaining variation in y");
  EXPECT_EQ(s.description, "y ~ x1 + x2 + constant");  // by num, not by choice
}

TEST(Definitions, ListSearchAndDelete) {
  Workspace w;
  Analysis* none = addAnalysis(w.model, "New Analysis");
  Analysis* anova = addAnalysisFromMenu(w.model, 7);
  chooseColumnsForAnalysis(w.model, anova, 1, {&w.col("y")});
  chooseColumnsForAnalysis(w.model, anova, 2, {&w.col("cat50")});
  Analysis* table = addAnalysisFromMenu(w.model, 0);
  chooseColumnsForAnalysis(w.model, table, 1, {&w.col("yesno")});
  chooseColumnsForAnalysis(w.model, table, 2, {&w.col("Éclair")});
  Analysis* test = addAnalysisFromMenu(w.model, 2);
  chooseColumnsForAnalysis(w.model, test, 1, {&w.col("x1")});
  chooseColumnsForAnalysis(w.model, test, 2, {&w.col("x2")});
  test->samples = 2;
  // Distinct opening times: newest first.
  none->lastOpened = 1;
  anova->lastOpened = 2;
  table->lastOpened = 3;
  test->lastOpened = 4;
  ASSERT_NO_THROW(w.model.saveContext());

  auto list = searchAnalyses(w.model, "", plainContains);
  ASSERT_EQ(list, (std::vector<Analysis*>{test, table, anova, none}));
  EXPECT_EQ(summaryForAnalysis(w.model, *none).displayStyle, "Incomplete");
  EXPECT_EQ(summaryForAnalysis(w.model, *none).title, "Analysis type not chosen");
  AnalysisSummary a = summaryForAnalysis(w.model, *anova);
  EXPECT_EQ(a.title, "One-way ANOVA of y by cat50.");
  EXPECT_EQ(a.description, "Includes table of summary statistics");
  EXPECT_EQ(a.filterLine, "");  // no bare "Filters:"
  AnalysisSummary t = summaryForAnalysis(w.model, *test);
  EXPECT_EQ(t.displayStyle, "HypothesisTestMeans");
  EXPECT_EQ(t.title, "Welch's two sample two tail t-test");
  EXPECT_EQ(t.filterLine, "to x2");

  // Search on either name; deleting the second visible entry deletes its analysis.
  auto found = searchAnalyses(w.model, "x", plainContains);
  ASSERT_EQ(found, (std::vector<Analysis*>{test}));
  found = searchAnalyses(w.model, "c", plainContains);  // cat50, Éclair
  ASSERT_EQ(found, (std::vector<Analysis*>{table, anova}));
  removeAnalysis(w.model, found[1]);
  EXPECT_EQ(searchAnalyses(w.model, "", plainContains), (std::vector<Analysis*>{test, table, none}));
}

TEST(Definitions, SavedRequestComputesTheSame) {
  Workspace w;
  AnalysisRequest request;
  request.left = *w.col("yesno").num;
  request.right = *w.col("Éclair").num;
  request.wheres = {WhereClauseObj{*w.col("x1").num, kOpGreater, "2", std::nullopt}};
  request.settings = {{"twoWayPercAgg", "2"}, {"includeMissing", "1"}};
  const AnalysisKind& kind = analysisKinds().at("twoway");
  AnalysisOutput direct = kind.run(w.model, request);
  Analysis* saved = saveAnalysisRequest(w.model, kind, request);
  EXPECT_EQ(saved->type, TwoWayTab);
  EXPECT_EQ(saved->twoWayPercAgg, 2);
  EXPECT_EQ(summaryForAnalysis(w.model, *saved).filterLine, "Filters: x1 > 2");
  AnalysisOutput again = analysisKindForType(*saved->type)->run(w.model, requestForAnalysis(*saved));
  EXPECT_EQ(direct.result.dump(), again.result.dump());    // phi is NaN, so compare the texts
  EXPECT_LT(direct.result["sumTotal"].get<double>(), 60);  // the filter applied
  // A missing variable gives the validity message.
  AnalysisRequest half;
  half.left = request.left;
  EXPECT_THROW(kind.run(w.model, half), AnalysisRequestError);
}

TEST(Definitions, TestSettingsAndRegressionPreparation) {
  Workspace w;
  Analysis* a = addAnalysisFromMenu(w.model, 3);  // a test of proportions
  setHypothesisTest(a, kTestMcNemar);
  EXPECT_EQ(a->samples, 2);
  EXPECT_EQ(a->isPaired, true);
  setHypothesisSamples(a, 2, false);  // McNemar's is for paired samples only
  EXPECT_FALSE(a->test);
  setHypothesisTest(a, kTestChiSquare);
  setHypothesisSamples(a, 2, true);  // paired: McNemar's or the binomial test
  EXPECT_FALSE(a->test);
  setHypothesisTest(a, kTestBinomial);
  EXPECT_EQ(a->samples, 1);
  setHypothesisSamples(a, 1, true);  // one sample is never paired; the binomial test stays
  EXPECT_EQ(a->isPaired, false);
  EXPECT_EQ(a->test, kTestBinomial);
  setHypothesisTest(a, std::nullopt);
  EXPECT_FALSE(a->test);
  Analysis* means = addAnalysisFromMenu(w.model, 2);
  setHypothesisTest(means, kTestZ);  // a test of means keeps its samples
  EXPECT_FALSE(means->samples);

  // A logistic model whose dependent has many numeric levels becomes linear,
  // a linear one on a two-text dependent logistic, and a dependent allowing
  // neither is cleared.
  Analysis* r = addAnalysisFromMenu(w.model, 6);  // logistic
  r->left = &w.col("num21");
  EXPECT_TRUE(prepareRegressionAnalysis(r));
  EXPECT_EQ(r->distribution, 0);
  EXPECT_FALSE(prepareRegressionAnalysis(r));
  r->left = &w.col("yesno");
  EXPECT_TRUE(prepareRegressionAnalysis(r));
  EXPECT_EQ(r->distribution, 2);
  r->left = &w.col("cat50");
  EXPECT_TRUE(prepareRegressionAnalysis(r));
  EXPECT_EQ(r->left, nullptr);
}

TEST(TestNames, NamesDefaultsAndAllowedTests) {
  EXPECT_EQ(nameForTest(1, 0, 2, false), "Welch's two sample two tail t-test");
  EXPECT_EQ(nameForTest(1, 2, 2, true), "Paired one tail t-test");
  EXPECT_EQ(nameForTest(0, 1, 1, true), "One sample one tail z-test");  // one sample whatever the pairing
  EXPECT_EQ(nameForTest(2, 0, 2, false), "One sample two tail binomial test");
  EXPECT_EQ(nameForTest(4, 1, 1, false), "Paired one tail McNemar's Chi-squared test");
  EXPECT_EQ(nameForTest(3, 0, 2, true), "Paired two tail Chi-square test");
  EXPECT_EQ(nameForTest(1, 3, 2, false), std::nullopt);
  EXPECT_EQ(nameForTest(7, 0, 2, false), std::nullopt);
  EXPECT_EQ(testForDistribution(2, 2, true, 30), 4);
  EXPECT_EQ(testForDistribution(2, 2, false, 30), 3);
  EXPECT_EQ(testForDistribution(2, 1, false, 30), 2);
  EXPECT_EQ(testForDistribution(1, 1, false, 30), 1);
  EXPECT_EQ(testForDistribution(5, 1, false, 30), 0);
  EXPECT_EQ(validTestsForDistribution(2, 2, true), (std::vector<int>{4, 2}));
  EXPECT_EQ(validTestsForDistribution(2, 2, false), (std::vector<int>{0, 3}));
  EXPECT_EQ(statForTest(3), "χ²");
  EXPECT_EQ(statForTest(2), "!");
}
