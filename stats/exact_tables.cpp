#include "stats/exact_tables.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <map>

#include "stats/distributions.h"
#include "stats/root_finding.h"
#include "stats/sums.h"

namespace tabulix {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct Margins {
  std::vector<double> rows, cols;
  double total = 0;
};

Margins marginsOf(const std::vector<std::vector<double>>& t) {
  Margins m;
  for (const auto& row : t) {
    if (m.cols.size() < row.size()) m.cols.resize(row.size(), 0.0);
    double s = 0;
    for (std::size_t j = 0; j < row.size(); ++j) {
      s += row[j];
      m.cols[j] += row[j];
    }
    m.rows.push_back(s);
    m.total += s;
  }
  return m;
}

// Fisher's exact p-value by a network algorithm (after Mehta and Patel 1983): the columns are
// filled one stage at a time; a node is what the rows have left (sorted: the rest of the sum is
// symmetric in the rows), and the paths reaching a node are kept as their Σ ln n! so far, equal
// sums merged with their multiplicity. At each node, bounds on the completions' Σ ln n! decide
// for a whole path at once: every completion counts (add their total probability, known in
// closed form), none does (drop it), or the path goes on to the next stage.
class FisherNetwork {
 public:
  FisherNetwork(std::vector<int> cols, int total, double logConst, double threshold, std::uint64_t budget)
      : cols_(std::move(cols)), logConst_(logConst), threshold_(threshold), budget_(budget) {
    logFactorial_.resize(static_cast<std::size_t>(total) + 1);
    for (int i = 0; i <= total; ++i) logFactorial_[static_cast<std::size_t>(i)] = std::lgamma(i + 1.0);
  }

  // The p-value, or NaN when the budget ran out.
  double run(std::vector<int> rows) {
    std::sort(rows.begin(), rows.end());
    std::map<std::vector<int>, std::map<double, double>> stage;
    stage[rows][0.0] = 1;
    bool excluded = false;
    for (std::size_t j = 0; j < cols_.size() && !stage.empty(); ++j) {
      std::map<std::vector<int>, std::map<double, double>> next;
      for (auto& [left, paths] : stage) {
        const double lo = lowerBound(left, j), hi = upperBound(left, j);
        std::vector<std::pair<double, double>> open;
        for (const auto& [past, count] : paths) {
          if (past + lo >= threshold_) {
            total_.add(count * std::exp(logConst_ - past + logCompletions(left, j)));
          } else if (past + hi >= threshold_) {
            open.emplace_back(past, count);
          } else {
            excluded = true;
          }
        }
        if (open.empty()) continue;
        if (j + 1 == cols_.size()) {  // bounds are exact at the last column
          excluded = true;
          continue;
        }
        bool ok = true;
        std::vector<int> split(left.size()), rest(left.size());
        splits(left, cols_[j], 0, split, 0.0, [&](double cells) {
          for (std::size_t i = 0; i < left.size(); ++i) rest[i] = left[i] - split[i];
          std::sort(rest.begin(), rest.end());
          auto& target = next[rest];
          for (const auto& [past, count] : open) {
            if (++work_ > budget_) {
              ok = false;
              return false;
            }
            // Sums are merged at 1e-9 of a nat: a relative change of 1e-9 in a probability.
            target[std::round((past + cells) * 1e9) / 1e9] += count;
          }
          return true;
        });
        if (!ok) return std::numeric_limits<double>::quiet_NaN();
      }
      stage.swap(next);
    }
    // Where every table counts, the sum of all their probabilities is 1 but
    // its rounded logarithms need not give exactly 1 (0.999999999999999).
    if (!excluded) return 1.0;
    return std::min(1.0, total_.value());
  }

 private:
  double lf(int n) const { return logFactorial_[static_cast<std::size_t>(n)]; }

