#include "analyses/regression/regression_report.h"

#include <algorithm>
#include <cmath>

#include "analyses/detail/detail_report.h"
#include "engine/number_format.h"
#include "engine/translate.h"
#include "reports/pdf_writer.h"

namespace tabulix {

std::string regressionValidityMessage() { return tr("Choose a dependent variable."); }

std::string regressionTitle(bool logistic, const std::string& dependentName) {
  return fillPlaceholders(
      tr(logistic ? "Logistic regression model for variable %@" : "Linear regression model for variable %@"),
      {dependentName});
}

std::string regressionInterpretation(const RegressionResult& r, const RegressionContext& c, bool* warning) {
  if (warning) *warning = false;
  const double N = r.fit.N();
  const std::string& name = r.nameLHS;
  if (N == 0) {
    if (warning) *warning = true;
    return tr(
        "No observations in model. One or more variables in the model may have no numeric observations. To "
        "improve "
        "try removing variables that have none or few numeric observations.");
  }
  if (r.fit.sdDep == 0)
    return fillPlaceholders(
        tr("Dependent variable %@ is constant on all rows in regression. There is no variation to explain."),
        {name});
  if (const auto* logit = std::get_if<LogitResult>(&r.fit.fit)) {
    if (!logit->converged) return tr("Model did not converge. Coefficients may not be trustworthy.");
    if (logit->numPerfectPredict >= 1) {
      if (warning) *warning = true;
      std::string text =
          tr("Predicted probabilities exactly 0 or 1 for %d observations. Coefficients may not be "
             "trustworthy. One or "
             "more variables may be causing this.");
      const size_t at = text.find("%d");
      if (at != std::string::npos) text.replace(at, 2, std::to_string(logit->numPerfectPredict));
      return text;
    }
  }
  const double R = std::visit([](const auto& f) { return f.r2adj; }, r.fit.fit);
  if (R >= 0.9 && static_cast<double>(c.numIndependent) + 10 >= N)
    return fillPlaceholders(
        tr("The model appears to explain variation in %@ very well. However, the small number of "
           "observations mean this may be overfitting. Try finding more observations for your dataset."),
        {name});
  if (R < 0.3)
    return fillPlaceholders(
        tr("Model doesn't explain variation in %@ very well. Try removing variables with insignificant "
           "coefficients, or adding in variables that haven't been tried yet."),
        {name});
  if (R < 0.5)
    return fillPlaceholders(
        tr("Model explains some of the variation in %@. Try removing variables with insignificant "
           "coefficients, or adding in variables that haven't been tried yet."),
        {name});
  if (R < 0.9)
    return fillPlaceholders(
        tr("Model explains most of the variation in %@. Try removing variables with insignificant "
           "coefficients, or adding in variables that haven't been tried yet."),
        {name});
  return fillPlaceholders(
      tr("Model does a good job explaining variation in %@. Consider removing variables with "
         "insignificant coefficients as they may hurt more than they help."),
      {name});
}

std::vector<std::string> regressionFigureLines(const RegressionResult& r, const RegressionContext&) {
  std::vector<std::string> lines = {fillPlaceholders(tr("Obs = %@"), {stringFromNumber(r.fit.N())})};
  if (const auto* logit = std::get_if<LogitResult>(&r.fit.fit)) {
    lines.push_back(fillPlaceholders(tr("Pseudo-R² = %@"), {stringFromNumber(logit->r2adj)}));
    lines.push_back(fillPlaceholders(tr("Log-likelihood: %@"), {stringFromNumber(logit->LL)}));
    lines.push_back(fillPlaceholders(tr("AUC: %@"), {stringFromNumber(logit->AUC)}));
    lines.push_back(fillPlaceholders(tr("AIC: %@"), {stringFromNumber(logit->AIC)}));
  } else {
    const auto& ols = std::get<OlsResult>(r.fit.fit);
    lines.push_back(fillPlaceholders(tr("R² = %@"), {stringFromNumber(ols.r2)}));
    lines.push_back(fillPlaceholders(tr("Adjusted R² = %@"), {stringFromNumber(ols.r2adj)}));
    lines.push_back(fillPlaceholders(tr("RMSE = %@"), {stringFromNumber(ols.rmse)}));
  }
  return lines;
}

std::vector<CoefficientRow> regressionCoefficients(const RegressionResult& r) {
  return coefficientRows(r.names, r.fit.coeffs(), r.fit.standardErrors(), r.fit.t(), r.fit.p(), r.fit.drop);
}

std::vector<charts::Chart> regressionCharts(const RegressionResult& r, const RegressionContext& c) {
  std::vector<charts::Chart> out;
  if (const auto* logit = std::get_if<LogitResult>(&r.fit.fit)) {
    charts::Chart roc;
    roc.title = tr("ROC Curve");
    roc.x.title = tr("False Positive Rate");
    roc.y.title = tr("True Positive Rate");
    charts::LineSeries curve;
    // Each entry holds the true-positive rate first.
    for (const auto& point : logit->roc) {
      curve.x.push_back(point[1]);
      curve.y.push_back(point[0]);
    }
    roc.lines.push_back({{0, 1}, {0, 1}, true, ""});
    roc.lines.push_back(std::move(curve));
    out.push_back(std::move(roc));
    return out;
  }
  charts::Chart residuals;
  residuals.title = tr("Residuals vs Fitted");
  const auto& yhat = r.fit.yhat();
  const auto& res = r.fit.residuals();
  auto span = [](const std::vector<double>& v, charts::Axis& a) {
    if (v.empty()) return;
    auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    double pad = (*hi - *lo) * 0.05;
    if (pad == 0) pad = std::max(std::fabs(*lo) * 0.05, 1.0);
    a.min = *lo - pad;
    a.max = *hi + pad;
  };
  residuals.x.title = fillPlaceholders(tr("Predicted %@"), {r.nameLHS});
  residuals.x.kind = c.dependentIsDate ? charts::AxisKind::Date : charts::AxisKind::Number;
  residuals.y.title = c.dependentIsDate ? tr("Residual (seconds)") : tr("Residual");
  span(yhat, residuals.x);
  span(res, residuals.y);
  residuals.points.push_back({yhat, res});
  out.push_back(std::move(residuals));
  out.push_back(residualHistogramChart(r.histogram));
  return out;
}

void writeCSVLines(const RegressionResult& r, const RegressionContext& c, CsvWriter& w) {
  w.writeLineOfFields({c.title});
  w.finishLine();
  w.writeLineOfFields({tr("Filters:"), c.filterText});
  w.writeLineOfFields({tr("Observations"), static_cast<double>(r.fit.N())});
  if (const auto* logit = std::get_if<LogitResult>(&r.fit.fit)) {
    w.writeLineOfFields({tr("Pseudo-R²"), logit->r2adj});
    w.writeLineOfFields({tr("Log-likelihood"), logit->LL});
    w.writeLineOfFields({tr("AUC"), logit->AUC});
    w.writeLineOfFields({tr("AIC"), logit->AIC});
  } else {
    const auto& ols = std::get<OlsResult>(r.fit.fit);
    w.writeLineOfFields({tr("Adjusted R²"), ols.r2adj});
    w.writeLineOfFields({tr("RMSE"), ols.rmse});
  }
  w.finishLine();
  writeCoefficientLines(regressionCoefficients(r), c.logistic ? "z" : "t", w);
  writeCSVLines(r.figures, r.names, w);
  w.finishLine();
  w.writeLineOfFields({significanceLegend()});
}

reports::Element regressionLayout(const RegressionResult& r, const RegressionContext& c, bool print) {
  using namespace reports;
  const double width = print ? kPageWidth : 760;
  Element root = container({0, 0, width, 0});
  double y = 20;
  auto add = [&](Element e, const char* role, const char* term = "") {
    e.role = role;
    e.term = term;
    root.children.push_back(std::move(e));
  };
  add(label(c.title, {20, y, width - 40, 22}, 16, TextAlign::Left, true), "title");
  y += 24;
  add(label(tr(c.logistic ? "Logistic Regression Model" : "Linear Regression Model"), {20, y, width - 40, 18},
            12, TextAlign::Left, true),
      "heading", c.logistic ? "logisticreg" : "linearreg");
  y += 18;
  // The filter line is shown, as on every report, also when there is none.
  add(label(filterLineFor(c.filterText), {20, y, width - 40, 16}, 11), "filter");
  y += 16;
  y += 6;
  const char* linearTerms[] = {"observations", "r2", "adjustedR2", "rmse"};
  const char* logisticTerms[] = {"observations", "pseudoR2", "loglikelihood", "AUC", "AIC"};
  auto lines = regressionFigureLines(r, c);
  // Figures in two columns, the observations first.
  const double columnWidth = (width - 40) / 2;
  for (size_t i = 0; i < lines.size(); ++i)
    add(label(lines[i],
              {20 + columnWidth * static_cast<double>(i % 2), y + 16 * static_cast<double>(i / 2),
               columnWidth - 4, 16},
              11),
        "figure", c.logistic ? logisticTerms[i] : linearTerms[i]);
  y += 16 * static_cast<double>((lines.size() + 1) / 2) + 4;
  add(textBlock(equationText(r.nameLHS, r.names, r.fit.coeffs(), c.logistic), {20, y, width - 40, 32}, 11),
      "equation");
  y += 36;
  bool warning = false;
  Element sentence = textBlock(regressionInterpretation(r, c, &warning), {20, y, width - 40, 44}, 11);
  if (warning) sentence.textColor = {0.8, 0.1, 0.1, 1};
  add(std::move(sentence), warning ? "warning" : "note");
  y += 48;
  Element t = coefficientTable(regressionCoefficients(r), c.logistic ? "z" : "t", print, 20, y);
  y += t.frame.h + 6;
  root.children.push_back(std::move(t));
  y = appendModelFigures(r.figures, r.names, root, y, width, print);
  add(textBlock(significanceLegend(), {20, y, width - 40, 28}, 9), "legend");
  y += 34;
  std::vector<charts::Chart> charts = regressionCharts(r, c);
  const double chartWidth = charts.size() == 1 ? std::min(300.0, width - 40) : (width - 40 - 12) / 2;
  const double chartHeight = print ? 220 : 260;
  double x = 20;
  for (auto& ch : charts) {
    add(chartHost(std::move(ch), {x, y, chartWidth, chartHeight}), "chart");
    x += chartWidth + 12;
  }
  y += chartHeight + 16;
  root.frame.h = y;
  return root;
}

}  // namespace tabulix
