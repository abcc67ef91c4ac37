// Model fitting: least squares, logistic regression with its ROC curve,
// one-way analysis of variance and the statistics of a frequency table.
#pragma once

#include <array>
#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <span>
#include <vector>

namespace tabulix {

// Result of ols(): coefficients with their standard errors and tests, fitted values and fit measures.
struct OlsResult {
  std::vector<double> coeffs;          // one per design column, in design order
  std::vector<double> standardErrors;  // standard errors of the coefficients (not variances)
  std::vector<double> t;               // coeffs / standardErrors
  std::vector<double> p;               // two-sided p-values of t with max(n - k, 1) df
  std::vector<double> residuals;       // observed minus fitted, y − ŷ
  std::vector<double> yhat;            // fitted values; absent from the JSON form when N = 0
  std::vector<double> covariance;      // k x k covariance s² (X'X)^-1 of the coefficients (not in JSON)
  std::uint32_t N = 0;                 // number of observations
  double r2 = 0;                       // 1 - RSS / TSS
  double r2adj = 0;                    // 1 - s^2 / var(y)
  double rmse = 0;                     // s = sqrt(RSS / (n - k))
};

// Result of logit(): coefficients with Wald tests, fitted probabilities, likelihoods and the ROC curve.
struct LogitResult {
  std::vector<double> coeffs;              // one per design column, in design order
  std::vector<double> standardErrors;      // standard errors sqrt((X'WX)^-1)_jj (not variances)
  std::vector<double> covariance;          // k x k covariance (X'WX)^-1 of the coefficients (not in JSON)
  std::vector<double> t;                   // Wald z statistics coeffs / standardErrors
  std::vector<double> p;                   // two-sided normal p-values of t
  std::vector<double> residuals;           // observed minus fitted probability
  std::vector<double> yhat;                // fitted probabilities
  std::uint32_t N = 0;                     // number of observations
  double r2adj = 0;                        // McFadden's pseudo-R^2, 1 - LL / LL0
  double LL0 = 0;                          // log-likelihood of the intercept-only model
  double LL = 0;                           // final log-likelihood
  int numIter = 0;                         // iteration at which the loop stopped (200 without convergence)
  double AIC = 0;                          // -2 LL + 2k
  bool converged = true;                   // whether the fitted probabilities settled within n * 1e-10
  std::uint32_t numPerfectPredict = 0;     // observations fitted with probability exactly 0 or 1
  std::vector<std::array<double, 2>> roc;  // (true-positive rate, false-positive rate) points
  double AUC = 0;                          // trapezoidal area under the ROC points
};

// Size, mean and standard deviation of one group of an analysis of variance.
struct AnovaGroupSummary {
  std::uint32_t obs = 0;  // group size
  double mean = 0;        // NaN for an empty group
  double sd = 0;          // NaN for an empty group
};

// Result of anova(): per-group summaries in input order, the F statistic and its upper-tail p-value.
struct AnovaResult {
  std::vector<AnovaGroupSummary> summary;
  double F = 0;
  double p = 0;
};

// Result of chiForFrequencyMatrix(): Pearson's statistic, its degrees of freedom and upper-tail p-value.
struct ChiSquareResult {
  double chi = 0;
  int df = 0;
  double p = 0;
};

// JSON records keyed as the analyses read them ("coeffs", "variance", "t", ... ); the
// per-observation "residuals" and "yhat" only with vectors.
nlohmann::json toJson(const OlsResult& r, bool vectors);
// JSON record of a logistic fit; with N = 0 "yhat", "roc" and "AUC" are left out, and
// "residuals" and "yhat" are written only with vectors.
nlohmann::json toJson(const LogitResult& r, bool vectors);
// The records with every vector.
void to_json(nlohmann::json& j, const OlsResult& r);
// The logistic record with every vector.
void to_json(nlohmann::json& j, const LogitResult& r);
// JSON record {"obs", "mean", "sd"}.
void to_json(nlohmann::json& j, const AnovaGroupSummary& r);
// JSON record {"summary", "F", "p"}.
void to_json(nlohmann::json& j, const AnovaResult& r);
// JSON record {"chi", "df", "p"}.
void to_json(nlohmann::json& j, const ChiSquareResult& r);

// a - b taken in decimal arithmetic: each double becomes its shortest round-trip decimal, the
// difference is exact up to a 38-digit mantissa rounded half-to-even, then read back as a double.
double decimalDifference(double a, double b);

// Stateless model-fitting routines; a design is a list of k columns of n values each.
class RegressionRoutines {
 public:
  // Ordinary least squares of y on the design columns (dgels), with standard errors from R^-1 (dtrtri).
  static OlsResult ols(std::span<const double> y, const std::vector<std::vector<double>>& design);

  // Logistic regression of a 0/1 response by iteratively reweighted Newton-Raphson, with ROC curve and AUC.
  static LogitResult logit(std::span<const double> y, const std::vector<std::vector<double>>& design);

  // One-way analysis of variance of the groups; isBinary uses sqrt(p(1 - p)) as each group's sd.
  static AnovaResult anova(const std::vector<std::vector<double>>& groups, bool isBinary);

  // Pearson's chi-square test of independence of a frequency matrix (rows of counts).
  static ChiSquareResult chiForFrequencyMatrix(const std::vector<std::vector<double>>& matrix);

  // Pearson's chi-square test of a frequency matrix whose row and column totals are given.
  static ChiSquareResult chiForFrequencyMatrix(const std::vector<std::vector<double>>& matrix,
                                               std::span<const double> rowTotals,
                                               std::span<const double> colTotals);

  // Cramer's V, sqrt(chi / (obs * (min(rows, cols) - 1))).
  static double cramersVForChi(double chi, double obs, double rows, double cols);

  // Positions of the columns that are linear combinations of the columns before them, found as lm
  // does: a Householder QR taken column by column in the given order, in which a column whose
  // remaining norm is at most `tolerance` times its original norm is set aside and the next one
  // tried. The kept columns have full rank; with fewer rows than columns the surplus is dependent.
  static std::vector<std::size_t> dependentColumns(const std::vector<std::vector<double>>& columns,
                                                   double tolerance = 1e-7);

  // Phi coefficient of a 2 x 2 frequency matrix; NaN for any other shape.
  static double phiForFrequencyMatrix(const std::vector<std::vector<double>>& matrix);
};

}  // namespace tabulix
