// A root finder for the statistics that invert a monotone function (quantiles of distributions
// without closed form, the conditional odds ratio and its limits).
#pragma once

#include <cmath>

namespace tabulix {

// A root of f in [a, b], where f(a) and f(b) differ in sign (else the end nearer zero), by
// Brent's method (inverse quadratic interpolation safeguarded by bisection) to an interval of
// width tol · max(1, |x|).
template <class F>
double brentRoot(F&& f, double a, double b, double tol) {
  double fa = f(a), fb = f(b);
  if (fa == 0) return a;
  if (fb == 0) return b;
  if ((fa > 0) == (fb > 0)) return std::fabs(fa) < std::fabs(fb) ? a : b;
  double c = a, fc = fa, d = b - a, e = d;
  for (int iter = 0; iter < 200; ++iter) {
    if ((fb > 0) == (fc > 0)) {
      c = a;
      fc = fa;
      d = e = b - a;
    }
    if (std::fabs(fc) < std::fabs(fb)) {
      a = b; b = c; c = a;
      fa = fb; fb = fc; fc = fa;
    }
    const double tolx = 2e-16 * std::fabs(b) + tol * std::fmax(1.0, std::fabs(b)) / 2;
    const double m = (c - b) / 2;
    if (std::fabs(m) <= tolx || fb == 0) return b;
    if (std::fabs(e) >= tolx && std::fabs(fa) > std::fabs(fb)) {
      double p, q;
      const double s = fb / fa;
      if (a == c) {
        p = 2 * m * s;
        q = 1 - s;
      } else {
        const double qa = fa / fc, r = fb / fc;
        p = s * (2 * m * qa * (qa - r) - (b - a) * (r - 1));
        q = (qa - 1) * (r - 1) * (s - 1);
      }
      if (p > 0) q = -q; else p = -p;
      if (2 * p < std::fmin(3 * m * q - std::fabs(tolx * q), std::fabs(e * q))) {
        e = d;
        d = p / q;
      } else {
        d = m;
        e = m;
      }
    } else {
      d = m;
      e = m;
    }
    a = b;
    fa = fb;
    b += std::fabs(d) > tolx ? d : (m > 0 ? tolx : -tolx);
    fb = f(b);
  }
  return b;
}

}  // namespace tabulix
