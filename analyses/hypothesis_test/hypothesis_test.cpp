#include "analyses/hypothesis_test/hypothesis_test.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/cell_access.h"
#include "engine/translate.h"
#include "engine/values.h"
#include "stats/statistics.h"

namespace tabulix {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

using S = Statistics;

double mean(const std::vector<double>& v) { return v.empty() ? kNaN : S::mean(v); }

// The p-value of a z or t statistic from its lower tail at -|stat|: both
// tails double it; a one-tail alternative pointing away from the observed
// difference takes its complement.
double pFromLowerTail(double p0, int tails, double diff) {
  if (tails == 0) return 2 * p0;
  if ((tails == 1 && diff > 0) || (tails == 2 && diff < 0)) return 1 - p0;
  return p0;
}

// Probability of the outcomes no more likely than k successes in n trials,
// summed directly: the same as 2 (1 - bicdf) without its cancellation when
// the sum is small.
double twoSidedBinomial(int k, double prob, int n) {
  const double pk = S::binomialTerm(n, k, prob);
  double sum = 0;
  for (int j = 0; j <= n; ++j) {
    const double pj = S::binomialTerm(n, j, prob);
    if (pj <= pk * (1 + 1e-7)) sum += pj;  // binom.test's relative tolerance for ties
  }
  return sum;
}

// The exact binomial p-value of k successes in n trials under prob, as
// binom.test: both tails sum the outcomes no more likely than k; one tail sums
// the outcomes at least as extreme as k in the alternative's direction,
// P(X ≤ k) for "less" (tails 1) and P(X ≥ k) for "greater" (tails 2).
double binomialP(int k, double prob, int n, int tails) {
  if (tails == 0) return std::min(1.0, twoSidedBinomial(k, prob, n));
  double sum = 0;
  if (tails == 1)
    for (int j = 0; j <= k; ++j) sum += S::binomialTerm(n, j, prob);
  else
    for (int j = k; j <= n; ++j) sum += S::binomialTerm(n, j, prob);
  return std::min(1.0, sum);
}

// P-value of an upper-tail chi-square P under the tails rule.
double pFromUpperTail(double P, int tails, double direction) {
  if (tails == 0) return P;
  if ((tails == 1 && direction > 0) || (tails == 2 && direction < 0)) return 1 - P / 2;
  return P / 2;
}

// Percentiles 0, 25, 50, 75 and 100 by the library's rule (linear
// interpolation at the 0-based position (n - 1) p / 100), with the order
// statistics picked by selection instead of sorting the whole sample: the
// same numbers, in a fraction of the time on large samples.
std::array<double, 5> box(const std::vector<double>& v) {
  std::vector<double> a = v;
  const size_t n = a.size();
  if (n == 0) return {kNaN, kNaN, kNaN, kNaN, kNaN};
  if (n == 1) return {a[0], a[0], a[0], a[0], a[0]};
  struct Position {
    size_t i;
    double f;
  };
  Position at[3];
  std::vector<size_t> wanted = {0, n - 1};
  const double percents[3] = {25, 50, 75};
  for (int k = 0; k < 3; ++k) {
    const double h = static_cast<double>(n - 1) * percents[k] / 100;
    const double whole = std::floor(h);
    at[k] = {static_cast<size_t>(whole), h - whole};
    wanted.push_back(at[k].i);
    if (at[k].i < n - 1 && at[k].f > 0) wanted.push_back(at[k].i + 1);
  }
  std::sort(wanted.begin(), wanted.end());
  wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
  // Each selection leaves everything at or below its position before it, so
  // the next one searches only the rest.
  auto from = a.begin();
  for (size_t i : wanted) {
    std::nth_element(from, a.begin() + static_cast<std::ptrdiff_t>(i), a.end());
    from = a.begin() + static_cast<std::ptrdiff_t>(i) + 1;
  }
  std::array<double, 5> out{a[0], 0, 0, 0, a[n - 1]};
  for (int k = 0; k < 3; ++k) {
    const auto [i, f] = at[k];
    out[k + 1] = a[i];
    if (i < n - 1 && f > 0) out[k + 1] = a[i] + f * (a[i + 1] - a[i]);
  }
  return out;
}

Curve density(const std::vector<double>& v, double sd) {
  Curve c;
  if (v.empty()) return c;
  auto [lo, hi] = std::minmax_element(v.begin(), v.end());
  for (const DensityPoint& d : S::kdensity(v, sd, *lo, *hi)) {
    c.x.push_back(d.x);
    c.y.push_back(d.y);
  }
  return c;
}

template <class F>
Curve sampled(double lo, double hi, int points, F f) {
  Curve c;
  if (!(hi > lo) || !std::isfinite(lo) || !std::isfinite(hi) || points < 2) return c;
  for (int i = 0; i < points; ++i) {
    const double x = lo + (hi - lo) * i / (points - 1);
    c.x.push_back(x);
    c.y.push_back(f(x));
  }
  return c;
}

// The spans of the sample plot (around the sample and the null value) and
// of the difference plot (around the difference and 0).
struct Spans {
  double lo, hi, dlo, dhi;
};
Spans spans(double m, double se, double null, double nullSe, double diff, double seDiff, bool proportions) {
  Spans s{std::min(m - 3 * se, null - 3 * nullSe), std::max(m + 3 * se, null + 3 * nullSe),
          std::min(diff - 3 * seDiff, -3 * seDiff), std::max(diff + 3 * seDiff, 3 * seDiff)};
  if (proportions) {
    s.lo = std::max(s.lo, 0.0);
    s.hi = std::min(s.hi, 1.0);
  }
  return s;
}

// Normal or t densities (z and t tests) around the sample, the null value,
// the difference and 0.
void locationCurves(HypothesisResult& r, int test, double m1, double se1, double m2, double se2, double diff,
                    double seDiff, double df, bool proportions) {
  const Spans s = spans(m1, se1, m2, se2, diff, seDiff, proportions);
  auto pdf = [test, df](double centre, double sd) {
    return
        [=](double x) { return test == kTestT ? S::dtpdf(x, centre, sd, df) : S::dnormpdf(x, centre, sd); };
  };
  r.pdfSample1 = sampled(s.lo, s.hi, 100, pdf(m1, se1));
  r.pdfSample2 = sampled(s.lo, s.hi, 100, pdf(m2, se2));
  r.pdfDiff1 = sampled(s.dlo, s.dhi, 100, pdf(diff, seDiff));
  r.pdfDiff2 = sampled(s.dlo, s.dhi, 100, pdf(0, seDiff));
}

// One-degree chi-square densities of a proportion (chi-square and McNemar),
// capped at 10 so that the pole at the centre stays drawable.
// The difference plot draws them against x - shift, the proportion minus
// the null proportion.
Curve chiCurve(double lo, double hi, double centre, double obs, double shift = 0) {
  return sampled(lo, hi, 100, [=](double x) { return std::min(S::dchipdf(x + shift, centre, obs), 10.0); });
}

// Binomial probabilities of round(n x) successes, one point per count.
Curve binomialCurve(double lo, double hi, double prob, int n) {
  Curve c;
  if (n <= 0 || !(hi > lo)) return c;
  const int first = static_cast<int>(std::ceil(lo * n - 1e-9));
  const int points = static_cast<int>(S::roundHalfUp(n * (hi - lo)));
  for (int i = 0; i < points && first + i <= n; ++i) {
    const int k = first + i;
    c.x.push_back(static_cast<double>(k) / n);
    c.y.push_back(S::bipdf(k, prob, n));
  }
  return c;
}

std::vector<double> proportionsOf(const std::vector<int32_t>& codes) {
  std::vector<double> v;
  for (int32_t c : codes)
    if (c == 0 || c == 1) v.push_back(c);
  return v;
}

// Wilson's score interval of a proportion, as prop.test(correct = FALSE).
std::array<double, 2> wilsonInterval(double p, double n) {
  const double z = S::normZForConfidence(0.975), z2 = z * z;
  const double centre = p + z2 / (2 * n);
  const double half = z * std::sqrt(p * (1 - p) / n + z2 / (4 * n * n));
  const double scale = 1 + z2 / n;
  return {std::max((centre - half) / scale, 0.0), std::min((centre + half) / scale, 1.0)};
}

}  // namespace

