#include "stats/distributions.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <mutex>
#include <numbers>

namespace tabulix {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// ln Γ(x) without touching the global `signgam` that std::lgamma writes, so
// concurrent callers do not race.
double logGamma(double x) {
  int sign = 0;
  return ::lgamma_r(x, &sign);
}

// Diagnostic lines of the numeric routines go to stderr in one write (this
// module sits below the engine and its log sink).
void logDiagnostic(const char* text) { std::fprintf(stderr, "%s\n", text); }

// The longest continued fraction incompleteBeta evaluates.
constexpr int kBetaFractionTerms = 100;
// The incomplete gamma series and fraction give up after this many terms.
constexpr int kGammaTerms = 999;

// ln √(2π).
constexpr double kLogSqrt2Pi = 0.91893853320467274178;

// Stirling's error, the remainder of ln Γ(z + 1) after Stirling's formula:
// stirlerr(z) = ln Γ(z + 1) − (z + ½) ln z + z − ln √(2π).
// The densities below are written around it (Loader's saddle-point form), so
// that ln Γ of large arguments never has to be formed and then cancelled.
// Whole and half arguments up to 15 come from a table computed once in
// extended precision; larger arguments from the asymptotic series
// 1/(12z) − 1/(360z³) + 1/(1260z⁵) − 1/(1680z⁷) + 1/(1188z⁹), of which fewer
// terms suffice as z grows.
double stirlerr(double z) {
  constexpr double s0 = 1.0 / 12, s1 = 1.0 / 360, s2 = 1.0 / 1260, s3 = 1.0 / 1680, s4 = 1.0 / 1188;
  if (z <= 15) {
    static const std::array<double, 31> halves = [] {
      std::array<double, 31> t{};
      t[0] = 0;
      const long double logSqrt2Pi = 0.5L * std::log(2 * std::numbers::pi_v<long double>);
      for (int i = 1; i <= 30; ++i) {
        const long double v = i / 2.0L;
        int sign = 0;
        t[i] = static_cast<double>(::lgammal_r(v + 1, &sign) - (v + 0.5L) * std::log(v) + v - logSqrt2Pi);
      }
      return t;
    }();
    const double twice = z + z;
    if (twice == std::floor(twice)) return halves[static_cast<int>(twice)];
    // ln Γ(z) rather than ln Γ(z + 1): z + 1 would lose the low bits of a tiny z.
    return logGamma(z) - (z - 0.5) * std::log(z) + z - kLogSqrt2Pi;
  }
  const double zz = z * z;
  if (z > 500) return (s0 - s1 / zz) / z;
  if (z > 80) return (s0 - (s1 - s2 / zz) / zz) / z;
  if (z > 35) return (s0 - (s1 - (s2 - s3 / zz) / zz) / zz) / z;
  return (s0 - (s1 - (s2 - (s3 - s4 / zz) / zz) / zz) / zz) / z;
}

// The deviance term x ln(x / m) + m − x, computed without cancellation: near
// x = m by the series 2x Σ v^(2j+1) / (2j + 1) − (x − m) v with
// v = (x − m) / (x + m) (Loader 2000), elsewhere directly.
double bd0(double x, double m) {
  if (x == 0) return m;
  if (!std::isfinite(x) || !std::isfinite(m) || m == 0) return std::numeric_limits<double>::infinity();
  if (std::fabs(x - m) < 0.1 * (x + m)) {
    double v = (x - m) / (x + m);
    double s = (x - m) * v;
    double ej = 2 * x * v;
    v *= v;
    for (int j = 1; j < 1000; ++j) {
      ej *= v;
      const double next = s + ej / (2 * j + 1);
      if (next == s) return next;
      s = next;
    }
    return s;
  }
  return x * std::log(x / m) + m - x;
}

// x^a y^b / B(a, b) with y = 1 − x given separately, so that a tail close to
// 0 or 1 keeps its precision. In the Stirling form
// √(ab / (2π(a + b))) · exp(−bd0(a, (a + b) x) − bd0(b, (a + b) y) − stirlerr
// terms) nothing overflows or underflows before the final exponential, which
// is what made the plain product 0 / 0 for large a and b.
double betaPrefactor(double x, double y, double a, double b) {
  const double c = a + b;
  const double deviance = bd0(a, c * x) + bd0(b, c * y);
  const double stirling = (stirlerr(a) + stirlerr(b)) - stirlerr(c);
  return std::sqrt(a * b / (2 * std::numbers::pi * c)) * std::exp(-deviance - stirling);
}

// I_x(a, b) by its continued fraction, with y = 1 − x given separately.
double betaFraction(double x, double y, double a, double b) {
  // Coefficients of F = 1 + d1 / (1 + d2 / (1 + d3 / ...)), generated term by
  // term until two successive ones differ by less than 1e-14 or 100 are taken.
  double d[kBetaFractionTerms + 1];
  d[0] = 1;
  int last = 0;
  for (int m = 1; m <= kBetaFractionTerms; ++m) {
    const int k = m / 2;
    if (m % 2 == 1) {
      d[m] = -(a + k) * (a + b + k) * x / ((a + 2 * k) * (a + 2 * k + 1));
    } else {
      d[m] = k * (b - k) * x / ((a + 2 * k - 1) * (a + 2 * k));
    }
    last = m;
    if (std::fabs(d[m] - d[m - 1]) < 1e-14) break;
  }
  // The cut-off term is closed as 1 + d_last; fold the fraction upwards.
  double f = 1 + d[last];
  for (int m = last - 1; m >= 1; --m) f = 1 + d[m] / f;
  return betaPrefactor(x, y, a, b) / a / f;
}

// Both tails of the beta distribution at x (y = 1 − x): lower = I_x(a, b),
// upper = 1 − I_x(a, b) = I_y(b, a). The fraction runs on the side where it
// converges, x ≤ (a + 1) / (a + b + 2), and there gives its tail directly; the
// other tail is the complement. A small tail on the far side is thus computed
// itself instead of as 1 − (a number close to 1).
struct BetaTails {
  double lower;
  double upper;
};

BetaTails betaTails(double x, double y, double a, double b) {
  if (x > (a + 1) / (a + b + 2)) {
    const double upper = betaFraction(y, x, b, a);
    return {1 - upper, upper};
  }
  const double lower = betaFraction(x, y, a, b);
  return {lower, 1 - lower};
}

// x^a e^(−x) / Γ(a), the common factor of the incomplete gamma series and
// fraction, as √(a / 2π) · exp(−bd0(a, x) − stirlerr(a)): exact in its
// exponent where a ln x − x − ln Γ(a) cancels for large a.
double gammaPrefactor(double a, double x) {
  return std::sqrt(a / (2 * std::numbers::pi)) * std::exp(-bd0(a, x) - stirlerr(a));
}

// Binomial probability from Loader's saddle-point form
// exp(stirlerr(n) − stirlerr(k) − stirlerr(n − k) − bd0(k, np) − bd0(n − k, nq)) / √(2π k (n − k) / n),
// with 0 < k < n. Every sum is symmetric in (k, p) and (n − k, q), so with
// p = ½ the mirrored outcomes give the very same number, which the two-sided
// binomial test relies on to count ties.
double binomialSaddlePoint(double n, double k, double p, double q) {
  const double rest = n - k;
  const double lc = stirlerr(n) - (stirlerr(k) + stirlerr(rest)) - (bd0(k, n * p) + bd0(rest, n * q));
  const double f = 2 * std::numbers::pi * (k * rest) / n;
  return std::exp(lc - 0.5 * std::log(f));
}

}  // namespace

