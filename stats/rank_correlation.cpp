#include "stats/rank_correlation.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <utility>
#include <vector>

#include "stats/distributions.h"
#include "stats/radix_sort.h"
#include "stats/ranks.h"

namespace tabulix {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double pearson(const std::vector<double>& a, const std::vector<double>& b) {
  const double n = static_cast<double>(a.size());
  const double ma = std::accumulate(a.begin(), a.end(), 0.0) / n,
               mb = std::accumulate(b.begin(), b.end(), 0.0) / n;
  double sab = 0, saa = 0, sbb = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    sab += (a[i] - ma) * (b[i] - mb);
    saa += (a[i] - ma) * (a[i] - ma);
    sbb += (b[i] - mb) * (b[i] - mb);
  }
  return sab / std::sqrt(saa * sbb);
}

// Σ t(t−1)/2, Σ t(t−1)(2t+5), Σ t(t−1)(t−2) over the tie groups of sorted values.
struct TieSums {
  double pairs = 0, v = 0, triples = 0;
};
TieSums tieSums(const Ranking& r) {
  TieSums s;
  for (double t : r.ties) {
    s.pairs += t * (t - 1) / 2;
    s.v += t * (t - 1) * (2 * t + 5);
    s.triples += t * (t - 1) * (t - 2);
  }
  return s;
}

// Counts the exchanges of a merge sort of v (the discordant pairs when v is y ordered by x).
std::uint64_t mergeCount(std::vector<double>& v, std::vector<double>& buffer, std::size_t lo,
                         std::size_t hi) {
  if (hi - lo < 2) return 0;
  const std::size_t mid = lo + (hi - lo) / 2;
  std::uint64_t swaps = mergeCount(v, buffer, lo, mid) + mergeCount(v, buffer, mid, hi);
  std::size_t i = lo, j = mid, k = lo;
  while (i < mid && j < hi) {
    if (v[j] < v[i]) {
      swaps += mid - i;
      buffer[k++] = v[j++];
    } else {
      buffer[k++] = v[i++];
    }
  }
  while (i < mid) buffer[k++] = v[i++];
  while (j < hi) buffer[k++] = v[j++];
  std::copy(buffer.begin() + static_cast<std::ptrdiff_t>(lo),
            buffer.begin() + static_cast<std::ptrdiff_t>(hi), v.begin() + static_cast<std::ptrdiff_t>(lo));
  return swaps;
}

}  // namespace

RankCorrelation spearman(std::span<const double> x, std::span<const double> y) {
  const std::size_t n = x.size();
  if (n < 3 || y.size() != n) return {kNaN, kNaN};
  const Ranking rx = rankValues(x), ry = rankValues(y);
  const double rho = pearson(rx.ranks, ry.ranks);
  if (!std::isfinite(rho)) return {kNaN, kNaN};
  const double nn = static_cast<double>(n);
  const double t = rho / std::sqrt((1 - rho * rho) / (nn - 2));
  const double p = Distributions::tcdf(-std::fabs(t), nn - 2);
  return {rho, std::min(1.0, 2 * p)};
}

RankCorrelation kendall(std::span<const double> x, std::span<const double> y) {
  const std::size_t n = x.size();
  if (n < 2 || y.size() != n) return {kNaN, kNaN};
  // Knight's O(n log n) algorithm: sort the pairs by x (then y), count the
  // exchanges a merge sort of the y's needs (the discordant pairs).
  // Stable radix sorts, by y and then by x, order by both.
  std::vector<std::pair<double, double>> xy(n);
  {
    const std::vector<uint32_t> order = radixOrder(x, radixOrder(y));
    for (std::size_t i = 0; i < n; ++i) xy[i] = {x[order[i]], y[order[i]]};
  }
  // Pairs tied in x, and tied in both; the x tie groups for the variance.
  double tiedXY = 0;
  Ranking tiesX, tiesY;
  for (std::size_t i = 0; i < n;) {
    std::size_t j = i + 1;
    while (j < n && xy[j].first == xy[i].first) ++j;
    if (j - i > 1) tiesX.ties.push_back(static_cast<double>(j - i));
    for (std::size_t a = i; a < j;) {
      std::size_t b = a + 1;
      while (b < j && xy[b].second == xy[a].second) ++b;
      const double u = static_cast<double>(b - a);
      tiedXY += u * (u - 1) / 2;
      a = b;
    }
    i = j;
  }
  std::vector<double> ys(n), buffer(n);
  for (std::size_t i = 0; i < n; ++i) ys[i] = xy[i].second;
  xy = {};
  const double swaps = static_cast<double>(mergeCount(ys, buffer, 0, n));
  // The y tie groups (ys is now sorted).
  for (std::size_t i = 0; i < n;) {
    std::size_t j = i + 1;
    while (j < n && ys[j] == ys[i]) ++j;
    if (j - i > 1) tiesY.ties.push_back(static_cast<double>(j - i));
    i = j;
  }
  const TieSums tx = tieSums(tiesX), ty = tieSums(tiesY);
  const double nn = static_cast<double>(n), n0 = nn * (nn - 1) / 2;
  const double s = n0 - tx.pairs - ty.pairs + tiedXY - 2 * swaps;  // concordant − discordant
  const double tau = s / std::sqrt((n0 - tx.pairs) * (n0 - ty.pairs));
  if (!std::isfinite(tau)) return {kNaN, kNaN};
  const double varS = (nn * (nn - 1) * (2 * nn + 5) - tx.v - ty.v) / 18 +
                      (4 * tx.pairs * ty.pairs) / (2 * nn * (nn - 1)) +
                      (n > 2 ? (tx.triples * ty.triples) / (9 * nn * (nn - 1) * (nn - 2)) : 0.0);
  const double z = s / std::sqrt(varS);
  return {tau, 2 * std::min(Distributions::normcdfz(z), Distributions::normcdfz(-z))};
}

}  // namespace tabulix
