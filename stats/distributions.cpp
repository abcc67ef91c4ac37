#include "stats/distributions.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <mutex>
#include <numbers>
#include <utility>

#include "stats/log_hook.h"

namespace tabulix {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Diagnostic lines go to the one log through the hook the engine installs.
void logDiagnostic(const char* text) { statsLog(text); }

// ln Γ(x) without touching the global `signgam` that std::lgamma writes, so
// concurrent callers do not race.
double logGamma(double x) {
  int sign = 0;
  return ::lgamma_r(x, &sign);
}

// The continued fractions and series stop once a step changes the result by
// less than this (a few units in the last place).
constexpr double kConvergence = 4 * DBL_EPSILON;
// Lentz's method replaces a zero denominator by this.
constexpr double kTiny = 1e-300;
// The longest continued fraction incompleteBeta evaluates: near the mean the
// fraction needs about 10 √(max(a, b)) terms, 3e5 covers shapes up to 1e9.
constexpr long kBetaFractionTerms = 300000;

// The term limit of the incomplete gamma series and fraction at shape a: both
// need about 10 √a terms where x is close to a.
long gammaTerms(double a) { return 1000 + static_cast<long>(std::min(20 * std::sqrt(std::fabs(a)), 1e6)); }

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
  // ln(x / m) as a difference where the ratio overflows (m subnormal).
  const double ratio = x / m;
  const double logRatio = std::isfinite(ratio) && ratio > 0 ? std::log(ratio) : std::log(x) - std::log(m);
  return x * logRatio + m - x;
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

// The fraction 1 + d1 / (1 + d2 / ...) of I_x(a, b) in the arithmetic Real,
// evaluated forwards by the modified Lentz method until it no longer changes
// by more than a few units in the last place. Close to 1, x is taken as 1 − y
// (y being the precise one of the two there).
template <class Real>
Real betaFractionValue(double x, double y, double a, double b) {
  const Real X = x > 0.5 ? Real(1) - Real(y) : Real(x), A = a, B = b;
  Real c = 1;
  Real d = 0;
  Real f = 1;
  bool previousNegligible = false;
  for (long m = 1; m <= kBetaFractionTerms; ++m) {
    const Real k = static_cast<Real>(m / 2);
    const Real coefficient = m % 2 == 1 ? -(A + k) * (A + B + k) * X / ((A + 2 * k) * (A + 2 * k + 1))
                                        : k * (B - k) * X / ((A + 2 * k - 1) * (A + 2 * k));
    d = 1 + coefficient * d;
    if (std::fabs(d) < kTiny) d = kTiny;
    c = 1 + coefficient / c;
    if (std::fabs(c) < kTiny) c = kTiny;
    d = 1 / d;
    const Real step = c * d;
    f *= step;
    // Even and odd terms alternate in size (the even ones can be tiny while
    // the next odd one still counts), so a pair of negligible steps ends it.
    const bool negligible = std::fabs(step - 1) < kConvergence;
    if (negligible && previousNegligible) return f;
    previousNegligible = negligible;
  }
  logDiagnostic("incompleteBeta() could not converge.");
  return f;
}

// I_x(a, b) by its continued fraction
// I = x^a y^b / (a B(a, b)) · 1 / (1 + d1 / (1 + d2 / (1 + ...))), with
// y = 1 − x given separately.
double betaFraction(double x, double y, double a, double b) {
  if (x == 0) return 0;
  const double front = betaPrefactor(x, y, a, b) / a;
  if (front == 0) return 0;
  // With x close to 1 (the upper tail of a beta with a large first shape, as
  // in the t distribution of many degrees of freedom) the leading terms
  // 1 + d1 ... nearly cancel, to about 1 − x of their size, so that the last
  // bit of x would be magnified by 1 / (1 − x): there the fraction runs in
  // extended precision on x = 1 − y, which keeps 1e-13 down to 1 − x = 1e-6.
  if (x > 0.5) return front / static_cast<double>(betaFractionValue<long double>(x, y, a, b));
  return front / betaFractionValue<double>(x, y, a, b);
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

// erfc(−z / √2) / 2 on both sides: the lower tail never passes through
// 1 + erf, so it keeps its digits far below 1e-12, and normcdfz(−z) is the
// upper tail to the same precision.
double Distributions::normcdfz(double z) { return std::erfc(-z / std::numbers::sqrt2) / 2; }

double Distributions::normcdf(double x, double mean, double stdDev) { return normcdfz((x - mean) / stdDev); }

double Distributions::dnormpdf(double x, double mean, double stdDev) {
  const double z = (x - mean) / stdDev;
  return 1 / (stdDev * 2.5066282746310002 * std::exp(z * z / 2));
}

namespace {

// Coefficients of Wichura's AS 241 (PPND16), lowest order first: numerator and
// denominator near the median (|p − ½| ≤ 0.425), in the tails up to
// r = √(−ln p) = 5, and beyond.
constexpr std::array<double, 8> kNormA{
    3.3871328727963666080e0,  1.3314166789178437745e+2, 1.9715909503065514427e+3, 1.3731693765509461125e+4,
    4.5921953931549871457e+4, 6.7265770927008700853e+4, 3.3430575583588128105e+4, 2.5090809287301226727e+3};
constexpr std::array<double, 8> kNormB{1.0,
                                       4.2313330701600911252e+1,
                                       6.8718700749205790830e+2,
                                       5.3941960214247511077e+3,
                                       2.1213794301586595867e+4,
                                       3.9307895800092710610e+4,
                                       2.8729085735721942674e+4,
                                       5.2264952788528545610e+3};
constexpr std::array<double, 8> kNormC{1.42343711074968357734e0,  4.63033784615654529590e0,
                                       5.76949722146069140550e0,  3.64784832476320460504e0,
                                       1.27045825245236838258e0,  2.41780725177450611770e-1,
                                       2.27238449892691845833e-2, 7.74545014278341407640e-4};
constexpr std::array<double, 8> kNormD{1.0,
                                       2.05319162663775882187e0,
                                       1.67638483018380384940e0,
                                       6.89767334985100004550e-1,
                                       1.48103976427480074590e-1,
                                       1.51986665636164571966e-2,
                                       5.47593808499534494600e-4,
                                       1.05075007164441684324e-9};
constexpr std::array<double, 8> kNormE{6.65790464350110377720e0,  5.46378491116411436990e0,
                                       1.78482653991729133580e0,  2.96560571828504891230e-1,
                                       2.65321895265761230930e-2, 1.24266094738807843860e-3,
                                       2.71155556874348757815e-5, 2.01033439929228813265e-7};
constexpr std::array<double, 8> kNormF{1.0,
                                       5.99832206555887937690e-1,
                                       1.36929880922735805310e-1,
                                       1.48753612908506148525e-2,
                                       7.86869131145613259100e-4,
                                       1.84631831751005468180e-5,
                                       1.42151175831644588870e-7,
                                       2.04426310338993978564e-15};

// c[0] + c[1] r + … + c[7] r⁷ by Horner's rule.
double polynomial(const std::array<double, 8>& c, double r) {
  double v = c[7];
  for (int i = 6; i >= 0; --i) v = v * r + c[i];
  return v;
}

}  // namespace

double Distributions::normZForConfidence(double p) {
  // Wichura's AS 241 (PPND16): rational approximations of degree 7 in three
  // ranges, accurate to about 1 part in 1e16.
  if (std::isnan(p)) return p;
  if (p <= 0) return p == 0 ? -std::numeric_limits<double>::infinity() : kNaN;
  if (p >= 1) return p == 1 ? std::numeric_limits<double>::infinity() : kNaN;
  const double q = p - 0.5;
  if (std::fabs(q) <= 0.425) {
    const double r = 0.180625 - q * q;
    return q * polynomial(kNormA, r) / polynomial(kNormB, r);
  }
  // The smaller tail itself: p, or 1 − p, which is exact for p ≥ ½.
  const double r = std::sqrt(-std::log(q < 0 ? p : 1 - p));
  const double z = r <= 5 ? polynomial(kNormC, r - 1.6) / polynomial(kNormD, r - 1.6)
                          : polynomial(kNormE, r - 5) / polynomial(kNormF, r - 5);
  return q < 0 ? -z : z;
}

// --- Student t ---

double Distributions::dtpdf(double x, double mean, double stdDev, double df) {
  if (!(df > 0)) return kNaN;
  const double z = (x - mean) / stdDev;
  // (1 + z² / df)^((df + 1) / 2) through log1p: 1 + z² / df rounds away most
  // of z² / df once df is large. Beyond |z| = 1e150, where z² overflows, the
  // logarithm is 2 ln |z| − ln df (the 1 no longer counts).
  const double az = std::fabs(z);
  const double logBase = az < 1e150 ? std::log1p(z * z / df) : 2 * std::log(az) - std::log(df);
  return 1 / (std::sqrt(df) * betaFunction(0.5, df / 2) * std::exp((df + 1) / 2 * logBase));
}

double Distributions::tcdf(double t, double df) {
  if (!(df > 0)) return kNaN;
  if (std::isnan(t)) return t;
  if (std::isinf(t)) return t < 0 ? 0 : 1;
  // For every df: the two-sided tail P(|T| > |t|) is the upper tail of
  // Beta(½, df/2) at x = t² / (df + t²), with 1 − x = df / (df + t²) formed
  // separately; the beta tails take it from the side where their fraction
  // converges, so a small one-sided tail is computed itself. Beyond |t| = 1e150
  // t² would overflow; there both points come from r = df / t².
  const double at = std::fabs(t);
  if (df > 1e7) {
    // The fraction below carries the rounding of 1 − x ≈ 1 − t² / df in
    // extended precision, about 1e-19 · df / t² relative. Where that exceeds
    // the error of the expansion Φ(−|t| (1 − 1 / 4df) / √(1 + t² / 2df)),
    // whose first-order term is exact and whose remainder is about
    // 0.05 t⁶ / df² relative, the expansion is used: t⁸ < 2.2e-18 df³.
    const double t4 = at * at * at * at;
    if (t4 * t4 < 2.2e-18 * df * df * df) {
      const double w = at * (1 - 1 / (4 * df)) / std::sqrt(1 + at * at / (2 * df));
      const double tail = normcdfz(-w);
      return t < 0 ? tail : 1 - tail;
    }
  }
  if (at >= 1e150) {
    // Where t² overflows, 1 − x = df / t² is below df · 1e-300 and the two-sided
    // tail is the leading term of its series, (df / t²)^(df/2) / ((df/2) B(df/2, ½)),
    // formed in logarithms (for df = 1 the Cauchy tail 2 / (π |t|)).
    const double logTwo =
        df / 2 * (std::log(df) - 2 * std::log(at)) - std::log(df / 2) - logBeta(df / 2, 0.5);
    const double tail = std::exp(logTwo) / 2;
    return t < 0 ? tail : 1 - tail;
  }
  const double t2 = at * at;
  const double x = t2 / (df + t2);
  const double y = df / (df + t2);
  const double half = betaTails(x, y, 0.5, df / 2).upper / 2;
  return t < 0 ? half : 1 - half;
}

double Distributions::tcdf(double x, double mean, double stdDev, double df) {
  return tcdf((x - mean) / stdDev, df);
}

namespace {

// Hill's algorithm 396 for the t quantile with upper tail p (two-tailed
// probability 2p): the start of the Newton iteration in tForConfidence.
double hillStart(double p, double df) {
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
    const double x = Distributions::normZForConfidence(P / 2);
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

// The root u = ln x of ln F(x) = ln target for a tail F monotone in x, by
// Newton steps in the logarithms, safeguarded by bisection in u once a bracket
// is known. `tail` gives F(x) and x · |dF/dx|; `increasing` says which way F
// runs. In the logarithms both tails are close to straight lines far out, so
// the steps converge from a rough start to full double precision in a few
// iterations, down to targets of 1e-300. Returns +inf when the root lies
// beyond the largest double.
template <class Tail>
double solveTail(double start, double target, bool increasing, Tail tail) {
  constexpr double kMaxLog = 709.7;   // ln DBL_MAX
  constexpr double kMinLog = -708.3;  // ln DBL_MIN: roots among the subnormals are given as 0
  double u = std::log(start);
  double lo = -std::numeric_limits<double>::infinity(), hi = std::numeric_limits<double>::infinity();
  const double logTarget = std::log(target);
  for (int iteration = 0; iteration < 200; ++iteration) {
    // A step past the range of doubles is tried at its end: a root beyond
    // it is +inf or 0.
    const bool ceiling = u >= kMaxLog, floor = u <= kMinLog;
    u = std::clamp(u, kMinLog, kMaxLog);
    const double x = std::exp(u);
    const auto [f, slope] = tail(x);
    // Too far along F: the root is at smaller x.
    const bool beyond = increasing ? f > target : f < target;
    if (f == target) return x;
    if (ceiling && !beyond) return std::numeric_limits<double>::infinity();
    if (floor && beyond) return 0;
    if (beyond)
      hi = u;
    else
      lo = u;
    double next;
    if (f > 0 && slope > 0 && std::isfinite(f)) {
      const double step = (std::log(f) - logTarget) * f / slope;
      next = increasing ? u - step : u + step;
      if (std::fabs(next - u) <= 2 * DBL_EPSILON * std::max(1.0, std::fabs(u))) return std::exp(next);
    } else {
      next = std::numeric_limits<double>::quiet_NaN();
    }
    if (!(next > lo && next < hi)) {
      // Outside the bracket (or no usable slope): bisect, or widen by a
      // factor e^8 while one side is still open.
      if (std::isfinite(lo) && std::isfinite(hi))
        next = (lo + hi) / 2;
      else
        next = std::isfinite(lo) ? lo + 8 : hi - 8;
      if (std::isfinite(lo) && std::isfinite(hi) && hi - lo <= 2 * DBL_EPSILON * std::max(1.0, std::fabs(u)))
        return std::exp(next);
    }
    u = next;
  }
  return std::exp(u);
}

}  // namespace

double Distributions::tForConfidence(double p, double df) {
  if (!(df > 0) || std::isnan(p)) return kNaN;
  if (p <= 0) return p == 0 ? std::numeric_limits<double>::infinity() : kNaN;
  if (p >= 1) return p == 1 ? -std::numeric_limits<double>::infinity() : kNaN;
  if (p == 0.5) return 0;
  // Upper tails above ½ belong to negative values; 1 − p is exact there.
  if (p > 0.5) return -tForConfidence(1 - p, df);
  if (std::isinf(df)) return -normZForConfidence(p);
  // The Cauchy quantile in closed form, exact to rounding (0.5 − p is exact
  // from p = 0.25 on); also where its density underflows (p below 1e-154).
  if (df == 1) return p < 0.25 ? 1 / std::tan(std::numbers::pi * p) : std::tan(std::numbers::pi * (0.5 - p));
  // Newton steps on the exact upper tail P(T > t) = tcdf(−t), from Hill's
  // approximation, to full precision.
  double start = hillStart(p, df);
  if (!(start > 0) || !std::isfinite(start)) start = 1;
  return solveTail(start, p, false, [df](double t) {
    return std::pair{tcdf(-t, df), t * dtpdf(t, 0, 1, df)};
  });
}

// --- Chi-square ---

double Distributions::chicdf(double x, double df) {
  if (!(df > 0)) return kNaN;
  if (std::isnan(x)) return x;
  if (x <= 0) return 1;
  // 1 − P(df/2, x/2) is Q(df/2, x/2); taken directly it keeps small tails.
  return q_gamma(df / 2, x / 2);
}

double Distributions::chiXForConfidence(double p, double df) {
  if (!(df > 0) || std::isnan(p)) return kNaN;
  if (p <= 0) return p == 0 ? 0 : kNaN;
  if (p >= 1) return p == 1 ? std::numeric_limits<double>::infinity() : kNaN;
  const double a = df / 2;
  // Start: Wilson–Hilferty ((X / df)^(1/3) close to normal with mean 1 − k and
  // variance k); for few degrees of freedom in the lower tail, where it turns
  // negative, the leading term of the series, P(a, y) ≈ y^a / Γ(a + 1).
  const double k = 2 / (9 * df);
  const double w = 1 - k + normZForConfidence(p) * std::sqrt(k);
  double start = df * w * w * w;
  if (df < -1.24 * std::log(p) || !(start > 0)) start = 2 * std::exp((std::log(p) + logGamma(a + 1)) / a);
  if (!(start > 0) || !std::isfinite(start)) start = df;
  // Newton steps on the smaller tail itself: P(a, x/2) up to p = ½, Q(a, x/2)
  // with its target 1 − p (exact there) above. x · density = the gamma
  // prefactor (x/2)^a e^(−x/2) / Γ(a).
  const bool lower = p <= 0.5;
  return solveTail(start, lower ? p : 1 - p, lower, [a, lower](double x) {
    const double y = x / 2;
    return std::pair{lower ? p_gamma(a, y) : q_gamma(a, y), gammaPrefactor(a, y)};
  });
}

double Distributions::chiXForConfidence(double p) {
  // The one-degree quantile at 1 − 2 (1 − p) = 2p − 1 is the square of the
  // normal quantile of p, since P(X ≤ z²) = 2 Φ(z) − 1.
  if (!(p >= 0.5)) return kNaN;
  const double z = normZForConfidence(p);
  return z * z;
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

// Both tails through the incomplete beta function, as R's pbinom:
// P(X ≤ x) = 1 − I_p(x + 1, n − x) and P(X ≥ x) = I_p(x, n − x + 1), each
// taken from the side where the fraction converges, so a small tail is
// computed itself rather than as 1 − (a sum near 1).
double Distributions::biLowerTail(int x, double mean, int obs) {
  if (obs < 0 || !(mean >= 0 && mean <= 1)) return kNaN;
  if (x < 0) return 0;
  if (x >= obs || mean == 0) return 1;
  if (mean == 1) return 0;
  return betaTails(mean, 1 - mean, x + 1.0, static_cast<double>(obs) - x).upper;
}

double Distributions::biUpperTail(int x, double mean, int obs) {
  if (obs < 0 || !(mean >= 0 && mean <= 1)) return kNaN;
  if (x <= 0) return 1;
  if (x > obs || mean == 0) return 0;
  if (mean == 1) return 1;
  return betaTails(mean, 1 - mean, static_cast<double>(x), static_cast<double>(obs) - x + 1).lower;
}

// --- Helpers ---

double Distributions::p_gamma(double a, double x) {
  if (std::isnan(a) || std::isnan(x)) return kNaN;
  if (x >= a + 1) return 1 - q_gamma(a, x);
  if (x <= 0) return 0;
  // Power series x^a e^-x / Γ(a+1) · Σ x^k / ((a+1)…(a+k)), to the term that
  // no longer changes the sum.
  double term = gammaPrefactor(a, x) / a;
  double sum = term;
  const long limit = gammaTerms(a);
  for (long k = 1; k <= limit; ++k) {
    term = term * x / (a + static_cast<double>(k));
    const double next = sum + term;
    if (next == sum) return next;
    sum = next;
  }
  logDiagnostic("p_gamma() could not converge.");
  return sum;
}

double Distributions::q_gamma(double a, double x) {
  if (std::isnan(a) || std::isnan(x)) return kNaN;
  if (x < a + 1) return 1 - p_gamma(a, x);
  if (std::isinf(x)) return 0;
  // Legendre's continued fraction
  // Q = x^a e^-x / Γ(a) · 1 / (x + 1 − a − 1·(1 − a) / (x + 3 − a − 2·(2 − a) / (x + 5 − a − …))),
  // evaluated forwards by the modified Lentz method, whose ratios stay near 1
  // where the plain Laguerre recurrences overflowed at large shapes.
  const double front = gammaPrefactor(a, x);
  if (front == 0) return 0;
  double b = x + 1 - a;
  double c = 1 / kTiny;
  double d = 1 / b;
  double h = d;
  const long limit = gammaTerms(a);
  for (long i = 1; i <= limit; ++i) {
    const double di = static_cast<double>(i);
    const double an = -di * (di - a);
    b += 2;
    d = an * d + b;
    if (std::fabs(d) < kTiny) d = kTiny;
    c = b + an / c;
    if (std::fabs(c) < kTiny) c = kTiny;
    d = 1 / d;
    const double step = d * c;
    h *= step;
    if (std::fabs(step - 1) < kConvergence) return front * h;
  }
  logDiagnostic("q_gamma() could not converge.");
  return front * h;
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
