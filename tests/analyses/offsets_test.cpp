// Figures on ill-conditioned data against R (tests/reference/offsets.R):
// values with 13 and 7 common leading digits, ten timestamps one second apart
// and 123456789.000000001 ... 9; the NIST StRD one-way ANOVA sets SmLs01-09,
// generated from their published rule and compared with the certified F; and
// the conventions that depart from the original rules (residual sign,
// McFadden's pseudo-R², cor.test's p, binom.test's one-tailed p, ANOVA with a
// single-observation group).
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>

#include "analyses/correlation/correlation.h"
#include "analyses/detail/variable_detail.h"
#include "analyses/fit.h"
#include "analyses/hypothesis_test/hypothesis_test.h"
#include "stats/statistics.h"
#include "test_workspace.h"

using namespace tabulix;

namespace {

using Workspace = tabulix::testing::TestWorkspace;
using tabulix::testing::kReferenceDir;
using tabulix::testing::readCsv;

// R's figures by case and key.
std::map<std::string, std::map<std::string, double>> expected() {
  std::map<std::string, std::map<std::string, double>> e;
  auto ref = readCsv(kReferenceDir / "offsets_expected.csv");
  for (size_t i = 1; i < ref.size(); ++i) e[ref[i][0]][ref[i][1]] = std::stod(ref[i][2]);
  return e;
}

// The numbers of one column of the data file, empty cells left out.
std::vector<double> column(const std::string& name) {
  auto data = readCsv(kReferenceDir / "offsets_data.csv");
  size_t c = 0;
  while (data[0][c] != name) ++c;
  std::vector<double> v;
  for (size_t i = 1; i < data.size(); ++i)
    if (c < data[i].size() && !data[i][c].empty()) v.push_back(std::stod(data[i][c]));
  return v;
}

Workspace& workspace() {
  static Workspace w(readCsv(kReferenceDir / "offsets_data.csv"));
  return w;
}

// |a − b| ≤ rel · |b|, with b R's figure.
#define EXPECT_REL(a, b, rel) EXPECT_NEAR((a), (b), (rel)*std::fabs(b))

// NIST StRD SmLs data: 9 groups; group 1 is base + 0.4 and then per − 1
// values alternating base + 0.3 and base + 0.5; groups 2, 4, 6, 8 the same
// 0.1 lower, groups 3, 5, 7, 9 0.1 higher. Written as decimal texts, read as
// the doubles a user's file gives.
std::vector<std::vector<double>> smls(const std::string& base, int per) {
  static const int mid[9] = {4, 3, 5, 3, 5, 3, 5, 3, 5};
  std::vector<std::vector<double>> groups(9);
  for (int g = 0; g < 9; ++g) {
    groups[g].push_back(std::stod(base + "." + std::to_string(mid[g])));
    for (int i = 1; i < per; ++i)
      groups[g].push_back(std::stod(base + "." + std::to_string(mid[g] + (i % 2 ? -1 : 1))));
  }
  return groups;
}

}  // namespace

// Certified F: 21 (21 per group), 201 (201), 2001 (2001). R's aov gets 20.99995 and 1969.98 on the
// 1e12 sets (this: 21.0008, 2001.13; before, 21.04 and 1410). Tolerances: 1e-12 with one leading
// digit, 1e-10 with 7 constant digits, 1e-4 with 13 (the doubles near 1e12 hold the decimals .3,
// .4, .5 only to 6e-5, so the deviations of 0.1 carry about four digits).
TEST(Offsets, AnovaOnTheNistSmLsSetsKeepsTheCertifiedF) {
  const struct {
    std::string base;
    int per;
    double F, tolerance;
  } sets[] = {{"1", 21, 21, 1e-12},
              {"1", 201, 201, 1e-12},
              {"1", 2001, 2001, 1e-12},
              {"1000000", 21, 21, 1e-10},
              {"1000000", 201, 201, 1e-10},
              {"1000000", 2001, 2001, 1e-10},
              {"1000000000000", 21, 21, 1e-4},
              {"1000000000000", 201, 201, 1e-4},
              {"1000000000000", 2001, 2001, 1e-4}};
  for (const auto& s : sets) {
    SCOPED_TRACE(s.base + " x " + std::to_string(s.per));
    AnovaResult a = Statistics::anova(smls(s.base, s.per), false);
    EXPECT_REL(a.F, s.F, s.tolerance);
    // Group means: base + 0.4, base + 0.3, ... to the doubles' precision.
    EXPECT_REL(a.summary[0].mean, std::stod(s.base + ".4"), 1e-15);
  }
}

