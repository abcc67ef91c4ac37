#include "stats/descriptive.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <numbers>

#include "stats/sums.h"

namespace tabulix {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The kernel density loop calls exp once per data value and grid point. GCC
// vectorises such a loop only when it knows a SIMD variant of the callee:
// glibc's vector math library (libmvec, linked through libm) provides
// _ZGV*_exp, which this declaration announces under the plain symbol `exp`.
// `const` states that the call does not set errno here, which the vectoriser
// needs; an overflowing exp gives +inf and its term 0 either way.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__GLIBC__)
extern "C" double vectorExp(double) noexcept __asm__("exp") __attribute__((simd("notinbranch"), const));
#else
inline double vectorExp(double v) noexcept { return std::exp(v); }
#endif

constexpr int kDensityPoints = 100;

// Σ (x - m)^2 and Σ (x - m) in one pass over the deviations from m.
struct Deviations {
  double squares = 0;
  double sum = 0;
};

Deviations deviations(std::span<const double> values, double m) {
  Deviations d;
  for (double x : values) {
    const double dev = x - m;
    d.sum += dev;
    d.squares += dev * dev;
  }
  return d;
}

// Whether every value equals the first. The mean of equal values need not be
// that value (seven times 0.1 sums to 0.7000000000000001), so their deviations
// can be equal and nonzero; moment ratios of such data would come out as ±1
// or 1 instead of the 0 / 0 they are.
bool allEqual(std::span<const double> values) {
  for (double x : values)
    if (x != values.front()) return false;
  return true;
}

// Kernel terms 1 / (c · exp(((v - x) / s)^2)) of every data value for one grid
// point. Kept free of reductions and aliasing so that the loop vectorises.
void kernelTerms(const double* __restrict values, double* __restrict terms, std::size_t n, double x, double s,
                 double c) {
  for (std::size_t i = 0; i < n; ++i) {
    const double u = (values[i] - x) / s;
    terms[i] = 1.0 / (c * vectorExp(u * u));
  }
}

// Sum with four independent partial sums, which the compiler can keep in
// vector registers without reordering a single serial chain.
double sumOf(const double* terms, std::size_t n) {
  double acc[4] = {0, 0, 0, 0};
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    acc[0] += terms[i];
    acc[1] += terms[i + 1];
    acc[2] += terms[i + 2];
    acc[3] += terms[i + 3];
  }
  for (; i < n; ++i) acc[0] += terms[i];
  return (acc[0] + acc[1]) + (acc[2] + acc[3]);
}

}  // namespace

double DescriptiveStatistics::mean(std::span<const double> values) {
  // Shifted by the first value and compensated: a plain running sum of values with many common
  // leading digits rounds their differences away.
  return shiftedMean(values);
}

double DescriptiveStatistics::variance(std::span<const double> values) { return variance(values, false); }

double DescriptiveStatistics::variance(std::span<const double> values, bool biased) {
  if (values.empty()) return 0;
  const double n = static_cast<double>(values.size());
  const Deviations d = deviations(values, mean(values));
  // Equal values vary by exactly nothing, whatever the rounding of their mean.
  if (values.size() > 1 && d.squares != 0 && allEqual(values)) return 0;
  if (biased) return d.squares / n;
  // The deviations of an exactly computed mean sum to 0; their actual sum
  // measures the rounding error of the mean and corrects for it.
  return d.squares / (n - 1) - d.sum * d.sum / (n * (n - 1));
}

double DescriptiveStatistics::sdNormal(std::span<const double> values) { return std::sqrt(variance(values)); }

double DescriptiveStatistics::skewness(std::span<const double> values) {
  if (values.empty()) return 0;
  const double n = static_cast<double>(values.size());
  const double m = mean(values);
  double squares = 0;
  double cubes = 0;
  for (double x : values) {
    squares += (x - m) * (x - m);
    cubes += std::pow(x - m, 3);
  }
  const double v = squares / n;  // the biased variance
  if (allEqual(values)) return kNaN;
  return (cubes / n) / std::pow(v, 1.5);
}

double DescriptiveStatistics::kurtosis(std::span<const double> values) {
  if (values.empty()) return 0;
  const double n = static_cast<double>(values.size());
  const double m = mean(values);
  double squares = 0;
  double fourths = 0;
  for (double x : values) {
    squares += (x - m) * (x - m);
    fourths += std::pow(x - m, 4);
  }
  const double v = squares / n;  // the biased variance
  if (allEqual(values)) return kNaN;
  return (fourths / n) / (v * v);
}