std::string statForTest(int test) {
  switch (test) {
    case kTestZ:
      return "Z";
    case kTestT:
      return "t";
    case kTestChiSquare:
    case kTestMcNemar:
      return "χ²";
    default:
      return "!";
  }
}

int testForDistribution(int distribution, int samples, bool paired, int /*observations*/) {
  if (distribution == 0 || distribution == 1) return kTestT;
  if (distribution == 2) return samples != 2 ? kTestBinomial : paired ? kTestMcNemar : kTestChiSquare;
  return kTestZ;
}

std::vector<int> validTestsForDistribution(int distribution, int samples, bool paired) {
  if (distribution == 0) return {kTestZ, kTestT};
  if (distribution == 2) {
    if (samples != 2) return {kTestBinomial};
    if (paired) return {kTestMcNemar, kTestBinomial};
    return {kTestZ, kTestChiSquare};
  }
  return {kTestZ};
}

std::optional<std::string> nameForTest(int test, int tails, int samples, bool paired) {
  if (tails < 0 || tails > 2) return std::nullopt;
  const std::string tail = tails == 0 ? "two tail" : "one tail";
  const int setting = samples == 1 ? 0 : paired ? 1 : 2;  // one sample, paired, independent
  static const char* prefix[] = {"One sample ", "Paired ", "Two sample "};
  switch (test) {
    case kTestZ:
      return prefix[setting] + tail + " z-test";
    case kTestT:
      return (setting == 2 ? "Welch's two sample " : std::string(prefix[setting])) + tail + " t-test";
    case kTestBinomial:
      return "One sample " + tail + " binomial test";
    case kTestChiSquare:
      return prefix[setting] + tail + " Chi-square test";
    case kTestMcNemar:
      return "Paired " + tail + " McNemar's Chi-squared test";
    default:
      return std::nullopt;
  }
}