// R (aov): F = 24.857 with a group of one observation; it adds nothing to the
// within-group sum of squares. No within-group degree of freedom: no F.
TEST(Offsets, AnovaWithASingleObservationGroup) {
  auto e = expected();
  AnovaResult a = Statistics::anova({{1, 2, 3}, {4, 5, 6}, {10}}, false);
  EXPECT_REL(a.F, e["anova_single"]["F"], 1e-12);
  EXPECT_REL(a.p, e["anova_single"]["p"], 1e-6);
  EXPECT_TRUE(std::isnan(Statistics::anova({{1}, {4}, {10}}, false).F));
  EXPECT_TRUE(std::isnan(Statistics::anova({{1, 2, 3}}, false).F));
}

// The detail and the card at 1e12 and 1e6 offsets, of timestamps and of the
// nine 123456789.00000000k values (R: sd 0.8907, 2.2954, 3.0277 s). On the
// nines R's sd is 7.4506e-9 = 2^-26 / 2: its mean rounds to 123456789 and
// the deviations to 0 and one unit; the doubles (seven at 123456789, two one
// unit above) have sd 6.5708e-9, skewness 1.3363, which the test takes from
// the unit counts. Tolerances: 1e-15 relative on means and sums; the spread
// figures 1e-9 (the deviations are exact in doubles, the sums compensated),
// 1e-7 on skewness and kurtosis; the interval of the mean centred on the mean
// with R's half-width, and that of the variance, to 1e-9 (exact t and
// chi-square quantiles).
TEST(Offsets, DetailAndCardKeepTheirDigits) {
  auto e = expected();
  Workspace& w = workspace();
  for (std::string name : {"off12", "off6", "ts", "nines"}) {
    SCOPED_TRACE(name);
    auto& r = e[name];
    auto& spread = name == "nines" ? e["nines_exact"] : r;
    Column& col = w.col(name);
    VariableDetailResult d = varDetailForColumn(w.model, col, nullptr);
    std::vector<int32_t> all;
    for (int i = 1; i <= 30; ++i) all.push_back(i);
    VariableDetailResult f = varDetailForColumn(w.model, col, &all);  // the pass over the cells
    for (const VariableDetailResult* x : {&d, &f}) {
      ASSERT_TRUE(x->sd && x->variance && x->ciMean);
      EXPECT_REL(*x->sd, spread["sd"], 1e-9);
      EXPECT_REL(*x->variance, spread["variance"], 1e-9);
      EXPECT_REL(*x->meanAbsDev, spread["meanAbsDev"], 1e-9);
      EXPECT_REL(((*x->ciMean)[0] + (*x->ciMean)[1]) / 2, *x->mean, 1e-15);
      EXPECT_REL(((*x->ciMean)[1] - (*x->ciMean)[0]) / 2, (r["ciMean1"] - r["ciMean0"]) / 2, 1e-9);
      if (name != "ts") {  // timestamps count from the workspace's epoch
        EXPECT_REL(*x->mean, r["mean"], 1e-15);
        EXPECT_REL(*x->rms, r["rms"], 1e-15);
        EXPECT_REL(*x->sum, r["sum"], 1e-15);
      }
      if (spread["skew"] == 0) {
        EXPECT_NEAR(*x->skew, 0, 1e-9);
      } else {
        EXPECT_REL(*x->skew, spread["skew"], 1e-7);
      }
      EXPECT_REL(*x->kurtosis, spread["kurtosis"], 1e-7);
      if (name == "off12" || name == "off6") {
        ASSERT_TRUE(x->ciVariance);
        EXPECT_REL((*x->ciVariance)[0], r["ciVariance0"], 1e-9);
        EXPECT_REL((*x->ciVariance)[1], r["ciVariance1"], 1e-9);
      }
    }
    // The card: the cached statistics.
    const OptReal& sd = name == "ts" ? col.sdDate : col.sd;
    ASSERT_TRUE(sd);
    EXPECT_REL(*sd, spread["sd"], 1e-9);
    if (name != "ts") {
      EXPECT_REL(*col.mean, r["mean"], 1e-15);
    }
  }
}

