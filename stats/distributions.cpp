#include "stats/distributions.h"

#include <algorithm>
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

// I_x(a, b) by its continued fraction. `mayReflect` limits the symmetry
// I_x(a, b) = 1 - I_(1-x)(b, a) to one level: rounding of 1 - x near the
// switch point could otherwise bounce between the two sides for ever.
double incompleteBetaFraction(double x, double a, double b, bool mayReflect) {
  if (mayReflect && x > (a + 1) / (a + b + 2)) return 1 - incompleteBetaFraction(1 - x, b, a, false);

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

  const double front = std::pow(x, a) * std::pow(1 - x, b) / (a * Distributions::betaFunction(a, b));
  return front / f;
}

}  // namespace

// --- Normal ---

double Distributions::normcdfz(double z) { return (1 + std::erf(z / std::numbers::sqrt2)) / 2; }

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
  const double y = 2 * p - 1;
  const double l = std::log(1 - y * y);
  const double h = c + l / 2;
  const double e = std::sqrt(std::sqrt(h * h - l / a) - h);
  return kSign[p < 0.5] * e;
}

// --- Student t ---

double Distributions::dtpdf(double x, double mean, double stdDev, double df) {
  if (!(df > 0)) return kNaN;
  const double z = (x - mean) / stdDev;
  return 1 / (std::sqrt(df) * betaFunction(0.5, df / 2) * std::pow(1 + z * z / df, (df + 1) / 2));
}

double Distributions::tcdf(double t, double df) {
  if (!(df > 0)) return kNaN;
  if (df > 1000) return normcdfz(t);
  const double s = std::sqrt(t * t + df);
  return incompleteBeta((s + t) / (2 * s), df / 2, df / 2);
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
  return 1 - p_gamma(df / 2, x / 2);
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
  const double s = df1 * f + df2;
  if (df1 * f > df2) return incompleteBeta(df2 / s, df2 / 2, df1 / 2);
  return 1 - incompleteBeta(df1 * f / s, df1 / 2, df2 / 2);
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
  double term = std::exp(a * std::log(x) - x - logGamma(a)) / a;
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
  // Continued fraction by Laguerre polynomials: la, lb are successive
  // denominators L_(k-1), L_k.
  double la = 1;
  double lb = x + 1 - a;
  double w = std::exp(a * std::log(x) - x - logGamma(a));
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

double Distributions::logBeta(double a, double b) { return logGamma(a) + logGamma(b) - logGamma(a + b); }

double Distributions::betaFunction(double a, double b) {
  // The gamma ratio overflows for large arguments; switch to logarithms.
  if (a + b <= 100) return std::tgamma(a) * std::tgamma(b) / std::tgamma(a + b);
  return std::exp(logBeta(a, b));
}

double Distributions::incompleteBeta(double x, double a, double b) {
  return incompleteBetaFraction(x, a, b, true);
}

double Distributions::binomialTerm(int n, int k, double p) {
  // n - k in 64 bits: with a negative k it can exceed int.
  const long long rest = static_cast<long long>(n) - k;
  double v = std::pow(p, k) * std::pow(1 - p, static_cast<double>(rest));
  const long long hi = std::max<long long>(k, rest);
  const long long lo = std::min<long long>(k, rest);
  // An underflowed power stays 0 through the products; skip the long loops.
  if (v == 0) return 0;
  // C(n, k) as n! / hi! divided by lo!, interleaved with the probability so
  // that neither factorial is formed.
  for (long long i = n; i > hi; --i) {
    if (v >= DBL_MAX) return 0;
    v *= static_cast<double>(i);
  }
  for (long long i = lo; i >= 2; --i) v /= static_cast<double>(i);
  return v;
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