std::optional<std::pair<int, bool>> samplesForTest(int test) {
  switch (test) {
    case kTestBinomial:
      return std::pair{1, false};
    case kTestChiSquare:
      return std::pair{2, false};
    case kTestMcNemar:
      return std::pair{2, true};
    default:
      return std::nullopt;
  }
}

HypothesisResult hypothesisForSample(const std::vector<double>& sample, double expected, int distribution,
                                     int tails, int test, bool paired) {
  HypothesisResult r;
  const bool proportions = distribution == 2;
  const double n = static_cast<double>(sample.size());
  const double m = mean(sample);
  const double s = proportions ? S::sdBinomial(m) : (sample.size() > 1 ? S::sdNormal(sample) : kNaN);
  const double se = s / std::sqrt(n);
  const double diff = m - expected;
  r.obsX = n;
  r.meanX = m;
  r.sdX = s;
  r.seX = se;
  r.diff = diff;
  r.seDiff = se;
  if (!sample.empty()) {
    r.boxX = box(sample);
    r.densityX = density(sample, s);
  }
  const bool valid = [&] {
    auto ok = validTestsForDistribution(distribution == 1 ? 0 : distribution, 1, paired);
    return std::find(ok.begin(), ok.end(), test) != ok.end();
  }();
  if (valid && (test == kTestZ || test == kTestT) && !proportions && sample.size() > 1 && s == 0) {
    // Equal values have no spread: t = 0 / 0, which is no test statistic.
    r.t = r.p = kNaN;
    r.df = test == kTestT ? n - 1 : 0;
    r.note = paired ? tr("The differences are all equal, so no test statistic can be computed.")
                    : tr("The values are all equal, so no test statistic can be computed.");
  } else if (valid && (test == kTestZ || test == kTestT)) {
    r.t = diff / se;
    r.df = test == kTestT ? n - 1 : 0;
    const double p0 = test == kTestT ? S::tcdf(-std::fabs(r.t), r.df) : S::normcdfz(-std::fabs(r.t));
    r.p = pFromLowerTail(p0, tails, diff);
    locationCurves(r, test, m, se, expected, se, diff, se, r.df, proportions);
  } else if (valid && test == kTestBinomial) {
    const int k = static_cast<int>(S::roundHalfUp(m * n));
    const int trials = static_cast<int>(n);
    r.p = binomialP(k, expected, trials, tails);
    const double nullSe = S::sdBinomial(expected) / std::sqrt(n);
    const Spans sp = spans(m, se, expected, nullSe, diff, se, true);
    r.curvesPerCount = true;
    r.pdfSample1 = binomialCurve(sp.lo, sp.hi, m, trials);
    r.pdfSample2 = binomialCurve(sp.lo, sp.hi, expected, trials);
    r.pdfDiff1 = binomialCurve(sp.dlo + expected, sp.dhi + expected, m, trials);
    r.pdfDiff2 = binomialCurve(sp.dlo + expected, sp.dhi + expected, expected, trials);
    // The difference curves are drawn against the difference from the null value.
    for (auto* c : {&*r.pdfDiff1, &*r.pdfDiff2})
      for (double& x : c->x) x -= expected;
  }
  if (valid && proportions && n > 0) {
    r.ci = wilsonInterval(m, n);
  } else if (valid && (test == kTestZ || test == kTestT) && sample.size() > 1) {
    const double q = test == kTestT ? S::tForConfidence(0.025, n - 1) : S::normZForConfidence(0.975);
    r.ci = std::array<double, 2>{m - q * se, m + q * se};
    r.cohenD = s > 0 ? diff / s : kNaN;
  }
  if (!proportions) {
    r.shapiro.push_back(shapiroWilk(sample));
    r.shapiroN.push_back(n);
  }
  return r;
}

