#include "stats/studentized_range.h"

#include <cmath>
#include <limits>

#include "stats/distributions.h"
#include "stats/root_finding.h"

namespace tabulix {
namespace {

// 16-point Gauss–Legendre nodes and weights on [-1, 1] (the positive half; symmetric).
constexpr double kNode[8] = {0.0950125098376374401853193, 0.2816035507792589132304605,
                             0.4580167776572273863424194, 0.6178762444026437484466718,
                             0.7554044083550030338951012, 0.8656312023878317438804679,
                             0.9445750230732325760779884, 0.9894009349916499325961542};
constexpr double kWeight[8] = {0.1894506104550684962853967, 0.1826034150449235888667637,
                               0.1691565193950025381893121, 0.1495959888165767320815017,
                               0.1246289712555338720524763, 0.0951585116824927848099251,
                               0.0622535239386478928628438, 0.0271524594117540948517806};

template <class F>
double gaussLegendre(double a, double b, F&& f) {
  const double half = (b - a) / 2, mid = (a + b) / 2;
  double s = 0;
  for (int i = 0; i < 8; ++i) s += kWeight[i] * (f(mid - half * kNode[i]) + f(mid + half * kNode[i]));
  return s * half;
}

// P(range of k standard normals <= w) = k ∫ φ(z) [Φ(z) − Φ(z − w)]^(k−1) dz. Beyond |z| = 8.5
// φ(z) is below 1e-15, so the integral runs over [-8.5, 8.5] in panels of width one.
double normalRangeCdf(double w, int k) {
  if (!(w > 0)) return 0;
  if (w > 40) return 1;
  auto integrand = [&](double z) {
    // The difference of the two lower tails, from the upper tails where both are near 1.
    const double inside = z > 0 ? Distributions::normcdfz(w - z) - Distributions::normcdfz(-z)
                                : Distributions::normcdfz(z) - Distributions::normcdfz(z - w);
    if (inside <= 0) return 0.0;
    return std::exp(-0.5 * z * z + (k - 1) * std::log(inside));
  };
  // The integrand is unimodal (a product of log-concave factors): panels whose two ends are below
  // 1e-20 of the largest end value, away from the panel holding the peak, add nothing visible.
  constexpr int kPanels = 17;
  double edge[kPanels + 1];
  int top = 0;
  for (int i = 0; i <= kPanels; ++i) {
    edge[i] = integrand(-8.5 + 1.0 * i);
    if (edge[i] > edge[top]) top = i;
  }
  double s = 0;
  for (int i = 0; i < kPanels; ++i) {
    const bool nearPeak = i == top || i + 1 == top;
    if (!nearPeak && std::fmax(edge[i], edge[i + 1]) < 1e-20 * edge[top]) continue;
    s += gaussLegendre(-8.5 + 1.0 * i, -8.5 + 1.0 * (i + 1), integrand);
  }
  const double p = k * s / std::sqrt(2 * M_PI);
  return p > 1 ? 1 : p;
}

}  // namespace

double studentizedRangeCdf(double q, int k, double df) {
  if (k < 2 || !(df >= 1) || std::isnan(q)) return std::numeric_limits<double>::quiet_NaN();
  if (q <= 0) return 0;
  if (std::isinf(q)) return 1;
  if (std::isinf(df)) return normalRangeCdf(q, k);
  // P = ∫ f(s) P(range <= q s) ds with f the density of s = sqrt(χ²_df / df):
  // ln f(s) = ln 2 + (df/2) ln(df/2) − lgamma(df/2) + (df − 1) ln s − df s² / 2.
  const double logConst = std::log(2.0) + df / 2 * std::log(df / 2) - std::lgamma(df / 2);
  auto logDensity = [&](double s) { return logConst + (df - 1) * std::log(s) - df * s * s / 2; };
  const double mode = std::sqrt((df - 1) / df);
  // Panels no wider than about the density's spread, nor than the scale 1 / q on which the range
  // probability P(range <= q s) changes with s.
  const double spread = std::fmin(0.5, 1 / std::sqrt(2 * df));
  const double step = std::fmin(spread, 1 / q);
  const double peak = logDensity(mode > 0 ? mode : step / 8);
  // The integral runs where the density is within e^-38 of its peak, in panels of one step.
  double hi = (mode > 0 ? mode : 0) + step;
  while (logDensity(hi) > peak - 38) hi += spread;
  double lo = mode;
  while (lo > 0 && logDensity(lo) > peak - 38) lo -= spread;
  if (lo < 0) lo = 0;
  auto integrand = [&](double s) { return s > 0 ? std::exp(logDensity(s)) * normalRangeCdf(q * s, k) : 0.0; };
  double total = 0;
  for (double a = lo; a < hi; a += step) total += gaussLegendre(a, std::fmin(a + step, hi), integrand);
  return total > 1 ? 1 : total;
}

double studentizedRangeQuantile(double p, int k, double df) {
  if (!(p > 0 && p < 1) || k < 2 || !(df >= 1)) return std::numeric_limits<double>::quiet_NaN();
  // A first guess from Bonferroni's bound on the k(k − 1)/2 pairwise t statistics (within a few
  // per cent), then Brent's method in a bracket around it.
  const double pairs = k * (k - 1) / 2.0;
  const double guess = std::sqrt(2.0) * Distributions::tForConfidence((1 - p) / (2 * pairs), df);
  double lo = 0.9 * guess, hi = 1.05 * guess;
  auto f = [&](double q) { return studentizedRangeCdf(q, k, df) - p; };
  while (lo > 1e-3 && f(lo) > 0) lo /= 1.5;
  while (hi < 1e6 && f(hi) < 0) hi *= 1.5;
  return brentRoot(f, lo, hi, 1e-12);
}

}  // namespace tabulix
