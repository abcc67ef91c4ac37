#include "analyses/tab_summarize/tab_summarize.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_map>

#include "analyses/detail/detail_report.h"
#include "analyses/report_text.h"
#include "engine/cell_access.h"
#include "engine/level_order.h"
#include "engine/number_format.h"
#include "engine/translate.h"
#include "engine/values.h"
#include "reports/pdf_writer.h"
#include "stats/regression.h"

namespace tabulix {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kPercents[] = {0, 25, 50, 75, 100};

VariableType typeOf(const Column& c) {
  int t = c.type.value_or(0);
  return t >= 1 && t <= 4 ? static_cast<VariableType>(t) : VariableType::Unknown;
}

bool usable(double v) { return !std::isnan(v) && v != 0; }

}  // namespace

nlohmann::json toJson(const TabSummarizeResult& r) {
  nlohmann::json summary = nlohmann::json::array();
  for (const TabSummarizeLevel& l : r.summary) {
    nlohmann::json j = {{"level", l.level}, {"obs", l.obs}, {"mean", l.mean}, {"sd", l.sd}};
    if (l.median) {
      nlohmann::json m = nlohmann::json::object();
      for (const auto& [pc, v] : *l.median) m[std::to_string(static_cast<int>(pc))] = v;
      j["median"] = m;
    }
    if (l.density) j["density"] = *l.density;
    if (l.topwhisker) j["topwhisker"] = *l.topwhisker;
    if (l.botwhisker) j["botwhisker"] = *l.botwhisker;
    summary.push_back(std::move(j));
  }
  nlohmann::json out = {{"summary", std::move(summary)}, {"F", r.F}, {"p", r.p}};
  addToJson(r.tables, out);
  return out;
}

TabSummarizeResult tabColumnSummarizing(Model& model, const Column& grouping, const Column& summarized,
                                        uint32_t top, const std::vector<int32_t>* rows, PostHoc postHoc) {
  TabSummarizeResult out;
  const VariableType valueType = typeOf(summarized);
  out.summarizedType = valueType;
  if (!grouping.num || !summarized.num) return out;

  // Step 1: the grouping texts by row, each distinct text counted once as an id.
  std::unordered_map<std::string, int32_t> idOfText;
  std::vector<std::string> texts;
  std::vector<int64_t> counts;
  std::vector<std::pair<int32_t, int32_t>> groupOfRow;  // (row, text id or -1 when missing)
  groupOfRow.reserve(rows ? rows->size() : model.context().countRows());
  forEachValueOfColumn(model, grouping, rows, [&](int32_t row, std::optional<std::string_view> d) {
    if (!d || d->empty()) {
      groupOfRow.push_back({row, -1});
      return;
    }
    auto [it, added] = idOfText.try_emplace(std::string(*d), static_cast<int32_t>(texts.size()));
    if (added) {
      texts.push_back(it->first);
      counts.push_back(0);
    }
    ++counts[static_cast<size_t>(it->second)];
    groupOfRow.push_back({row, it->second});
  });

  // Step 2: the most frequent levels, the rest pooled as "Others", in the
  // grouping variable's level order ("Others" last).
  FrequencyDict freq;
  for (size_t i = 0; i < texts.size(); ++i) freq[texts[i]] = counts[i];
  TopFrequencies levels = orderedLevels(model, grouping, freq, top);
  const bool pooled = freq.size() > top;
  const size_t nLevels = levels.levels.size();
  std::vector<int32_t> groupOfText(texts.size(), pooled ? static_cast<int32_t>(nLevels) - 1 : -1);
  for (size_t k = 0; k < nLevels - (pooled ? 1 : 0); ++k)
    groupOfText[static_cast<size_t>(idOfText.at(levels.levels[k]))] = static_cast<int32_t>(k);
  std::vector<std::vector<double>> groups(nLevels);

  // Step 3: the summarized values, each into its row's group.
  std::optional<std::string> firstBinary;
  size_t at = 0;
  forEachValueOfColumn(model, summarized, rows, [&](int32_t row, std::optional<std::string_view> d) {
    while (at < groupOfRow.size() && groupOfRow[at].first < row) ++at;
    if (at == groupOfRow.size() || groupOfRow[at].first != row) return;
    const int32_t id = groupOfRow[at].second;
    if (id < 0) return;
    const int32_t g = groupOfText[static_cast<size_t>(id)];
    if (g < 0 || !d || d->empty()) return;
    std::optional<double> v;
    if (valueType == VariableType::DateTime) {
      v = dateForString(model, *d);
    } else if (valueType == VariableType::Binary) {
      if (!firstBinary) firstBinary = std::string(*d);
      v = *d == *firstBinary ? 0.0 : 1.0;
    } else {
      v = decimalNumberForString(model, *d);
      if (v && std::isnan(*v)) v.reset();
    }
    if (v) groups[static_cast<size_t>(g)].push_back(*v);
  });

  // Step 4: the groups are already in level order.
  std::vector<size_t> order(nLevels);
  for (size_t k = 0; k < nLevels; ++k) order[k] = k;
  std::vector<std::vector<double>> ordered;
  ordered.reserve(nLevels);
  for (size_t k : order) ordered.push_back(std::move(groups[k]));

  // Step 5.
  AnovaResult anova = RegressionRoutines::anova(ordered, valueType == VariableType::Binary);
  out.F = anova.F;
  out.p = anova.p;

  // Step 6.
  const OptReal& cachedSd = valueType == VariableType::DateTime ? summarized.sdDate : summarized.sd;
  for (size_t k = 0; k < nLevels; ++k) {
    TabSummarizeLevel l;
    l.level = levels.levels[order[k]];
    if (k < anova.summary.size()) {
      l.obs = anova.summary[k].obs;
      l.mean = anova.summary[k].mean;
      l.sd = anova.summary[k].sd;
    }
    std::vector<double>& g = ordered[k];
    if (g.empty()) {
      l.mean = l.sd = kNaN;
      out.summary.push_back(std::move(l));
      continue;
    }
    double bandwidth = 1;
    if (usable(l.sd))
      bandwidth = l.sd;
    else if (cachedSd && usable(*cachedSd / 10))
      bandwidth = *cachedSd / 10;
    std::sort(g.begin(), g.end());
    l.median = DescriptiveStatistics::percentiles(kPercents, g);
    const double lo = g.front(), hi = g.back();
    l.density = DescriptiveStatistics::kdensity(g, bandwidth, lo, hi);
    l.topwhisker = hi;
    l.botwhisker = lo;
    out.summary.push_back(std::move(l));
  }
  std::vector<std::string> levelNames;
  for (const TabSummarizeLevel& l : out.summary) levelNames.push_back(l.level);
  out.tables = oneWayTables(ordered, levelNames, postHoc, valueType == VariableType::Binary);
  // The table and the headline compute the same F in different orders; the
  // figure is shown once, so both show the headline's digits.
  AnovaTable& table = out.tables.anova;
  if (std::isfinite(out.F) && std::fabs(table.F - out.F) <= 1e-12 * std::fabs(out.F)) {
    table.F = out.F;
    table.p = out.p;
  }
  return out;
}