HypothesisResult hypothesisTestForSampleX(const std::vector<double>& x, const std::vector<double>& y,
                                          int distribution, int tails, int test) {
  HypothesisResult r;
  const bool proportions = distribution == 2;
  const double nX = static_cast<double>(x.size()), nY = static_cast<double>(y.size());
  const double mX = mean(x), mY = mean(y);
  auto sdOf = [&](const std::vector<double>& v, double m) {
    return proportions ? S::sdBinomial(m) : (v.size() > 1 ? S::sdNormal(v) : kNaN);
  };
  const double sX = sdOf(x, mX), sY = sdOf(y, mY);
  const double seX = sX / std::sqrt(nX), seY = sY / std::sqrt(nY);
  const double diff = mX - mY;
  const double seDiff = std::sqrt(seX * seX + seY * seY);
  r.obsX = nX;
  r.obsY = nY;
  r.meanX = mX;
  r.meanY = mY;
  r.sdX = sX;
  r.sdY = sY;
  r.seX = seX;
  r.seY = seY;
  r.diff = diff;
  r.seDiff = seDiff;
  if (!x.empty()) {
    r.boxX = box(x);
    r.densityX = density(x, sX);
  }
  if (!y.empty()) {
    r.boxY = box(y);
    r.densityY = density(y, sY);
  }
  auto ok = validTestsForDistribution(distribution == 1 ? 0 : distribution, 2, false);
  if (std::find(ok.begin(), ok.end(), test) == ok.end()) return r;
  if (test == kTestZ || test == kTestT) {
    r.t = diff / seDiff;
    if (test == kTestT) {
      // Welch-Satterthwaite degrees of freedom.
      const double a = sX * sX / nX, b = sY * sY / nY;
      r.df = (a + b) * (a + b) / (b * b / (nY - 1) + a * a / (nX - 1));
    } else {
      r.df = -1;
    }
    const double p0 = test == kTestT ? S::tcdf(-std::fabs(r.t), r.df) : S::normcdfz(-std::fabs(r.t));
    r.p = pFromLowerTail(p0, tails, diff);
    locationCurves(r, test, mX, seX, mY, seY, diff, seDiff, r.df, proportions);
  } else if (test == kTestChiSquare) {
    const double kX = S::roundHalfUp(mX * nX), kY = S::roundHalfUp(mY * nY);
    const ChiSquareResult chi = S::chiForFrequencyMatrix({{kX, nX - kX}, {kY, nY - kY}});
    r.t = chi.chi;
    r.df = chi.df;
    r.p = pFromUpperTail(chi.p, tails, diff);
    const Spans sp = spans(mX, seX, mY, seY, diff, seDiff, true);
    r.pdfSample1 = chiCurve(sp.lo, sp.hi, mX, nX);
    r.pdfSample2 = chiCurve(sp.lo, sp.hi, mY, nY);
    r.pdfDiff1 = chiCurve(sp.dlo, sp.dhi, mX, nX, mY);
    r.pdfDiff2 = chiCurve(sp.dlo, sp.dhi, mY, nY, mY);
  }
  if (proportions && nX > 0 && nY > 0) {
    // The unpooled normal interval of pX − pY, as prop.test(correct = FALSE), kept within [−1, 1].
    const double half = S::normZForConfidence(0.975) * std::sqrt(mX * (1 - mX) / nX + mY * (1 - mY) / nY);
    r.ci = std::array<double, 2>{std::max(diff - half, -1.0), std::min(diff + half, 1.0)};
  } else if (!proportions && x.size() > 1 && y.size() > 1) {
    const double q = test == kTestT ? S::tForConfidence(0.025, r.df) : S::normZForConfidence(0.975);
    r.ci = std::array<double, 2>{diff - q * seDiff, diff + q * seDiff};
    const double pooled = std::sqrt(((nX - 1) * sX * sX + (nY - 1) * sY * sY) / (nX + nY - 2));
    r.cohenD = pooled > 0 ? diff / pooled : kNaN;
  }
  if (!proportions) {
    r.shapiro.push_back(shapiroWilk(x));
    r.shapiro.push_back(shapiroWilk(y));
    r.shapiroN = {nX, nY};
  }
  return r;
}

