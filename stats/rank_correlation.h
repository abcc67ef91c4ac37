// Spearman's ρ and Kendall's τ-b with their asymptotic p-values, as R's
// cor.test(method = "spearman" / "kendall", exact = FALSE).
#pragma once

#include <span>

namespace tabulix {

// A rank correlation and its two-sided p-value.
struct RankCorrelation {
  double estimate = 0;
  double p = 0;
};

// Spearman's ρ (Pearson's correlation of the average ranks); p two-sided from Student's t with
// n − 2 df on ρ √((n − 2) / (1 − ρ²)). Pairs with a NaN are dropped by the caller; NaN figures
// below 3 pairs or with a constant variable.
RankCorrelation spearman(std::span<const double> x, std::span<const double> y);

// Kendall's τ-b, (concordant − discordant) / sqrt((n₀ − n₁)(n₀ − n₂)), by Knight's (1966)
// O(n log n) merge-sort count; p from the normal approximation of S with the variance corrected
// for ties in both variables.
RankCorrelation kendall(std::span<const double> x, std::span<const double> y);

}  // namespace tabulix