std::string tabSummarizeBaseName(const TabSummarizeContext& c) {
  return fillPlaceholders(tr("Summary statistics of %@ by %@"), {c.leftName, c.rightName});
}

std::string tabSummarizeInterpretation(const TabSummarizeResult& r, const TabSummarizeContext& c) {
  if (std::isnan(r.p)) {
    // F needs two groups and one within-group degree of freedom (N − g ≥ 1);
    // single-observation groups are otherwise fine.
    int groups = 0;
    for (const auto& l : r.summary) groups += l.obs > 0;
    if (groups < 2)
      return fillPlaceholders(tr("Could not compute ANOVA. %@ has fewer than two levels with observations."),
                              {c.rightName});
    return fillPlaceholders(tr("Could not compute ANOVA. Every level of %@ has only one observation."),
                            {c.rightName});
  }
  if (r.p > 0.05)
    return fillPlaceholders(tr("Mean of %@ is not significantly different by value of %@."),
                            {c.leftName, c.rightName});
  return fillPlaceholders(tr("Mean of %@ is significantly different by value of %@."),
                          {c.leftName, c.rightName});
}

std::vector<std::vector<std::string>> tabSummarizeRows(const TabSummarizeResult& r) {
  std::vector<std::vector<std::string>> rows = {
      {"", tr("Obs."), tr("Minimum"), tr("Median"), tr("Maximum"), tr("Mean"), tr("Std Dev")}};
  const bool dates = r.summarizedType == VariableType::DateTime;
  double lowest = INFINITY, highest = -INFINITY;
  for (const auto& l : r.summary)
    if (l.median) {
      lowest = std::min(lowest, l.median->at(0));
      highest = std::max(highest, l.median->at(100));
    }
  const double scale = highest >= lowest ? highest - lowest : 1;
  auto value = [&](double v) {
    return dates ? stringFromNumber(v, VariableType::DateTime, 4, scale) : stringFromNumber(v);
  };
  for (const auto& l : r.summary) {
    std::vector<std::string> row = {l.level, stringFromNumber(static_cast<double>(l.obs)), "", "", ""};
    if (l.median) {
      row[2] = value(l.median->at(0));
      row[3] = value(l.median->at(50));
      row[4] = value(l.median->at(100));
    }
    row.push_back(value(l.mean));
    // Dates' standard deviations are in seconds; the table shows days.
    row.push_back(stringFromNumber(dates ? l.sd / 60 / 60 / 24 : l.sd));
    rows.push_back(std::move(row));
  }
  return rows;
}

