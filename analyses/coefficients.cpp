#include "analyses/coefficients.h"

#include <algorithm>
#include <cmath>

#include "engine/number_format.h"
#include "engine/translate.h"

namespace tabulix {

std::string significanceStars(double p) {
  if (p <= 0.001) return "*** ";
  if (p <= 0.01) return "** ";
  if (p <= 0.05) return "* ";
  return "";
}

std::string significanceLegend() {
  return tr(
      "Legend for significance: * - significant (p<0.05), ** - high significance (p<0.01), *** - very high "
      "significance (p<0.001)");
}

std::string dropNote(const std::string& status) {
  if (status == "constant") return tr(" Variable dropped because it has only one value.");
  if (status == "collinear") return tr(" Variable dropped because it is collinear with another variable.");
  return "";
}

std::string equationText(const std::string& nameLHS, const std::vector<std::string>& names,
                         const std::vector<double>& coeffs, bool logistic) {
  std::string text = fillPlaceholders(tr(logistic ? "%@ ~ " : "%@ = "), {nameLHS});
  bool first = true;
  auto separator = [&](double value) {
    std::string s = !first && value >= 0 ? " + " : " ";
    first = false;
    return s;
  };
  for (size_t j = 0; j < names.size() && j < coeffs.size(); ++j) {
    if (std::isnan(coeffs[j])) continue;
    std::string sep = separator(coeffs[j]);
    text += fillPlaceholders("%@%@ * %@", {sep, stringFromNumber(coeffs[j]), names[j]});
  }
  if (coeffs.size() > names.size()) {
    const double constant = coeffs.back();
    std::string sep = separator(constant);
    text += fillPlaceholders("%@%@ + ϵ", {sep, stringFromNumber(constant)});
  }
  return text;
}

std::vector<CoefficientRow> coefficientRows(const std::vector<std::string>& names,
                                            const std::vector<double>& coeffs,
                                            const std::vector<double>& stdErrs,
                                            const std::vector<double>& statistics,
                                            const std::vector<double>& ps,
                                            const std::vector<std::string>& drop) {
  std::vector<CoefficientRow> rows;
  auto at = [](const std::vector<double>& v, size_t i) { return i < v.size() ? v[i] : NAN; };
  for (size_t j = 0; j < coeffs.size(); ++j) {
    CoefficientRow r;
    r.name = j + 1 == coeffs.size() ? tr("Constant") : (j < names.size() ? names[j] : std::string());
    r.coefficient = coeffs[j];
    r.stdErr = at(stdErrs, j);
    r.statistic = at(statistics, j);
    r.p = at(ps, j);
    r.drop = j < drop.size() ? drop[j] : "keep";
    rows.push_back(std::move(r));
  }
  return rows;
}

reports::Element coefficientTable(const std::vector<CoefficientRow>& rows, const std::string& statistic,
                                  bool print, double x, double y) {
  using namespace reports;
  TableColumns grid;
  const double header = print ? 147 : 180, column = print ? 85 : 100;
  grid.columnX = {0};
  grid.columnWidth = {header};
  for (int c = 0; c < 5; ++c) {
    grid.columnX.push_back(header + column * c);
    grid.columnWidth.push_back(column);
  }
  grid.align = {TextAlign::Left,  TextAlign::Right,  TextAlign::Right,
                TextAlign::Right, TextAlign::Centre, TextAlign::Right};
  grid.rowHeight = 20;
  grid.fontSize = 12;
  std::vector<std::vector<std::string>> texts = {{"", tr("Coefficient"), tr(statistic),
                                                  statistic == "z" ? tr("p > | z |") : tr("p > | t |"),
                                                  tr("Significance"), tr("Std Err")}};
  for (const CoefficientRow& r : rows) {
    // Row headers carry the variable's name followed by a space.
    std::string name = r.name == tr("Constant") ? r.name : r.name + " ";
    if (r.drop != "keep") {
      texts.push_back({name, dropNote(r.drop)});
      continue;
    }
    texts.push_back({name, stringFromNumber(r.coefficient), stringFromNumber(r.statistic),
                     stringFromPValue(r.p), significanceStars(r.p), stringFromNumber(r.stdErr)});
  }
  Element t = table(texts, grid, x, y);
  t.role = "coefficients";
  for (size_t i = 1; i < t.children.size(); ++i) {
    Element& row = t.children[i];
    if (row.children.empty()) continue;
    Element& head = row.children[0];
    head.fontSize = 13;  // row headers are set a size larger than the figures
    if (rows[i - 1].drop != "keep" && row.children.size() > 1) {
      // The note runs across the figure columns.
      row.children[1].frame.w = column * 5;
      row.children[1].align = TextAlign::Left;
      row.children[1].textColor = {0.75, 0.1, 0.1, 1};
    }
  }
  return t;
}

void writeCoefficientLines(const std::vector<CoefficientRow>& rows, const std::string& statistic,
                           CsvWriter& w) {
  w.writeLineOfFields({tr("Variable"), tr("Coefficient"), tr("Standard Error"), tr(statistic),
                       statistic == "z" ? tr("p > | z |") : tr("p > | t |"), tr("Significance")});
  for (const CoefficientRow& r : rows) {
    w.writeField(r.name);
    w.writeField(r.coefficient);
    w.writeField(r.stdErr);
    w.writeField(r.statistic);
    w.writeField(r.p);
    w.writeField(significanceStars(r.p));
    w.finishLine();
  }
}

charts::Chart residualHistogramChart(const HistogramResult& h) {
  charts::Chart hist;
  hist.title = tr("Histogram of Residuals");
  hist.y.title = tr("Frequency");
  if (!h.edges.empty()) {
    const double spacing = h.edges.size() > 1 ? h.edges[1] - h.edges[0] : 1;
    hist.bars.push_back({h.edges, h.counts, spacing});
    hist.x.min = h.edges.front();
    hist.x.max = h.edges.back() + spacing;
    hist.y.min = 0;
    hist.y.max = *std::max_element(h.counts.begin(), h.counts.end()) * 1.05;
  }
  return hist;
}

}  // namespace tabulix