std::map<double, double> DescriptiveStatistics::percentiles(std::span<const double> percents,
                                                            std::span<const double> data) {
  std::map<double, double> result;
  std::vector<double> sorted(data.begin(), data.end());
  // NaN would break the ordering sort relies on; keep any at the end.
  auto before = [](double a, double b) { return a < b || (!std::isnan(a) && std::isnan(b)); };
  // Callers that already sorted their data (the cached column statistics) skip the sort.
  if (!std::is_sorted(sorted.begin(), sorted.end(), before)) std::sort(sorted.begin(), sorted.end(), before);
  const std::size_t n = sorted.size();
  for (double p : percents) {
    double value;
    if (n == 0) {
      value = kNaN;
    } else if (n == 1) {
      value = sorted[0];
    } else if (std::trunc(p) == 0) {
      value = sorted.front();  // every p below 1 gives the minimum
    } else if (std::trunc(p) == 100) {
      value = sorted.back();
    } else {
      // Linear interpolation at the 0-based position (n - 1) p / 100.
      const double h = static_cast<double>(n - 1) * p / 100;
      if (std::isnan(h)) {
        value = kNaN;
      } else if (h <= 0) {
        value = sorted.front();  // percents below 0 are clamped rather than read out of range
      } else if (h >= static_cast<double>(n - 1)) {
        value = sorted.back();  // likewise above 100
      } else {
        const double whole = std::floor(h);
        const auto i = static_cast<std::size_t>(whole);
        const double f = h - whole;
        value = sorted[i];
        if (i < n - 1 && f > 0) value = sorted[i] + f * (sorted[i + 1] - sorted[i]);
      }
    }
    result.emplace(p, value);
  }
  return result;
}

double DescriptiveStatistics::correlation(std::span<const double> x, std::span<const double> y) {
  if (y.size() < x.size()) return kNaN;
  const double mx = mean(x);
  const double my = mean(y);
  double sxy = 0;
  double sxx = 0;
  double syy = 0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double dx = x[i] - mx;
    const double dy = y[i] - my;
    sxy += dx * dy;
    sxx += dx * dx;
    syy += dy * dy;
  }
  // Either side constant: 0 / 0, even where rounding of its mean leaves nonzero deviations.
  if (allEqual(x) || allEqual(y.first(x.size()))) return kNaN;
  return sxy / (std::sqrt(syy) * std::sqrt(sxx));
}

