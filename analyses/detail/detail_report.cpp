#include "analyses/detail/detail_report.h"

#include <charconv>
#include <cmath>

#include "engine/number_format.h"
#include "engine/translate.h"
#include "reports/pdf_writer.h"

namespace tabulix {

namespace {

std::string count(const std::optional<int64_t>& v) {
  return v ? stringFromNumber(static_cast<double>(*v)) : std::string();
}

std::string percent(double share) { return stringFromPercent(share); }

// A share for the CSV file: a fraction to 15 significant digits, so that
// 1.0000000000000002 is written as 1 (the header line says "fraction").
void writeFraction(CsvWriter& w, double share) { w.writeRounded(share, 15); }

}  // namespace

std::string typeLineFor(VariableType type) {
  switch (type) {
    case VariableType::Categorical:
      return tr("Type: Categorical");
    case VariableType::Binary:
      return tr("Type: Binary");
    case VariableType::Numeric:
      return tr("Type: Numeric");
    case VariableType::DateTime:
      return tr("Type: Date / Time");
    default:
      return tr("Type: Unknown");
  }
}

std::string filterLineFor(const std::string& filterText) {
  return filterText.empty() ? tr("No filters") : fillPlaceholders(tr("Filters: %@"), {filterText});
}

std::string fileNameOutput(const DetailContext& context) {
  return fillPlaceholders(tr("Summary of %@"), {context.name});
}

DetailBlocks detailBlocks(const VariableDetailResult& r) {
  DetailBlocks b;
  auto line = [](std::vector<DetailLine>& block, const char* format, std::string value, const char* term) {
    if (!value.empty()) block.push_back({fillPlaceholders(tr(format), {value}), term});
  };
  auto pairLine = [](std::vector<DetailLine>& block, const char* format,
                     const std::optional<std::array<double, 2>>& v, auto write, const char* term) {
    if (v) block.push_back({fillPlaceholders(tr(format), {write((*v)[0]), write((*v)[1])}), term});
  };
  if (r.type == VariableType::Numeric) {
    auto n7 = [](const std::optional<double>& v) { return v ? stringFromNumber(*v, 7) : std::string(); };
    auto w7 = [](double v) { return stringFromNumber(v, 7); };
    line(b.left, "Observations: %@", count(r.obsNumeric), "observations");
    line(b.left, "Unique Values: %@", count(r.levels), "levels");
    line(b.left, "Mean: %@", n7(r.mean), "mean");
    pairLine(b.left, "95%% CI of Mean: [%@, %@]", r.ciMean, w7, "meanCI");
    line(b.left, "Median: %@", n7(r.pc50), "median");
    line(b.left, "Root Mean Square: %@", n7(r.rms), "rms");
    line(b.left, "Mode: %@", n7(r.mode), "mode");
    line(b.left, "Sum: %@", n7(r.sum), "sum");
    line(b.centre, "Minimum: %@", n7(r.min), "minimum");
    line(b.centre, "1st Quartile: %@", n7(r.pc25), "pc25");
    line(b.centre, "Median: %@", n7(r.pc50), "median");
    line(b.centre, "3rd Quartile: %@", n7(r.pc75), "pc75");
    line(b.centre, "Maximum: %@", n7(r.max), "maximum");
    b.centre.push_back({"", ""});
    line(b.centre, "Range: %@", n7(r.range), "range");
    line(b.centre, "Mid-Range: %@", n7(r.midrange), "midrange");
    line(b.right, "Variance: %@", n7(r.variance), "variance");
    pairLine(b.right, "95%% CI of Variance: [%@, %@]", r.ciVariance, w7, "varianceCI");
    line(b.right, "Standard Deviation: %@", n7(r.sd), "sd");
    pairLine(b.right, "95%% CI of Std Dev: [%@, %@]", r.ciStd, w7, "sdCI");
    line(b.right, "Mean Abs Dev: %@", n7(r.meanAbsDev), "mad");
    line(b.right, "Coeff. Variation: %@", n7(r.coeffVar), "coeffvar");
    line(b.right, "Skew: %@", n7(r.skew), "skew");
    line(b.right, "Excess Kurtosis: %@", n7(r.kurtosis), "kurtosis");
    if (r.shapiro && !std::isnan(r.shapiro->W)) {
      b.right.push_back({fillPlaceholders(tr("Shapiro–Wilk: W = %@, %@"), {stringFromNumber(r.shapiro->W, 5),
                                                                           stringFromPNumber(r.shapiro->p)}),
                         "shapiro"});
    } else if (r.shapiro && r.shapiroN > 5000) {
      b.right.push_back({tr("Shapiro–Wilk: not computed above 5,000 values"), "shapiro"});
    }
    if (r.seed) line(b.right, "Random seed: %@", *r.seed, "");
  } else if (r.type == VariableType::DateTime) {
    const double scale = r.range.value_or(0);
    auto date = [scale](const std::optional<double>& v) {
      return v ? stringFromNumber(*v, VariableType::DateTime, 4, scale) : std::string();
    };
    auto when = [scale](const std::optional<double>& v) {
      return v ? stringFromDateNumber(*v, scale) : std::string();
    };
    auto n7 = [](const std::optional<double>& v) { return v ? stringFromNumber(*v, 7) : std::string(); };
    line(b.left, "Observations: %@", count(r.obsDate), "observations");
    line(b.left, "Unique Values: %@", count(r.levels), "levels");
    line(b.left, "Mean: %@", date(r.mean), "mean");
    pairLine(
        b.left, "95%% CI of Mean: [%@, %@]", r.ciMean,
        [scale](double v) { return stringFromNumber(v, VariableType::DateTime, 4, scale); }, "meanCI");
    line(b.left, "Median: %@", when(r.pc50), "median");
    line(b.left, "Root Mean Square: %@", date(r.rms), "rms");
    line(b.left, "Mode: %@", date(r.mode), "mode");
    line(b.centre, "Minimum: %@", when(r.min), "minimum");
    line(b.centre, "1st Quartile: %@", when(r.pc25), "pc25");
    line(b.centre, "Median: %@", when(r.pc50), "median");
    line(b.centre, "3rd Quartile: %@", when(r.pc75), "pc75");
    line(b.centre, "Maximum: %@", when(r.max), "maximum");
    b.centre.push_back({"", ""});
    line(b.centre, "Mid-Range: %@", date(r.midrange), "midrange");
    line(b.right, "Skew: %@", n7(r.skew), "skew");
    line(b.right, "Excess Kurtosis: %@", n7(r.kurtosis), "kurtosis");
  } else {
    line(b.left, "Observations: %@", count(r.obs), "observations");
    line(b.left, "Unique Values: %@", count(r.levels), "levels");
  }
  if (!b.centre.empty() && b.centre.back().text.empty()) b.centre.pop_back();
  return b;
}

std::vector<std::vector<std::string>> frequencyRows(const VariableDetailResult& r, int64_t cachedObs) {
  std::vector<std::vector<std::string>> rows = {{tr("Value"), tr("Observations"), tr("%"), tr("cum. %")}};
  if (!r.top) return rows;
  for (size_t i = 0; i < r.top->levels.size(); ++i) {
    double share =
        cachedObs > 0 ? static_cast<double>(r.top->counts[i]) / static_cast<double>(cachedObs) : NAN;
    rows.push_back({r.top->levels[i], stringFromNumber(static_cast<double>(r.top->counts[i])), percent(share),
                    percent(i < r.top->cumulative.size() ? r.top->cumulative[i] : NAN)});
  }
  return rows;
}

std::vector<charts::Chart> detailCharts(const VariableDetailResult& r, const std::string& name) {
  std::vector<charts::Chart> out;
  if (r.graphLevels) {
    charts::Chart bars;
    bars.kind = charts::ChartKind::Bars;
    bars.title = fillPlaceholders(tr("Bar Plot of %@"), {name});
    bars.categories = r.graphLevels->levels;
    for (int64_t c : r.graphLevels->counts) bars.values.push_back(static_cast<double>(c));
    charts::Chart pie = bars;
    pie.kind = charts::ChartKind::Pie;
    pie.title = fillPlaceholders(tr("Pie Chart of %@"), {name});
    out.push_back(std::move(bars));
    out.push_back(std::move(pie));
    return out;
  }
  if (!r.graph) return out;
  const auto& edges = (*r.graph)[0];
  const auto& counts = (*r.graph)[1];
  const bool dates = r.type == VariableType::DateTime;
  charts::Chart hist;
  hist.title = fillPlaceholders(tr("Histogram and Box Plot of %@"), {name});
  hist.y.title = tr("Frequency");
  hist.x.kind = dates ? charts::AxisKind::Date : charts::AxisKind::Number;
  if (!edges.empty()) {
    const double spacing = edges.size() > 1 ? edges[1] - edges[0] : 1;
    hist.bars.push_back({edges, counts, spacing});
    hist.x.min = edges.front();
    hist.x.max = edges.back() + spacing;
    hist.x.wholeLabels = hist.x.max - hist.x.min > 2;
    double tallest = 0;
    for (double c : counts) tallest = std::max(tallest, c);
    hist.y.min = 0;
    hist.y.max = tallest * 1.05;
  }
  if (r.pc25 && r.lower_fence && std::isfinite(*r.lower_fence))
    hist.box = charts::BoxSeries{*r.lower_fence, *r.pc25,        *r.pc50,
                                 *r.pc75,        *r.upper_fence, r.outliers.value_or(std::vector<double>{})};
  out.push_back(std::move(hist));

  charts::Chart qq;
  qq.title = tr("QQ Plot");
  qq.x.title = tr("Theoretical Quantiles");
  qq.y.kind = dates ? charts::AxisKind::Date : charts::AxisKind::Number;
  if (r.sorted && !r.sorted->empty()) {
    qq.points.push_back({*r.qnorm, *r.sorted});
    qq.x.min = r.qnorm->front() - 0.2;
    qq.x.max = r.qnorm->back() + 0.2;
    const double pad = (r.sorted->back() - r.sorted->front()) * 0.05;
    qq.y.min = r.sorted->front() - pad;
    qq.y.max = r.sorted->back() + pad;
    if (r.qqline) {
      // The reference line runs well past the points; the chart clips it.
      qq.lines.push_back(
          {{(*r.qqline)[0][0], (*r.qqline)[0][1]}, {(*r.qqline)[1][0], (*r.qqline)[1][1]}, false, ""});
    }
  }
  out.push_back(std::move(qq));
  return out;
}

void writeCSVLines(const VariableDetailResult& r, const DetailContext& c, CsvWriter& w) {
  w.writeLineOfFields({tr("Variable"), c.name});
  w.finishLine();
  w.writeLineOfFields({tr("Type"), variableTypeName(r.type)});
  w.writeLineOfFields({tr("Observations"), std::to_string(c.cachedObs)});
  w.writeLineOfFields({tr("Unique Values"), std::to_string(c.cachedLevels)});
  auto value = [&](const char* label, const std::optional<double>& v) {
    w.writeField(tr(label));
    if (!v) {
      w.writeField("");
    } else if (r.type == VariableType::DateTime) {
      w.writeField(stringFromNumber(*v, VariableType::DateTime));
    } else {
      w.writeField(*v);
    }
    w.finishLine();
  };
  if (r.type == VariableType::DateTime) {
    value("Mean", r.mean);
    value("Minimum", r.min);
    value("1st Quartile", r.pc25);
    value("Median", r.pc50);
    value("3rd Quartile", r.pc75);
    value("Maximum", r.max);
  } else if (r.type == VariableType::Numeric) {
    value("Mean", r.mean);
    value("Standard Deviation", r.sd);
    value("Minimum", r.min);
    value("1st Quartile", r.pc25);
    value("Median", r.pc50);
    value("3rd Quartile", r.pc75);
    value("Maximum", r.max);
    if (r.shapiro) {
      value("Shapiro–Wilk W", r.shapiro->W);
      value("Shapiro–Wilk p", r.shapiro->p);
    }
  } else if (r.type == VariableType::Binary) {
    value("Mean", r.mean);
    value("Standard Deviation", r.sd);
  }
  w.finishLine();
  w.writeLineOfFields({tr("Value"), tr("Observations"), tr("% (fraction)"), tr("cum. % (fraction)")});
  if (r.top)
    for (size_t i = 0; i < r.top->levels.size(); ++i) {
      w.writeField(r.top->levels[i]);
      w.writeField(static_cast<double>(r.top->counts[i]));
      writeFraction(w, c.cachedObs > 0
                           ? static_cast<double>(r.top->counts[i]) / static_cast<double>(c.cachedObs)
                           : NAN);
      writeFraction(w, i < r.top->cumulative.size() ? r.top->cumulative[i] : NAN);
      w.finishLine();
    }
}

reports::Element detailLayout(const VariableDetailResult& r, const DetailContext& c, bool print) {
  using namespace reports;
  const double width = print ? kPageWidth : 760;
  Element root = container({0, 0, width, 0});
  double y = 20;
  auto add = [&](Element e, const char* role) {
    e.role = role;
    root.children.push_back(std::move(e));
  };
  // The heading is the report's one name, the same as its file's.
  add(label(fileNameOutput(c), {20, y, width - 40, 22}, 16, TextAlign::Left, true), "title");
  y += 24;
  add(label(fillPlaceholders(tr("Variable: %@"), {c.name}), {20, y, width - 40, 16}, 11), "subtitle");
  y += 16;
  add(label(typeLineFor(c.columnType), {20, y, width - 40, 16}, 11), "subtitle");
  y += 16;
  add(label(filterLineFor(c.filterText), {20, y, width - 40, 16}, 11), "filter");
  y += 24;
  DetailBlocks blocks = detailBlocks(r);
  // The right block's interval lines are the longest.
  const double shares[] = {0.33, 0.27, 0.40};
  double blockHeight = 0, blockX = 20;
  int index = 0;
  for (auto* block : {&blocks.left, &blocks.centre, &blocks.right}) {
    const double blockWidth = (width - 40) * shares[index++];
    Element col = container({blockX, y, blockWidth, 0});
    blockX += blockWidth;
    col.role = "block";
    double ly = 0;
    for (const DetailLine& l : *block) {
      Element line = label(l.text, {0, ly, blockWidth - 6, 14}, 9.5);
      line.role = "figure";
      line.term = l.term;
      col.children.push_back(std::move(line));
      ly += 14;
    }
    col.frame.h = ly;
    blockHeight = std::max(blockHeight, ly);
    root.children.push_back(std::move(col));
  }
  y += blockHeight + 14;
  // Charts side by side.
  std::vector<charts::Chart> charts = detailCharts(r, c.name);
  if (!charts.empty()) {
    const double chartWidth = (width - 40 - 12 * (charts.size() - 1)) / static_cast<double>(charts.size());
    const double chartHeight = print ? 200 : 260;
    double x = 20;
    for (auto& ch : charts) {
      double w = chartWidth, h = chartHeight;
      if (print && ch.kind == charts::ChartKind::Pie) h = std::max(h, 80.0 * 2 + 34);  // radius 80
      add(chartHost(std::move(ch), {x, y, w, h}), "chart");
      x += chartWidth + 12;
    }
    y += chartHeight + 16;
  }
  add(label(tr("Most Frequent Values"), {20, y, width - 40, 18}, 12, TextAlign::Left, true), "heading");
  y += 20;
  TableColumns grid;
  if (print) {
    grid.columnX = {0, 120, 180, 210};
    grid.columnWidth = {120, 60, 30, 40};
    grid.rowHeight = 15;
    grid.fontSize = 10;
  } else {
    grid.columnX = {0, 220, 320, 380};
    grid.columnWidth = {220, 100, 60, 70};
    grid.rowHeight = 22;
    grid.fontSize = 12;
  }
  grid.align = {TextAlign::Left, TextAlign::Right, TextAlign::Right, TextAlign::Right};
  Element t = table(frequencyRows(r, c.cachedObs), grid, 20, y);
  t.role = "frequencies";
  y += t.frame.h;
  root.children.push_back(std::move(t));
  root.frame.h = y + 20;
  return root;
}

}  // namespace tabulix