// --- Normal ---

// (1 + erf(z / √2)) / 2; below z = −3 (where 1 + erf would lose more than
// 1e-13 of the result) as the equal erfc(−z / √2) / 2,
// which does not cancel to 0 below z ≈ −8.
double Distributions::normcdfz(double z) {
  if (z < -3) return std::erfc(-z / std::numbers::sqrt2) / 2;
  return (1 + std::erf(z / std::numbers::sqrt2)) / 2;
}

double Distributions::normcdf(double x, double mean, double stdDev) { return normcdfz((x - mean) / stdDev); }

double Distributions::dnormpdf(double x, double mean, double stdDev) {
  const double z = (x - mean) / stdDev;
  return 1 / (stdDev * 2.5066282746310002 * std::exp(z * z / 2));
}

double Distributions::normZForConfidence(double p) {
  // Closed-form inverse error function with a = 0.140012; c = 2 / (π a).
  constexpr double a = 0.140012;
  constexpr double c = 4.54689435453805;
  static constexpr double kSign[2] = {std::numbers::sqrt2, -std::numbers::sqrt2};
  // L = ln(1 − y²), y = 2p − 1. In the tails 1 − y² cancels (and below
  // p ≈ 1e-17 becomes 0, z −∞); there it is formed as the equal 4p(1 − p).
  const double y = 2 * p - 1;
  const double l = p >= 1e-3 && p <= 1 - 1e-3 ? std::log(1 - y * y) : std::log(4 * p * (1 - p));
  const double h = c + l / 2;
  const double e = std::sqrt(std::sqrt(h * h - l / a) - h);
  return kSign[p < 0.5] * e;
}