std::vector<DensityPoint> DescriptiveStatistics::kdensity(std::span<const double> values, double sd,
                                                          double min, double max) {
  // Gaussian kernels of bandwidth h = sd / 5: each term is the normal density
  // 1 / (h √(2π)) · exp(-((v - x) / (h √2))^2), unscaled by n because the curve
  // is normalised to a peak of 1 at the end.
  const double s = sd * std::numbers::sqrt2 / 5;
  const double c = sd * std::sqrt(2 * std::numbers::pi) / 5;
  const double lo = min - sd;
  const double hi = max + sd;

  double grid[kDensityPoints];
  double density[kDensityPoints];
  for (int i = 0; i < kDensityPoints; ++i) grid[i] = lo + (hi - lo) * i / kDensityPoints;
  std::vector<double> terms(values.size());
  // Every term at every grid point; NaN must win here: a degenerate sd shows
  // in the curve, not as a silent 0.
  const auto everyTerm = [&] {
    double peak = 0;
    for (int i = 0; i < kDensityPoints; ++i) {
      kernelTerms(values.data(), terms.data(), values.size(), grid[i], s, c);
      density[i] = sumOf(terms.data(), terms.size());
      const double magnitude = std::fabs(density[i]);
      if (magnitude > peak || std::isnan(magnitude)) peak = magnitude;
    }
    return peak;
  };
  const bool finite = std::isfinite(s) && s > 0 && std::isfinite(c) &&
                      std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
  // Only the terms of the window |v - x| <= s R, R = sqrt(ln 1e17), are
  // summed: a term outside is below 1e-17 of a term's largest value 1 / c,
  // so the terms left out at a grid point add at most n 1e-17 / c. When that
  // bound is above 1e-13 of the peak (a tiny sample far from the grid),
  // every term is summed instead: the curve stays within 1e-12 of its peak.
  constexpr double kTermCut = 1e-17;
  const double reach = std::sqrt(-std::log(kTermCut));
  // The recurrence below steps along an evenly spaced grid, while the terms
  // are those at the grid points as rounded; a point is off by up to about
  // 2 ulp of the grid's largest magnitude, which moves a term within the
  // window by up to 2 R that much over s, relatively. Beyond 2.5e-13 (values
  // more than about 13 sd from zero: a large offset) each term is evaluated
  // at its rounded point instead.
  const double magnitude = std::max(std::fabs(lo), std::fabs(hi));
  const bool even = 2 * reach * 2 * magnitude * std::numeric_limits<double>::epsilon() / s <= 2.5e-13;
  double peak = 0;
  if (!finite) {
    peak = everyTerm();
  } else if (even) {
    // With w = (v - x_j) / s at the window's first point j and δ the grid
    // step over s, the terms exp(-(w - kδ)^2) along the grid follow
    //   t_{k+1} = t_k q_k,  q_{k+1} = q_k exp(-2δ^2),  q_0 = exp(2wδ - δ^2):
    // two multiplications a term instead of an exp. The window keeps every
    // t_k in [1e-17, 1] and spans at most 100 points, so the recurrence's
    // relative error stays below a few 1e-14. Terms gather per grid point in
    // blocks of 256 values whose sums are added with Kahan's compensation:
    // n terms of one sign round by at most about 258 ulp of their total.
    const double delta = (hi - lo) / kDensityPoints / s;
    const double decay = std::exp(-2 * delta * delta);
    const double shift = std::exp(-delta * delta);
    double block[kDensityPoints] = {};
    double total[kDensityPoints] = {};
    double carry[kDensityPoints] = {};
    const auto flush = [&] {
      for (int i = 0; i < kDensityPoints; ++i) {
        const double y = block[i] - carry[i];
        const double t = total[i] + y;
        carry[i] = (t - total[i]) - y;
        total[i] = t;
        block[i] = 0;
      }
    };
    constexpr std::size_t kBlock = 256;
    for (std::size_t k = 0; k < values.size(); ++k) {
      const double u = (values[k] - lo) / s;
      const double first = std::max(0.0, std::ceil((u - reach) / delta));
      const double last = std::min(kDensityPoints - 1.0, std::floor((u + reach) / delta));
      if (first <= last) {
        const int from = static_cast<int>(first), to = static_cast<int>(last);
        const double w = (values[k] - grid[from]) / s;
        double t = vectorExp(-w * w);
        double q = to > from ? vectorExp(2 * w * delta) * shift : 0;
        for (int i = from; i <= to; ++i) {
          block[i] += t;
          t *= q;
          q *= decay;
        }
      }
      if ((k + 1) % kBlock == 0) flush();
    }
    flush();
    for (int i = 0; i < kDensityPoints; ++i) {
      density[i] = total[i] / c;
      peak = std::max(peak, density[i]);
    }
  } else {
    // The same window over sorted values, each term at its rounded point.
    std::vector<double> copy;
    std::span<const double> sorted = values;
    if (!std::is_sorted(values.begin(), values.end())) {
      copy.assign(values.begin(), values.end());
      std::sort(copy.begin(), copy.end());
      sorted = copy;
    }
    for (int i = 0; i < kDensityPoints; ++i) {
      const auto from = std::lower_bound(sorted.begin(), sorted.end(), grid[i] - s * reach);
      const auto to = std::upper_bound(from, sorted.end(), grid[i] + s * reach);
      const auto count = static_cast<std::size_t>(to - from);
      kernelTerms(sorted.data() + (from - sorted.begin()), terms.data(), count, grid[i], s, c);
      density[i] = sumOf(terms.data(), count);
      peak = std::max(peak, density[i]);
    }
  }
  if (finite && static_cast<double>(values.size()) * kTermCut / c > 1e-13 * peak) peak = everyTerm();

  std::vector<DensityPoint> curve(kDensityPoints);
  for (int i = 0; i < kDensityPoints; ++i) curve[i] = {grid[i], density[i] / peak};
  return curve;
}

double DescriptiveStatistics::se(double sd, double size) { return sd / std::sqrt(size); }

double DescriptiveStatistics::sdBinomial(double p) { return std::sqrt(p * (1 - p)); }

}  // namespace tabulix
