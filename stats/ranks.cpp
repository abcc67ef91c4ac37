#include "stats/ranks.h"

#include <algorithm>
#include <numeric>
#include <utility>

#include "stats/radix_sort.h"

namespace tabulix {

double Ranking::tieCubes() const {
  double s = 0;
  for (double t : ties) s += t * t * t - t;
  return s;
}

Ranking rankValues(std::span<const double> values) {
  const std::size_t n = values.size();
  // Ties get one average rank, so the order within them does not matter.
  const std::vector<uint32_t> order = radixOrder(values);
  Ranking r;
  r.ranks.resize(n);
  for (std::size_t i = 0; i < n;) {
    std::size_t j = i + 1;
    while (j < n && values[order[j]] == values[order[i]]) ++j;
    const double rank = (static_cast<double>(i + 1) + static_cast<double>(j)) / 2;
    for (std::size_t m = i; m < j; ++m) r.ranks[order[m]] = rank;
    if (j - i > 1) r.ties.push_back(static_cast<double>(j - i));
    i = j;
  }
  return r;
}

std::vector<double> holmAdjust(std::span<const double> p) {
  const std::size_t m = p.size();
  std::vector<std::size_t> order(m);
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return p[a] < p[b]; });
  std::vector<double> out(m);
  double running = 0;
  for (std::size_t i = 0; i < m; ++i) {
    const double v = std::min(1.0, static_cast<double>(m - i) * p[order[i]]);
    running = std::max(running, v);  // the adjusted values never decrease along the order
    out[order[i]] = running;
  }
  return out;
}

}  // namespace tabulix