// --- Student t ---

double Distributions::dtpdf(double x, double mean, double stdDev, double df) {
  if (!(df > 0)) return kNaN;
  const double z = (x - mean) / stdDev;
  // (1 + z² / df)^((df + 1) / 2) through log1p: 1 + z² / df rounds away most
  // of z² / df once df is large.
  return 1 / (std::sqrt(df) * betaFunction(0.5, df / 2) * std::exp((df + 1) / 2 * std::log1p(z * z / df)));
}

double Distributions::tcdf(double t, double df) {
  if (!(df > 0)) return kNaN;
  if (df > 1000) return normcdfz(t);
  if (std::isnan(t)) return t;
  if (std::isinf(t)) return t < 0 ? 0 : 1;
  // I_x(df/2, df/2) at x = (s + t) / (2s), s = √(t² + df). Of x and 1 − x,
  // the one below ½ is (s − |t|) / (2s), formed as the equal
  // df / (2s (s + |t|)), which does not cancel for large |t|; the other is
  // (s + |t|) / (2s).
  const double s = std::fabs(t) < 1e150 ? std::sqrt(t * t + df) : std::fabs(t);
  const double small = df / (2 * s) / (s + std::fabs(t));
  const double large = (s + std::fabs(t)) / (2 * s);
  if (t < 0) return betaTails(small, large, df / 2, df / 2).lower;
  return betaTails(large, small, df / 2, df / 2).lower;
}

double Distributions::tcdf(double x, double mean, double stdDev, double df) {
  return tcdf((x - mean) / stdDev, df);
}

double Distributions::tForConfidence(double p, double df) {
  // Hill's algorithm 396 works with the two-tailed probability.
  if (!(df > 0)) return kNaN;
  if (df > 1e20) return std::fabs(normZForConfidence(p));
  const double P = 2 * p;
  if (df == 1) return 1 / std::tan(std::numbers::pi * P / 2);
  if (df == 2) return std::sqrt(2 / (P * (2 - P)) - 2);

  const double a = 1 / (df - 0.5);
  const double b = 48 / (a * a);
  double c = ((20700 * a / b - 98) * a - 16) * a + 96.36;
  const double d = ((94.5 / (b + c) - 3) / b + 1) * std::sqrt(a * std::numbers::pi / 2) * df;
  double y = std::pow(d * P, 2 / df);
  if ((df < 2.1 && P > 0.5) || y > a + 0.05) {
    // Asymptotic inverse expansion around the normal quantile.
    const double x = normZForConfidence(P / 2);
    const double y2 = x * x;
    if (df < 5) c += 0.3 * (df - 4.5) * (x + 0.6);
    c = (((0.05 * d * x - 5) * x - 7) * x - 2) * x + b + c;
    y = (((((0.4 * y2 + 6.3) * y2 + 36) * y2 + 94.5) / c - y2 - 3) / b + 1) * x;
    y = std::expm1(a * y * y);
  } else {
    y = ((1 / (((df + 6) / (df * y) - 0.089 * d - 0.822) * (df + 2) * 3) + 0.5 / (df + 4)) * y - 1) *
            (df + 1) / (df + 2) +
        1 / y;
  }
  return std::sqrt(df * y);
}

// --- Chi-square ---

