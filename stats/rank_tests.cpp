#include "stats/rank_tests.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>
#include <vector>

#include "stats/distributions.h"
#include "stats/ranks.h"
#include "stats/root_finding.h"

namespace tabulix {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Frequencies of the signed-rank statistic: the number of subsets of {1..n} with each sum.
std::vector<double> signedRankCounts(int n) {
  std::vector<double> c(static_cast<std::size_t>(n) * (n + 1) / 2 + 1, 0.0);
  c[0] = 1;
  int top = 0;
  for (int k = 1; k <= n; ++k) {
    top += k;
    for (int s = top; s >= k; --s) c[static_cast<std::size_t>(s)] += c[static_cast<std::size_t>(s - k)];
  }
  return c;
}

// Frequencies of the rank-sum statistic of samples of m and n: the coefficients of the Gaussian
// binomial [m + n, m]_q, by the q-Pascal rule [N, k] = [N−1, k−1] + q^k [N−1, k].
std::vector<double> rankSumCounts(int m, int n) {
  const int small = std::min(m, n), total = m + n;
  const std::size_t width = static_cast<std::size_t>(m) * n + 1;
  std::vector<std::vector<double>> poly(static_cast<std::size_t>(small) + 1, std::vector<double>(width, 0.0));
  poly[0][0] = 1;
  for (int N = 1; N <= total; ++N)
    for (int k = std::min(N, small); k >= 1; --k) {
      auto& pk = poly[static_cast<std::size_t>(k)];
      const auto& pk1 = poly[static_cast<std::size_t>(k - 1)];
      for (std::size_t u = width; u-- > 0;) {
        const double shifted = u >= static_cast<std::size_t>(k) ? pk[u - static_cast<std::size_t>(k)] : 0.0;
        pk[u] = pk1[u] + shifted;
      }
    }
  return poly[static_cast<std::size_t>(small)];
}

double cdfOf(const std::vector<double>& counts, double q) {
  if (q < 0) return 0;
  double total = 0, below = 0;
  for (std::size_t s = 0; s < counts.size(); ++s) {
    total += counts[s];
    if (static_cast<double>(s) <= q + 1e-7) below += counts[s];
  }
  return below / total;
}

// The confidence an exact interval reaches when its order statistics leave
// `achieved` outside: the requested one unless that is off by more than half
// of alpha, then 1 − achieved to two significant digits (as wilcox.test
// reports it, with its "requested conf.level not achievable").
double achievedLevel(double achieved, double alpha) {
  if (achieved - alpha <= alpha / 2) return 1 - alpha;
  const double scale = std::pow(10.0, 1 - std::floor(std::log10(achieved)));
  // Ties round to even, as R's signif does (0.125 to 0.12).
  return 1 - std::nearbyint(achieved * scale) / scale;
}

// The smallest q with P(X <= q) >= p.
int quantileOf(const std::vector<double>& counts, double p) {
  double total = 0;
  for (double c : counts) total += c;
  double cum = 0;
  for (std::size_t s = 0; s < counts.size(); ++s) {
    cum += counts[s] / total;
    if (cum >= p * (1 - 64 * std::numeric_limits<double>::epsilon())) return static_cast<int>(s);
  }
  return static_cast<int>(counts.size()) - 1;
}

double pExact(const std::vector<double>& counts, double stat, double middle, Tail tail) {
  switch (tail) {
    case Tail::Greater:
      return 1 - cdfOf(counts, stat - 1);
    case Tail::Less:
      return cdfOf(counts, stat);
    case Tail::TwoSided:
    default: {
      const double p = stat > middle ? 1 - cdfOf(counts, stat - 1) : cdfOf(counts, stat);
      return std::min(1.0, 2 * p);
    }
  }
}

double correctionOf(double z, Tail tail) {
  switch (tail) {
    case Tail::Greater:
      return 0.5;
    case Tail::Less:
      return -0.5;
    case Tail::TwoSided:
    default:
      return z > 0 ? 0.5 : z < 0 ? -0.5 : 0.0;
  }
}

double pNormal(double z, Tail tail) {
  switch (tail) {
    case Tail::Greater:
      return Distributions::normcdfz(-z);
    case Tail::Less:
      return Distributions::normcdfz(z);
    case Tail::TwoSided:
    default:
      return 2 * std::min(Distributions::normcdfz(z), Distributions::normcdfz(-z));
  }
}

// The interval and estimate of the normal approximation: where the continuity-corrected statistic
// of the data shifted by d, a decreasing step function of d, crosses the normal quantile.
// The estimate is where the statistic without continuity correction crosses zero.
template <class Stat>
void normalInterval(WilcoxonResult& r, Stat&& stat, double dmin, double dmax, Tail tail, double level) {
  auto rootOf = [&](double zq, bool corrected) {
    auto f = [&](double d) { return stat(d, tail, corrected) - zq; };
    if (f(dmin) <= 0) return dmin;
    if (f(dmax) >= 0) return dmax;
    return brentRoot(f, dmin, dmax, 1e-12);
  };
  auto root = [&](double zq) { return rootOf(zq, true); };
  double alpha = 1 - level;
  switch (tail) {
    case Tail::Greater:
      r.lower = root(Distributions::normZForConfidence(1 - alpha));
      r.upper = kInf;
      break;
    case Tail::Less:
      r.lower = -kInf;
      r.upper = root(Distributions::normZForConfidence(alpha));
      break;
    case Tail::TwoSided:
    default:
      // A level the data cannot reach is widened until both ends exist.
      while (alpha < 1 && (stat(dmin, tail, true) - Distributions::normZForConfidence(1 - alpha / 2) < 0 ||
                           stat(dmax, tail, true) - Distributions::normZForConfidence(alpha / 2) > 0))
        alpha *= 2;
      r.lower = root(Distributions::normZForConfidence(1 - alpha / 2));
      r.upper = root(Distributions::normZForConfidence(alpha / 2));
      break;
  }
  r.estimate = rootOf(0, false);
}

// The pieces of a rank statistic after a shift: the sum of the ranks that
// count, how many values were ranked, and the ties' Σ (t³ − t).
struct ShiftedRanks {
  double rankSum = 0, count = 0, tieCubes = 0;
};

// Walks groups of equal values in merged order: `next` yields the smallest
// value left (false when none) and `take` removes every copy of it from both
// sides, returning {copies, copies that count}.
template <class Next, class Take>
ShiftedRanks rankMerged(Next&& next, Take&& take) {
  ShiftedRanks r;
  double v = 0;
  while (next(v)) {
    const auto [copies, counted] = take(v);
    const double t = static_cast<double>(copies);
    r.rankSum += (2 * r.count + 1 + t) / 2 * static_cast<double>(counted);
    if (copies > 1) r.tieCubes += t * t * t - t;
    r.count += t;
  }
  return r;
}

// The signed-rank statistic's pieces for sorted x minus `shift`, in O(n)
// (the interval's root search evaluates it dozens of times): the absolute
// differences below the shift, read downwards, and those above it, read
// upwards, are each ascending, so merging them orders |x − shift| without a
// sort. Values equal to the shift drop out; the ranks of positive
// differences count. Each difference is the same double as |x − shift|.
ShiftedRanks signedRanksShifted(const std::vector<double>& sorted, double shift) {
  const auto n = static_cast<std::ptrdiff_t>(sorted.size());
  std::ptrdiff_t i = std::lower_bound(sorted.begin(), sorted.end(), shift) - sorted.begin() - 1;
  std::ptrdiff_t j = std::upper_bound(sorted.begin(), sorted.end(), shift) - sorted.begin();
  auto below = [&](std::ptrdiff_t k) { return -(sorted[static_cast<std::size_t>(k)] - shift); };
  auto above = [&](std::ptrdiff_t k) { return sorted[static_cast<std::size_t>(k)] - shift; };
  return rankMerged(
      [&](double& v) {
        if (i < 0 && j >= n) return false;
        v = i < 0 ? above(j) : j >= n ? below(i) : std::min(below(i), above(j));
        return true;
      },
      [&](double v) {
        std::size_t copies = 0, positive = 0;
        for (; i >= 0 && below(i) == v; --i) ++copies;
        for (; j < n && above(j) == v; ++j) ++copies, ++positive;
        return std::pair{copies, positive};
      });
}

// The rank-sum statistic's pieces for sorted x minus `shift` against sorted
// y, in O(n) by merging the two ascending sequences; the ranks of x count.
ShiftedRanks rankSumShifted(const std::vector<double>& x, const std::vector<double>& y, double shift) {
  std::size_t i = 0, j = 0;
  return rankMerged(
      [&](double& v) {
        if (i == x.size() && j == y.size()) return false;
        v = i == x.size() ? y[j] : j == y.size() ? x[i] - shift : std::min(x[i] - shift, y[j]);
        return true;
      },
      [&](double v) {
        std::size_t copies = 0, fromX = 0;
        for (; i < x.size() && x[i] - shift == v; ++i) ++copies, ++fromX;
        for (; j < y.size() && y[j] == v; ++j) ++copies;
        return std::pair{copies, fromX};
      });
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t h = v.size() / 2;
  return v.size() % 2 ? v[h] : (v[h - 1] + v[h]) / 2;
}

}  // namespace

