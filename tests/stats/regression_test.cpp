// Regression routines against R (lm, glm, aov, chisq.test; tests/reference/regression.R)
// and against hand-worked cases.
#include "stats/regression.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/stats/log_capture.h"

namespace tabulix {
namespace {

// One reference file: named rows of numbers, in file order.
struct Reference {
  std::vector<std::pair<std::string, std::vector<double>>> rows;

  const std::vector<double>& operator[](const std::string& key) const {
    for (const auto& [k, v] : rows)
      if (k == key) return v;
    throw std::runtime_error("reference has no " + key);
  }
  // Rows whose name starts with prefix ("x." design columns, "group", "row").
  std::vector<std::vector<double>> all(const std::string& prefix) const {
    std::vector<std::vector<double>> out;
    for (const auto& [k, v] : rows)
      if (k.rfind(prefix, 0) == 0) out.push_back(v);
    return out;
  }
};

Reference load(const std::string& name) {
  std::ifstream in(std::string(TABULIX_SOURCE_DIR) + "/tests/data/reference/regression_" + name + ".txt");
  if (!in) throw std::runtime_error("missing reference " + name);
  Reference ref;
  std::string line;
  while (std::getline(in, line)) {
    std::stringstream ss(line);
    std::string key, field;
    std::getline(ss, key, ',');
    std::vector<double> values;
    while (std::getline(ss, field, ',')) values.push_back(field == "NA" ? NAN : std::stod(field));
    ref.rows.emplace_back(key, values);
  }
  return ref;
}

void expectNear(const std::vector<double>& got, const std::vector<double>& want, double relTol,
                const char* what) {
  ASSERT_EQ(got.size(), want.size()) << what;
  for (std::size_t i = 0; i < want.size(); ++i)
    EXPECT_NEAR(got[i], want[i], relTol * std::max(1.0, std::fabs(want[i]))) << what << "[" << i << "]";
}

std::set<std::string> keysOf(const nlohmann::json& j) {
  std::set<std::string> keys;
  for (auto it = j.begin(); it != j.end(); ++it) keys.insert(it.key());
  return keys;
}

// Tolerances: coefficients, fitted values and fit measures agree with R to 1e-9 relative (both
// solve by Householder QR); p-values to 1e-7, the accuracy of the t distribution routine.
TEST(Ols, MatchesLmOnMtcarsAndIris) {
  for (const char* name : {"ols_mtcars", "ols_iris"}) {
    SCOPED_TRACE(name);
    const Reference ref = load(name);
    const OlsResult r = RegressionRoutines::ols(ref["y"], ref.all("x."));
    expectNear(r.coeffs, ref["coeffs"], 1e-9, "coeffs");
    expectNear(r.standardErrors, ref["se"], 1e-9, "se");
    expectNear(r.t, ref["t"], 1e-9, "t");
    expectNear(r.p, ref["p"], 1e-7, "p");
    expectNear(r.yhat, ref["yhat"], 1e-9, "yhat");
    expectNear(r.residuals, ref["residuals"], 1e-9, "residuals");
    EXPECT_EQ(r.N, ref["y"].size());
    EXPECT_NEAR(r.r2, ref["r2"][0], 1e-10);
    EXPECT_NEAR(r.r2adj, ref["r2adj"][0], 1e-10);
    EXPECT_NEAR(r.rmse, ref["rmse"][0], 1e-10 * ref["rmse"][0]);
  }
}

TEST(Ols, ExactLineResidualSignAndRecordShape) {
  const std::vector<double> x{0, 1, 2, 3, 4};
  std::vector<double> y;
  for (double v : x) y.push_back(2 + 3 * v);
  const OlsResult exact = RegressionRoutines::ols(y, {std::vector<double>(5, 1.0), x});
  ASSERT_EQ(exact.coeffs.size(), 2u);
  EXPECT_NEAR(exact.coeffs[0], 2, 1e-12);  // design order: constant first here
  EXPECT_NEAR(exact.coeffs[1], 3, 1e-12);
  EXPECT_NEAR(exact.r2, 1, 1e-12);
  EXPECT_NEAR(exact.rmse, 0, 1e-12);
  for (double e : exact.residuals) EXPECT_NEAR(e, 0, 1e-12);

  // The point above the line (y = 10 at x = 2) gets a positive residual: observed minus fitted.
  std::vector<double> bumped = y;
  bumped[2] = 10;
  const OlsResult r = RegressionRoutines::ols(bumped, {std::vector<double>(5, 1.0), x});
  EXPECT_GT(r.residuals[2], 0);
  EXPECT_DOUBLE_EQ(r.residuals[2], 10 - r.yhat[2]);

  const nlohmann::json full = r;
  EXPECT_EQ(keysOf(full), (std::set<std::string>{"coeffs", "variance", "t", "p", "residuals", "yhat", "N",
                                                 "r2", "r2adj", "rmse"}));
  const nlohmann::json empty = RegressionRoutines::ols({}, {{}});
  EXPECT_EQ(keysOf(empty),
            (std::set<std::string>{"coeffs", "variance", "t", "p", "residuals", "N", "r2", "r2adj", "rmse"}));
  EXPECT_TRUE(empty["coeffs"].empty());
  EXPECT_EQ(empty["N"], 0);
  EXPECT_EQ(empty["rmse"], 0);
}

TEST(Ols, SingularDesignIsLoggedAndStillReturned) {
  LogCapture log;
  // An all-zero column leaves an exact zero on R's diagonal: dgels reports it.
  const std::vector<double> y{1, 2, 3, 5};
  const OlsResult r = RegressionRoutines::ols(y, {std::vector<double>(4, 1.0), std::vector<double>(4, 0.0)});
  EXPECT_NE(log.text.str().find("regression finished with error, info=2"), std::string::npos);
  EXPECT_EQ(r.N, 4u);
  EXPECT_EQ(r.coeffs.size(), 2u);
  EXPECT_EQ(r.residuals.size(), 4u);
}

// Tolerances: glm is run to a 1e-15 deviance criterion, so coefficients, standard errors and fitted
// probabilities agree to 1e-7 relative; likelihoods to 1e-9.
TEST(Logit, MatchesGlmOnMtcarsAndInfert) {
  for (const char* name : {"logit_mtcars", "logit_infert"}) {
    SCOPED_TRACE(name);
    const Reference ref = load(name);
    const LogitResult r = RegressionRoutines::logit(ref["y"], ref.all("x."));
    EXPECT_TRUE(r.converged);
    expectNear(r.coeffs, ref["coeffs"], 1e-7, "coeffs");
    expectNear(r.standardErrors, ref["se"], 1e-7, "se");
    expectNear(r.t, ref["z"], 1e-7, "z");
    expectNear(r.p, ref["p"], 1e-7, "p");
    expectNear(r.yhat, ref["yhat"], 1e-8, "yhat");
    EXPECT_NEAR(r.LL, ref["LL"][0], 1e-9 * std::fabs(ref["LL"][0]));
    EXPECT_NEAR(r.LL0, ref["LL0"][0], 1e-12 * std::fabs(ref["LL0"][0]));
    EXPECT_NEAR(r.AIC, ref["AIC"][0], 1e-9 * ref["AIC"][0]);
    EXPECT_NEAR(r.r2adj, 1 - ref["LL"][0] / ref["LL0"][0], 1e-9);
    for (std::size_t i = 0; i < r.yhat.size(); ++i) EXPECT_DOUBLE_EQ(r.residuals[i], ref["y"][i] - r.yhat[i]);
  }
}

// p-values far below 1e-16 are reported as the small numbers they are, not as 1 - 1 = 0
// (tests/reference/regression_tails.R). Tolerances: a p-value moves with its statistic by a
// factor of about t^2 (z^2), and t agrees with R to 1e-9 (z to 1e-7), so p to 1e-4 relative.
TEST(Regression, TinyPValuesMatchR) {
  const Reference ols = load("tail_ols");
  const OlsResult r = RegressionRoutines::ols(ols["y"], ols.all("x."));
  expectNear(r.t, ols["t"], 1e-9, "t");
  for (std::size_t j = 0; j < r.p.size(); ++j) {
    EXPECT_GT(r.p[j], 0) << j;
    EXPECT_NEAR(r.p[j], ols["p"][j], 1e-4 * ols["p"][j]) << j;
  }
  const Reference logit = load("tail_logit");
  const LogitResult l = RegressionRoutines::logit(logit["y"], logit.all("x."));
  expectNear(l.t, logit["z"], 1e-7, "z");
  for (std::size_t j = 0; j < l.p.size(); ++j) {
    EXPECT_GT(l.p[j], 0) << j;
    EXPECT_NEAR(l.p[j], logit["p"][j], 1e-4 * logit["p"][j]) << j;
  }
}

// A design of several MB takes the large scratch-buffer path. Replicating a data set m times keeps the
// maximum-likelihood and least-squares coefficients and divides the standard errors by about sqrt(m).
TEST(Regression, LargeReplicatedDesignsKeepTheirCoefficients) {
  constexpr int m = 600;
  const Reference ref = load("logit_infert");  // 248 rows x 4 columns -> 148,800 x 4
  const auto cols = ref.all("x.");
  std::vector<double> y;
  std::vector<std::vector<double>> design(cols.size());
  for (int rep = 0; rep < m; ++rep) {
    y.insert(y.end(), ref["y"].begin(), ref["y"].end());
    for (std::size_t j = 0; j < design.size(); ++j)
      design[j].insert(design[j].end(), cols[j].begin(), cols[j].end());
  }
  const LogitResult r = RegressionRoutines::logit(y, design);
  expectNear(r.coeffs, ref["coeffs"], 1e-7, "coeffs");
  for (std::size_t j = 0; j < r.standardErrors.size(); ++j)
    EXPECT_NEAR(r.standardErrors[j] * std::sqrt(m), ref["se"][j], 1e-6 * ref["se"][j]);

  const OlsResult small = RegressionRoutines::ols(ref["y"], cols);
  const OlsResult big = RegressionRoutines::ols(y, design);
  expectNear(big.coeffs, small.coeffs, 1e-9, "ols coeffs");
  EXPECT_EQ(big.N, 248u * m);
}

// The stopping iteration and the ROC points, checked against the same loop written separately in R.
TEST(Logit, IterationCountAndRocWalk) {
  for (const char* name : {"logit_groups", "logit_roc_mtcars"}) {
    SCOPED_TRACE(name);
    const Reference ref = load(name);
    const LogitResult r = RegressionRoutines::logit(ref["y"], ref.all("x."));
    EXPECT_EQ(r.numIter, static_cast<int>(ref["numIter"][0]));
    EXPECT_TRUE(r.converged);
    expectNear(r.coeffs, ref["coeffs"], 1e-9, "coeffs");
    EXPECT_NEAR(r.LL, ref["LL"][0], 1e-12);
    std::vector<double> flat;
    for (const auto& pt : r.roc) flat.insert(flat.end(), pt.begin(), pt.end());
    expectNear(flat, ref["roc"], 1e-12, "roc");
    EXPECT_NEAR(r.AUC, ref["AUC"][0], 1e-12);
    for (std::size_t i = 1; i < r.roc.size(); ++i) EXPECT_NE(r.roc[i], r.roc[i - 1]);
  }
  // Two groups with proportions 1/4 and 3/4: points (1,1), (3/4,1/4), (0,0) and an area of 3/4.
  const Reference groups = load("logit_groups");
  const LogitResult g = RegressionRoutines::logit(groups["y"], groups.all("x."));
  ASSERT_EQ(g.roc.size(), 3u);
  EXPECT_NEAR(g.yhat[0], 0.25, 1e-12);
  EXPECT_NEAR(g.yhat[7], 0.75, 1e-12);
  EXPECT_DOUBLE_EQ(g.AUC, 0.75);
}

TEST(Logit, ConstantOnlyConvergesInIterationOne) {
  LogCapture log;
  const LogitResult r =
      RegressionRoutines::logit(std::vector<double>{0, 1, 0, 1}, {std::vector<double>(4, 1.0)});
  EXPECT_TRUE(r.converged);
  EXPECT_EQ(r.numIter, 1);
  EXPECT_EQ(r.coeffs[0], 0);
  EXPECT_DOUBLE_EQ(r.LL, -4 * std::log(2.0));
  EXPECT_DOUBLE_EQ(r.LL0, -4 * std::log(2.0));
  EXPECT_DOUBLE_EQ(r.r2adj, 0);
  EXPECT_DOUBLE_EQ(r.AIC, 8 * std::log(2.0) + 2);
  EXPECT_NE(log.text.str().find("logit converged in iteration 1"), std::string::npos);
}

TEST(Logit, PerfectSeparationAndRecordShape) {
  LogCapture log;
  const std::vector<double> x{1, 2, 3, 4, 5, 6};
  const std::vector<double> y{0, 0, 0, 1, 1, 1};
  const LogitResult r = RegressionRoutines::logit(y, {x, std::vector<double>(6, 1.0)});
  EXPECT_TRUE((!r.converged && r.numIter == 200) || r.numPerfectPredict > 0);
  // The reported probabilities are those whose log-likelihood is reported.
  double ll = 0;
  for (std::size_t i = 0; i < y.size(); ++i)
    ll += y[i] * std::log(std::max(r.yhat[i], 1e-10)) + (1 - y[i]) * std::log(std::max(1 - r.yhat[i], 1e-10));
  EXPECT_DOUBLE_EQ(r.LL, ll);
  EXPECT_DOUBLE_EQ(r.AUC, 1);  // a perfectly discriminating model
  EXPECT_NEAR(r.LL, 0, 1e-6);

  // Only a degenerate design (here an infinite value) keeps the fit from settling: the loop stops at
  // 200 iterations and still fills every key.
  const LogitResult stuck =
      RegressionRoutines::logit(y, {{1, 2, INFINITY, 4, 5, 6}, std::vector<double>(6, 1.0)});
  EXPECT_FALSE(stuck.converged);
  EXPECT_EQ(stuck.numIter, 200);
  EXPECT_NE(log.text.str().find("logit did not converge"), std::string::npos);
  EXPECT_EQ(stuck.yhat.size(), 6u);
  EXPECT_EQ(stuck.coeffs.size(), 2u);

  const nlohmann::json full = r;
  EXPECT_EQ(keysOf(full).size(), 16u);
  EXPECT_TRUE(full.contains("roc") && full.contains("AUC") && full.contains("numPerfectPredict"));
  const nlohmann::json empty = RegressionRoutines::logit({}, {{}});
  EXPECT_EQ(keysOf(empty),
            (std::set<std::string>{"coeffs", "variance", "t", "p", "residuals", "N", "r2adj", "LL0", "LL",
                                   "numIter", "AIC", "numPerfectPredict", "converged"}));
  EXPECT_EQ(empty["converged"], true);
}

// Tolerances: F to 1e-9 relative; p to 1e-8 absolute (the F distribution routine).
TEST(Anova, MatchesAovAndBinaryForm) {
  for (auto [name, binary] :
       {std::pair{"anova_iris", false}, {"anova_toothgrowth", false}, {"anova_binary", true}}) {
    SCOPED_TRACE(name);
    const Reference ref = load(name);
    const AnovaResult r = RegressionRoutines::anova(ref.all("group"), binary);
    EXPECT_NEAR(r.F, ref["F"][0], 1e-9 * ref["F"][0]);
    EXPECT_NEAR(r.p, ref["p"][0], 1e-8);
    ASSERT_EQ(r.summary.size(), ref["means"].size());
    for (std::size_t i = 0; i < r.summary.size(); ++i) {
      EXPECT_EQ(r.summary[i].obs, ref.all("group")[i].size());
      EXPECT_NEAR(r.summary[i].mean, ref["means"][i], 1e-12);
      EXPECT_NEAR(r.summary[i].sd, ref["sds"][i], 1e-12);
    }
  }
}

TEST(Anova, EmptyGroupsAreKeptInSummaryOnly) {
  const Reference ref = load("anova_iris");
  auto groups = ref.all("group");
  groups.insert(groups.begin() + 1, std::vector<double>{});
  const AnovaResult r = RegressionRoutines::anova(groups, false);
  EXPECT_NEAR(r.F, ref["F"][0], 1e-9 * ref["F"][0]);
  ASSERT_EQ(r.summary.size(), 4u);
  EXPECT_EQ(r.summary[1].obs, 0u);
  EXPECT_TRUE(std::isnan(r.summary[1].mean) && std::isnan(r.summary[1].sd));
  const nlohmann::json j = r;
  EXPECT_EQ(keysOf(j), (std::set<std::string>{"summary", "F", "p"}));

  const AnovaResult one = RegressionRoutines::anova({{1, 2, 3}, {}}, false);
  EXPECT_FALSE(std::isfinite(one.F));
}

TEST(Anova, DecimalDifference) {
  // Shortest decimals 0.1 and 0.10000000000000002 differ by exactly 2e-17 in decimal; in binary by 2^-56.
  EXPECT_EQ(decimalDifference(0.1, 0.10000000000000002), -2e-17);
  EXPECT_EQ(0.1 - 0.10000000000000002, -std::ldexp(1.0, -56));
  EXPECT_EQ(decimalDifference(0.3, 0.1), 0.2);  // binary gives 0.19999999999999998
  EXPECT_EQ(decimalDifference(-1.5, 2.25), -3.75);
  EXPECT_EQ(decimalDifference(7, 7), 0);
  // 1e22 - 1e-20 needs 42 digits; rounded to 38 it is 1e22 again.
  EXPECT_EQ(decimalDifference(1e22, 1e-20), 1e22);
}

// Tolerances: chi to 1e-10 relative; p to 1e-9 absolute (the chi-square distribution routine).
TEST(ChiSquare, MatchesChisqTestWithCramersVAndPhi) {
  for (const char* name : {"chi_haireye", "chi_cylgear", "chi_amvs"}) {
    SCOPED_TRACE(name);
    const Reference ref = load(name);
    const auto matrix = ref.all("row");
    const ChiSquareResult r = RegressionRoutines::chiForFrequencyMatrix(matrix);
    EXPECT_NEAR(r.chi, ref["chi"][0], 1e-10 * ref["chi"][0]);
    EXPECT_EQ(r.df, ref["df"][0]);
    EXPECT_NEAR(r.p, ref["p"][0], 1e-9);
    double obs = 0;
    for (const auto& row : matrix)
      for (double v : row) obs += v;
    const double v = RegressionRoutines::cramersVForChi(r.chi, obs, matrix.size(), matrix[0].size());
    EXPECT_NEAR(v, ref["cramersV"][0], 1e-12);
    const double phi = RegressionRoutines::phiForFrequencyMatrix(matrix);
    if (std::isnan(ref["phi"][0])) {
      EXPECT_TRUE(std::isnan(phi));
    } else {
      EXPECT_NEAR(phi, ref["phi"][0], 1e-12);
    }
  }
}

TEST(ChiSquare, HandCasesAndGivenTotals) {
  const std::vector<std::vector<double>> m{{10, 20}, {20, 10}};
  const ChiSquareResult r = RegressionRoutines::chiForFrequencyMatrix(m);
  EXPECT_NEAR(r.chi, 20.0 / 3, 1e-12);
  EXPECT_EQ(r.df, 1);
  EXPECT_NEAR(r.p, 0.0098, 5e-5);
  // Totals given by the caller (a table with a pooled column) are used as they are.
  const std::vector<double> rows{40, 30}, cols{30, 30, 10};
  const ChiSquareResult g = RegressionRoutines::chiForFrequencyMatrix(m, rows, cols);
  const double e00 = 40 * 30 / 70.0, e01 = e00, e10 = 30 * 30 / 70.0, e11 = e10;
  const double want = (10 - e00) * (10 - e00) / e00 + (20 - e01) * (20 - e01) / e01 +
                      (20 - e10) * (20 - e10) / e10 + (10 - e11) * (10 - e11) / e11;
  EXPECT_NEAR(g.chi, want, 1e-12);
  EXPECT_EQ(g.df, 2);

  EXPECT_DOUBLE_EQ(RegressionRoutines::cramersVForChi(6.0, 150, 2, 5), std::sqrt(6.0 / 150));
  EXPECT_TRUE(std::isnan(RegressionRoutines::phiForFrequencyMatrix({{1, 2, 3}, {4, 5, 6}})));
  EXPECT_TRUE(std::isnan(RegressionRoutines::phiForFrequencyMatrix({{1, 2}, {4, 5}, {1, 1}})));
  EXPECT_DOUBLE_EQ(RegressionRoutines::phiForFrequencyMatrix({{10, 0}, {0, 10}}), 1);
}

}  // namespace
}  // namespace tabulix