HypothesisResult hypothesisTestForBinomialSample(const std::vector<int32_t>& x, const std::vector<int32_t>& y,
                                                 int tails, int test) {
  HypothesisResult r;
  double counts[2][2] = {{0, 0}, {0, 0}};
  for (size_t i = 0; i < std::min(x.size(), y.size()); ++i)
    if ((x[i] == 0 || x[i] == 1) && (y[i] == 0 || y[i] == 1)) ++counts[x[i]][y[i]];
  r.x0y0 = counts[0][0];
  r.x0y1 = counts[0][1];
  r.x1y0 = counts[1][0];
  r.x1y1 = counts[1][1];
  const double b = counts[0][1], c = counts[1][0];
  const double n = b + c;
  const double m = b / n, se = S::sdBinomial(m) / std::sqrt(n), nullSe = 0.5 / std::sqrt(n);
  const std::vector<double> px = proportionsOf(x), py = proportionsOf(y);
  r.obsX = static_cast<double>(px.size());
  r.obsY = static_cast<double>(py.size());
  r.meanX = mean(px);
  r.meanY = mean(py);
  r.diff = m - 0.5;
  r.seDiff = se;
  const Spans sp = spans(m, se, 0.5, nullSe, m - 0.5, se, true);
  if (test == kTestMcNemar) {
    // McNemar's statistic without continuity correction.
    r.t = (b - c) * (b - c) / (b + c);
    r.df = 1;
    r.p = pFromUpperTail(S::chicdf(r.t, 1), tails, b - c);
    r.pdfSample1 = chiCurve(sp.lo, sp.hi, m, n);
    r.pdfSample2 = chiCurve(sp.lo, sp.hi, 0.5, n);
    r.pdfDiff1 = chiCurve(sp.dlo, sp.dhi, m, n, 0.5);
    r.pdfDiff2 = chiCurve(sp.dlo, sp.dhi, 0.5, n, 0.5);
  } else if (test == kTestBinomial) {
    r.p = binomialP(static_cast<int>(b), 0.5, static_cast<int>(n), tails);
    r.pdfSample1 = binomialCurve(sp.lo, sp.hi, m, static_cast<int>(n));
    r.pdfSample2 = binomialCurve(sp.lo, sp.hi, 0.5, static_cast<int>(n));
  }
  return r;
}

