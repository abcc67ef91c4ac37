// Probability distributions of the statistics library: normal, Student t,
// chi-square, F and binomial densities, tail probabilities and quantiles, with
// the numeric helpers beneath them (incomplete gamma and beta functions,
// binomial terms, half-up rounding, a uniform random source).
//
// Every routine is a pure function of its arguments (except randomUniform) and
// never throws: out-of-domain input gives the IEEE result (NaN, an infinity or
// 0), and non-convergence of a series or continued fraction is only logged
// (stats/log_hook.h). Tails and quantiles are exact to about 1e-13 relative
// (docs/numerics.md gives the distance to R per routine): no closed-form
// approximation is left in a reported p-value or critical value.
#pragma once

namespace tabulix {

class Distributions {
 public:
  // --- Normal distribution ---

  // Lower tail of the standard normal, erfc(-z / sqrt 2) / 2; normcdfz(-z) is the upper tail, as precise.
  static double normcdfz(double z);
  // Lower tail of the normal with the given mean and standard deviation at x.
  static double normcdf(double x, double mean, double stdDev);
  // Normal density at x.
  static double dnormpdf(double x, double mean, double stdDev);
  // Standard normal quantile with lower tail p (Wichura's AS 241).
  static double normZForConfidence(double p);

  // --- Student t distribution ---

  // Student t density of the standardised value (x - mean) / stdDev; not divided by stdDev.
  static double dtpdf(double x, double mean, double stdDev, double df);
  // Lower tail P(T <= t) with df degrees of freedom, through the incomplete beta function, for every df.
  static double tcdf(double t, double df);
  // Lower tail P(T <= (x - mean) / stdDev) with df degrees of freedom.
  static double tcdf(double x, double mean, double stdDev, double df);
  // Critical value with upper tail p (Newton steps on tcdf from Hill's algorithm 396); p = 0.025 for a 95%
  // interval.
  static double tForConfidence(double p, double df);

  // --- Chi-square distribution ---

  // Upper tail P(X >= x) of the chi-square with df degrees of freedom.
  static double chicdf(double x, double df);
  // Chi-square value with lower tail p and df degrees of freedom (Newton steps on the incomplete gamma
  // function).
  static double chiXForConfidence(double p, double df);
  // One-degree chi-square value with lower tail 1 - 2 (1 - p), the square of the normal quantile of p; NaN
  // below p = 0.5.
  static double chiXForConfidence(double p);
  // One-degree chi-square density of the standardised squared distance of a proportion x from mean.
  static double dchipdf(double x, double mean, double obs);

  // --- F distribution ---

  // Upper tail P(F >= f) with df1 and df2 degrees of freedom (the p-value of an F test).
  static double fcdf(double f, double df1, double df2);

  // --- Binomial distribution (obs trials, success probability mean, count x) ---

  // Probability of exactly x successes: binomialTerm(obs, x, mean).
  static double bipdf(int x, double mean, int obs);
  // bipdf for chart code: x and obs are truncated to whole numbers.
  static double dbipdf(double x, double mean, double obs);
  // Two-sided tail: 1 - (sum of P(j) over j with P(j) <= P(x)) / 2; 1 when obs < 0.
  static double bicdf(int x, double mean, int obs);
  // Lower tail P(X <= x), R's pbinom(x, obs, mean).
  static double biLowerTail(int x, double mean, int obs);
  // Upper tail P(X >= x), R's pbinom(x - 1, obs, mean, lower.tail = FALSE).
  static double biUpperTail(int x, double mean, int obs);

  // --- Helpers ---

  // Regularized lower incomplete gamma P(a, x) (power series below x = a + 1; logs on non-convergence).
  static double p_gamma(double a, double x);
  // Regularized upper incomplete gamma Q(a, x) (Legendre's continued fraction from x = a + 1; logs on
  // non-convergence).
  static double q_gamma(double a, double x);
  // ln B(a, b) = lgamma(a) + lgamma(b) - lgamma(a + b).
  static double logBeta(double a, double b);
  // Beta function B(a, b): gamma ratio up to a + b = 100, exp(logBeta) beyond.
  static double betaFunction(double a, double b);
  // Regularized incomplete beta I_x(a, b) (continued fraction to convergence; logs on non-convergence).
  static double incompleteBeta(double x, double a, double b);
  // C(n, k) p^k (1 - p)^(n - k), built without full factorials; 0 on overflow.
  static double binomialTerm(int n, int k, double p);
  // floor(x + 0.5).
  static double roundHalfUp(double x);
  // Uniform number in [0, 1) from the process-wide drand48 generator, seeded once from the clock.
  static double randomUniform();
};

}  // namespace tabulix
