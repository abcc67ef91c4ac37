#include "analyses/two_way/two_way.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "analyses/detail/detail_report.h"
#include "analyses/report_text.h"
#include "engine/cell_access.h"
#include "engine/level_order.h"
#include "engine/number_format.h"
#include "engine/translate.h"
#include "reports/pdf_writer.h"
#include "stats/regression.h"

namespace tabulix {

namespace {

// The distinct texts of one column met in the walk, each with an id and a count.
struct Coding {
  std::unordered_map<std::string, int32_t> idOfText;
  std::vector<std::string> texts;
  int32_t id(std::string_view text) {
    auto [it, added] = idOfText.try_emplace(std::string(text), static_cast<int32_t>(texts.size()));
    if (added) texts.push_back(it->first);
    return it->second;
  }
};

// Step 3: the most frequent levels, the last place given to "Others" with
// every dropped level's count when there are more than `top`, in the
// variable's level order ("Others" last). Returns, per text id, its level
// index (-1 when pooled).
std::vector<int32_t> levelsOf(Model& model, const Column& column, const Coding& coding,
                              const std::vector<int64_t>& counts, uint32_t top,
                              std::vector<std::string>& levels, std::vector<double>& levelCounts, bool& cut) {
  FrequencyDict f;
  for (size_t i = 0; i < coding.texts.size(); ++i) f[coding.texts[i]] = counts[i];
  TopFrequencies kept = orderedLevels(model, column, f, top);
  cut = f.size() > top;
  std::vector<int32_t> index(coding.texts.size(), -1);
  const size_t n = kept.levels.size();
  for (size_t k = 0; k < n; ++k) {
    levels.push_back(kept.levels[k]);
    levelCounts.push_back(static_cast<double>(kept.counts[k]));
    if (cut && k + 1 == n) break;
    index[static_cast<size_t>(coding.idOfText.at(kept.levels[k]))] = static_cast<int32_t>(k);
  }
  return index;
}

std::string countText(double v) {
  if (!std::isfinite(v)) return stringFromNumber(v);
  return stringFromNumber(std::round(v));
}

}  // namespace

nlohmann::json toJson(const TwoWayResult& r) {
  return {{"arrayA", {r.levelsA, r.countsA}},
          {"arrayB", {r.levelsB, r.countsB}},
          {"freqs", r.freqs},
          {"percs", r.percs},
          {"sumTotal", r.sumTotal},
          {"percsA", r.percsA},
          {"percsB", r.percsB},
          {"chisq", r.chisq},
          {"df", r.df},
          {"p", r.p},
          {"v", r.v},
          {"phi", r.phi},
          {"expected", r.expected},
          {"minExpected", r.minExpected},
          {"gTest", {{"G2", r.gTest.G2}, {"df", r.gTest.df}, {"p", r.gTest.p}}},
          {"fisherP", r.fisher.computed ? nlohmann::json(r.fisher.p) : nlohmann::json()},
          {"oddsRatio", r.oddsRatio ? nlohmann::json{{"estimate", r.oddsRatio->estimate},
                                                     {"lower", r.oddsRatio->lower},
                                                     {"upper", r.oddsRatio->upper}}
                                    : nlohmann::json()},
          {"adjustedResiduals", r.adjustedResiduals}};
}

TwoWayResult twoWayTabOfColumn(Model& model, const Column& rowColumn, const Column& colColumn, uint32_t top,
                               int percents, bool includeMissing, const std::vector<int32_t>* rows) {
  TwoWayResult r;
  r.percents = percents;
  if (!rowColumn.num || !colColumn.num) return r;
  // Step 1: the row variable's texts by row (-2 marks a missing value that is skipped).
  Coding codingA, codingB;
  std::vector<std::pair<int32_t, int32_t>> a;
  a.reserve(rows ? rows->size() : model.context().countRows());
  forEachValueOfColumn(model, rowColumn, rows, [&](int32_t row, std::optional<std::string_view> d) {
    const bool missing = !d || d->empty();
    a.push_back({row, missing && !includeMissing ? -2 : codingA.id(missing ? std::string_view() : *d)});
  });
  // Step 2: the pairs, counted by ids.
  std::unordered_map<int64_t, int64_t> pairs;
  std::vector<int64_t> countA, countB;
  size_t at = 0;
  forEachValueOfColumn(model, colColumn, rows, [&](int32_t row, std::optional<std::string_view> d) {
    while (at < a.size() && a[at].first < row) ++at;
    if (at == a.size() || a[at].first != row || a[at].second == -2) return;
    const bool missing = !d || d->empty();
    if (missing && !includeMissing) return;
    const int32_t ia = a[at].second, ib = codingB.id(missing ? std::string_view() : *d);
    if (countA.size() <= static_cast<size_t>(ia)) countA.resize(static_cast<size_t>(ia) + 1, 0);
    if (countB.size() <= static_cast<size_t>(ib)) countB.resize(static_cast<size_t>(ib) + 1, 0);
    ++countA[static_cast<size_t>(ia)];
    ++countB[static_cast<size_t>(ib)];
    ++pairs[(static_cast<int64_t>(ia) << 32) | static_cast<uint32_t>(ib)];
  });
  // Texts met only in skipped rows have no count and are no level.
  Coding keptA, keptB;
  std::vector<int64_t> keptCountA, keptCountB;
  std::vector<int32_t> toKeptA(codingA.texts.size(), -1), toKeptB(codingB.texts.size(), -1);
  for (size_t i = 0; i < countA.size(); ++i)
    if (countA[i] > 0) {
      toKeptA[i] = keptA.id(codingA.texts[i]);
      keptCountA.push_back(countA[i]);
    }
  for (size_t i = 0; i < countB.size(); ++i)
    if (countB[i] > 0) {
      toKeptB[i] = keptB.id(codingB.texts[i]);
      keptCountB.push_back(countB[i]);
    }
  bool cutA = false, cutB = false;
  std::vector<int32_t> levelA =
      levelsOf(model, rowColumn, keptA, keptCountA, top, r.levelsA, r.countsA, cutA);
  std::vector<int32_t> levelB =
      levelsOf(model, colColumn, keptB, keptCountB, top, r.levelsB, r.countsB, cutB);
  const size_t na = r.levelsA.size(), nb = r.levelsB.size();

  // Step 4: the named pairs' counts.
  r.freqs.assign(na, std::vector<double>(nb, 0));
  for (const auto& [key, count] : pairs) {
    const int32_t i = levelA[static_cast<size_t>(toKeptA[static_cast<size_t>(key >> 32)])];
    const int32_t j = levelB[static_cast<size_t>(toKeptB[static_cast<size_t>(key & 0xffffffff)])];
    if (i >= 0 && j >= 0)
      r.freqs[static_cast<size_t>(i)][static_cast<size_t>(j)] = static_cast<double>(count);
  }
  // Step 5: the pooled row and column from the totals.
  const size_t namedA = cutA ? na - 1 : na, namedB = cutB ? nb - 1 : nb;
  if (cutA)
    for (size_t j = 0; j < namedB; ++j) {
      double sum = 0;
      for (size_t i = 0; i < namedA; ++i) sum += r.freqs[i][j];
      r.freqs[na - 1][j] = r.countsB[j] - sum;
    }
  if (cutB)
    for (size_t i = 0; i < na; ++i) {
      double sum = 0;
      for (size_t j = 0; j < namedB; ++j) sum += r.freqs[i][j];
      r.freqs[i][nb - 1] = r.countsA[i] - sum;
    }
  // Steps 6 and 7.
  for (double c : r.countsA) r.sumTotal += c;
  r.percs = r.freqs;
  for (size_t i = 0; i < na; ++i)
    for (size_t j = 0; j < nb; ++j) {
      const double base = percents == 1 ? r.countsA[i] : percents == 2 ? r.countsB[j] : r.sumTotal;
      r.percs[i][j] = r.freqs[i][j] / base;
    }
  for (double c : r.countsA) r.percsA.push_back(percents == 1 ? 1.0 : c / r.sumTotal);
  for (double c : r.countsB) r.percsB.push_back(percents == 2 ? 1.0 : c / r.sumTotal);
  // Step 8.
  ChiSquareResult chi = RegressionRoutines::chiForFrequencyMatrix(r.freqs, r.countsA, r.countsB);
  r.chisq = chi.chi;
  r.df = chi.df;
  r.p = chi.p;
  r.v = RegressionRoutines::cramersVForChi(chi.chi, r.sumTotal, static_cast<double>(na),
                                           static_cast<double>(nb));
  r.phi = RegressionRoutines::phiForFrequencyMatrix(r.freqs);
  r.expected = ExactTables::expected(r.freqs);
  r.minExpected = INFINITY;
  for (const auto& row : r.expected)
    for (double e : row) r.minExpected = std::min(r.minExpected, e);
  if (!std::isfinite(r.minExpected)) r.minExpected = NAN;
  r.adjustedResiduals = ExactTables::adjustedResiduals(r.freqs);
  r.gTest = ExactTables::gTest(r.freqs);
  if (fisherFeasible(r.freqs)) r.fisher = ExactTables::fisher(r.freqs, kFisherBudget);
  if (na == 2 && nb == 2) r.oddsRatio = ExactTables::oddsRatio(r.freqs);
  return r;
}

std::string twoWayBaseName(const TwoWayContext& c) {
  return fillPlaceholders(tr("Two way table of frequencies for %@ and %@"), {c.leftName, c.rightName});
}

std::string twoWayPText(double p) { return stringFromPNumber(p) + significanceMark(p); }

std::string twoWayAssociationText(const TwoWayResult& r) {
  if (r.levelsA.size() == 2 && r.levelsB.size() == 2)
    return fillPlaceholders(tr("Phi = %@"), {stringFromNumber(r.phi)});
  return fillPlaceholders(tr("Cramer's V = %@"), {stringFromNumber(r.v)});
}

std::string twoWayInterpretation(const TwoWayResult& r, const TwoWayContext& c) {
  if (r.p < 0.05)
    return fillPlaceholders(tr("Distribution of %@ is significantly different by %@"),
                            {c.leftName, c.rightName});
  return fillPlaceholders(tr("Distribution of %@ is not significantly different by %@"),
                          {c.leftName, c.rightName});
}

std::vector<std::vector<std::string>> twoWayRows(const TwoWayResult& r, const TwoWayContext& c) {
  auto cell = [&](double count, double share) {
    return c.showPercents ? countText(count) + " " + wholePercent(share) : countText(count);
  };
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> header = {c.leftName};
  for (const auto& l : r.levelsB) header.push_back(l);
  header.push_back(tr("Total"));
  rows.push_back(std::move(header));
  for (size_t i = 0; i < r.levelsA.size(); ++i) {
    std::vector<std::string> row = {r.levelsA[i]};
    for (size_t j = 0; j < r.levelsB.size(); ++j) row.push_back(cell(r.freqs[i][j], r.percs[i][j]));
    row.push_back(cell(r.countsA[i], r.percsA[i]));
    rows.push_back(std::move(row));
  }
  std::vector<std::string> total = {tr("Total")};
  for (size_t j = 0; j < r.levelsB.size(); ++j) total.push_back(cell(r.countsB[j], r.percsB[j]));
  total.push_back(cell(r.sumTotal, 1));
  rows.push_back(std::move(total));
  return rows;
}

charts::Chart twoWayChart(const TwoWayResult& r) {
  charts::Chart chart;
  chart.title = tr("Stacked Bar Plot");
  chart.y.title = tr("Percent");
  // By column total: a bar per column level stacked by row level; else a
  // bar per row level stacked by column level. The last bar stacks the totals.
  const bool byColumn = r.percents == 2;
  const auto& bars = byColumn ? r.levelsB : r.levelsA;
  const auto& stacks = byColumn ? r.levelsA : r.levelsB;
  const auto& totals = byColumn ? r.percsA : r.percsB;
  auto share = [&](size_t bar, size_t s) { return byColumn ? r.percs[s][bar] : r.percs[bar][s]; };
  std::vector<double> running(bars.size() + 1, 0);
  double top = 0;
  for (size_t s = 0; s < stacks.size(); ++s) {
    charts::RangeBarSeries series;
    series.id = stacks[s];
    series.name = stacks[s].empty() ? tr("Missing") : stacks[s];
    series.colour = static_cast<int>(s);
    for (size_t b = 0; b <= bars.size(); ++b) {
      const double v = (b < bars.size() ? share(b, s) : totals[s]) * 100;
      series.position.push_back(static_cast<double>(b));
      series.from.push_back(running[b]);
      series.to.push_back(running[b] + v);
      running[b] += v;
      if (std::isfinite(running[b])) top = std::max(top, running[b]);
    }
    chart.rangeBars.push_back(std::move(series));
  }
  for (size_t b = 0; b < bars.size(); ++b)
    chart.x.categoryLabels.push_back({static_cast<double>(b), bars[b]});
  chart.x.categoryLabels.push_back({static_cast<double>(bars.size()), tr("Total")});
  chart.x.min = -0.6;
  chart.x.max = static_cast<double>(bars.size()) + 0.6;
  chart.y.min = 0;
  chart.y.max = top > 0 ? top * 1.02 : 100;
  return chart;
}

namespace {

// A table of per-cell figures under its title line, rows and columns labelled as the counts.
void writeCellTable(const std::string& title, const std::vector<std::vector<double>>& cells,
                    const TwoWayResult& r, const TwoWayContext& c, CsvWriter& w) {
  w.finishLine();
  w.writeLineOfFields({title});
  w.writeField(c.leftName);
  for (const auto& l : r.levelsB) w.writeField(l);
  w.finishLine();
  for (size_t i = 0; i < cells.size() && i < r.levelsA.size(); ++i) {
    w.writeField(r.levelsA[i]);
    for (double v : cells[i]) w.writeField(v);
    w.finishLine();
  }
}

void writeExactLines(const TwoWayResult& r, const TwoWayContext& c, CsvWriter& w) {
  w.finishLine();
  w.writeLineOfFields({tr("Further tests:")});
  w.writeLineOfFields({tr("Likelihood ratio G²"), r.gTest.G2});
  w.writeLineOfFields({tr("G² df"), r.gTest.df});
  w.writeLineOfFields({tr("G² p"), r.gTest.p});
  if (r.fisher.computed)
    w.writeLineOfFields({tr("Fisher's exact p"), r.fisher.p});
  else
    w.writeLineOfFields({tr("Fisher's exact p"), tr("not computed (too many tables)")});
  if (r.oddsRatio) {
    w.writeLineOfFields({tr("Odds ratio"), r.oddsRatio->estimate});
    w.writeLineOfFields({tr("Odds ratio lower 95%"), r.oddsRatio->lower});
    w.writeLineOfFields({tr("Odds ratio upper 95%"), r.oddsRatio->upper});
  }
  w.writeLineOfFields({tr("Smallest expected count"), r.minExpected});
  writeCellTable(tr("Expected counts:"), r.expected, r, c, w);
  if (c.showResiduals) writeCellTable(tr("Adjusted standardized residuals:"), r.adjustedResiduals, r, c, w);
}

}  // namespace

bool fisherFeasible(const std::vector<std::vector<double>>& table) {
  if (table.empty() || table[0].empty()) return false;
  std::vector<double> rows(table.size(), 0), cols(table[0].size(), 0);
  for (size_t i = 0; i < table.size(); ++i)
    for (size_t j = 0; j < table[i].size() && j < cols.size(); ++j) {
      rows[i] += table[i][j];
      cols[j] += table[i][j];
    }
  auto margins = [](std::vector<double> totals) {
    std::sort(totals.begin(), totals.end());
    double product = 1;
    for (size_t k = 0; k + 1 < totals.size(); ++k) product *= totals[k] + 1;
    return product;
  };
  return std::min(margins(rows), margins(cols)) <= kFisherMaxMargins;
}

std::string twoWayExpectedWarning(const TwoWayResult& r) {
  if (!(r.minExpected < 5)) return {};
  return fillPlaceholders(tr("Some expected counts are below 5 (smallest %@): the chi-squared p-value may be "
                             "inaccurate; see Fisher's exact test."),
                          {stringFromNumber(r.minExpected)});
}

void writeCSVLines(const TwoWayResult& r, const TwoWayContext& c, CsvWriter& w) {
  w.writeLineOfFields({twoWayBaseName(c)});
  w.finishLine();
  w.writeLineOfFields({tr("Filters:"), c.filterText});
  w.writeField(tr("Chi-squared"));
  w.writeField(r.chisq);
  w.finishLine();
  w.writeField(std::string_view("p"));
  w.writeField(r.p);
  w.finishLine();
  if (r.levelsA.size() == 2 && r.levelsB.size() == 2)
    w.writeLineOfFields({tr("Phi"), stringFromNumber(r.phi)});
  else
    w.writeLineOfFields({tr("Cramer's V"), stringFromNumber(r.v)});
  w.finishLine();
  w.writeLineOfFields({std::string(), c.rightName});
  w.writeField(c.leftName);
  for (const auto& l : r.levelsB) w.writeField(l);
  w.writeField(tr("Total"));
  w.finishLine();
  for (size_t i = 0; i < r.levelsA.size(); ++i) {
    w.writeField(r.levelsA[i]);
    for (double f : r.freqs[i]) w.writeField(f);
    w.writeField(r.countsA[i]);
    w.finishLine();
  }
  w.writeField(tr("Total"));
  for (double f : r.countsB) w.writeField(f);
  w.writeField(r.sumTotal);
  w.finishLine();
  writeExactLines(r, c, w);
}

reports::Element twoWayLayout(const TwoWayResult& r, const TwoWayContext& c, bool print) {
  using namespace reports;
  const double width = print ? kPageWidth : 760;
  const double inner = width - 40;
  Element root = container({0, 0, width, 0});
  double y = 20;
  auto add = [&](Element e, const char* role, const char* term = "") {
    e.role = role;
    e.term = term;
    root.children.push_back(std::move(e));
  };
  add(label(twoWayBaseName(c), {20, y, inner, 22}, 16, TextAlign::Left, true), "title");
  y += 26;
  add(label(tr("Two way table of:"), {20, y, 130, 16}, 11, TextAlign::Left, true), "heading");
  add(label(c.leftName, {150, y, inner - 130, 16}, 11), "subtitle");
  y += 16;
  add(label(tr("And:"), {20, y, 130, 16}, 11, TextAlign::Left, true), "heading");
  add(label(c.rightName, {150, y, inner - 130, 16}, 11), "subtitle");
  y += 18;
  add(label(filterLineFor(c.filterText), {20, y, inner, 16}, 11), "filter");
  y += 18;
  std::string base = !c.showPercents   ? tr("None")
                     : r.percents == 1 ? tr("Row")
                     : r.percents == 2 ? tr("Column")
                                       : tr("Cell");
  add(label(tr("Calculate percentages by ") + base, {20, y, inner, 16}, 11), "setting");
  y += 16;
  add(label(tr("Include missing values:") + " " + (c.includeMissing ? tr("Yes") : tr("No")),
            {20, y, inner, 16}, 11),
      "setting");
  y += 22;
  add(label(tr("Chi-squared test:"), {20, y, inner, 18}, 12, TextAlign::Left, true), "heading");
  y += 18;
  add(label(fillPlaceholders(tr("Chi-squared = %@"), {stringFromNumber(r.chisq)}), {20, y, inner, 16}, 11),
      "figure", "chisq");
  y += 16;
  add(label(twoWayPText(r.p), {20, y, inner, 16}, 11), "figure", "p");
  y += 16;
  const bool phi = r.levelsA.size() == 2 && r.levelsB.size() == 2;
  add(label(twoWayAssociationText(r), {20, y, inner, 16}, 11), "figure", phi ? "phi" : "cramersV");
  y += 16;
  add(label(fillPlaceholders(
                tr("Likelihood ratio G² = %@, df = %@, %@"),
                {stringFromNumber(r.gTest.G2), stringFromNumber(r.gTest.df), twoWayPText(r.gTest.p)}),
            {20, y, inner, 16}, 11),
      "figure", "gTest");
  y += 16;
  add(label(r.fisher.computed ? fillPlaceholders(tr("Fisher's exact test: %@"), {twoWayPText(r.fisher.p)})
                              : tr("Fisher's exact test: not computed (too many tables to enumerate)"),
            {20, y, inner, 16}, 11),
      "figure", "fisher");
  y += 16;
  if (r.oddsRatio) {
    add(label(fillPlaceholders(tr("Odds ratio = %@, 95% CI [%@, %@]"),
                               {stringFromNumber(r.oddsRatio->estimate), stringFromNumber(r.oddsRatio->lower),
                                stringFromNumber(r.oddsRatio->upper)}),
              {20, y, inner, 16}, 11),
        "figure", "oddsRatio");
    y += 16;
  }
  add(label(fillPlaceholders(tr("Smallest expected count = %@"), {stringFromNumber(r.minExpected)}),
            {20, y, inner, 16}, 11),
      "figure", "expected");
  y += 16;
  if (std::string warning = twoWayExpectedWarning(r); !warning.empty()) {
    add(textBlock(warning, {20, y, inner, 30}, 10), "warning", "expected");
    y += 30;
  }
  y += 2;
  add(textBlock(twoWayInterpretation(r, c), {20, y, inner, 32}, 11), "interpretation");
  y += 34;
  add(textBlock(significanceLegend(), {20, y, inner, 28}, 9), "note");
  y += 32;

  // The table: the row header column, then the cells and "Total".
  auto rows = twoWayRows(r, c);
  const double rowHeader = print ? 100 : 150, cellWidth = print ? 30 : 86;
  const double headerHeight = print ? 22 : 24, cellHeight = print ? 25 : 24, fontSize = print ? 10 : 12;
  if (print) y = std::max(y, 72.0);
  add(label(c.rightName, {20 + rowHeader, y, inner - rowHeader, 16}, fontSize, TextAlign::Left, true),
      "heading");
  y += 16;
  Element t;
  t.kind = ElementKind::Table;
  const double tableWidth = rowHeader + cellWidth * static_cast<double>(rows.front().size() - 1);
  double ty = 0;
  for (size_t i = 0; i < rows.size(); ++i) {
    const double h = i == 0 ? headerHeight : cellHeight;
    Element row = container({0, ty, tableWidth, h});
    for (size_t j = 0; j < rows[i].size(); ++j) {
      const double x = j == 0 ? 0 : rowHeader + cellWidth * static_cast<double>(j - 1);
      const double w = j == 0 ? rowHeader : cellWidth;
      std::string text = rows[i][j];
      // Narrow printed cells put the percentage under the count.
      if (print && i > 0 && j > 0)
        if (size_t space = text.find(' '); space != std::string::npos) text[space] = '\n';
      Element e = print && i > 0 && j > 0
                      ? textBlock(text, {x, 0, w, h}, fontSize)
                      : label(text, {x, 0, w, h}, fontSize, j == 0 ? TextAlign::Left : TextAlign::Right,
                              i == 0 || j == 0);
      row.children.push_back(std::move(e));
    }
    t.rowHeights.push_back(h);
    t.children.push_back(std::move(row));
    ty += h;
  }
  t.frame = {20, y, tableWidth, ty};
  y += ty + 16;
  add(std::move(t), "table");
  auto cellTable = [&](const std::string& title, const std::vector<std::vector<double>>& cells,
                       const char* term) {
    add(label(title, {20, y, inner, 16}, fontSize, TextAlign::Left, true), "heading", term);
    y += 18;
    std::vector<std::vector<std::string>> texts = {{c.leftName}};
    for (const auto& l : r.levelsB) texts[0].push_back(l);
    for (size_t i = 0; i < cells.size() && i < r.levelsA.size(); ++i) {
      texts.push_back({r.levelsA[i]});
      for (double v : cells[i]) texts.back().push_back(stringFromNumber(v, 4));
    }
    TableColumns g;
    for (size_t j = 0; j < texts[0].size(); ++j) {
      g.columnX.push_back(j == 0 ? 0 : rowHeader + cellWidth * static_cast<double>(j - 1));
      g.columnWidth.push_back(j == 0 ? rowHeader : cellWidth);
      g.align.push_back(j == 0 ? TextAlign::Left : TextAlign::Right);
    }
    g.rowHeight = print ? 16 : 20;
    g.fontSize = fontSize;
    Element e = table(texts, g, 20, y);
    y += e.frame.h + 12;
    add(std::move(e), "table", term);
  };
  cellTable(tr("Expected counts:"), r.expected, "expected");
  if (c.showResiduals)
    cellTable(tr("Adjusted standardized residuals:"), r.adjustedResiduals, "adjustedResiduals");
  add(chartHost(twoWayChart(r), {20, y, inner, print ? 240.0 : 300.0}), "chart");
  y += print ? 244 : 304;
  root.frame.h = y + 20;
  return root;
}

}  // namespace tabulix
