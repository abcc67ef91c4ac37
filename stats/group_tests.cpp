#include "stats/group_tests.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "stats/distributions.h"
#include "stats/ranks.h"
#include "stats/studentized_range.h"
#include "stats/sums.h"

namespace tabulix {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Per-group size, mean and sum of squared deviations in one shifted space: every value less the
// first value of the data, so that a 1e9 offset common to all groups never enters a sum.
struct GroupMoments {
  std::vector<double> n, mean, ss;  // mean in the shifted space
  double shift = 0;
  double total = 0;  // N
  int nonEmpty = 0;
};

GroupMoments momentsOf(const std::vector<std::vector<double>>& groups) {
  GroupMoments m;
  for (const auto& g : groups)
    if (!g.empty()) {
      m.shift = g.front();
      break;
    }
  std::vector<double> y;
  for (const auto& g : groups) {
    y.resize(g.size());
    for (std::size_t i = 0; i < g.size(); ++i) y[i] = g[i] - m.shift;
    const CentredSums c = centredSums(y);
    m.n.push_back(static_cast<double>(g.size()));
    m.mean.push_back(g.empty() ? kNaN : c.mean);
    m.ss.push_back(c.squares);
    m.total += static_cast<double>(g.size());
    if (!g.empty()) ++m.nonEmpty;
  }
  return m;
}

AnovaTable tableOf(const GroupMoments& m) {
  AnovaTable t;
  const double k = m.nonEmpty;
  t.dfBetween = k - 1;
  t.dfWithin = m.total - k;
  if (t.dfBetween < 1 || t.dfWithin < 1) {
    t.ssBetween = t.ssWithin = t.msBetween = t.msWithin = t.F = t.p = t.eta2 = t.omega2 = kNaN;
    return t;
  }
  CompensatedSum grand, within;
  for (std::size_t g = 0; g < m.n.size(); ++g)
    if (m.n[g] > 0) {
      grand.add(m.n[g] * m.mean[g]);
      within.add(m.ss[g]);
    }
  const double grandMean = grand.value() / m.total;
  CompensatedSum between;
  for (std::size_t g = 0; g < m.n.size(); ++g)
    if (m.n[g] > 0) between.add(m.n[g] * (m.mean[g] - grandMean) * (m.mean[g] - grandMean));
  t.ssBetween = between.value();
  t.ssWithin = within.value();
  t.msBetween = t.ssBetween / t.dfBetween;
  t.msWithin = t.ssWithin / t.dfWithin;
  t.F = t.msBetween / t.msWithin;
  t.p = Distributions::fcdf(t.F, t.dfBetween, t.dfWithin);
  const double sst = t.ssBetween + t.ssWithin;
  t.eta2 = t.ssBetween / sst;
  t.omega2 = (t.ssBetween - t.dfBetween * t.msWithin) / (sst + t.msWithin);
  return t;
}

double medianOf(std::vector<double> v) {
  if (v.empty()) return kNaN;
  const std::size_t h = v.size() / 2;
  std::nth_element(v.begin(), v.begin() + h, v.end());
  const double upper = v[h];
  if (v.size() % 2) return upper;
  return (*std::max_element(v.begin(), v.begin() + h) + upper) / 2;
}

// Pairs (j, i), i < j, in TukeyHSD's order: by i, then j.
template <class F>
void forEachPair(std::size_t k, F&& f) {
  for (std::size_t i = 0; i + 1 < k; ++i)
    for (std::size_t j = i + 1; j < k; ++j) f(j, i);
}

}  // namespace

AnovaTable GroupTests::anovaTable(const std::vector<std::vector<double>>& groups) {
  return tableOf(momentsOf(groups));
}

