#include "analyses/regression/model_figures.h"

#include <cmath>

#include "analyses/report_text.h"
#include "engine/number_format.h"
#include "engine/translate.h"
#include "stats/distributions.h"

namespace tabulix {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
using D = Distributions;

double meanOf(const std::vector<double>& v) {
  double s = 0;
  for (double x : v) s += x;
  return v.empty() ? kNaN : s / static_cast<double>(v.size());
}

// The inverse of a symmetric positive definite matrix by Gauss–Jordan
// elimination with partial pivoting; empty when it is singular.
std::vector<std::vector<double>> inverse(std::vector<std::vector<double>> a) {
  const size_t n = a.size();
  std::vector<std::vector<double>> inv(n, std::vector<double>(n, 0));
  for (size_t i = 0; i < n; ++i) inv[i][i] = 1;
  for (size_t c = 0; c < n; ++c) {
    size_t pivot = c;
    for (size_t r = c + 1; r < n; ++r)
      if (std::fabs(a[r][c]) > std::fabs(a[pivot][c])) pivot = r;
    if (!(std::fabs(a[pivot][c]) > 1e-12)) return {};
    std::swap(a[pivot], a[c]);
    std::swap(inv[pivot], inv[c]);
    const double d = a[c][c];
    for (size_t j = 0; j < n; ++j) {
      a[c][j] /= d;
      inv[c][j] /= d;
    }
    for (size_t r = 0; r < n; ++r) {
      if (r == c || a[r][c] == 0) continue;
      const double f = a[r][c];
      for (size_t j = 0; j < n; ++j) {
        a[r][j] -= f * a[c][j];
        inv[r][j] -= f * inv[c][j];
      }
    }
  }
  return inv;
}

void linearFigures(ModelFigures& m, const FitResult& fit, const OlsResult& ols, const std::vector<double>& y,
                   const std::vector<std::vector<double>>& x) {
  const size_t k = x.size();
  std::vector<size_t> kept;
  for (size_t j = 0; j < k; ++j)
    if (j < fit.drop.size() && fit.drop[j] == "keep") kept.push_back(j);
  const double n = static_cast<double>(ols.N);
  const double df1 = static_cast<double>(kept.size()), df2 = n - df1 - 1;
  // F from the sums of squares (not from R², which loses digits near 1).
  const double my = meanOf(y);
  double sst = 0, sse = 0;
  for (double v : y) sst += (v - my) * (v - my);
  for (double e : ols.residuals) sse += e * e;
  m.modelF.df1 = df1;
  m.modelF.df2 = df2;
  m.modelF.statistic = df1 > 0 && df2 > 0 ? ((sst - sse) / df1) / (sse / df2) : kNaN;
  m.modelF.p = std::isnan(m.modelF.statistic) ? kNaN
               : sse == 0                     ? 0
                                              : D::fcdf(m.modelF.statistic, df1, df2);
  if (sse == 0 && df1 > 0 && df2 > 0) m.modelF.statistic = INFINITY;
  const double q = df2 > 0 ? D::tForConfidence(0.025, df2) : kNaN;
  const auto& b = fit.coeffs();
  const auto& se = fit.standardErrors();
  for (size_t j = 0; j < b.size(); ++j) m.coeffCI.push_back({b[j] - q * se[j], b[j] + q * se[j]});
  // Standardized coefficients b·sd(x)/sd(y), on the rows of the fit.
  auto sdOf = [](const std::vector<double>& v) {
    const double mv = meanOf(v);
    double s = 0;
    for (double e : v) s += (e - mv) * (e - mv);
    return v.size() > 1 ? std::sqrt(s / static_cast<double>(v.size() - 1)) : kNaN;
  };
  const double sy = sdOf(y);
  m.beta.assign(k, kNaN);
  m.vif.assign(k, kNaN);
  for (size_t j : kept) m.beta[j] = b[j] * sdOf(x[j]) / sy;
  // VIF_j = 1 / (1 − R²_j) is the j-th diagonal element of the inverse of
  // the regressors' correlation matrix: one pass over the data and one small
  // inversion instead of one regression per regressor.
  if (kept.size() == 1) m.vif[kept[0]] = 1;
  if (kept.size() < 2) return;
  const size_t p = kept.size();
  std::vector<double> means(p), sds(p);
  for (size_t a = 0; a < p; ++a) {
    means[a] = meanOf(x[kept[a]]);
    sds[a] = sdOf(x[kept[a]]);
  }
  std::vector<std::vector<double>> r(p, std::vector<double>(p, 0));
  const size_t rows = y.size();
  for (size_t a = 0; a < p; ++a)
    for (size_t c = a; c < p; ++c) {
      double s = 0;
      const auto& xa = x[kept[a]];
      const auto& xc = x[kept[c]];
      for (size_t i = 0; i < rows; ++i) s += (xa[i] - means[a]) * (xc[i] - means[c]);
      r[a][c] = r[c][a] = s / (static_cast<double>(rows - 1) * sds[a] * sds[c]);
    }
  const auto inv = inverse(r);
  if (inv.empty()) return;
  for (size_t a = 0; a < p; ++a) m.vif[kept[a]] = inv[a][a];
}

void logisticFigures(ModelFigures& m, const FitResult& fit, const LogitResult& logit, const std::vector<double>& y) {
  const double z = D::normZForConfidence(0.975);
  const auto& b = fit.coeffs();
  const auto& se = fit.standardErrors();
  for (size_t j = 0; j < b.size(); ++j)
    m.oddsRatios.push_back({std::exp(b[j]), std::exp(b[j] - z * se[j]), std::exp(b[j] + z * se[j])});
  size_t kept = 0;
  for (size_t j = 0; j + 1 < fit.drop.size(); ++j) kept += fit.drop[j] == "keep";
  const double n = static_cast<double>(logit.N);
  const double chisq = 2 * (logit.LL - logit.LL0);
  m.lrTest.statistic = chisq;
  m.lrTest.df1 = static_cast<double>(kept);
  m.lrTest.df2 = kNaN;
  m.lrTest.p = kept > 0 ? D::chicdf(std::max(chisq, 0.0), static_cast<double>(kept)) : kNaN;
  // Nagelkerke (1991): Cox and Snell's 1 − (L0/L)^(2/n) scaled by its maximum 1 − L0^(2/n).
  const double coxSnell = 1 - std::exp(2 * (logit.LL0 - logit.LL) / n);
  const double maximum = 1 - std::exp(2 * logit.LL0 / n);
  m.nagelkerke = maximum > 0 ? coxSnell / maximum : kNaN;
  double tp = 0, tn = 0, fp = 0, fn = 0;
  for (size_t i = 0; i < y.size() && i < logit.yhat.size(); ++i) {
    const bool predicted = logit.yhat[i] > 0.5, actual = y[i] == 1;
    (predicted ? (actual ? tp : fp) : (actual ? fn : tn)) += 1;
  }
  const double all = tp + tn + fp + fn;
  m.accuracy = all > 0 ? (tp + tn) / all : kNaN;
  m.sensitivity = tp + fn > 0 ? tp / (tp + fn) : kNaN;
  m.specificity = tn + fp > 0 ? tn / (tn + fp) : kNaN;
}

// A p-value after a statistic on a line.
std::string pLine(double p) { return stringFromPNumber(p) + significanceMark(p); }

}  // namespace

