#include "stats/normality.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "stats/distributions.h"
#include "stats/sums.h"

namespace tabulix {
namespace {

// c[0] + c[1] x + … + c[n-1] x^(n-1).
double poly(const double* c, int n, double x) {
  double r = c[n - 1];
  for (int i = n - 2; i >= 0; --i) r = r * x + c[i];
  return r;
}

}  // namespace

ShapiroWilkResult shapiroWilk(std::span<const double> values) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  const std::size_t n = values.size();
  if (n < 3 || n > 5000) return {kNaN, kNaN};
  std::vector<double> x(values.begin(), values.end());
  std::sort(x.begin(), x.end());
  if (!(x.back() - x.front() > 0)) return {kNaN, kNaN};
  const double an = static_cast<double>(n);
  const std::size_t half = n / 2;

  // Royston's coefficients: the two extreme weights from polynomials in 1/sqrt(n), the others
  // proportional to the expected normal order statistics (Blom's m_i).
  static const double c1[6] = {0.0, 0.221157, -0.147981, -2.071190, 4.434685, -2.706056};
  static const double c2[6] = {0.0, 0.042981, -0.293762, -1.752461, 5.682633, -3.582633};
  std::vector<double> a(half);
  if (n == 3) {
    a[0] = std::sqrt(0.5);
  } else {
    std::vector<double> m(half);
    double summ2 = 0;
    for (std::size_t i = 0; i < half; ++i) {
      m[i] = Distributions::normZForConfidence((static_cast<double>(i + 1) - 0.375) / (an + 0.25));
      summ2 += m[i] * m[i];
    }
    summ2 *= 2;
    const double ssumm2 = std::sqrt(summ2), rsn = 1 / std::sqrt(an);
    const double a1 = poly(c1, 6, rsn) - m[0] / ssumm2;
    std::size_t first;
    double fac;
    if (n > 5) {
      first = 2;
      const double a2 = -m[1] / ssumm2 + poly(c2, 6, rsn);
      fac = std::sqrt((summ2 - 2 * m[0] * m[0] - 2 * m[1] * m[1]) / (1 - 2 * a1 * a1 - 2 * a2 * a2));
      a[1] = a2;
    } else {
      first = 1;
      fac = std::sqrt((summ2 - 2 * m[0] * m[0]) / (1 - 2 * a1 * a1));
    }
    a[0] = a1;
    for (std::size_t i = first; i < half; ++i) a[i] = -m[i] / fac;
  }

  // W is the squared correlation of the data with the weights (antisymmetric, Σ a = 0); it is
  // taken as 1 − (1 − r)(1 + r) so that W near 1 keeps its digits. The data are centred first
  // (the weights sum to zero, so this changes nothing but the rounding of offset data).
  const double mean = shiftedMean(x);
  double ssa = 0, ssx = 0, sax = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const double ai = i < half ? -a[i] : (i >= n - half ? a[n - 1 - i] : 0.0);
    const double xi = x[i] - mean;
    ssa += ai * ai;
    ssx += xi * xi;
    sax += ai * xi;
  }
  const double ssassx = std::sqrt(ssa * ssx);
  const double w1 = (ssassx - sax) * (ssassx + sax) / (ssa * ssx);
  ShapiroWilkResult r;
  r.W = 1 - w1;

  if (n == 3) {
    const double pi6 = 6 / M_PI, stqr = M_PI / 3;
    r.p = std::max(0.0, pi6 * (std::asin(std::sqrt(r.W)) - stqr));
    return r;
  }
  // Royston's normalising transformations of W (small samples: of −ln(γ − ln(1 − W))).
  const double y = std::log(w1);
  const double lxx = std::log(an);
  double m, s, z;
  if (n <= 11) {
    static const double g[2] = {-2.273, 0.459};
    static const double c3[4] = {0.5440, -0.39978, 0.025054, -6.714e-4};
    static const double c4[4] = {1.3822, -0.77857, 0.062767, -0.0020322};
    const double gamma = poly(g, 2, an);
    if (y >= gamma) {
      r.p = 1e-99;  // below anything the approximation can tell
      return r;
    }
    z = -std::log(gamma - y);
    m = poly(c3, 4, an);
    s = std::exp(poly(c4, 4, an));
  } else {
    static const double c5[4] = {-1.5861, -0.31082, -0.083751, 0.0038915};
    static const double c6[3] = {-0.4803, -0.082676, 0.0030302};
    z = y;
    m = poly(c5, 4, lxx);
    s = std::exp(poly(c6, 3, lxx));
  }
  r.p = Distributions::normcdfz(-(z - m) / s);
  return r;
}

}  // namespace tabulix