FTestResult GroupTests::welchAnova(const std::vector<std::vector<double>>& groups) {
  const GroupMoments m = momentsOf(groups);
  FTestResult r;
  const double k = static_cast<double>(groups.size());
  r.df1 = k - 1;
  // Welch's weights n / s²: every group needs two values and a spread.
  std::vector<double> w(groups.size());
  double sumW = 0;
  for (std::size_t g = 0; g < groups.size(); ++g) {
    if (m.n[g] < 2 || !(m.ss[g] > 0)) return {kNaN, r.df1, kNaN, kNaN};
    w[g] = m.n[g] / (m.ss[g] / (m.n[g] - 1));
    sumW += w[g];
  }
  if (k < 2) return {kNaN, r.df1, kNaN, kNaN};
  double weightedMean = 0;
  for (std::size_t g = 0; g < groups.size(); ++g) weightedMean += w[g] * m.mean[g];
  weightedMean /= sumW;
  double tmp = 0, between = 0;
  for (std::size_t g = 0; g < groups.size(); ++g) {
    const double u = 1 - w[g] / sumW;
    tmp += u * u / (m.n[g] - 1);
    between += w[g] * (m.mean[g] - weightedMean) * (m.mean[g] - weightedMean);
  }
  tmp /= k * k - 1;
  r.F = between / ((k - 1) * (1 + 2 * (k - 2) * tmp));
  r.df2 = 1 / (3 * tmp);
  r.p = Distributions::fcdf(r.F, r.df1, r.df2);
  return r;
}

FTestResult GroupTests::brownForsythe(const std::vector<std::vector<double>>& groups) {
  std::vector<std::vector<double>> spread(groups.size());
  for (std::size_t g = 0; g < groups.size(); ++g) {
    const double med = medianOf(groups[g]);
    for (double x : groups[g]) spread[g].push_back(std::fabs(x - med));
  }
  const AnovaTable t = anovaTable(spread);
  return {t.F, t.dfBetween, t.dfWithin, t.p};
}

std::vector<PairComparison> GroupTests::tukeyHsd(const std::vector<std::vector<double>>& groups, double level) {
  const GroupMoments m = momentsOf(groups);
  const AnovaTable t = tableOf(m);
  const int k = static_cast<int>(groups.size());
  const double crit = studentizedRangeQuantile(level, k, t.dfWithin);
  std::vector<PairComparison> out;
  forEachPair(groups.size(), [&](std::size_t a, std::size_t b) {
    PairComparison c;
    c.a = static_cast<int>(a);
    c.b = static_cast<int>(b);
    c.diff = m.mean[a] - m.mean[b];
    const double se = std::sqrt(t.msWithin / 2 * (1 / m.n[a] + 1 / m.n[b]));
    c.lower = c.diff - crit * se;
    c.upper = c.diff + crit * se;
    c.p = 1 - studentizedRangeCdf(std::fabs(c.diff) / se, k, t.dfWithin);
    out.push_back(c);
  });
  return out;
}

std::vector<PairComparison> GroupTests::gamesHowell(const std::vector<std::vector<double>>& groups, double level) {
  const GroupMoments m = momentsOf(groups);
  const int k = static_cast<int>(groups.size());
  std::vector<PairComparison> out;
  forEachPair(groups.size(), [&](std::size_t a, std::size_t b) {
    PairComparison c;
    c.a = static_cast<int>(a);
    c.b = static_cast<int>(b);
    c.diff = m.mean[a] - m.mean[b];
    const double va = m.ss[a] / (m.n[a] - 1) / m.n[a], vb = m.ss[b] / (m.n[b] - 1) / m.n[b];
    const double se = std::sqrt(va + vb);
    const double df = (va + vb) * (va + vb) / (va * va / (m.n[a] - 1) + vb * vb / (m.n[b] - 1));
    const double half = studentizedRangeQuantile(level, k, df) / std::sqrt(2.0) * se;
    c.lower = c.diff - half;
    c.upper = c.diff + half;
    c.p = 1 - studentizedRangeCdf(std::fabs(c.diff) / se * std::sqrt(2.0), k, df);
    out.push_back(c);
  });
  return out;
}