// t-tests at offsets (R's t.test): t to 1e-9, p to 1e-6 (the t CDF's accuracy). Welch's t
// at 1e12 to 1e-8: the difference of two means (about 0.35) carries the rounding of each to
// the doubles near 1e12 (6e-5), in R as here.
TEST(Offsets, TTestsAtOffsets) {
  auto e = expected();
  const std::vector<double> x12 = column("off12"), x6 = column("off6");
  HypothesisResult one = hypothesisForSample(x12, 1e12 + 1.5, 0, 0, kTestT, false);
  EXPECT_REL(one.t, e["t1_off12"]["t"], 1e-9);
  EXPECT_REL(one.p, e["t1_off12"]["p"], 1e-6);
  HypothesisResult six = hypothesisForSample(x6, 1e6, 0, 0, kTestT, false);
  EXPECT_REL(six.t, e["t1_off6"]["t"], 1e-9);
  const std::vector<double> a(x12.begin(), x12.begin() + 15), b(x12.begin() + 15, x12.end());
  HypothesisResult two = hypothesisTestForSampleX(a, b, 0, 0, kTestT);
  EXPECT_REL(two.t, e["t2_off12"]["t"], 1e-8);
  EXPECT_REL(two.df, e["t2_off12"]["df"], 1e-9);
  EXPECT_REL(two.p, e["t2_off12"]["p"], 1e-6);
}

// Correlation and regression on a regressor at a 1e12 offset: it is not a
// constant, its slope is R's lm on the centred regressor (1e-9), and the
// correlation's p-value is cor.test's, from t with n − 2 df (R: 1.502e-17;
// relative 1e-9: the t is computed from the data, the tail is exact).
TEST(Offsets, CorrelationAndRegressionOnA1e12Regressor) {
  auto e = expected();
  const std::vector<double> x12 = column("off12"), y = column("y"), x6 = column("off6");
  CorrelationRecord c = correlationOfData(x12, y);
  EXPECT_REL(c.r, e["cor_off12"]["r"], 1e-12);
  EXPECT_REL(c.t, e["cor_off12"]["t"], 1e-10);
  EXPECT_REL(c.p, e["cor_off12"]["p"], 1e-9);
  EXPECT_REL(c.ci[0], e["cor_off12"]["ci0"], 1e-9);  // Fisher's z with the exact normal quantile
  FitResult fit = olsY(y, {x12}, false);
  EXPECT_EQ(fit.drop[0], "keep");
  EXPECT_REL(fit.coeffs()[0], e["lm_off12"]["slope"], 1e-9);
  EXPECT_REL(fit.standardErrors()[0], e["lm_off12"]["slopeSe"], 1e-9);
  EXPECT_REL(fit.coeffs()[1], e["lm_off12"]["intercept"], 1e-6);
  const auto& ols = std::get<OlsResult>(fit.fit);
  EXPECT_REL(ols.r2, e["lm_off12"]["r2"], 1e-9);
  // Residuals are observed − fitted.
  EXPECT_REL(fit.residuals()[0], e["lm_off12"]["residual1"], 1e-6);
  FitResult fit6 = olsY(y, {x6}, false);
  // R's lm on the raw 1e6 regressor loses about six digits of its own; 1e-9.
  EXPECT_REL(fit6.coeffs()[0], e["lm_off6"]["slope"], 1e-9);
  // Values that differ only in their last bit are a constant.
  const std::vector<double> y3 = {1, 2, 3}, y4 = {0.1, 0.7, 0.2, 0.9};
  EXPECT_EQ(olsY(y3, {{0.3, 0.30000000000000004, 0.3}}, false).drop[0], "constant");
  // An intercept-only fit explains nothing: R² is 0, not −2.2e-16.
  FitResult none = olsY(y4, {{5, 5, 5, 5}}, false);
  EXPECT_EQ(std::get<OlsResult>(none.fit).r2, 0);
}