  // ln Σ over completions of Π 1/n! = ln(N! / (Π r! Π c!)) for rows `left` and columns j….
  double logCompletions(const std::vector<int>& left, std::size_t j) const {
    int n = 0;
    double s = 0;
    for (int r : left) n += r, s -= lf(r);
    for (std::size_t k = j; k < cols_.size(); ++k) s -= lf(cols_[k]);
    return s + lf(n);
  }
  // The least Σ ln n! of a completion is at least that of each column split as evenly as it can
  // be over the rows (ignoring the rows' totals), and of each row split so over the columns.
  static double evenSplit(int total, int parts, const std::vector<double>& logFactorial) {
    const int q = total / parts, extra = total % parts;
    return (parts - extra) * logFactorial[static_cast<std::size_t>(q)] +
           extra * logFactorial[static_cast<std::size_t>(q + 1)];
  }
  double lowerBound(const std::vector<int>& left, std::size_t j) const {
    double byCols = 0, byRows = 0;
    int nonEmptyRows = 0;
    for (int r : left) nonEmptyRows += r > 0;
    const int parts = static_cast<int>(cols_.size() - j);
    for (std::size_t k = j; k < cols_.size(); ++k)
      byCols += evenSplit(cols_[k], std::max(1, nonEmptyRows), logFactorial_);
    for (int r : left) byRows += evenSplit(r, parts, logFactorial_);
    if (j + 1 == cols_.size()) {  // the last column is forced
      double s = 0;
      for (int r : left) s += lf(r);
      return s;
    }
    return std::max(byCols, byRows);
  }
  // The largest Σ ln n! of a completion is at most Σ ln c! and at most Σ ln r! (ln is superadditive
  // over factorials: ln a! + ln b! <= ln (a + b)!).
  double upperBound(const std::vector<int>& left, std::size_t j) const {
    if (j + 1 == cols_.size()) return lowerBound(left, j);
    double byCols = 0, byRows = 0;
    for (std::size_t k = j; k < cols_.size(); ++k) byCols += lf(cols_[k]);
    for (int r : left) byRows += lf(r);
    return std::min(byCols, byRows);
  }
  // Calls f(Σ ln v!) for every split v of `remaining` over the rows i… within what they have left.
  template <class F>
  bool splits(const std::vector<int>& left, int remaining, std::size_t i, std::vector<int>& v, double cells,
              F&& f) const {
    if (i + 1 == left.size()) {
      if (remaining > left[i]) return true;
      v[i] = remaining;
      return f(cells + lf(remaining));
    }
    int below = 0;
    for (std::size_t r = i + 1; r < left.size(); ++r) below += left[r];
    for (int x = std::max(0, remaining - below); x <= std::min(remaining, left[i]); ++x) {
      v[i] = x;
      if (!splits(left, remaining - x, i + 1, v, cells + lf(x), f)) return false;
    }
    return true;
  }

  std::vector<int> cols_;
  std::vector<double> logFactorial_;
  double logConst_, threshold_;
  std::uint64_t budget_, work_ = 0;
  CompensatedSum total_;
};

// The noncentral hypergeometric distribution of the top-left cell of a 2 × 2 table given its
// margins, as a function of the odds ratio ψ (at ln ψ, so that every ψ in (0, ∞) is reachable).
struct NoncentralHypergeometric {
  int lo = 0, hi = 0;
  std::vector<double> logCentral;  // ln of the central (ψ = 1) probabilities over lo..hi

  NoncentralHypergeometric(int m, int n, int k) {
    lo = std::max(0, k - n);
    hi = std::min(k, m);
    for (int x = lo; x <= hi; ++x)
      logCentral.push_back(std::lgamma(m + 1.0) - std::lgamma(x + 1.0) - std::lgamma(m - x + 1.0) +
                           std::lgamma(n + 1.0) - std::lgamma(k - x + 1.0) - std::lgamma(n - k + x + 1.0));
  }
  std::vector<double> density(double logPsi) const {
    std::vector<double> d(logCentral.size());
    double top = -kInf;
    for (std::size_t i = 0; i < d.size(); ++i) {
      d[i] = logCentral[i] + logPsi * (lo + static_cast<double>(i));
      top = std::max(top, d[i]);
    }
    double s = 0;
    for (double& v : d) s += (v = std::exp(v - top));
    for (double& v : d) v /= s;
    return d;
  }
  double mean(double logPsi) const {
    const auto d = density(logPsi);
    double s = 0;
    for (std::size_t i = 0; i < d.size(); ++i) s += (lo + static_cast<double>(i)) * d[i];
    return s;
  }
  // P(X <= x) or, with upper, P(X >= x).
  double tail(int x, double logPsi, bool upper) const {
    const auto d = density(logPsi);
    double s = 0;
    for (std::size_t i = 0; i < d.size(); ++i) {
      const int v = lo + static_cast<int>(i);
      if (upper ? v >= x : v <= x) s += d[i];
    }
    return s;
  }
};

// The root in ln ψ of a function increasing or decreasing in ψ, searched over ψ in
// [e^-60, e^60] (beyond, the estimate is reported as its limit).
template <class F>
double solveLogPsi(F&& f) {
  return std::exp(brentRoot(f, -60.0, 60.0, 1e-13));
}

}  // namespace

std::vector<std::vector<double>> ExactTables::expected(const std::vector<std::vector<double>>& table) {
  const Margins m = marginsOf(table);
  std::vector<std::vector<double>> e(table.size(), std::vector<double>(m.cols.size(), 0.0));
  for (std::size_t i = 0; i < table.size(); ++i)
    for (std::size_t j = 0; j < m.cols.size(); ++j) e[i][j] = m.rows[i] * m.cols[j] / m.total;
  return e;
}

