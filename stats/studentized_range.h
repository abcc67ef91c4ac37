// The studentized range distribution: the range of k independent standard normal values divided
// by an independent estimate of their standard deviation on df degrees of freedom (Tukey's HSD,
// Games–Howell). Tails are accurate to about 1e-10 absolute (docs/numerics.md).
#pragma once

namespace tabulix {

// Lower tail P(Q <= q) of the studentized range of k means with df degrees of freedom
// (Copenhaver and Holland 1988's double integral, by composite Gauss–Legendre quadrature);
// df = infinity gives the range of k standard normals. NaN outside k >= 2, df >= 1.
double studentizedRangeCdf(double q, int k, double df);

// The q with P(Q <= q) = p (Brent's method on studentizedRangeCdf to 1e-12 in q); NaN outside
// 0 < p < 1.
double studentizedRangeQuantile(double p, int k, double df);

}  // namespace tabulix