ModelFigures modelFigures(const FitResult& fit, const std::vector<double>& y,
                          const std::vector<std::vector<double>>& x) {
  ModelFigures m;
  m.logistic = fit.isLogit();
  if (m.logistic)
    logisticFigures(m, fit, std::get<LogitResult>(fit.fit), y);
  else
    linearFigures(m, fit, std::get<OlsResult>(fit.fit), y, x);
  return m;
}

void addToJson(const ModelFigures& m, nlohmann::json& out) {
  if (m.logistic) {
    out["oddsRatios"] = m.oddsRatios;
    out["lrTest"] = {{"chisq", m.lrTest.statistic}, {"df", m.lrTest.df1}, {"p", m.lrTest.p}};
    out["nagelkerke"] = m.nagelkerke;
    out["classification"] = {
        {"accuracy", m.accuracy}, {"sensitivity", m.sensitivity}, {"specificity", m.specificity}};
    return;
  }
  out["modelF"] = {{"F", m.modelF.statistic}, {"df1", m.modelF.df1}, {"df2", m.modelF.df2}, {"p", m.modelF.p}};
  out["coeffCI"] = m.coeffCI;
  out["beta"] = m.beta;
  out["vif"] = m.vif;
}

void writeCSVLines(const ModelFigures& m, const std::vector<std::string>& names, CsvWriter& w) {
  auto nameOf = [&](size_t j) { return j < names.size() ? names[j] : tr("Constant"); };
  w.finishLine();
  if (m.logistic) {
    w.writeLineOfFields({tr("Model test:")});
    w.writeLineOfFields({tr("Likelihood ratio chi-squared"), m.lrTest.statistic});
    w.writeLineOfFields({tr("df"), m.lrTest.df1});
    w.writeLineOfFields({tr("p"), m.lrTest.p});
    w.writeLineOfFields({tr("Nagelkerke R²"), m.nagelkerke});
    w.writeLineOfFields({tr("Accuracy (cut-off 0.5)"), m.accuracy});
    w.writeLineOfFields({tr("Sensitivity"), m.sensitivity});
    w.writeLineOfFields({tr("Specificity"), m.specificity});
    w.finishLine();
    w.writeLineOfFields({tr("Odds ratios:")});
    w.writeLineOfFields({tr("Variable"), tr("Odds ratio"), tr("Lower 95%"), tr("Upper 95%")});
    for (size_t j = 0; j < m.oddsRatios.size(); ++j)
      w.writeLineOfFields({nameOf(j), m.oddsRatios[j][0], m.oddsRatios[j][1], m.oddsRatios[j][2]});
    return;
  }
  w.writeLineOfFields({tr("Model test:")});
  w.writeLineOfFields({tr("F"), m.modelF.statistic});
  w.writeLineOfFields({tr("df1"), m.modelF.df1});
  w.writeLineOfFields({tr("df2"), m.modelF.df2});
  w.writeLineOfFields({tr("p"), m.modelF.p});
  w.finishLine();
  w.writeLineOfFields({tr("Coefficient intervals:")});
  w.writeLineOfFields({tr("Variable"), tr("Lower 95%"), tr("Upper 95%"), tr("Standardized"), tr("VIF")});
  for (size_t j = 0; j < m.coeffCI.size(); ++j) {
    w.writeField(nameOf(j));
    w.writeField(m.coeffCI[j][0]);
    w.writeField(m.coeffCI[j][1]);
    if (j < m.beta.size()) {
      w.writeField(m.beta[j]);
      w.writeField(m.vif[j]);
    }
    w.finishLine();
  }
}

