#include "analyses/fit.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "stats/statistics.h"

namespace tabulix {

namespace {

// The coefficient-table part that both fit records share.
template <class F>
decltype(auto) visitCommon(const FitResult& r, F&& f) {
  return std::visit([&](const auto& fit) -> decltype(auto) { return f(fit); }, r.fit);
}

}  // namespace

const std::vector<double>& FitResult::coeffs() const {
  return visitCommon(*this, [](const auto& f) -> const std::vector<double>& { return f.coeffs; });
}
const std::vector<double>& FitResult::standardErrors() const {
  return visitCommon(*this, [](const auto& f) -> const std::vector<double>& { return f.standardErrors; });
}
const std::vector<double>& FitResult::t() const {
  return visitCommon(*this, [](const auto& f) -> const std::vector<double>& { return f.t; });
}
const std::vector<double>& FitResult::p() const {
  return visitCommon(*this, [](const auto& f) -> const std::vector<double>& { return f.p; });
}
const std::vector<double>& FitResult::yhat() const {
  return visitCommon(*this, [](const auto& f) -> const std::vector<double>& { return f.yhat; });
}
const std::vector<double>& FitResult::residuals() const {
  return visitCommon(*this, [](const auto& f) -> const std::vector<double>& { return f.residuals; });
}
std::uint32_t FitResult::N() const {
  return visitCommon(*this, [](const auto& f) { return f.N; });
}

void to_json(nlohmann::json& j, const FitResult& r) {
  std::visit([&](const auto& fit) { j = fit; }, r.fit);
  j["drop"] = r.drop;
  j["varianceDep"] = r.sdDep;
  j["y"] = r.y;
}

namespace {

// Relative size below which a vector's variation, or what it adds to the vectors before it, is
// taken for rounding noise: the tolerance of R's lm.
constexpr double kRankTolerance = 1e-7;

// What the checks need of one x vector, in the two passes sdNormal takes: the mean, then the
// deviations with everything else.
struct ColumnSums {
  double mean = 0;
  double deviations = 0;  // Σ (x − mean)², accumulated in the order the correlation uses
  double squares = 0;     // Σ x²
  bool allEqual = true;
  bool constant = false;
};

// A vector is constant when sdNormal of it is 0, or at most kRankTolerance times its root mean
// square: values that differ only in their last bits (0.3 and 0.30000000000000004).
ColumnSums columnSums(std::span<const double> x) {
  ColumnSums c;
  const double n = static_cast<double>(x.size());
  c.mean = Statistics::mean(x);
  double sum = 0;
  for (double v : x) {
    const double dev = v - c.mean;
    sum += dev;
    c.deviations += dev * dev;
    c.squares += v * v;
    c.allEqual = c.allEqual && v == x.front();
  }
  if (std::isinf(c.squares)) {
    // Squares of huge values overflow; the same sum scaled by the largest magnitude.
    double scale = 0;
    for (double v : x) scale = std::max(scale, std::fabs(v));
    double scaled = 0;
    for (double v : x) scaled += (v / scale) * (v / scale);
    c.squares = scaled * scale * scale;
  }
  // sdNormal, from the same sums: the corrected unbiased variance, 0 for equal values.
  double variance = 0;
  if (x.size() > 1 && c.deviations != 0 && c.allEqual)
    variance = 0;
  else if (!x.empty())
    variance = c.deviations / (n - 1) - sum * sum / (n * (n - 1));
  const double sd = std::sqrt(variance);
  c.constant = sd == 0 || sd <= kRankTolerance * std::sqrt(c.squares / n);
  return c;
}

// correlation(x, y) of two vectors of equal length from their precomputed sums: the same
// operations in the same order, so the same number, with one pass instead of three.
double correlationOf(std::span<const double> x, const ColumnSums& cx, std::span<const double> y,
                     const ColumnSums& cy) {
  if (x.size() != y.size()) return Statistics::correlation(x, y);
  if (cx.allEqual || cy.allEqual) return std::numeric_limits<double>::quiet_NaN();
  double sxy = 0;
  for (std::size_t i = 0; i < x.size(); ++i) sxy += (x[i] - cx.mean) * (y[i] - cy.mean);
  return sxy / (std::sqrt(cy.deviations) * std::sqrt(cx.deviations));
}

// Whether the correlations show the kept vectors clearly independent: a Cholesky factorisation of
// their correlation matrix, in order, leaves each vector a share d of its variance that the ones
// before it (and the constant) do not explain, so that what it adds to them has the squared norm
// d Σ (x − mean)². Where that is above 1e-8 Σ x² for every vector (far above lm's 1e-14 and the
// rounding of the correlations), no vector can be dependent; otherwise the QR decides.
bool clearlyIndependent(const std::vector<std::size_t>& kept, const std::vector<ColumnSums>& sums,
                        const std::vector<std::vector<double>>& r) {
  const std::size_t m = kept.size();
  std::vector<double> l(m * m, 0.0);
  for (std::size_t a = 0; a < m; ++a) {
    for (std::size_t b = 0; b <= a; ++b) {
      double v = a == b ? 1.0 : r[kept[b]][kept[a]];
      for (std::size_t c = 0; c < b; ++c) v -= l[a * m + c] * l[b * m + c];
      if (a == b) {
        const ColumnSums& s = sums[kept[a]];
        if (!(v * s.deviations > 1e-8 * s.squares)) return false;
        l[a * m + a] = std::sqrt(v);
      } else {
        l[a * m + b] = v / l[b * m + b];
      }
    }
  }
  return true;
}

}  // namespace

FitResult olsY(std::span<const double> y, const std::vector<std::vector<double>>& xs, bool logit) {
  FitResult res;
  const std::size_t n = y.size();
  const std::size_t k = xs.size();

  // A vector is dropped when it is constant, or when a later vector is perfectly correlated with it
  // (so of a collinear pair the later one stays). r[j][i] keeps the correlations for the rank check.
  std::vector<ColumnSums> sums;
  sums.reserve(k);
  for (const auto& x : xs) sums.push_back(columnSums(x));
  std::vector<std::vector<double>> r(k, std::vector<double>(k, std::numeric_limits<double>::quiet_NaN()));
  for (std::size_t j = 0; j < k; ++j) {
    std::string status = "keep";
    if (sums[j].constant) {
      status = "constant";
    } else {
      for (std::size_t i = j + 1; i < k; ++i) {
        r[j][i] = correlationOf(xs[j], sums[j], xs[i], sums[i]);
        if (std::fabs(1 - std::fabs(r[j][i])) < 1e-10) {
          status = "collinear";
          break;
        }
      }
    }
    res.drop.push_back(std::move(status));
  }

  // A vector that is a combination of several others is not caught pairwise. With the constant
  // first and the remaining vectors in order, a QR finds each vector that adds nothing to those
  // before it; like lm, it is the later vector of a dependent set that is dropped. The QR is only
  // needed where the correlations leave some vector nearly explained by the others.
  std::vector<std::size_t> candidates;
  for (std::size_t j = 0; j < k; ++j)
    if (res.drop[j] == "keep") candidates.push_back(j);
  if (n > 0 && !clearlyIndependent(candidates, sums, r)) {
    std::vector<std::vector<double>> check{std::vector<double>(n, 1.0)};
    for (std::size_t j : candidates) check.push_back(xs[j]);
    for (std::size_t pos : Statistics::dependentColumns(check, kRankTolerance))
      if (pos > 0) res.drop[candidates[pos - 1]] = "collinear";
  }

  std::vector<std::vector<double>> design;
  std::vector<std::size_t> removed;
  for (std::size_t j = 0; j < xs.size(); ++j) {
    if (res.drop[j] == "keep")
      design.push_back(xs[j]);
    else
      removed.push_back(j);
  }
  res.drop.push_back("keep");
  res.sdDep = Statistics::sdNormal(y);
  design.emplace_back(n, 1.0);

  if (logit)
    res.fit = Statistics::logit(y, design);
  else
    res.fit = Statistics::ols(y, design);

  std::visit(
      [&](auto& fit) {
        if (fit.coeffs.empty()) return;
        constexpr double nan = std::numeric_limits<double>::quiet_NaN();
        for (std::size_t pos : removed) {
          for (auto* list : {&fit.coeffs, &fit.standardErrors, &fit.t, &fit.p})
            list->insert(list->begin() + static_cast<std::ptrdiff_t>(std::min(pos, list->size())), nan);
        }
      },
      res.fit);
  res.y.assign(y.begin(), y.end());
  return res;
}

void to_json(nlohmann::json& j, const HistogramResult& r) { j = nlohmann::json::array({r.edges, r.counts}); }

HistogramResult histogramOfVector(std::span<const double> values, unsigned bins,
                                  std::optional<std::array<double, 2>> range, bool percent, bool optimize) {
  HistogramResult res;
  if (values.empty()) return res;
  double lo, hi;
  if (range) {
    lo = (*range)[0];
    hi = (*range)[1];
  } else {
    const auto [mn, mx] = std::minmax_element(values.begin(), values.end());
    lo = *mn;
    hi = *mx;
  }

  if (optimize) {
    // Edges at multiples of half a power of ten, and a 1-2-5 step giving at most n / 4 (4 to 15) bins.
    double unit = std::pow(10.0, std::floor(std::log10(hi - lo)));
    if (hi == lo) {
      const double centre = Statistics::roundHalfUp(hi);
      lo = centre - 2;
      hi = centre + 2;
      unit = 1;
    } else {
      lo = unit * std::floor(2 * lo / unit) / 2;
      hi = unit * std::ceil(2 * hi / unit) / 2;
    }
    const unsigned limit = std::clamp(static_cast<unsigned>(values.size() / 4), 4u, 15u);
    const double span = hi - lo;
    unsigned chosen = limit;
    for (double step : {unit / 10, unit / 5, unit / 2}) {
      const double count = std::floor(span / step);
      if (count <= limit) {
        chosen = static_cast<unsigned>(count);
        break;
      }
    }
    bins = std::max(chosen, 4u);
  }
  if (bins == 0) return res;

  const double width = (hi - lo) / bins;
  res.edges.resize(bins);
  for (unsigned i = 0; i < bins; ++i) res.edges[i] = lo + i * width;
  res.counts.assign(bins, 0.0);
  for (double v : values) {
    const double pos = std::floor((v - lo) / width);
    std::size_t b = 0;
    if (pos >= bins)
      b = bins - 1;
    else if (pos > 0)
      b = static_cast<std::size_t>(pos);
    res.counts[b] += 1;
  }
  if (percent) {
    for (double& c : res.counts) c /= static_cast<double>(values.size());
  }
  return res;
}

HistogramResult histogramOfVector(std::span<const double> values, unsigned bins) {
  return histogramOfVector(values, bins, std::nullopt, false, true);
}

}  // namespace tabulix