charts::Chart tabSummarizeChart(const TabSummarizeResult& r, const TabSummarizeContext& c) {
  charts::Chart chart;
  chart.title = fillPlaceholders(tr("Distribution of variable %@"), {c.leftName});
  const bool dates = r.summarizedType == VariableType::DateTime;
  double lo = INFINITY, hi = -INFINITY;
  const size_t n = r.summary.size();
  if (c.boxPlot) {
    static const char* ids[] = {"bottomWhisker", "bottomBox",        "topBox",
                                "topWhisker",    "bottomWhiskerTip", "topWhiskerTip"};
    for (const char* id : ids) {
      charts::RangeBarSeries s;
      s.id = id;
      s.asLines = std::string_view(id).find("Whisker") != std::string_view::npos;
      s.width = std::string_view(id).ends_with("Tip") ? 0.3 : 0.6;
      chart.rangeBars.push_back(std::move(s));
    }
    for (size_t k = 0; k < n; ++k) {
      const auto& l = r.summary[k];
      chart.x.categoryLabels.push_back({static_cast<double>(k), l.level});
      if (!l.median) continue;
      const auto& m = *l.median;
      const double segments[6][2] = {{m.at(0), m.at(25)},   {m.at(25), m.at(50)}, {m.at(50), m.at(75)},
                                     {m.at(75), m.at(100)}, {m.at(0), m.at(0)},   {m.at(100), m.at(100)}};
      for (size_t s = 0; s < 6; ++s) {
        chart.rangeBars[s].position.push_back(static_cast<double>(k));
        chart.rangeBars[s].from.push_back(segments[s][0]);
        chart.rangeBars[s].to.push_back(segments[s][1]);
      }
      lo = std::min(lo, m.at(0));
      hi = std::max(hi, m.at(100));
    }
    chart.x.min = -0.6;
    chart.x.max = static_cast<double>(n) - 0.4;
    chart.x.title = c.rightName;
    chart.y.title = c.leftName;
    chart.y.kind = dates ? charts::AxisKind::Date : charts::AxisKind::Number;
    const double pad = hi > lo ? (hi - lo) * 0.05 : 1;
    chart.y.min = std::isfinite(lo) ? lo - pad : 0;
    chart.y.max = std::isfinite(hi) ? hi + pad : 1;
    return chart;
  }
  // Density plot: a violin per level around the baseline -(k + 1).
  for (size_t k = 0; k < n; ++k) {
    const auto& l = r.summary[k];
    const double base = -static_cast<double>(k + 1);
    chart.y.categoryLabels.push_back({base, l.level});
    if (!l.density) continue;
    charts::LineSeries upper, lower;
    for (const DensityPoint& pt : *l.density) {
      upper.x.push_back(pt.x);
      upper.y.push_back(base + 0.4 * pt.y);
      lower.x.push_back(pt.x);
      lower.y.push_back(base - 0.4 * pt.y);
      lo = std::min(lo, pt.x);
      hi = std::max(hi, pt.x);
    }
    chart.lines.push_back(std::move(upper));
    chart.lines.push_back(std::move(lower));
  }
  chart.x.kind = dates ? charts::AxisKind::Date : charts::AxisKind::Number;
  chart.x.title = c.leftName;
  chart.y.title = c.rightName;
  chart.x.min = std::isfinite(lo) ? lo : 0;
  chart.x.max = std::isfinite(hi) ? hi : 1;
  chart.y.min = -static_cast<double>(n) - 0.6;
  chart.y.max = -0.4;
  return chart;
}

