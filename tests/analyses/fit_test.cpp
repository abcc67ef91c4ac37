// Fit wrapper (dropping and realignment, against R's lm and glm on mtcars) and rounded histograms.
#include "analyses/fit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

namespace tabulix {
namespace {

// Named rows of numbers from a file written by tests/reference/regression.R.
std::map<std::string, std::vector<double>> load(const std::string& name) {
  std::ifstream in(std::string(TABULIX_SOURCE_DIR) + "/tests/data/reference/regression_" + name + ".txt");
  if (!in) throw std::runtime_error("missing reference " + name);
  std::map<std::string, std::vector<double>> rows;
  std::string line, key, field;
  while (std::getline(in, line)) {
    std::stringstream ss(line);
    std::getline(ss, key, ',');
    while (std::getline(ss, field, ',')) rows[key].push_back(field == "NA" ? NAN : std::stod(field));
  }
  return rows;
}

std::vector<double> scaled(const std::vector<double>& v, double f) {
  std::vector<double> out;
  for (double x : v) out.push_back(x * f);
  return out;
}

// lm(mpg ~ wt + hp + qsec + am) with a constant vector and a copy of qsec (scaled by 1/2, then by
// -1/2: a negative correlation is as collinear) mixed in: both are dropped, their entries are NaN,
// the rest match lm to 1e-9 and the constant stays last.
TEST(OlsY, DropsConstantAndCollinearAndRealigns) {
  auto ref = load("ols_mtcars");
  for (double factor : {0.5, -0.5}) {
    SCOPED_TRACE(factor);
    const std::vector<std::vector<double>> xs{ref["x.wt"],   std::vector<double>(32, 5.0),
                                              ref["x.hp"],   scaled(ref["x.qsec"], factor),
                                              ref["x.qsec"], ref["x.am"]};
    const FitResult fit = olsY(ref["y"], xs, false);
    ASSERT_FALSE(fit.isLogit());
    EXPECT_EQ(fit.drop,
              (std::vector<std::string>{"keep", "constant", "keep", "collinear", "keep", "keep", "keep"}));
    const std::vector<int> where{0, 2, 4, 5, 6};  // positions of wt, hp, qsec, am, constant
    for (const auto* list : {&fit.coeffs(), &fit.standardErrors(), &fit.t(), &fit.p()}) {
      ASSERT_EQ(list->size(), 7u);
      EXPECT_TRUE(std::isnan((*list)[1]) && std::isnan((*list)[3]));
    }
    for (std::size_t i = 0; i < where.size(); ++i) {
      EXPECT_NEAR(fit.coeffs()[where[i]], ref["coeffs"][i], 1e-9 * std::fabs(ref["coeffs"][i]));
      EXPECT_NEAR(fit.standardErrors()[where[i]], ref["se"][i], 1e-9 * ref["se"][i]);
      EXPECT_NEAR(fit.p()[where[i]], ref["p"][i], 1e-7);
    }
    EXPECT_NEAR(fit.sdDep, 6.0269480520891037, 1e-12);  // sd(mtcars$mpg)
    EXPECT_EQ(fit.y, ref["y"]);
    EXPECT_EQ(fit.N(), 32u);

    const nlohmann::json j = fit;
    for (const char* key : {"drop", "varianceDep", "y", "yhat", "r2", "rmse"})
      EXPECT_TRUE(j.contains(key)) << key;
    EXPECT_EQ(j["coeffs"][1].dump(), "null");  // NaN has no JSON form
  }
}

// Two identical vectors: the earlier is dropped; the logistic path is realigned the same way.
TEST(OlsY, LogisticFitOfIdenticalVectors) {
  auto ref = load("logit_mtcars");  // glm(am ~ hp + wt)
  const FitResult fit = olsY(ref["y"], {ref["x.hp"], ref["x.wt"], ref["x.wt"]}, true);
  ASSERT_TRUE(fit.isLogit());
  EXPECT_EQ(fit.drop, (std::vector<std::string>{"keep", "collinear", "keep", "keep"}));
  ASSERT_EQ(fit.coeffs().size(), 4u);
  EXPECT_TRUE(std::isnan(fit.coeffs()[1]) && std::isnan(fit.p()[1]));
  const std::vector<int> where{0, 2, 3};
  for (std::size_t i = 0; i < where.size(); ++i)
    EXPECT_NEAR(fit.coeffs()[where[i]], ref["coeffs"][i], 1e-7 * std::fabs(ref["coeffs"][i]));
  EXPECT_EQ(fit.yhat().size(), 32u);
  const nlohmann::json j = fit;
  EXPECT_TRUE(j.contains("AUC") && j.contains("drop"));
}

// Designs that are rank-deficient without a constant or a collinear pair (tests/reference/fit_rank.R):
// a sum of two columns, a column whose values differ in the last bit, shares summing to one with the
// constant. The wrapper drops what lm drops, and the rest of the fit matches lm: coefficients and
// fit measures to 1e-9 relative (both solve by Householder QR), p-values to 1e-9 absolute.
TEST(OlsY, RankDeficientDesignsMatchLm) {
  const std::map<std::string, std::vector<std::string>> cases{
      {"swiss_aged", {"Agriculture", "Examination", "Education", "Catholic", "Infant.Mortality", "AgEd"}},
      {"near_constant", {"wt", "c", "hp"}},
      {"shares", {"a", "b", "rest"}}};
  for (const auto& [name, vars] : cases) {
    SCOPED_TRACE(name);
    auto ref = load("rank_" + name);
    std::vector<std::vector<double>> xs;
    for (const auto& v : vars) xs.push_back(ref["x." + v]);
    const FitResult fit = olsY(ref["y"], xs, false);
    ASSERT_EQ(fit.drop.size(), vars.size() + 1);
    const std::size_t dropped = static_cast<std::size_t>(ref["dropped"][0]);
    for (std::size_t j = 0; j < fit.drop.size(); ++j) {
      // The near-constant column counts as constant; the others are combinations of earlier columns.
      const std::string want = j != dropped ? "keep" : name == "near_constant" ? "constant" : "collinear";
      EXPECT_EQ(fit.drop[j], want) << j;
    }
    const auto& coeffs = ref["coeffs"];
    ASSERT_EQ(fit.coeffs().size(), coeffs.size());
    for (std::size_t j = 0; j < coeffs.size(); ++j) {
      if (std::isnan(coeffs[j])) {
        EXPECT_TRUE(std::isnan(fit.coeffs()[j]) && std::isnan(fit.standardErrors()[j]) &&
                    std::isnan(fit.p()[j]));
        continue;
      }
      EXPECT_NEAR(fit.coeffs()[j], coeffs[j], 1e-9 * std::fabs(coeffs[j])) << j;
      EXPECT_NEAR(fit.standardErrors()[j], ref["se"][j], 1e-9 * ref["se"][j]) << j;
      EXPECT_NEAR(fit.t()[j], ref["t"][j], 1e-9 * std::fabs(ref["t"][j])) << j;
      EXPECT_NEAR(fit.p()[j], ref["p"][j], 1e-9) << j;
    }
    const auto& ols = std::get<OlsResult>(fit.fit);
    EXPECT_NEAR(ols.r2, ref["r2"][0], 1e-10);
    EXPECT_NEAR(ols.r2adj, ref["r2adj"][0], 1e-10);
    EXPECT_NEAR(ols.rmse, ref["rmse"][0], 1e-10 * ref["rmse"][0]);
    for (std::size_t i = 0; i < ols.yhat.size(); ++i) EXPECT_NEAR(ols.yhat[i], ref["yhat"][i], 1e-9);
  }
}

// The same dependencies on the logistic path, and a column that adds a little more than the
// tolerance is kept.
TEST(OlsY, RankCheckOnLogisticPathAndNearTolerance) {
  auto ref = load("rank_swiss_aged");
  std::vector<double> high;
  for (double f : ref["y"]) high.push_back(f > 70 ? 1 : 0);
  const auto ag = ref["x.Agriculture"], ed = ref["x.Education"];
  const FitResult fit = olsY(high, {ag, ed, ref["x.AgEd"]}, true);
  EXPECT_EQ(fit.drop, (std::vector<std::string>{"keep", "keep", "collinear", "keep"}));
  EXPECT_TRUE(std::get<LogitResult>(fit.fit).converged);
  EXPECT_TRUE(std::isfinite(fit.coeffs()[0]) && std::isnan(fit.coeffs()[2]));

  // Agriculture + Education plus a disturbance of relative size 1e-5 is independent for lm.
  std::vector<double> nearly = ref["x.AgEd"];
  for (std::size_t i = 0; i < nearly.size(); ++i) nearly[i] += (i % 2 ? 1e-5 : -1e-5) * nearly[i];
  const FitResult kept = olsY(ref["y"], {ag, ed, nearly}, false);
  EXPECT_EQ(kept.drop, (std::vector<std::string>{"keep", "keep", "keep", "keep"}));
}

// Equal values whose mean is inexact (32 x 0.1) are constant; values whose squares overflow are not
// mistaken for constant, and their coefficient scales with them (lm on mtcars to 1e-9).
TEST(OlsY, ConstantRuleOnInexactMeansAndHugeValues) {
  auto ref = load("ols_mtcars");  // lm(mpg ~ wt + hp + qsec + am)
  const FitResult flat = olsY(
      ref["y"], {ref["x.wt"], std::vector<double>(32, 0.1), ref["x.hp"], ref["x.qsec"], ref["x.am"]}, false);
  EXPECT_EQ(flat.drop, (std::vector<std::string>{"keep", "constant", "keep", "keep", "keep", "keep"}));
  const std::vector<int> where{0, 2, 3, 4, 5};
  for (std::size_t i = 0; i < where.size(); ++i)
    EXPECT_NEAR(flat.coeffs()[where[i]], ref["coeffs"][i], 1e-9 * std::fabs(ref["coeffs"][i]));

  const FitResult huge =
      olsY(ref["y"], {scaled(ref["x.wt"], 1e200), ref["x.hp"], ref["x.qsec"], ref["x.am"]}, false);
  EXPECT_EQ(huge.drop, (std::vector<std::string>{"keep", "keep", "keep", "keep", "keep"}));
  EXPECT_NEAR(huge.coeffs()[0] * 1e200, ref["coeffs"][0], 1e-9 * std::fabs(ref["coeffs"][0]));
  EXPECT_NEAR(huge.coeffs()[4], ref["coeffs"][4], 1e-9 * std::fabs(ref["coeffs"][4]));
}

TEST(OlsY, EmptyResponseKeepsStatusesWithoutCoefficients) {
  const FitResult fit = olsY({}, {{}, {}}, false);
  EXPECT_TRUE(fit.coeffs().empty());
  EXPECT_EQ(fit.drop.size(), 3u);
  EXPECT_EQ(fit.drop.back(), "keep");
}

std::vector<double> range(int from, int to) {
  std::vector<double> v;
  for (int i = from; i <= to; ++i) v.push_back(i);
  return v;
}

TEST(Histogram, RoundedEdgesAndBinCounts) {
  // 1..40: unit 10, range [0, 40], limit 10; steps 1 and 2 give too many bins, step 5 gives 8.
  const HistogramResult h40 = histogramOfVector(range(1, 40), 10);
  EXPECT_EQ(h40.edges, (std::vector<double>{0, 5, 10, 15, 20, 25, 30, 35}));
  EXPECT_EQ(h40.counts, (std::vector<double>{4, 5, 5, 5, 5, 5, 5, 6}));  // 40 falls in the last bin

  // 1..100: limit 15 and no step fits, so 15 bins of width 100 / 15 from 0.
  const HistogramResult h100 = histogramOfVector(range(1, 100), 10);
  ASSERT_EQ(h100.edges.size(), 15u);
  EXPECT_EQ(h100.edges[0], 0);
  EXPECT_NEAR(h100.edges[14], 14 * 100.0 / 15, 1e-12);
  EXPECT_EQ(h100.counts[0], 6);  // 1..6 below the first inner edge 6.67
  double total = 0;
  for (double c : h100.counts) total += c;
  EXPECT_EQ(total, 100);
  EXPECT_EQ(h100.counts[14], 7);  // 94..100

  // A constant vector spreads over [v - 2, v + 2] in 4 bins of width 1.
  const HistogramResult flat = histogramOfVector(std::vector<double>{5, 5, 5, 5}, 10);
  EXPECT_EQ(flat.edges, (std::vector<double>{3, 4, 5, 6}));
  EXPECT_EQ(flat.counts, (std::vector<double>{0, 0, 4, 0}));

  // Fractions: 0.12 .. 0.87 widens to [0.1, 0.9] (unit 0.1, edges at multiples of 0.05); the bin count
  // depends on how 0.8 / 0.05 rounds, so check the shape rather than the count.
  std::vector<double> small;
  for (int i = 0; i < 76; ++i) small.push_back(0.12 + i * 0.01);
  const HistogramResult hs = histogramOfVector(small, 10, std::nullopt, true, true);
  ASSERT_GE(hs.edges.size(), 4u);
  ASSERT_LE(hs.edges.size(), 15u);
  EXPECT_NEAR(hs.edges[0], 0.1, 1e-12);
  const double width = hs.edges[1] - hs.edges[0];
  EXPECT_NEAR(hs.edges.back() + width, 0.9, 1e-12);
  double sum = 0;
  for (double c : hs.counts) sum += c;
  EXPECT_NEAR(sum, 1, 1e-12);
  EXPECT_NEAR(hs.counts.front(), std::ceil((hs.edges[1] - 0.12) / 0.01 - 1e-9) / 76, 1e-12);

  const HistogramResult none = histogramOfVector({}, 10);
  EXPECT_TRUE(none.edges.empty() && none.counts.empty());
  const nlohmann::json j = flat;
  EXPECT_EQ(j, nlohmann::json::parse("[[3,4,5,6],[0,0,4,0]]"));
}

TEST(Histogram, GivenRangeWithoutOptimizeClampsOutliers) {
  const HistogramResult h = histogramOfVector(std::vector<double>{-3, 0, 1.9, 2, 7.99, 8, 100}, 4,
                                              std::array<double, 2>{0, 8}, false, false);
  EXPECT_EQ(h.edges, (std::vector<double>{0, 2, 4, 6}));
  EXPECT_EQ(h.counts, (std::vector<double>{3, 1, 0, 3}));
  // A degenerate range without optimize puts everything in the first bin instead of failing.
  const HistogramResult d =
      histogramOfVector(std::vector<double>{1, 1}, 3, std::array<double, 2>{1, 1}, false, false);
  EXPECT_EQ(d.counts, (std::vector<double>{2, 0, 0}));
}

}  // namespace
}  // namespace tabulix