double appendModelFigures(const ModelFigures& m, const std::vector<std::string>& names, reports::Element& root,
                          double y, double width, bool print) {
  using namespace reports;
  const double inner = width - 40;
  auto nameOf = [&](size_t j) { return j < names.size() ? names[j] : tr("Constant"); };
  auto add = [&](Element e, const char* role, const char* term = "") {
    e.role = role;
    e.term = term;
    root.children.push_back(std::move(e));
  };
  auto figure = [&](const std::string& text, const char* term) {
    add(label(text, {20, y, inner, 16}, 11), "figure", term);
    y += 16;
  };
  auto grid = [&](size_t columns) {
    TableColumns g;
    const double first = print ? 170 : 240;
    const double rest = (inner - first) / static_cast<double>(columns - 1);
    g.columnX.push_back(0);
    g.columnWidth.push_back(first);
    g.align.push_back(TextAlign::Left);
    for (size_t i = 1; i < columns; ++i) {
      g.columnX.push_back(first + rest * static_cast<double>(i - 1));
      g.columnWidth.push_back(rest);
      g.align.push_back(TextAlign::Right);
    }
    g.rowHeight = print ? 15 : 20;
    g.fontSize = print ? 10 : 12;
    return g;
  };
  std::vector<std::vector<std::string>> rows;
  const char* term = "";
  if (m.logistic) {
    figure(fillPlaceholders(tr("Likelihood ratio test: χ² = %@, df = %@, %@"),
                            {stringFromNumber(m.lrTest.statistic), stringFromNumber(m.lrTest.df1), pLine(m.lrTest.p)}),
           "lrTest");
    figure(fillPlaceholders(tr("Nagelkerke R² = %@"), {stringFromNumber(m.nagelkerke)}), "nagelkerke");
    figure(fillPlaceholders(tr("Correctly classified (cut-off 0.5): %@; sensitivity %@, specificity %@"),
                            {stringFromNumber(m.accuracy, 4), stringFromNumber(m.sensitivity, 4),
                             stringFromNumber(m.specificity, 4)}),
           "classification");
    rows.push_back({tr("Variable"), tr("Odds ratio"), tr("Lower 95%"), tr("Upper 95%")});
    for (size_t j = 0; j < m.oddsRatios.size(); ++j)
      rows.push_back({nameOf(j), stringFromNumber(m.oddsRatios[j][0]), stringFromNumber(m.oddsRatios[j][1]),
                      stringFromNumber(m.oddsRatios[j][2])});
    term = "oddsRatio";
  } else {
    figure(fillPlaceholders(tr("Model F(%@, %@) = %@, %@"),
                            {stringFromNumber(m.modelF.df1), stringFromNumber(m.modelF.df2),
                             stringFromNumber(m.modelF.statistic), pLine(m.modelF.p)}),
           "modelF");
    rows.push_back({tr("Variable"), tr("Lower 95%"), tr("Upper 95%"), tr("Standardized"), tr("VIF")});
    for (size_t j = 0; j < m.coeffCI.size(); ++j) {
      const bool regressor = j < m.beta.size();
      rows.push_back({nameOf(j), stringFromNumber(m.coeffCI[j][0]), stringFromNumber(m.coeffCI[j][1]),
                      regressor ? stringFromNumber(m.beta[j]) : "", regressor ? stringFromNumber(m.vif[j]) : ""});
    }
    term = "coeffCI";
  }
  y += 4;
  Element t = table(rows, grid(rows.front().size()), 20, y);
  y += t.frame.h + 10;
  add(std::move(t), "table", term);
  if (!m.logistic) {
    add(label(tr("Standardized: the coefficient in standard deviations of both variables."), {20, y, inner, 14}, 9),
        "note", "beta");
    y += 14;
    add(label(tr("VIF: variance inflation factor; above 10 signals collinearity."), {20, y, inner, 14}, 9), "note",
        "vif");
    y += 18;
  }
  return y;
}

}  // namespace tabulix