double signedRankCdf(double q, int n) {
  return n < 0 ? kNaN : cdfOf(signedRankCounts(n), std::floor(q + 1e-7));
}
double rankSumCdf(double q, int m, int n) {
  return m < 0 || n < 0 ? kNaN : cdfOf(rankSumCounts(m, n), std::floor(q + 1e-7));
}

WilcoxonResult signedRankTest(std::span<const double> x, double mu, Tail tail, double level) {
  WilcoxonResult r;
  r.level = level;
  std::vector<double> d;
  bool zeros = false;
  for (double v : x) {
    if (v - mu == 0)
      zeros = true;
    else
      d.push_back(v - mu);
  }
  const int n = static_cast<int>(d.size());
  r.n = n;
  if (n == 0) return {kNaN, kNaN, false, kNaN, kNaN, kNaN, level, kNaN, kNaN, kNaN, 0};
  std::vector<double> absd(d.size());
  for (std::size_t i = 0; i < d.size(); ++i) absd[i] = std::fabs(d[i]);
  const Ranking rk = rankValues(absd);
  double v = 0, all = 0;
  for (std::size_t i = 0; i < d.size(); ++i) {
    all += rk.ranks[i];
    if (d[i] > 0) v += rk.ranks[i];
  }
  r.W = v;
  r.rankBiserial = (v - (all - v)) / all;
  const double nn = n;
  const double sigma = std::sqrt(nn * (nn + 1) * (2 * nn + 1) / 24 - rk.tieCubes() / 48);
  r.z = (v - nn * (nn + 1) / 4) / sigma;
  r.r = r.z / std::sqrt(nn);
  r.exact = n < 50 && rk.ties.empty() && !zeros;
  if (r.exact) {
    const auto counts = signedRankCounts(n);
    r.p = pExact(counts, v, nn * (nn + 1) / 4, tail);
    // The Walsh averages, sorted: the estimate is their median, the limits order statistics.
    std::vector<double> walsh;
    std::vector<double> xs(x.begin(), x.end());
    for (std::size_t i = 0; i < xs.size(); ++i)
      for (std::size_t j = i; j < xs.size(); ++j) walsh.push_back((xs[i] + xs[j]) / 2);
    std::sort(walsh.begin(), walsh.end());
    const double alpha = 1 - level;
    const int top = n * (n + 1) / 2;
    auto at = [&](int i) { return walsh[static_cast<std::size_t>(i - 1)]; };  // 1-based
    if (tail == Tail::TwoSided) {
      int qu = quantileOf(counts, alpha / 2);
      if (qu == 0) qu = 1;
      r.lower = at(qu);
      r.upper = at(top - qu + 1);
      r.level = achievedLevel(2 * cdfOf(counts, qu - 1), alpha);
    } else {
      int qu = quantileOf(counts, alpha);
      if (qu == 0) qu = 1;
      r.lower = tail == Tail::Greater ? at(qu) : -kInf;
      r.upper = tail == Tail::Less ? at(top - qu + 1) : kInf;
      r.level = achievedLevel(cdfOf(counts, qu - 1), alpha);
    }
    r.estimate = median(walsh);
    return r;
  }
  const double zc = (v - nn * (nn + 1) / 4 - correctionOf(v - nn * (nn + 1) / 4, tail)) / sigma;
  r.p = pNormal(zc, tail);
  // The statistic of x − d over the values that differ from mu (zeros of x − d drop out).
  std::vector<double> xs;
  for (double v : d) xs.push_back(v + mu);
  std::sort(xs.begin(), xs.end());
  auto stat = [&](double shift, Tail t, bool corrected) {
    const ShiftedRanks q = signedRanksShifted(xs, shift);
    const double m = q.count;
    const double zd = q.rankSum - m * (m + 1) / 4;
    const double sg = std::sqrt(m * (m + 1) * (2 * m + 1) / 24 - q.tieCubes / 48);
    return (zd - (corrected ? correctionOf(zd, t) : 0.0)) / sg;
  };
  normalInterval(r, stat, *std::min_element(xs.begin(), xs.end()), *std::max_element(xs.begin(), xs.end()),
                 tail, level);
  return r;
}

