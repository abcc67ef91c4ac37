// Wilcoxon's signed-rank and rank-sum (Mann–Whitney) tests with the Hodges–Lehmann estimate and
// its interval, as R's wilcox.test with its defaults and conf.int = TRUE.
#pragma once

#include <span>

namespace tabulix {

// Which tail the alternative hypothesis takes.
enum class Tail { TwoSided, Less, Greater };

// One Wilcoxon test: the statistic (V for the signed-rank test, W for the rank-sum test), its
// p-value, whether the exact null distribution gave it (fewer than 50 values per sample, no ties,
// no zero differences) or the normal one with continuity and tie corrections, the Hodges–Lehmann
// estimate with its interval, and two effect sizes: r = z / √N (z the normal statistic without
// continuity correction, N the values used) and the rank-biserial correlation
// ((T⁺ − T⁻) / (T⁺ + T⁻), or 2W / (n₁ n₂) − 1).
struct WilcoxonResult {
  double W = 0, p = 0;
  bool exact = false;
  double estimate = 0, lower = 0, upper = 0;
  double level =
      0.95;  // the interval's confidence: the requested one, or the lower one an exact interval reaches
  double z = 0, r = 0, rankBiserial = 0;
  int n = 0;  // values used (nonzero differences, or both samples)
};

// Signed-rank test of x − mu (one sample; pass the paired differences for paired samples). NaN
// figures when no nonzero difference is left.
WilcoxonResult signedRankTest(std::span<const double> x, double mu, Tail tail, double level = 0.95);

// Rank-sum test of x − mu against y.
WilcoxonResult rankSumTest(std::span<const double> x, std::span<const double> y, double mu, Tail tail,
                           double level = 0.95);

// P(V <= q) of the signed-rank statistic of n values (no ties), as R's psignrank.
double signedRankCdf(double q, int n);
// P(W <= q) of the rank-sum statistic of samples of m and n values, as R's pwilcox.
double rankSumCdf(double q, int m, int n);

}  // namespace tabulix