double Distributions::chicdf(double x, double df) {
  if (!(df > 0)) return kNaN;
  if (x <= 0) return 1;
  // 1 − P(df/2, x/2) is Q(df/2, x/2); taken directly it keeps small tails.
  return q_gamma(df / 2, x / 2);
}

double Distributions::chiXForConfidence(double p, double df) {
  // Wilson–Hilferty: (X / df)^(1/3) is close to normal with mean 1 - k and variance k.
  if (!(df > 0)) return kNaN;
  const double z = normZForConfidence(p);
  const double k = 2 / (9 * df);
  const double w = 1 - k + z * std::sqrt(k);
  return df * (w * w * w);
}

double Distributions::chiXForConfidence(double p) {
  // Wilson–Hilferty with one degree of freedom (1 - k = 7/9, √k = √2 / 3).
  const double q = 1 - 2 * (1 - p);
  const double z = normZForConfidence(q);
  const double w = 7.0 / 9.0 + z * std::numbers::sqrt2 / 3;
  return w * w * w;
}

double Distributions::dchipdf(double x, double mean, double obs) {
  const double v = (x - mean) * (x - mean) * obs / (mean * (1 - mean));
  return 1 / (std::exp(v / 2) * std::sqrt(v) * std::tgamma(0.5) * std::numbers::sqrt2);
}

// --- F ---

double Distributions::fcdf(double f, double df1, double df2) {
  if (!(df1 > 0) || !(df2 > 0)) return kNaN;
  // The upper tail I_y(df2/2, df1/2) at y = df2 / s (= 1 − I_x(df1/2, df2/2) at
  // x = df1 f / s), both points formed directly and the tail taken from
  // whichever side the fraction evaluates.
  if (std::isnan(f)) return f;
  if (f <= 0) return 1;
  if (std::isinf(f)) return 0;
  const double s = df1 * f + df2;
  return betaTails(df2 / s, df1 * f / s, df2 / 2, df1 / 2).lower;
}

// --- Binomial ---

double Distributions::bipdf(int x, double mean, int obs) { return binomialTerm(obs, x, mean); }

double Distributions::dbipdf(double x, double mean, double obs) {
  // Truncation to int is only defined inside int's range.
  constexpr double lo = std::numeric_limits<int>::min();
  constexpr double hi = std::numeric_limits<int>::max();
  if (!(x > lo - 1 && x < hi + 1.0) || !(obs > lo - 1 && obs < hi + 1.0)) return kNaN;
  return binomialTerm(static_cast<int>(obs), static_cast<int>(x), mean);
}

double Distributions::bicdf(int x, double mean, int obs) {
  if (obs < 0) return 1;
  // Two-sided: the probability of every outcome at most as likely as x.
  const double px = binomialTerm(obs, x, mean);
  double sum = 0;
  for (int j = 0; j <= obs; ++j) {
    const double pj = binomialTerm(obs, j, mean);
    if (pj <= px) sum += pj;
  }
  return 1 - 0.5 * sum;
}

// --- Helpers ---

double Distributions::p_gamma(double a, double x) {
  if (x >= a + 1) return 1 - q_gamma(a, x);
  if (x == 0) return 0;
  // Power series x^a e^-x / Γ(a+1) · Σ x^k / ((a+1)…(a+k)).
  double term = gammaPrefactor(a, x) / a;
  double sum = term;
  for (int k = 1; k <= kGammaTerms; ++k) {
    term = term * x / (a + k);
    const double next = sum + term;
    if (next == sum) return next;
    sum = next;
  }
  logDiagnostic("p_gamma() could not converge.");
  return sum;
}

double Distributions::q_gamma(double a, double x) {
  if (x < a + 1) return 1 - p_gamma(a, x);
  if (std::isinf(x)) return 0;
  // Continued fraction by Laguerre polynomials: la, lb are successive
  // denominators L_(k-1), L_k.
  double la = 1;
  double lb = x + 1 - a;
  double w = gammaPrefactor(a, x);
  double sum = w / lb;
  for (int k = 2; k <= kGammaTerms; ++k) {
    const double next = ((k - 1 - a) * (lb - la) + (k + x) * lb) / k;
    la = lb;
    lb = next;
    w = w * (k - 1 - a) / k;
    const double nextSum = sum + w / (la * lb);
    if (nextSum == sum) return nextSum;
    sum = nextSum;
  }
  logDiagnostic("q_gamma() could not converge.");
  return sum;
}