GTestResult ExactTables::gTest(const std::vector<std::vector<double>>& table) {
  const Margins m = marginsOf(table);
  const auto e = expected(table);
  double nonEmptyRows = 0, nonEmptyCols = 0;
  for (double r : m.rows) nonEmptyRows += r > 0;
  for (double c : m.cols) nonEmptyCols += c > 0;
  CompensatedSum g;
  for (std::size_t i = 0; i < table.size(); ++i)
    for (std::size_t j = 0; j < table[i].size(); ++j)
      if (table[i][j] > 0) g.add(table[i][j] * std::log(table[i][j] / e[i][j]));
  GTestResult r;
  r.G2 = 2 * g.value();
  r.df = (nonEmptyRows - 1) * (nonEmptyCols - 1);
  r.p = r.df >= 1 ? Distributions::chicdf(r.G2, r.df) : kNaN;
  return r;
}

std::vector<std::vector<double>> ExactTables::adjustedResiduals(
    const std::vector<std::vector<double>>& table) {
  const Margins m = marginsOf(table);
  auto out = expected(table);
  for (std::size_t i = 0; i < table.size(); ++i)
    for (std::size_t j = 0; j < out[i].size(); ++j) {
      const double e = out[i][j];
      const double v = e * (1 - m.rows[i] / m.total) * (1 - m.cols[j] / m.total);
      out[i][j] = v > 0 ? (table[i][j] - e) / std::sqrt(v) : kNaN;
    }
  return out;
}

FisherResult ExactTables::fisher(const std::vector<std::vector<double>>& table, std::uint64_t budget) {
  const Margins m = marginsOf(table);
  // Empty rows and columns change no probability: they are left out.
  std::vector<int> rows, cols;
  std::vector<std::size_t> keptRows, keptCols;
  for (std::size_t i = 0; i < m.rows.size(); ++i)
    if (m.rows[i] > 0) rows.push_back(static_cast<int>(m.rows[i])), keptRows.push_back(i);
  for (std::size_t j = 0; j < m.cols.size(); ++j)
    if (m.cols[j] > 0) cols.push_back(static_cast<int>(m.cols[j])), keptCols.push_back(j);
  if (rows.size() < 2 || cols.size() < 2) return {1.0, true};
  double logObserved = 0;  // Σ ln n! of the observed cells
  for (std::size_t i : keptRows)
    for (std::size_t j : keptCols) logObserved += std::lgamma((j < table[i].size() ? table[i][j] : 0) + 1.0);
  double logConst = -std::lgamma(m.total + 1);
  for (int r : rows) logConst += std::lgamma(r + 1.0);
  for (int c : cols) logConst += std::lgamma(c + 1.0);
  // A table counts when P ≤ P(observed) (1 + 1e-7), i.e. Σ ln n! ≥ that of the observed − ln(1 + 1e-7).
  const double threshold = logObserved - std::log1p(1e-7);
  // Fewer rows make smaller nodes: the table is taken transposed when it has more rows.
  if (rows.size() > cols.size()) std::swap(rows, cols);
  std::sort(cols.begin(), cols.end(), std::greater<>());
  FisherNetwork network(cols, static_cast<int>(m.total), logConst, threshold, budget);
  const double p = network.run(rows);
  if (std::isnan(p)) return {kNaN, false};
  return {p, true};
}

OddsRatioResult ExactTables::oddsRatio(const std::vector<std::vector<double>>& table, double level) {
  if (table.size() != 2 || table[0].size() != 2 || table[1].size() != 2) return {kNaN, kNaN, kNaN};
  const int x = static_cast<int>(table[0][0]);
  const int m = static_cast<int>(table[0][0] + table[1][0]);  // first column
  const int n = static_cast<int>(table[0][1] + table[1][1]);  // second column
  const int k = static_cast<int>(table[0][0] + table[0][1]);  // first row
  const NoncentralHypergeometric h(m, n, k);
  OddsRatioResult r;
  if (x == h.lo && x == h.hi) return {kNaN, 0, kInf};
  // The conditional MLE solves E[X; ψ] = x.
  r.estimate = x == h.lo ? 0 : x == h.hi ? kInf : solveLogPsi([&](double t) { return h.mean(t) - x; });
  const double alpha = (1 - level) / 2;
  // Limits: P(X >= x; ψ_L) = α and P(X <= x; ψ_U) = α.
  r.lower = x == h.lo ? 0 : solveLogPsi([&](double t) { return h.tail(x, t, true) - alpha; });
  r.upper = x == h.hi ? kInf : solveLogPsi([&](double t) { return alpha - h.tail(x, t, false); });
  return r;
}

}  // namespace tabulix