WilcoxonResult rankSumTest(std::span<const double> x, std::span<const double> y, double mu, Tail tail,
                           double level) {
  WilcoxonResult r;
  r.level = level;
  const int nx = static_cast<int>(x.size()), ny = static_cast<int>(y.size());
  r.n = nx + ny;
  if (nx == 0 || ny == 0) return {kNaN, kNaN, false, kNaN, kNaN, kNaN, level, kNaN, kNaN, kNaN, r.n};
  std::vector<double> all;
  for (double v : x) all.push_back(v - mu);
  all.insert(all.end(), y.begin(), y.end());
  const Ranking rk = rankValues(all);
  double sx = 0;
  for (int i = 0; i < nx; ++i) sx += rk.ranks[static_cast<std::size_t>(i)];
  const double mx = nx, my = ny, N = mx + my;
  r.W = sx - mx * (mx + 1) / 2;
  r.rankBiserial = 2 * r.W / (mx * my) - 1;
  const double sigma = std::sqrt(mx * my / 12 * ((N + 1) - rk.tieCubes() / (N * (N - 1))));
  r.z = (r.W - mx * my / 2) / sigma;
  r.r = r.z / std::sqrt(N);
  r.exact = nx < 50 && ny < 50 && rk.ties.empty();
  if (r.exact) {
    const auto counts = rankSumCounts(nx, ny);
    r.p = pExact(counts, r.W, mx * my / 2, tail);
    std::vector<double> diffs;
    for (double a : x)
      for (double b : y) diffs.push_back(a - b);
    std::sort(diffs.begin(), diffs.end());
    const double alpha = 1 - level;
    const int top = nx * ny;
    auto at = [&](int i) { return diffs[static_cast<std::size_t>(i - 1)]; };
    if (tail == Tail::TwoSided) {
      int qu = quantileOf(counts, alpha / 2);
      if (qu == 0) qu = 1;
      r.lower = at(qu);
      r.upper = at(top - qu + 1);
      r.level = achievedLevel(2 * cdfOf(counts, qu - 1), alpha);
    } else {
      int qu = quantileOf(counts, alpha);
      if (qu == 0) qu = 1;
      r.lower = tail == Tail::Greater ? at(qu) : -kInf;
      r.upper = tail == Tail::Less ? at(top - qu + 1) : kInf;
      r.level = achievedLevel(cdfOf(counts, qu - 1), alpha);
    }
    r.estimate = median(diffs);
    return r;
  }
  const double dz = r.W - mx * my / 2;
  r.p = pNormal((dz - correctionOf(dz, tail)) / sigma, tail);
  std::vector<double> xs(x.begin(), x.end()), ys(y.begin(), y.end());
  std::sort(xs.begin(), xs.end());
  std::sort(ys.begin(), ys.end());
  auto stat = [&](double shift, Tail t, bool corrected) {
    const ShiftedRanks q = rankSumShifted(xs, ys, shift);
    const double d = q.rankSum - mx * (mx + 1) / 2 - mx * my / 2;
    const double sg = std::sqrt(mx * my / 12 * ((N + 1) - q.tieCubes / (N * (N - 1))));
    return (d - (corrected ? correctionOf(d, t) : 0.0)) / sg;
  };
  normalInterval(r, stat, *std::min_element(xs.begin(), xs.end()) - *std::max_element(ys.begin(), ys.end()),
                 *std::max_element(xs.begin(), xs.end()) - *std::min_element(ys.begin(), ys.end()), tail,
                 level);
  return r;
}

}  // namespace tabulix
