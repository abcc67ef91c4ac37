// The Shapiro–Wilk test of normality.
#pragma once

#include <span>

namespace tabulix {

// W and its p-value; both NaN when the test does not apply (fewer than 3 or more than 5,000
// values, or all values equal).
struct ShapiroWilkResult {
  double W = 0;
  double p = 0;
};

// Shapiro and Wilk's W with Royston's (1995, algorithm AS R94) approximations of the weights and
// of W's null distribution, as R's shapiro.test; the values need not be sorted, NaN removed.
ShapiroWilkResult shapiroWilk(std::span<const double> values);

}  // namespace tabulix