// The logistic fit on a regressor at a 1e12 offset is the fit on the same
// regressor moved to 0 (raw, the Newton steps lose every digit: slope 2398
// and LL −2257 where R's glm on the centred data gives 0.958 and −66.79, on
// such data); slope, its error and LL 1e-8,
// the intercept moved back by slope × shift 1e-6.
TEST(Offsets, LogisticOnA1e12RegressorIsTheCentredFit) {
  const std::vector<double> x12 = column("off12"), y = column("y");
  double my = 0;
  for (double v : y) my += v / static_cast<double>(y.size());
  std::vector<double> yb, x0;
  for (std::size_t i = 0; i < y.size(); ++i) {
    yb.push_back(y[i] > my ? 1 : 0);
    x0.push_back(x12[i] - 1e12);  // exact: both near 1e12
  }
  const FitResult rawFit = olsY(yb, {x12}, true), movedFit = olsY(yb, {x0}, true);
  const auto& raw = std::get<LogitResult>(rawFit.fit);
  const auto& moved = std::get<LogitResult>(movedFit.fit);
  ASSERT_EQ(raw.coeffs.size(), 2u);
  EXPECT_REL(raw.coeffs[0], moved.coeffs[0], 1e-8);
  EXPECT_REL(raw.standardErrors[0], moved.standardErrors[0], 1e-8);
  EXPECT_REL(raw.LL, moved.LL, 1e-8);
  EXPECT_REL(raw.coeffs[1], moved.coeffs[1] - moved.coeffs[0] * 1e12, 1e-6);
  EXPECT_GT(raw.r2adj, 0);
}

// McFadden's pseudo-R² with the intercept-only null (R: 1 − logLik(g) /
// logLik(glm(am ~ 1)) = 0.7673 on mtcars am ~ wt + hp), "LL0" the null's
// log-likelihood, residuals y − p̂; 1e-6.
TEST(Offsets, LogisticPseudoR2IsMcFaddens) {
  auto e = expected();
  const std::vector<double> wt = {2.62,  2.875, 2.32,  3.215, 3.44,  3.46,  3.57, 3.19,  3.15,  3.44,  3.44,
                                  4.07,  3.73,  3.78,  5.25,  5.424, 5.345, 2.2,  1.615, 1.835, 2.465, 3.52,
                                  3.435, 3.84,  3.845, 1.935, 2.14,  1.513, 3.17, 2.77,  3.57,  2.78};
  const std::vector<double> hp = {110, 110, 93,  110, 175, 105, 245, 62,  95,  123, 123,
                                  180, 180, 180, 205, 215, 230, 66,  52,  65,  97,  150,
                                  150, 245, 175, 66,  91,  113, 264, 175, 335, 109};
  const std::vector<double> am = {1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                  0, 1, 1, 1, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1};
  FitResult fit = olsY(am, {wt, hp}, true);
  const auto& l = std::get<LogitResult>(fit.fit);
  EXPECT_REL(l.LL, e["logit_mtcars"]["LL"], 1e-6);
  EXPECT_REL(l.LL0, e["logit_mtcars"]["LL0"], 1e-12);
  EXPECT_REL(l.r2adj, e["logit_mtcars"]["r2adj"], 1e-6);
  EXPECT_REL(fit.residuals()[0], e["logit_mtcars"]["residual1"], 1e-5);
}

// binom.test's one-tailed p is the tail sum in the alternative's direction
// (7 of 10 against 0.4: less 0.98771, greater 0.054762; two-sided 0.10112);
// tails 1 is "less", 2 "greater". 1e-12.
TEST(Offsets, OneTailedBinomialIsTheTailSum) {
  auto e = expected();
  std::vector<double> s(10, 0.0);
  for (int i = 0; i < 7; ++i) s[i] = 1;
  EXPECT_REL(hypothesisForSample(s, 0.4, 2, 1, kTestBinomial, false).p, e["binom_7_10"]["less"], 1e-12);
  EXPECT_REL(hypothesisForSample(s, 0.4, 2, 2, kTestBinomial, false).p, e["binom_7_10"]["greater"], 1e-12);
  EXPECT_REL(hypothesisForSample(s, 0.4, 2, 0, kTestBinomial, false).p, e["binom_7_10"]["two"], 1e-12);
}

// Equal paired differences have no t statistic: a note, no decision.
TEST(Offsets, EqualDifferencesGiveNoStatistic) {
  HypothesisResult r = hypothesisForSample({2, 2, 2, 2}, 0, 0, 0, kTestT, true);
  EXPECT_TRUE(std::isnan(r.p));
  EXPECT_EQ(r.note, "The differences are all equal, so no test statistic can be computed.");
  EXPECT_TRUE(hypothesisForSample({1, 2, 2, 2}, 0, 0, 0, kTestT, true).note.empty());
}