PairedFactors twoByTwoPairedFactorX(Model& model, const Column& x, const Column& y,
                                    const std::map<std::string, int32_t>& levelsX,
                                    const std::map<std::string, int32_t>& levelsY,
                                    const std::vector<int32_t>* rows) {
  PairedFactors f;
  f.code = {levelsX, levelsY};
  // Each column's texts are coded in row order (a new text takes the next
  // free code); then only the rows with a text in both columns are kept.
  // The cells arrive in ascending row order, so keeping them is a merge.
  struct Coded {
    int32_t row, code;
  };
  std::array<std::vector<Coded>, 2> coded;
  const Column* cols[2] = {&x, &y};
  for (int k = 0; k < 2; ++k) {
    if (!cols[k]->num) continue;
    auto& map = f.code[k];
    forEachValueOfColumn(model, *cols[k], rows, [&](int32_t row, std::optional<std::string_view> d) {
      if (!d || d->empty()) return;
      std::string text(*d);
      auto it = map.find(text);
      if (it == map.end()) it = map.emplace(std::move(text), static_cast<int32_t>(map.size())).first;
      coded[k].push_back({row, it->second});
    });
    model.context().releaseCellMemory();
  }
  size_t i = 0, j = 0;
  while (i < coded[0].size() && j < coded[1].size()) {
    if (coded[0][i].row < coded[1][j].row) {
      ++i;
    } else if (coded[1][j].row < coded[0][i].row) {
      ++j;
    } else {
      f.Xmat[0].push_back(coded[0][i++].code);
      f.Xmat[1].push_back(coded[1][j++].code);
    }
  }
  return f;
}

namespace {

VariableType typeOf(const Column& column) {
  const int t = column.type.value_or(0);
  return t >= 1 && t <= 4 ? static_cast<VariableType>(t) : VariableType::Unknown;
}

// Sample values: numbers (means) or the 0/1 success codes (proportions);
// cells that are not numbers, or empty, count nowhere.
std::vector<double> sampleOf(Model& model, const Column& column, const std::vector<int32_t>* rows,
                             const std::map<std::string, int32_t>* levels) {
  std::vector<Cell> cells = cellsForColumn(model, column, {}, rows);
  if (!levels) return numericOfCells(model, cells, typeOf(column));
  std::vector<double> out;
  for (int32_t code : factorOfCategorical(cells, levels).data)
    if (code == 0 || code == 1) out.push_back(code);
  return out;
}

}  // namespace

HypothesisResult hypothesisTestForColumn(Model& model, const Column& column, double expected,
                                         const std::vector<int32_t>* rows, int distribution, int tails,
                                         int test, const std::map<std::string, int32_t>* levels) {
  return hypothesisForSample(sampleOf(model, column, rows, levels), expected, distribution, tails, test,
                             false);
}

HypothesisResult hypothesisTestForColumn(Model& model, const Column& x, const Column& y,
                                         const std::vector<int32_t>* rowsX, const std::vector<int32_t>* rowsY,
                                         int distribution, int tails, int test,
                                         const std::map<std::string, int32_t>* levelsX,
                                         const std::map<std::string, int32_t>* levelsY) {
  return hypothesisTestForSampleX(sampleOf(model, x, rowsX, levelsX), sampleOf(model, y, rowsY, levelsY),
                                  distribution, tails, test);
}