double Distributions::logBeta(double a, double b) {
  // ln Γ(a) + ln Γ(b) − ln Γ(a + b) loses ε · ln Γ(a + b) to cancellation:
  // below a + b = 1000 at most 7e-13, beyond that more than the result's own
  // size once the arguments are huge. There Stirling's form is used.
  const double c = a + b;
  if (!(c >= 1000) || std::isinf(c)) return logGamma(a) + logGamma(b) - logGamma(c);
  const double lo = std::min(a, b), hi = std::max(a, b);
  if (lo < 15) {
    // One small argument: ln Γ(hi) − ln Γ(c) = −(c − ½) ln(1 + lo/hi) − lo ln hi + lo
    // + stirlerr(hi) − stirlerr(c), in which nothing of size ln Γ(c) is formed.
    return logGamma(lo) - (c - 0.5) * std::log1p(lo / hi) - lo * std::log(hi) + lo +
           (stirlerr(hi) - stirlerr(c));
  }
  // Both large: (a − ½) ln(a/c) + (b − ½) ln(b/c) − ½ ln c + ln √(2π) + stirlerr(a) + stirlerr(b)
  // − stirlerr(c), terms of one sign; ln(lo/c) = −ln(1 + hi/lo) and ln(hi/c) = −ln(1 + lo/hi).
  const double terms =
      -(lo - 0.5) * std::log1p(hi / lo) - (hi - 0.5) * std::log1p(lo / hi) - 0.5 * std::log(c);
  return terms + kLogSqrt2Pi + ((stirlerr(lo) + stirlerr(hi)) - stirlerr(c));
}

double Distributions::betaFunction(double a, double b) {
  // The gamma ratio overflows for large arguments; switch to logarithms.
  if (a + b <= 100) return std::tgamma(a) * std::tgamma(b) / std::tgamma(a + b);
  return std::exp(logBeta(a, b));
}

double Distributions::incompleteBeta(double x, double a, double b) { return betaTails(x, 1 - x, a, b).lower; }

double Distributions::binomialTerm(int n, int k, double p) {
  if (n < 0 || !(p >= 0 && p <= 1)) return kNaN;
  if (k < 0 || k > n) return 0;
  if (p == 0) return k == 0 ? 1 : 0;
  if (p == 1) return k == n ? 1 : 0;
  const double q = 1 - p;
  // Few trials: C(n, k) as n! / hi! divided by lo!, interleaved with the
  // probability so that neither factorial is formed. Up to 100 trials the
  // partial product stays far below overflow, the rounding error below 1e-14,
  // and the two powers, when they are normal numbers, keep their precision;
  // terms of p = ½ are then exact for small n.
  constexpr int kProductTrials = 100;
  if (n <= kProductTrials) {
    double v = std::pow(p, k) * std::pow(q, n - k);
    if (v >= DBL_MIN) {
      const int hi = std::max(k, n - k);
      const int lo = std::min(k, n - k);
      for (int i = n; i > hi; --i) v *= i;
      for (int i = lo; i >= 2; --i) v /= i;
      return v;
    }
  }
  // Otherwise the saddle-point form, whose work does not grow with n.
  if (k == 0 || k == n) {
    // q^n or p^n; log1p(−p) where q = 1 − p was rounded (p < ½), log(q) where it is exact.
    const double logQ = p < 0.5 ? std::log1p(-p) : std::log(q);
    return std::exp(n * (k == 0 ? logQ : std::log(p)));
  }
  return binomialSaddlePoint(n, k, p, q);
}

double Distributions::roundHalfUp(double x) { return std::floor(x + 0.5); }

double Distributions::randomUniform() {
  static std::once_flag seeded;
  static std::mutex generator;
  std::call_once(seeded, [] { ::srand48(static_cast<long>(std::time(nullptr))); });
  // drand48 keeps one process-wide state that is not safe for concurrent steps.
  std::lock_guard<std::mutex> lock(generator);
  return ::drand48();
}

}  // namespace tabulix