void writeCSVLines(const TabSummarizeResult& r, const TabSummarizeContext& c, CsvWriter& w) {
  w.writeLineOfFields({tabSummarizeBaseName(c)});
  w.finishLine();
  w.writeLineOfFields({tr("Filters:"), c.filterText});
  w.writeLineOfFields({tr("One-way ANOVA result:")});
  w.writeField(std::string_view("F"));
  w.writeField(r.F);
  w.finishLine();
  w.writeField(std::string_view("p"));
  w.writeField(r.p);
  w.finishLine();
  w.finishLine();
  w.writeLineOfFields({std::string(), c.leftName});
  w.writeLineOfFields(
      {c.rightName, tr("Obs."), tr("Minimum"), tr("Median"), tr("Maximum"), tr("Mean"), tr("Std Dev")});
  for (const auto& l : r.summary) {
    w.writeField(l.level);
    w.writeField(static_cast<double>(l.obs));
    if (l.median) {
      w.writeField(l.median->at(0));
      w.writeField(l.median->at(50));
      w.writeField(l.median->at(100));
    } else {
      for (int i = 0; i < 3; ++i) w.writeField(std::string_view());
    }
    w.writeField(l.mean);
    w.writeField(l.sd);
    w.finishLine();
  }
  writeCSVLines(r.tables, w);
}

reports::Element tabSummarizeLayout(const TabSummarizeResult& r, const TabSummarizeContext& c, bool print) {
  using namespace reports;
  const double width = print ? kPageWidth : 760;
  Element root = container({0, 0, width, 0});
  double y = 20;
  auto add = [&](Element e, const char* role, const char* term = "") {
    e.role = role;
    e.term = term;
    root.children.push_back(std::move(e));
  };
  const double inner = width - 40;
  add(label(tabSummarizeBaseName(c), {20, y, inner, 22}, 16, TextAlign::Left, true), "title");
  y += 26;
  add(label(tr("One-way ANOVA of:"), {20, y, 130, 16}, 11, TextAlign::Left, true), "heading");
  add(label(c.leftName, {150, y, inner - 130, 16}, 11), "subtitle");
  y += 16;
  add(label(tr("By:"), {20, y, 130, 16}, 11, TextAlign::Left, true), "heading");
  add(label(c.rightName, {150, y, inner - 130, 16}, 11), "subtitle");
  y += 18;
  add(label(filterLineFor(c.filterText), {20, y, inner, 16}, 11), "filter");
  y += 24;
  add(label(tr("One-way ANOVA result:"), {20, y, inner, 18}, 12, TextAlign::Left, true), "heading");
  y += 18;
  add(label(fillPlaceholders(tr("F = %@"), {stringFromNumber(r.F)}), {20, y, inner, 16}, 11), "figure", "F");
  y += 16;
  add(label(stringFromPNumber(r.p) + significanceMark(r.p), {20, y, inner, 16}, 11), "figure", "p");
  y += 18;
  add(textBlock(tabSummarizeInterpretation(r, c), {20, y, inner, 32}, 11), "interpretation");
  y += 34;
  y = appendOneWayTables(r.tables, root, y, width, print);
  add(textBlock(significanceLegend(), {20, y, inner, 28}, 9), "note");
  y += 32;

  TableColumns grid;
  const double header = print ? 146 : 180, column = print ? 71 : 88;
  grid.columnX.push_back(0);
  grid.columnWidth.push_back(header);
  grid.align.push_back(TextAlign::Left);
  for (int i = 0; i < 6; ++i) {
    grid.columnX.push_back(header + column * i);
    grid.columnWidth.push_back(column);
    grid.align.push_back(TextAlign::Right);
  }
  grid.rowHeight = 20;
  grid.fontSize = 12;
  auto rows = tabSummarizeRows(r);
  rows[0][0] = c.rightName;
  Element t = table(rows, grid, 20, y);
  y += t.frame.h;
  add(std::move(t), "table");
  if (r.summarizedType == VariableType::DateTime) {
    add(label(tr("Std Dev units are days"), {20, y + 2, inner, 14}, 9), "note");
    y += 18;
  }
  y += 12;
  add(chartHost(tabSummarizeChart(r, c), {20, y, inner, print ? 260.0 : 320.0}), "chart");
  y += print ? 264 : 324;
  if (c.boxPlot) {
    add(label(tr("Box covers 1st quartile to 3rd quartile. Middle line is median. Whiskers are min and max."),
              {20, y, inner, 14}, 9),
        "note");
    y += 16;
  }
  root.frame.h = y + 20;
  return root;
}

}  // namespace tabulix
