#include "analyses/correlation/correlation.h"

#include <algorithm>
#include <cmath>

#include "engine/cell_access.h"
#include "stats/statistics.h"

namespace tabulix {

CorrelationRecord correlationOfData(const std::vector<double>& x, const std::vector<double>& y) {
  CorrelationRecord c;
  const double n = static_cast<double>(x.size());
  c.r = x.empty() ? NAN : Statistics::correlation(x, y);
  c.df = n - 2;
  c.t = c.r * std::sqrt((n - 2) / (1 - c.r * c.r));
  // The p-value from t = r √((n − 2) / (1 − r²)) with n − 2 df, as cor.test
  // (exact under normality); the interval from Fisher's z, as cor.test's.
  c.p = 2 * Statistics::tcdf(-std::fabs(c.t), c.df);
  if (std::fabs(c.r) == 1 && n > 2) c.p = 0;
  const double half = Statistics::normZForConfidence(0.975) / std::sqrt(n - 3);
  c.ci = {std::tanh(std::atanh(c.r) - half), std::tanh(std::atanh(c.r) + half)};
  c.data = {x, y};
  return c;
}

CorrelationRecord correlationOfColumn(Model& model, Column& x, Column& y) {
  NumericMatrix m = numericOfColumns(model, {&x, &y}, nullptr);
  return correlationOfData(m.Xmat[0], m.Xmat[1]);
}

CorrelationResult correlationResultsForColumn(Model& model, Column& x, Column& y,
                                              const std::vector<int32_t>* rows) {
  CorrelationResult res;
  NumericMatrix m = numericOfColumns(model, {&x, &y}, rows);
  res.nameX = x.name.value_or("");
  res.nameY = y.name.value_or("");
  res.xIsDate = x.type.value_or(0) == static_cast<int32_t>(VariableType::DateTime);
  res.yIsDate = y.type.value_or(0) == static_cast<int32_t>(VariableType::DateTime);
  const std::vector<double>& xs = m.Xmat[0];
  const std::vector<double>& ys = m.Xmat[1];
  res.correlation = correlationOfData(xs, ys);
  res.spearman = spearman(xs, ys);
  res.kendall = kendall(xs, ys);
  res.fit = olsY(ys, {xs}, false);

  // The line: slope 0 when undefined (a constant x); nothing fitted gives 0, 0.
  double slope = 0, intercept = 0;
  const auto& coeffs = res.fit.coeffs();
  if (coeffs.size() >= 2) {
    slope = std::isnan(coeffs[0]) ? 0 : coeffs[0];
    intercept = coeffs[1];
  }
  // The segment runs 1.5 widths of x beyond the data on either side, so it
  // crosses the whole plot whatever range the chart picks.
  if (!xs.empty()) {
    const auto [lo, hi] = std::minmax_element(xs.begin(), xs.end());
    const double w = *hi - *lo;
    const double x0 = *lo - 1.5 * w, x1 = *hi + 1.5 * w;
    res.dataFit = {{{x0, x1}, {slope * x0 + intercept, slope * x1 + intercept}}};
  }

  // Dates are held in seconds; report the slope per day of x, and a date y
  // in days.
  std::visit(
      [&](auto& fit) {
        if (fit.coeffs.size() != 2 || fit.standardErrors.size() != 2) return;
        if (res.xIsDate) {
          fit.coeffs[0] *= 86400;
          fit.standardErrors[0] *= 86400;
        }
        if (res.yIsDate) {
          for (auto* list : {&fit.coeffs, &fit.standardErrors})
            for (double& v : *list) v /= 86400;
        }
      },
      res.fit.fit);
  res.histogram = histogramOfVector(res.fit.residuals(), 10);
  return res;
}

nlohmann::json toJson(const CorrelationResult& r, bool vectors) {
  const CorrelationRecord& c = r.correlation;
  nlohmann::json j = {{"r", c.r}, {"t", c.t}, {"df", c.df}, {"p", c.p}, {"ci", c.ci}};
  if (vectors) j["data"] = c.data;
  // The fit's keys straight from the record: converting the whole fit
  // record first would also build "y" and copy the long lists twice.
  const auto& fit = std::get<OlsResult>(r.fit.fit);
  j["coeffs"] = fit.coeffs;
  j["variance"] = fit.standardErrors;
  j["reg_t"] = fit.t;
  j["reg_p"] = fit.p;
  j["N"] = fit.N;
  j["r2"] = fit.r2;
  j["r2adj"] = fit.r2adj;
  j["rmse"] = fit.rmse;
  if (vectors) {
    if (fit.N > 0) j["yhat"] = fit.yhat;
    j["residuals"] = fit.residuals;
  }
  j["drop"] = r.fit.drop;
  j["dataFit"] = r.dataFit;
  j["names"] = {r.nameX};
  j["nameLHS"] = r.nameY;
  j["histogram"] = r.histogram;
  j["columns"] = {r.nameY};
  j["spearman"] = {{"rho", r.spearman.estimate}, {"p", r.spearman.p}};
  j["kendall"] = {{"tau", r.kendall.estimate}, {"p", r.kendall.p}};
  return j;
}

}  // namespace tabulix
