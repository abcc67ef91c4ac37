// The regressions' model figures, the correlation's rank coefficients and
// the detail's normality test against R (tests/reference/model_figures.R):
// lm, confint and VIFs by auxiliary regressions on longley (VIFs up to 1,789)
// and swiss; glm on mtcars' am with tight convergence; cor.test on swiss.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>

#include "analyses/correlation/correlation.h"
#include "analyses/detail/variable_detail.h"
#include "analyses/regression/regression.h"
#include "test_workspace.h"

using namespace tabulix;
using tabulix::testing::kReferenceDir;
using tabulix::testing::readCsv;

namespace {

std::map<std::string, double> expectedOf(const std::string& name) {
  std::ifstream in(kReferenceDir / "model_figures_expected.tsv");
  std::map<std::string, double> out;
  std::string c, k, v;
  while (std::getline(in, c, '\t') && std::getline(in, k, '\t') && std::getline(in, v))
    if (c == name) out[k] = std::stod(v);
  return out;
}

void near(double actual, double expected, double rel, const std::string& what) {
  EXPECT_NEAR(actual, expected, rel * std::max(1.0, std::fabs(expected))) << what;
}

RegressionResult fitOf(tabulix::testing::TestWorkspace& w, const std::string& y, bool logistic) {
  std::vector<Column*> xs;
  for (Column* c : columns(w.model))
    if (c->name != y) xs.push_back(c);
  return ols(w.model, w.col(y), xs, nullptr, logistic, {{"0", 0}, {"1", 1}});
}

}  // namespace

// Tolerances: F and the intervals 1e-9 relative (longley's condition number
// is about 1e9 in the raw design, so its least-squares digits are fewer: 1e-6
// there); p 1e-6 relative; standardized coefficients as the coefficients;
// VIFs 1e-6 relative (one inversion of the correlation matrix).
TEST(ModelFigures, LinearMatchesR) {
  for (const auto& [name, file, y, rel] : {std::tuple{"longley", "analysis_longley.csv", "Employed", 1e-6},
                                           std::tuple{"swiss", "analysis_swiss.csv", "Fertility", 1e-9}}) {
    SCOPED_TRACE(name);
    tabulix::testing::TestWorkspace w(readCsv(kReferenceDir / file));
    const auto e = expectedOf(name);
    const ModelFigures m = fitOf(w, y, false).figures;
    ASSERT_FALSE(m.logistic);
    near(m.modelF.statistic, e.at("F"), rel, "F");
    EXPECT_EQ(m.modelF.df1, e.at("df1"));
    EXPECT_EQ(m.modelF.df2, e.at("df2"));
    EXPECT_NEAR(m.modelF.p, e.at("p"), 1e-6 * e.at("p"));
    ASSERT_EQ(m.coeffCI.size(), m.beta.size() + 1);
    for (size_t j = 0; j < m.coeffCI.size(); ++j) {
      const std::string i = std::to_string(j);
      near(m.coeffCI[j][0], e.at("lower" + i), rel, "lower " + i);
      near(m.coeffCI[j][1], e.at("upper" + i), rel, "upper " + i);
      if (j == m.beta.size()) continue;
      near(m.beta[j], e.at("beta" + i), rel, "beta " + i);
      EXPECT_NEAR(m.vif[j], e.at("vif" + i), 1e-6 * e.at("vif" + i)) << "vif " << i;
    }
  }
}

// The logarithms of the odds ratios and of their Wald limits, b ± 1.96 se,
// to 1e-6 of |b| + 1.96 se: on this nearly separated fit (the constant's se
// is 40) b and se agree with glm's to about 5e-7 relative, glm's standard
// errors coming from the weights of its last iteration. The LR chi-square
// 1e-8; rates exact.
TEST(ModelFigures, LogisticMatchesR) {
  tabulix::testing::TestWorkspace w(readCsv(kReferenceDir / "model_mtcars.csv"));
  w.col("am").type = static_cast<int32_t>(VariableType::Binary);
  const auto e = expectedOf("logit");
  RegressionResult r = fitOf(w, "am", true);
  const ModelFigures& m = r.figures;
  ASSERT_TRUE(m.logistic);
  ASSERT_EQ(m.oddsRatios.size(), 4u);
  for (size_t j = 0; j < 4; ++j) {
    const std::string i = std::to_string(j);
    const double b = r.fit.coeffs()[j], se = r.fit.standardErrors()[j];
    const double tol = 1e-6 * (std::fabs(b) + 1.96 * se);
    EXPECT_NEAR(std::log(m.oddsRatios[j][0]), std::log(e.at("or" + i)), tol) << "or " << i;
    EXPECT_NEAR(std::log(m.oddsRatios[j][1]), std::log(e.at("or_lower" + i)), tol) << "lower " << i;
    EXPECT_NEAR(std::log(m.oddsRatios[j][2]), std::log(e.at("or_upper" + i)), tol) << "upper " << i;
  }
  near(m.lrTest.statistic, e.at("chisq"), 1e-8, "chisq");
  EXPECT_EQ(m.lrTest.df1, e.at("df"));
  EXPECT_NEAR(m.lrTest.p, e.at("p"), 1e-6 * e.at("p"));
  near(m.nagelkerke, e.at("nagelkerke"), 1e-8, "Nagelkerke");
  EXPECT_DOUBLE_EQ(m.accuracy, e.at("accuracy"));
  EXPECT_DOUBLE_EQ(m.sensitivity, e.at("sensitivity"));
  EXPECT_DOUBLE_EQ(m.specificity, e.at("specificity"));
  const nlohmann::json j = toJson(r);
  EXPECT_EQ(j.at("oddsRatios").size(), 4u);
  EXPECT_FALSE(j.contains("vif"));
}

// ρ and τ-b 1e-12, their p-values 1e-9 relative (the t and normal tails).
TEST(ModelFigures, RankCorrelationsAndNormality) {
  tabulix::testing::TestWorkspace swiss(readCsv(kReferenceDir / "analysis_swiss.csv"));
  for (const auto& [x, y] : {std::pair{"Fertility", "Education"}, std::pair{"Examination", "Agriculture"}}) {
    const auto e = expectedOf(std::string(x) + "_" + y);
    CorrelationResult c = correlationResultsForColumn(swiss.model, swiss.col(x), swiss.col(y), nullptr);
    near(c.spearman.estimate, e.at("rho"), 1e-12, "rho");
    EXPECT_NEAR(c.spearman.p, e.at("rho_p"), 1e-9 * e.at("rho_p"));
    near(c.kendall.estimate, e.at("tau"), 1e-12, "tau");
    EXPECT_NEAR(c.kendall.p, e.at("tau_p"), 1e-9 * e.at("tau_p"));
    EXPECT_EQ(toJson(c).at("kendall").at("tau"), c.kendall.estimate);
  }
  tabulix::testing::TestWorkspace longley(readCsv(kReferenceDir / "analysis_longley.csv"));
  const auto e = expectedOf("longley_employed");
  VariableDetailResult d = varDetailForColumn(longley.model, longley.col("Employed"), nullptr);
  ASSERT_TRUE(d.shapiro);
  near(d.shapiro->W, e.at("W"), 1e-11, "W");
  EXPECT_NEAR(d.shapiro->p, e.at("p"), 1e-8 * e.at("p"));
}
