#include "analyses/fit.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <type_traits>

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

nlohmann::json toJson(const FitResult& r, bool vectors) {
  nlohmann::json j = std::visit([&](const auto& fit) { return toJson(fit, vectors); }, r.fit);
  j["drop"] = r.drop;
  j["varianceDep"] = r.sdDep;
  if (vectors) j["y"] = r.y;
  return j;
}

void to_json(nlohmann::json& j, const FitResult& r) { j = toJson(r, true); }

namespace {

// Relative size below which what a vector adds to the vectors before it is taken for rounding
// noise: the tolerance of R's lm.
constexpr double kRankTolerance = 1e-7;

// The centred spread, relative to the largest magnitude, at or below which a vector is constant:
// one unit in the last place of a double (docs/numerics.md, "The constant rule").
constexpr double kConstantSpread = 0x1p-52;

// What the checks need of one x vector, in two passes: the mean (shifted and compensated), then the
// deviations.
struct ColumnSums {
  double mean = 0;
  double deviations = 0;  // Σ (x − mean)², accumulated in the order the correlation uses
  bool allEqual = true;
  bool constant = false;
};

// A vector is constant when its values are all equal, or when its centred spread is within the
// rounding of its magnitude: a standard deviation of at most 2^-52 times the largest |x| (values
// that differ only in their last bit, 0.3 and 0.30000000000000004). A relative rule on the root
// mean square would take a real regressor at a large offset (1e12 + three decimals, sd about 1,
// bound about 2e-4) for a constant.
ColumnSums columnSums(std::span<const double> x) {
  ColumnSums c;
  const double n = static_cast<double>(x.size());
  c.mean = Statistics::mean(x);
  double sum = 0, largest = 0;
  for (double v : x) {
    const double dev = v - c.mean;
    sum += dev;
    c.deviations += dev * dev;
    largest = std::max(largest, std::fabs(v));
    c.allEqual = c.allEqual && v == x.front();
  }
  if (!std::isfinite(c.deviations) && largest > 0) {
    // Squares of huge deviations overflow; the same test on the values scaled by the largest.
    double scaled = 0, scaledSum = 0;
    for (double v : x) {
      const double dev = v / largest - c.mean / largest;
      scaledSum += dev;
      scaled += dev * dev;
    }
    const double variance = std::max(0.0, scaled / (n - 1) - scaledSum * scaledSum / (n * (n - 1)));
    c.constant = c.allEqual || !(std::sqrt(variance) > kConstantSpread);
    return c;
  }
  double variance = 0;
  if (!x.empty() && !c.allEqual) variance = std::max(0.0, c.deviations / (n - 1) - sum * sum / (n * (n - 1)));
  const double sd = std::sqrt(variance);
  c.constant = c.allEqual || !(sd > kConstantSpread * largest);
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
// d Σ (x − mean)². Where d is above 1e-8 for every vector (far above lm's 1e-14 on the centred
// columns and the rounding of the correlations), no vector can be dependent; otherwise the QR
// decides.
bool clearlyIndependent(const std::vector<std::size_t>& kept, const std::vector<std::vector<double>>& r) {
  const std::size_t m = kept.size();
  std::vector<double> l(m * m, 0.0);
  for (std::size_t a = 0; a < m; ++a) {
    for (std::size_t b = 0; b <= a; ++b) {
      double v = a == b ? 1.0 : r[kept[b]][kept[a]];
      for (std::size_t c = 0; c < b; ++c) v -= l[a * m + c] * l[b * m + c];
      if (a == b) {
        if (!(v > 1e-8)) return false;
        l[a * m + a] = std::sqrt(v);
      } else {
        l[a * m + b] = v / l[b * m + b];
      }
    }
  }
  return true;
}

// The intercept of the raw columns from a fit on columns less the shifts m_j (0 for a column
// fitted as it is): b0 − Σ b_j m_j, whose variance is c' Cov c for the contrast
// c = (−m_1, …, −m_k, 1); its test is the fit's own (t with n − k − 1 df, or Wald's z).
template <class Fit>
void uncentre(Fit& fit, const std::vector<double>& shifts) {
  const std::size_t k = shifts.size();
  if (fit.coeffs.size() != k + 1 || k == 0) return;
  std::vector<double> c(k + 1, 1.0);
  double shift = 0;
  for (std::size_t j = 0; j < k; ++j) {
    c[j] = -shifts[j];
    shift += fit.coeffs[j] * shifts[j];
  }
  fit.coeffs[k] -= shift;
  if (fit.covariance.size() != (k + 1) * (k + 1)) {
    fit.standardErrors[k] = fit.t[k] = fit.p[k] = std::numeric_limits<double>::quiet_NaN();
    return;
  }
  double variance = 0;
  for (std::size_t i = 0; i <= k; ++i)
    for (std::size_t j = 0; j <= k; ++j) variance += c[i] * fit.covariance[i * (k + 1) + j] * c[j];
  const double se = std::sqrt(std::max(0.0, variance));
  fit.standardErrors[k] = se;
  fit.t[k] = fit.coeffs[k] / se;
  if constexpr (std::is_same_v<Fit, LogitResult>) {
    fit.p[k] = 2 * Statistics::normcdfz(-std::fabs(fit.t[k]));
  } else {
    const double n = static_cast<double>(fit.N);
    fit.p[k] = 2 * Statistics::tcdf(-std::fabs(fit.t[k]), std::max(n - static_cast<double>(k + 1), 1.0));
  }
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
  // The rank check takes the x vectors centred, and so does the least-squares fit wherever a
  // vector's mean exceeds its spread: at a large offset (1e12) the raw column is nearly a multiple
  // of the constant, and the factorisation would lose the digits that tell them apart. The
  // intercept is shifted back afterwards. Vectors near 0 are fitted as they are, which spares the
  // copy on ordinary data.
  auto centredCopy = [&](std::size_t j) {
    std::vector<double> c(xs[j].size());
    for (std::size_t i = 0; i < c.size(); ++i) c[i] = xs[j][i] - sums[j].mean;
    return c;
  };
  if (n > 0 && !clearlyIndependent(candidates, r)) {
    std::vector<std::vector<double>> check{std::vector<double>(n, 1.0)};
    for (std::size_t j : candidates) check.push_back(centredCopy(j));
    for (std::size_t pos : Statistics::dependentColumns(check, kRankTolerance))
      if (pos > 0) res.drop[candidates[pos - 1]] = "collinear";
  }

  std::vector<std::vector<double>> design;
  std::vector<std::size_t> removed, keptColumns;
  std::vector<double> shifts;
  for (std::size_t j = 0; j < xs.size(); ++j) {
    if (res.drop[j] == "keep") {
      // Both fits take a column centred where its mean exceeds its spread (a large offset would
      // cost the normal equations their digits); the raw intercept comes back by uncentre().
      const double spread = std::sqrt(sums[j].deviations / std::max(1.0, static_cast<double>(n)));
      const bool centre = std::fabs(sums[j].mean) > spread;
      design.push_back(centre ? centredCopy(j) : xs[j]);
      shifts.push_back(centre ? sums[j].mean : 0.0);
      keptColumns.push_back(j);
    } else {
      removed.push_back(j);
    }
  }
  res.drop.push_back("keep");
  res.sdDep = Statistics::sdNormal(y);
  design.emplace_back(n, 1.0);

  const bool shifted = std::any_of(shifts.begin(), shifts.end(), [](double m) { return m != 0; });
  if (logit) {
    LogitResult fit = Statistics::logit(y, design);
    if (shifted) uncentre(fit, shifts);
    res.fit = std::move(fit);
  } else {
    OlsResult fit = Statistics::ols(y, design);
    if (shifted) uncentre(fit, shifts);
    // With a constant in the model R² lies in [0, 1] by construction; outside it is rounding
    // (an intercept-only fit gave 1 − RSS / TSS = −2.2e-16). The intercept-only fit explains nothing.
    if (fit.N > 0) {
      fit.r2 = std::clamp(fit.r2, 0.0, 1.0);
      if (keptColumns.empty()) fit.r2 = fit.r2adj = 0;
    }
    res.fit = std::move(fit);
  }

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