HypothesisResult hypothesisTestForColumnWithPairedColumn(Model& model, Column& x, Column& y,
                                                         const std::vector<int32_t>* rows, int distribution,
                                                         int tails, int test,
                                                         const std::map<std::string, int32_t>* levelsX,
                                                         const std::map<std::string, int32_t>* levelsY) {
  if (distribution == 2) {
    static const std::map<std::string, int32_t> none;
    PairedFactors f =
        twoByTwoPairedFactorX(model, x, y, levelsX ? *levelsX : none, levelsY ? *levelsY : none, rows);
    return hypothesisTestForBinomialSample(f.Xmat[0], f.Xmat[1], tails, test);
  }
  // Pairs complete in both variables; the test is on their differences against 0.
  NumericMatrix m = numericOfColumns(model, {&x, &y}, rows);
  std::vector<double> differences;
  if (m.Xmat.size() == 2)
    for (size_t i = 0; i < m.Xmat[0].size(); ++i) differences.push_back(m.Xmat[0][i] - m.Xmat[1][i]);
  return hypothesisForSample(differences, 0, distribution, tails, test, true);
}

LevelCoding levelCodingForColumn(Model& model, const Column& column, const std::string& chosen) {
  LevelCoding c;
  // In text order, as the logistic regression takes its levels: the fallback
  // is the same level in both, whatever order the store returns them in.
  std::vector<std::string> levels = distinctValuesForColumn(model, &column);
  std::sort(levels.begin(), levels.end());
  if (levels.empty()) return c;
  c.success = std::find(levels.begin(), levels.end(), chosen) != levels.end() ? chosen : levels.back();
  for (const std::string& level : levels) c.levels[level] = level == c.success ? 1 : 0;
  return c;
}

std::optional<double> expectedValueForText(Model& model, VariableType type, std::string_view text) {
  return type == VariableType::DateTime ? dateForString(model, text) : decimalNumberForString(model, text);
}

nlohmann::json toJson(const HypothesisResult& r, bool vectors) {
  nlohmann::json j = nlohmann::json::object();
  auto put = [&](const char* key, const std::optional<double>& v) {
    if (v) j[key] = *v;
  };
  put("obsX", r.obsX);
  put("obsY", r.obsY);
  if (!r.note.empty()) j["note"] = r.note;
  put("meanX", r.meanX);
  put("meanY", r.meanY);
  put("sdX", r.sdX);
  put("sdY", r.sdY);
  put("seX", r.seX);
  put("seY", r.seY);
  put("diff", r.diff);
  put("seDiff", r.seDiff);
  j["t"] = r.t;
  j["df"] = r.df;
  j["p"] = r.p;
  if (r.boxX) j["boxX"] = *r.boxX;
  if (r.boxY) j["boxY"] = *r.boxY;
  auto curve = [&](const char* key, const std::optional<Curve>& c) {
    if (c) j[key] = {c->x, c->y};
  };
  curve("densityX", r.densityX);
  curve("densityY", r.densityY);
  if (vectors || !r.curvesPerCount) {
    curve("pdfSample1", r.pdfSample1);
    curve("pdfSample2", r.pdfSample2);
    curve("pdfDiff1", r.pdfDiff1);
    curve("pdfDiff2", r.pdfDiff2);
  }
  put("x0y0", r.x0y0);
  put("x0y1", r.x0y1);
  put("x1y0", r.x1y0);
  put("x1y1", r.x1y1);
  j["testName"] = r.testName;
  j["statName"] = r.statName;
  if (r.ci) j["ci"] = *r.ci;
  if (r.cohenD) j["cohenD"] = *r.cohenD;
  if (!r.shapiro.empty()) {
    nlohmann::json list = nlohmann::json::array();
    for (const ShapiroWilkResult& w : r.shapiro) list.push_back({{"W", w.W}, {"p", w.p}});
    j["shapiro"] = std::move(list);
  }
  return j;
}

}  // namespace tabulix
