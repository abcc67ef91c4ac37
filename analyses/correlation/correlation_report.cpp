#include "analyses/correlation/correlation_report.h"

#include <algorithm>
#include <cmath>

#include "analyses/detail/detail_report.h"
#include "analyses/report_text.h"
#include "engine/number_format.h"
#include "engine/translate.h"
#include "reports/pdf_writer.h"

namespace tabulix {

std::string correlationValidityMessage() { return tr("Please choose two variables to analyze."); }

std::string correlationFileName(const std::string& nameY, const std::string& nameX) {
  return fillPlaceholders(tr("Analysis of variables %@ and %@"), {nameY, nameX});
}

std::string correlationInterpretation(const CorrelationRecord& c) {
  std::string text;
  if (std::isnan(c.p))
    text = tr("Correlation is exact.");
  else if (c.p < 0.05)
    text = tr("Correlation is significantly different than zero (p<0.05).");
  else
    text = tr("Correlation is not significantly different than zero (p>0.05).");
  if (c.df == -2) return tr("Variables have no numeric rows in common.");
  if (std::isnan(c.r))
    return tr(
        "Correlation is not defined. This most often happens if one or both of the variables is constant on "
        "all "
        "rows they have in common.");
  const double r = c.r;
  if (r <= -0.5)
    text += tr(" Variables have strong negative correlation.");
  else if (r <= -0.3)
    text += tr(" Variables have medium negative correlation.");
  else if (r <= -0.1)
    text += tr(" Variables have weak negative correlation.");
  else if (r >= 0.5)
    text += tr(" Variables have strong positive correlation.");
  else if (r >= 0.3)
    text += tr(" Variables have medium positive correlation.");
  else if (r >= 0.1)
    text += tr(" Variables have weak positive correlation.");
  return text;
}

std::vector<std::string> correlationLines(const CorrelationRecord& c) {
  return {fillPlaceholders(tr("Correlation: %@"), {stringFromNumber(c.r)}),
          fillPlaceholders(tr("t = %@, df = %@, %@"),
                           {stringFromNumber(c.t), stringFromNumber(c.df), stringFromPNumber(c.p)}),
          fillPlaceholders(tr("95%% Conf Interval: %@ to %@"),
                           {stringFromNumber(c.ci[0]), stringFromNumber(c.ci[1])})};
}

std::vector<std::string> correlationRegressionLines(const CorrelationResult& r) {
  const auto& fit = std::get<OlsResult>(r.fit.fit);
  return {fillPlaceholders(tr("Obs = %@"), {stringFromNumber(fit.N)}),
          fillPlaceholders(tr("R² = %@"), {stringFromNumber(fit.r2)}),
          fillPlaceholders(tr("Adjusted R² = %@"), {stringFromNumber(fit.r2adj)}),
          fillPlaceholders(tr("RMSE = %@"), {stringFromNumber(fit.rmse)}),
          equationText(r.nameY, {r.nameX}, fit.coeffs, false)};
}

std::vector<CoefficientRow> correlationCoefficients(const CorrelationResult& r) {
  return coefficientRows({r.nameX}, r.fit.coeffs(), r.fit.standardErrors(), r.fit.t(), r.fit.p(), r.fit.drop);
}

namespace {

// An axis spanning the values with 5% to spare on each side.
charts::Axis axisOver(const std::vector<double>& v, bool date, std::string title) {
  charts::Axis a;
  a.title = std::move(title);
  a.kind = date ? charts::AxisKind::Date : charts::AxisKind::Number;
  if (v.empty()) return a;
  auto [lo, hi] = std::minmax_element(v.begin(), v.end());
  double pad = (*hi - *lo) * 0.05;
  if (pad == 0) pad = std::max(std::fabs(*lo) * 0.05, 1.0);
  a.min = *lo - pad;
  a.max = *hi + pad;
  return a;
}

}  // namespace

std::vector<charts::Chart> correlationCharts(const CorrelationResult& r) {
  std::vector<charts::Chart> out;
  const auto& data = r.correlation.data;
  charts::Chart scatter;
  scatter.title = fillPlaceholders(tr("Scatter Plot of %@ and %@"), {r.nameX, r.nameY});
  scatter.x = axisOver(data[0], r.xIsDate, r.nameX);
  scatter.y = axisOver(data[1], r.yIsDate, r.nameY);
  scatter.points.push_back({data[0], data[1]});
  // The segment runs past the plot on both sides; the chart clips it.
  if (!data[0].empty())
    scatter.lines.push_back(
        {{r.dataFit[0][0], r.dataFit[0][1]}, {r.dataFit[1][0], r.dataFit[1][1]}, false, ""});
  out.push_back(std::move(scatter));

  charts::Chart residuals;
  residuals.title = tr("Residuals vs Fitted");
  const auto& yhat = r.fit.yhat();
  const auto& res = r.fit.residuals();
  residuals.x = axisOver(yhat, r.yIsDate, fillPlaceholders(tr("Predicted %@"), {r.nameY}));
  residuals.y = axisOver(res, false, r.yIsDate ? tr("Residual (seconds)") : tr("Residual"));
  residuals.points.push_back({yhat, res});
  out.push_back(std::move(residuals));

  out.push_back(residualHistogramChart(r.histogram));
  return out;
}

void writeCSVLines(const CorrelationResult& r, const std::string& filterText, CsvWriter& w) {
  const CorrelationRecord& c = r.correlation;
  const auto& fit = std::get<OlsResult>(r.fit.fit);
  w.writeLineOfFields({correlationFileName(r.nameY, r.nameX)});
  w.finishLine();
  w.writeLineOfFields({tr("Filters:"), filterText});
  w.finishLine();
  w.writeLineOfFields({tr("Correlation")});
  w.writeLineOfFields({tr("r"), c.r});
  w.writeLineOfFields({tr("Degrees of Freedom"), c.df});
  w.writeLineOfFields({tr("t"), c.t});
  w.writeLineOfFields({tr("p"), c.p});
  w.writeLineOfFields({tr("95% conf lower bound"), c.ci[0]});
  w.writeLineOfFields({tr("95% conf upper bound"), c.ci[1]});
  w.finishLine();
  w.writeLineOfFields({tr("Rank correlations")});
  w.writeLineOfFields({tr("Spearman's rho"), r.spearman.estimate});
  w.writeLineOfFields({tr("Spearman's p"), r.spearman.p});
  w.writeLineOfFields({tr("Kendall's tau-b"), r.kendall.estimate});
  w.writeLineOfFields({tr("Kendall's p"), r.kendall.p});
  w.finishLine();
  w.writeLineOfFields({tr("Linear Regression")});
  w.writeLineOfFields({tr("Observations"), static_cast<double>(fit.N)});
  w.writeLineOfFields({tr("R²"), fit.r2});
  w.writeLineOfFields({tr("Adjusted R²"), fit.r2adj});
  w.writeLineOfFields({tr("RMSE"), fit.rmse});
  w.finishLine();
  writeCoefficientLines(correlationCoefficients(r), "t", w);
  w.finishLine();
  w.writeLineOfFields({significanceLegend()});
}

reports::Element correlationLayout(const CorrelationResult& r, const std::string& filterText, bool print) {
  using namespace reports;
  const double width = print ? kPageWidth : 760;
  Element root = container({0, 0, width, 0});
  double y = 20;
  auto add = [&](Element e, const char* role, const char* term = "") {
    e.role = role;
    e.term = term;
    root.children.push_back(std::move(e));
  };
  add(label(correlationFileName(r.nameY, r.nameX), {20, y, width - 40, 22}, 16, TextAlign::Left, true),
      "title");
  y += 24;
  add(label(fillPlaceholders(tr("Bivariate analysis of:"), {}) + " " + r.nameX + " " + tr("and") + " " +
                r.nameY,
            {20, y, width - 40, 16}, 11),
      "subtitle");
  y += 16;
  // The filter line is shown, as on every report, also when there is none.
  add(label(filterLineFor(filterText), {20, y, width - 40, 16}, 11), "filter");
  y += 16;
  y += 8;
  // Correlation on the left, the regression figures on the right.
  const double half = (width - 40) / 2;
  double ly = y;
  for (const std::string& line : correlationLines(r.correlation)) {
    add(label(line, {20, ly, half - 10, 16}, 11), "figure");
    ly += 16;
  }
  add(label(fillPlaceholders(tr("Spearman's ρ = %@, %@"),
                             {stringFromNumber(r.spearman.estimate),
                              stringFromPNumber(r.spearman.p) + significanceMark(r.spearman.p)}),
            {20, ly, half - 10, 16}, 11),
      "figure", "spearman");
  ly += 16;
  add(label(fillPlaceholders(tr("Kendall's τ-b = %@, %@"),
                             {stringFromNumber(r.kendall.estimate),
                              stringFromPNumber(r.kendall.p) + significanceMark(r.kendall.p)}),
            {20, ly, half - 10, 16}, 11),
      "figure", "kendall");
  ly += 16;
  Element sentence = textBlock(correlationInterpretation(r.correlation), {20, ly + 4, half - 10, 48}, 11);
  add(std::move(sentence), "note");
  ly += 56;
  double ry = y;
  add(label(tr("Linear Regression"), {20 + half, ry, half, 16}, 12, TextAlign::Left, true), "heading",
      "linearreg");
  ry += 18;
  const char* terms[] = {"observations", "r2", "adjustedR2", "rmse", ""};
  auto lines = correlationRegressionLines(r);
  for (size_t i = 0; i < lines.size(); ++i) {
    add(label(lines[i], {20 + half, ry, half, 16}, 11), i + 1 == lines.size() ? "equation" : "figure",
        terms[i]);
    ry += 16;
  }
  y = std::max(ly, ry) + 12;
  Element t = coefficientTable(correlationCoefficients(r), "t", print, 20, y);
  y += t.frame.h + 6;
  root.children.push_back(std::move(t));
  add(textBlock(significanceLegend(), {20, y, width - 40, 28}, 9), "legend");
  y += 34;
  std::vector<charts::Chart> charts = correlationCharts(r);
  // Two charts a row: the scatter plot and the residual plot, then the histogram.
  const double chartWidth = (width - 40 - 12) / 2, chartHeight = print ? 200 : 260;
  for (size_t i = 0; i < charts.size(); ++i) {
    const double x = 20 + static_cast<double>(i % 2) * (chartWidth + 12);
    add(chartHost(std::move(charts[i]), {x, y, chartWidth, chartHeight}), "chart");
    if (i % 2 == 1 || i + 1 == charts.size()) y += chartHeight + 12;
  }
  root.frame.h = y;
  return root;
}

}  // namespace tabulix