KruskalResult GroupTests::kruskalWallis(const std::vector<std::vector<double>>& groups) {
  std::vector<double> all;
  for (const auto& g : groups) all.insert(all.end(), g.begin(), g.end());
  const double n = static_cast<double>(all.size());
  int nonEmpty = 0;
  for (const auto& g : groups) nonEmpty += !g.empty();
  if (nonEmpty < 2 || n < 2) return {kNaN, static_cast<double>(nonEmpty - 1), kNaN};
  const Ranking r = rankValues(all);
  double sum = 0;
  std::size_t at = 0;
  for (const auto& g : groups) {
    if (g.empty()) continue;
    double rs = 0;
    for (std::size_t i = 0; i < g.size(); ++i) rs += r.ranks[at + i];
    at += g.size();
    sum += rs * rs / static_cast<double>(g.size());
  }
  KruskalResult k;
  k.df = nonEmpty - 1;
  k.H = (12 / (n * (n + 1)) * sum - 3 * (n + 1)) / (1 - r.tieCubes() / (n * n * n - n));
  k.p = Distributions::chicdf(k.H, k.df);
  return k;
}

std::vector<RankComparison> GroupTests::dunn(const std::vector<std::vector<double>>& groups) {
  std::vector<double> all;
  for (const auto& g : groups) all.insert(all.end(), g.begin(), g.end());
  const double n = static_cast<double>(all.size());
  const Ranking r = rankValues(all);
  std::vector<double> meanRank;
  std::size_t at = 0;
  for (const auto& g : groups) {
    double rs = 0;
    for (std::size_t i = 0; i < g.size(); ++i) rs += r.ranks[at + i];
    at += g.size();
    meanRank.push_back(g.empty() ? kNaN : rs / static_cast<double>(g.size()));
  }
  const double s2 = n * (n + 1) / 12 - r.tieCubes() / (12 * (n - 1));
  std::vector<RankComparison> out;
  std::vector<double> p;
  forEachPair(groups.size(), [&](std::size_t a, std::size_t b) {
    RankComparison c;
    c.a = static_cast<int>(a);
    c.b = static_cast<int>(b);
    const double na = static_cast<double>(groups[a].size()), nb = static_cast<double>(groups[b].size());
    c.z = (meanRank[a] - meanRank[b]) / std::sqrt(s2 * (1 / na + 1 / nb));
    c.p = 2 * Distributions::normcdfz(-std::fabs(c.z));
    p.push_back(c.p);
    out.push_back(c);
  });
  const std::vector<double> adjusted = holmAdjust(p);
  for (std::size_t i = 0; i < out.size(); ++i) out[i].pAdjusted = adjusted[i];
  return out;
}

FriedmanResult GroupTests::friedman(const std::vector<std::vector<double>>& blocks) {
  std::size_t k = 0;
  for (const auto& b : blocks) k = std::max(k, b.size());
  std::vector<double> columnRanks(k, 0.0);
  double n = 0, tieCubes = 0;
  for (const auto& b : blocks) {
    if (b.size() != k || std::any_of(b.begin(), b.end(), [](double v) { return std::isnan(v); })) continue;
    const Ranking r = rankValues(b);
    for (std::size_t j = 0; j < k; ++j) columnRanks[j] += r.ranks[j];
    tieCubes += r.tieCubes();
    ++n;
  }
  FriedmanResult f;
  const double kk = static_cast<double>(k);
  f.df = kk - 1;
  if (n < 1 || k < 2) return {kNaN, f.df, kNaN};
  double s = 0;
  for (double rj : columnRanks) s += (rj - n * (kk + 1) / 2) * (rj - n * (kk + 1) / 2);
  f.chisq = 12 * s / (n * kk * (kk + 1) - tieCubes / (kk - 1));
  f.p = Distributions::chicdf(f.chisq, f.df);
  return f;
}

}  // namespace tabulix
