#include "analyses/hypothesis_test/hypothesis_report.h"

#include <algorithm>
#include <cmath>

#include "engine/number_format.h"
#include "engine/translate.h"
#include "reports/pdf_writer.h"

namespace tabulix {

namespace {

bool proportions(const HypothesisContext& c) { return c.distribution == 2; }
bool twoSamples(const HypothesisContext& c) { return c.samples == 2; }

std::string filterLine(const std::string& text) {
  return text.empty() ? tr("No filters") : fillPlaceholders(tr("Filters: %@"), {text});
}

// The variable type the figures of a sample are written in.
VariableType figureType(const HypothesisContext& c) {
  return proportions(c)
             ? VariableType::Numeric
             : (c.leftType == VariableType::DateTime ? VariableType::DateTime : VariableType::Numeric);
}

std::string n7(double v) { return stringFromNumber(v, 7); }

}  // namespace

std::string fileNameOutput(const HypothesisContext& c) {
  return proportions(c) ? tr("Hypothesis Test of Proportions") : tr("Hypothesis Test of Means");
}

std::vector<std::string> sampleLines(const HypothesisContext& c) {
  std::vector<std::string> lines;
  if (proportions(c))
    lines.push_back(fillPlaceholders(tr("Sample 1: Pr(%@ = %@), %@"),
                                     {c.leftName, c.leftLevel1, filterLine(c.filterText1)}));
  else
    lines.push_back(fillPlaceholders(tr("Sample 1: %@, %@"), {c.leftName, filterLine(c.filterText1)}));
  if (!twoSamples(c)) {
    lines.push_back(
        fillPlaceholders(tr("Expected value: %@"), {stringFromNumber(c.expected, figureType(c), 7)}));
  } else {
    const std::string& filter = c.filterText2;
    if (proportions(c))
      lines.push_back(fillPlaceholders(tr("Sample 2: Pr(%@ = %@), %@"),
                                       {c.rightName, c.rightLevel1, filterLine(filter)}));
    else
      lines.push_back(fillPlaceholders(tr("Sample 2: %@, %@"), {c.rightName, filterLine(filter)}));
  }
  return lines;
}

std::vector<std::string> hypothesisStatement(const HypothesisContext& c) {
  const int t = c.tails;
  if (t < 0 || t > 2) return {};
  const char* null = nullptr;
  const char* alt = nullptr;
  std::string a = c.leftName, b;
  if (!twoSamples(c) && !proportions(c)) {
    static const char* n[] = {
        "Null hypothesis, H₀: %@ = %@ (The true mean of %@ is equal to %@)",
        "Null hypothesis, H₀: %@ >= %@ (The true mean of %@ is greater than or equal to %@)",
        "Null hypothesis, H₀: %@ <= %@ (The true mean of %@ is less than or equal to %@)"};
    static const char* h[] = {"Alternative hypothesis, H₁: %@ ≠ %@ (The true mean of %@ is not equal to %@)",
                              "Alternative hypothesis, H₁: %@ < %@ (The true mean of %@ is less than %@)",
                              "Alternative hypothesis, H₁: %@ > %@ (The true mean of %@ is greater than %@)"};
    null = n[t];
    alt = h[t];
    b = stringFromNumber(c.expected, figureType(c), 7);
  } else if (!twoSamples(c)) {
    static const char* n[] = {
        "Null hypothesis, H₀: Pr(%@) = %@ (The true proportion of %@ is equal to %@)",
        "Null hypothesis, H₀: Pr(%@) >= %@ (The true proportion of %@ is greater than or equal to %@)",
        "Null hypothesis, H₀: Pr(%@) <= %@ (The true proportion of %@ is less than or equal to %@)"};
    static const char* h[] = {
        "Alternative hypothesis, H₁: Pr(%@) ≠ %@ (The true proportion of %@ is not equal to %@)",
        "Alternative hypothesis, H₁: Pr(%@) < %@ (The true proportion of %@ is less than %@)",
        "Alternative hypothesis, H₁: Pr(%@) > %@ (The true proportion of %@ is greater than %@)"};
    null = n[t];
    alt = h[t];
    b = stringFromNumber(c.expected, VariableType::Numeric, 7);
  } else if (proportions(c)) {
    static const char* n[] = {
        "Null hypothesis, H₀: Pr(%@) = Pr(%@) (The true proportion of %@ is equal to the true proportion of "
        "%@)",
        "Null hypothesis, H₀: Pr(%@) >= Pr(%@) (The true proportion of %@ is greater than or equal to the "
        "true "
        "proportion of %@)",
        "Null hypothesis, H₀: Pr(%@) <= Pr(%@) (The true proportion of %@ is less than or equal to the true "
        "proportion of %@)"};
    static const char* h[] = {
        "Alternative hypothesis, H₁: Pr(%@) ≠ Pr(%@) (The true proportion of %@ is not equal to the true "
        "proportion of %@)",
        "Alternative hypothesis, H₁: Pr(%@) < Pr(%@) (The true proportion of %@ is less than the true "
        "proportion "
        "of %@)",
        "Alternative hypothesis, H₁: Pr(%@) > Pr(%@) (The true proportion of %@ is greater than the true "
        "proportion of %@)"};
    null = n[t];
    alt = h[t];
    b = c.rightName;
  } else if (c.paired) {
    static const char* n[] = {
        "Null hypothesis, H₀: %@ - %@ = 0 (The true mean of pairwise differences between %@ "
        "and %@ is equal to zero)",
        "Null hypothesis, H₀: %@ - %@ >= 0 (The true mean of pairwise differences between "
        "%@ and %@ is greater than or equal to zero)",
        "Null hypothesis, H₀: %@ - %@ <= 0 (The true mean of pairwise differences between "
        "%@ and %@ is less than or equal to zero)"};
    static const char* h[] = {
        "Alternative hypothesis, H₀: %@ - %@ ≠ 0 (The true mean of pairwise differences "
        "between %@ and %@ is not equal to zero)",
        "Alternative hypothesis, H₁: %@ - %@ < 0 (The true mean of pairwise differences "
        "between %@ and %@ is less than zero)",
        "Alternative hypothesis, H₁: %@ - %@ > 0 (The true mean of pairwise differences "
        "between %@ and %@ is greater than zero)"};
    null = n[t];
    alt = h[t];
    b = c.rightName;
  } else if (c.grouped) {
    static const char* n[] = {
        "Null hypothesis, H₀: μ(%@) = μ(%@) (The true mean of %@ is equal to the true mean of %@)",
        "Null hypothesis, H₀: μ(%@) >= μ(%@) (The true mean of %@ is greater than or equal to the true mean "
        "of %@)",
        "Null hypothesis, H₀: μ(%@) <= μ(%@) (The true mean of %@ is less than or equal to the true mean of "
        "%@)"};
    static const char* h[] = {
        "Alternative hypothesis, H₁: μ(%@) ≠ μ(%@) (The true mean of %@ is not equal to the true mean of %@)",
        "Alternative hypothesis, H₁: μ(%@) < μ(%@) (The true mean of %@ is less than the true mean of %@)",
        "Alternative hypothesis, H₁: μ(%@) > μ(%@) (The true mean of %@ is greater than the true mean of "
        "%@)"};
    null = n[t];
    alt = h[t];
    b = c.rightName;
  } else {
    static const char* n[] = {
        "Null hypothesis, H₀: %@ = %@ (The true mean of %@ is equal to the true mean of %@)",
        "Null hypothesis, H₀: %@ >= %@ (The true mean of %@ is greater than or equal to the true mean of %@)",
        "Null hypothesis, H₀: %@ <= %@ (The true mean of %@ is less than or equal to the true mean of %@)"};
    static const char* h[] = {
        "Alternative hypothesis, H₁: %@ ≠ %@ (The true mean of %@ is not equal to the true mean of %@)",
        "Alternative hypothesis, H₁: %@ < %@ (The true mean of %@ is less than the true mean of %@)",
        "Alternative hypothesis, H₁: %@ > %@ (The true mean of %@ is greater than the true mean of %@)"};
    null = n[t];
    alt = h[t];
    b = c.rightName;
  }
  return {fillPlaceholders(tr(null), {a, b, a, b}), fillPlaceholders(tr(alt), {a, b, a, b})};
}

std::vector<std::vector<std::string>> summaryRows(const HypothesisResult& r, const HypothesisContext& c) {
  auto v = [](const std::optional<double>& x) { return x.value_or(NAN); };
  if (proportions(c) && c.paired && twoSamples(c)) {
    auto count = [&](const std::optional<double>& x) { return n7(v(x)); };
    return {{"", tr("Sample 2") + " 0", tr("Sample 2") + " 1"},
            {tr("Sample 1") + " 0", count(r.x0y0), count(r.x0y1)},
            {tr("Sample 1") + " 1", count(r.x1y0), count(r.x1y1)}};
  }
  const VariableType type = figureType(c);
  const double scale =
      std::max(std::fabs(v(r.diff)), std::sqrt(v(r.sdX) * v(r.sdX) + (r.sdY ? v(r.sdY) * v(r.sdY) : 0)));
  auto mean = [&](const std::optional<double>& x) {
    return proportions(c) ? stringFromNumber(v(x), VariableType::Numeric, 7)
                          : stringFromNumber(v(x), type, 7, scale);
  };
  auto difference = [&](const std::optional<double>& x) { return stringFromDifferenceNumber(v(x), type, 7); };
  const std::string meanLabel = proportions(c) ? tr("Proportion") : tr("Mean");
  auto obs = [&](const std::optional<double>& x) { return n7(v(x)); };
  if (!twoSamples(c) || c.paired) {
    // One sample, or the pairwise differences against 0.
    return {{"", tr("Sample"), tr("Expected"), tr("Diff")},
            {tr("Obs."), obs(r.obsX), "", ""},
            {meanLabel, mean(r.meanX), c.paired ? "0" : mean(c.expected), difference(r.diff)},
            {tr("Std Err"), difference(r.seX), "", difference(r.seDiff)}};
  }
  return {{"", tr("Sample 1"), tr("Sample 2"), tr("Sample 1 - Sample 2")},
          {tr("Obs."), obs(r.obsX), obs(r.obsY), ""},
          {meanLabel, mean(r.meanX), mean(r.meanY), difference(r.diff)},
          {tr("Std Err"), difference(r.seX), difference(r.seY), difference(r.seDiff)}};
}

std::string statisticsLine(const HypothesisResult& r) {
  if (r.statName == "!") return stringFromPNumber(r.p);
  return fillPlaceholders(tr("%@ = %@, degrees of freedom = %@, %@"),
                          {r.statName, n7(r.t), n7(r.df), stringFromPNumber(r.p)});
}

std::array<std::string, 2> decisionLines(double p) {
  if (p < 0.05)
    return {tr("Reject the null hypothesis"),
            fillPlaceholders(tr("p-value (%@) ≤ significance criteria (0.05). We "
                                "conclude that the alternative hypothis is true "
                                "at the 95%% confidence level."),
                             {stringFromPNumber(p)})};
  return {
      tr("Fail to reject the null hypothesis"),
      fillPlaceholders(
          tr("p-value (%@) > significance criteria (0.05). We conclude that not enough evidence is available "
             "to reject the null hypothesis at the 95%% confidence level."),
          {stringFromPNumber(p)})};
}

std::vector<charts::Chart> hypothesisCharts(const HypothesisResult& r, const HypothesisContext& c) {
  std::vector<charts::Chart> out;
  const bool dates = figureType(c) == VariableType::DateTime;
  auto range = [](charts::Chart& ch) {
    double lo = INFINITY, hi = -INFINITY, top = 0;
    for (const auto& l : ch.lines)
      for (size_t i = 0; i < l.x.size(); ++i) {
        lo = std::min(lo, l.x[i]);
        hi = std::max(hi, l.x[i]);
        if (std::isfinite(l.y[i])) top = std::max(top, l.y[i]);
      }
    if (ch.box) {
      lo = std::min(lo, ch.box->lowerFence);
      hi = std::max(hi, ch.box->upperFence);
    }
    for (const auto& m : ch.markers) {
      lo = std::min(lo, m.x);
      hi = std::max(hi, m.x);
    }
    if (std::isfinite(lo) && std::isfinite(hi)) {
      const double pad = hi > lo ? (hi - lo) * 0.05 : 1;
      ch.x.min = lo - pad;
      ch.x.max = hi + pad;
    }
    ch.y.min = 0;
    ch.y.max = top > 0 ? top * 1.05 : 1;
  };
  if (!proportions(c)) {
    // Box plots of each sample with the expected value marked.
    const std::array<const std::optional<std::array<double, 5>>*, 2> boxes = {&r.boxX, &r.boxY};
    for (int k = 0; k < 2; ++k) {
      if (!*boxes[k]) continue;
      const auto& b = **boxes[k];
      charts::Chart ch;
      ch.title =
          tr("Box Plot") + (twoSamples(c) && !c.paired ? " " + tr(k == 0 ? "Sample 1" : "Sample 2") : "");
      ch.x.kind = dates ? charts::AxisKind::Date : charts::AxisKind::Number;
      ch.y.kind = charts::AxisKind::Hidden;
      ch.box = charts::BoxSeries{b[0], b[1], b[2], b[3], b[4], {}};
      if (!twoSamples(c)) ch.markers.push_back({c.expected, tr("Expected")});
      range(ch);
      out.push_back(std::move(ch));
    }
    // Two independent samples on one scale, so that their boxes compare at a glance.
    if (out.size() == 2) {
      const double lo = std::min(out[0].x.min, out[1].x.min), hi = std::max(out[0].x.max, out[1].x.max);
      for (charts::Chart& ch : out) {
        ch.x.min = lo;
        ch.x.max = hi;
      }
    }
    charts::Chart dens;
    dens.title = tr("Kernal Density Plot");
    dens.x.kind = dates ? charts::AxisKind::Date : charts::AxisKind::Number;
    // Two curves are told apart by a legend naming their samples.
    const bool named = r.densityX && r.densityY;
    if (r.densityX)
      dens.lines.push_back({r.densityX->x, r.densityX->y, false, named ? tr(c.leftLegend) : ""});
    if (r.densityY)
      dens.lines.push_back({r.densityY->x, r.densityY->y, true, named ? tr(c.rightLegend) : ""});
    if (!twoSamples(c)) dens.markers.push_back({c.expected, tr("Expected")});
    range(dens);
    out.push_back(std::move(dens));
  } else {
    charts::Chart bars;
    bars.kind = charts::ChartKind::Bars;
    bars.title = tr("Bar Plot");
    if (twoSamples(c)) {
      bars.categories = {tr("Sample 1"), tr("Sample 2")};
      bars.values = {r.meanX.value_or(NAN), r.meanY.value_or(NAN)};
    } else {
      bars.categories = {tr("Sample"), tr("Expected")};
      bars.values = {r.meanX.value_or(NAN), c.expected};
    }
    out.push_back(std::move(bars));
  }
  // The distributions under the sample and under the null, and of the difference.
  const std::string stat = r.statName == "!" ? tr("Binomial") : r.statName;
  charts::Chart dist;
  dist.title = fillPlaceholders(tr("%@ Distribution"), {stat});
  dist.x.title = proportions(c) ? tr("Proportion") : tr("Mean");
  dist.y.title = tr("Probability");
  if (r.pdfSample1) dist.lines.push_back({r.pdfSample1->x, r.pdfSample1->y, false, ""});
  if (r.pdfSample2) dist.lines.push_back({r.pdfSample2->x, r.pdfSample2->y, true, ""});
  // Paired proportions are tested on the share b / (b + c) of the discordant pairs.
  const std::optional<double> observed = r.x0y1 && r.diff ? std::optional<double>(*r.diff + 0.5) : r.meanX;
  if (observed) dist.markers.push_back({*observed, tr(twoSamples(c) ? "Sample 1" : "Sample")});
  range(dist);
  out.push_back(std::move(dist));
  if (r.pdfDiff1 || r.pdfDiff2) {
    charts::Chart diff;
    diff.title = fillPlaceholders(tr("%@ Distribution"), {stat});
    diff.x.title = tr(twoSamples(c) ? "Sample 1 - Sample 2" : "Sample - Expected");
    diff.y.title = tr("Probability");
    if (r.pdfDiff1) diff.lines.push_back({r.pdfDiff1->x, r.pdfDiff1->y, false, ""});
    if (r.pdfDiff2) diff.lines.push_back({r.pdfDiff2->x, r.pdfDiff2->y, true, ""});
    if (r.diff) diff.markers.push_back({*r.diff, tr("Difference")});
    range(diff);
    out.push_back(std::move(diff));
  }
  return out;
}

void writeCSVLines(const HypothesisResult& r, const HypothesisContext& c, CsvWriter& w) {
  const VariableType type = figureType(c);
  auto v = [](const std::optional<double>& x) { return x.value_or(NAN); };
  // Means and differences in the variable's type (dates as dates); standard errors as plain numbers.
  auto figure = [&](const std::optional<double>& x) {
    if (type == VariableType::DateTime)
      w.writeField(stringFromNumber(v(x), type, 15));
    else
      w.writeRounded(v(x), 15);  // ungrouped: a CSV cell is read back as a number
  };
  const std::string title = fileNameOutput(c);
  w.writeLineOfFields({title});
  w.finishLine();
  w.writeLineOfFields({title});
  w.writeLineOfFields({tr("Sample 1:"), c.leftName, c.filterText1});
  if (proportions(c)) w.writeLineOfFields({tr("Proportion of"), c.leftLevel1});
  if (twoSamples(c)) {
    w.writeLineOfFields({tr("Sample 2:"), c.rightName, c.filterText2});
    if (proportions(c)) w.writeLineOfFields({tr("Proportion of"), c.rightLevel1});
  } else {
    w.writeField(tr("Expected value"));
    figure(c.expected);
    w.finishLine();
  }
  w.finishLine();
  w.writeLineOfFields({r.testName});
  w.finishLine();
  if (twoSamples(c) && !c.paired) {
    w.writeLineOfFields({tr("Sample"), tr("Sample 1"), tr("Sample 2"), tr("Diff")});
    w.writeField(tr("Obs"));
    w.writeField(v(r.obsX));
    w.writeField(v(r.obsY));
    w.finishLine();
    w.writeField(tr("Means"));
    figure(r.meanX);
    figure(r.meanY);
    figure(r.diff);
    w.finishLine();
    w.writeField(tr("Std Err"));
    w.writeField(v(r.seX));
    w.writeField(v(r.seY));
    w.writeField(v(r.seDiff));
    w.finishLine();
  } else if (twoSamples(c) && proportions(c)) {
    w.writeLineOfFields({"", tr("Sample 2")});
    w.writeLineOfFields({tr("Sample 1"), "0", "1"});
    w.writeField("0");
    w.writeField(v(r.x0y0));
    w.writeField(v(r.x0y1));
    w.finishLine();
    w.writeField("1");
    w.writeField(v(r.x1y0));
    w.writeField(v(r.x1y1));
    w.finishLine();
  } else {
    w.writeLineOfFields({tr("Sample"), twoSamples(c) ? tr("Sample 1 - Sample 2") : tr("Sample 1")});
    w.writeField(tr("Obs"));
    w.writeField(v(r.obsX));
    w.finishLine();
    w.writeField(tr("Means"));
    figure(r.meanX);
    w.finishLine();
    w.writeField(tr("Std Err"));
    w.writeField(v(r.seX));
    w.finishLine();
  }
  w.writeField(r.statName);
  w.writeField(r.t);
  w.finishLine();
  w.writeField(tr("degrees of freedom"));
  w.writeField(r.df);
  w.finishLine();
  w.writeField(tr("p"));
  w.writeField(r.p);
  w.finishLine();
  if (r.ci || r.cohenD || !r.shapiro.empty()) {
    w.finishLine();
    w.writeLineOfFields({tr("Interval, effect size and normality:")});
  }
  if (r.ci) {
    w.writeField(tr("95% CI lower bound"));
    proportions(c) ? w.writeField((*r.ci)[0]) : figure((*r.ci)[0]);
    w.finishLine();
    w.writeField(tr("95% CI upper bound"));
    proportions(c) ? w.writeField((*r.ci)[1]) : figure((*r.ci)[1]);
    w.finishLine();
  }
  if (r.cohenD) w.writeLineOfFields({tr("Cohen's d"), *r.cohenD});
  for (size_t i = 0; i < r.shapiro.size(); ++i) {
    const std::string which = r.shapiro.size() == 1 ? tr(c.paired ? "differences" : "sample 1")
                                                    : tr(i == 0 ? "sample 1" : "sample 2");
    w.writeLineOfFields({fillPlaceholders(tr("Shapiro–Wilk W (%@)"), {which}), r.shapiro[i].W});
    w.writeLineOfFields({fillPlaceholders(tr("Shapiro–Wilk p (%@)"), {which}), r.shapiro[i].p});
  }
  w.finishLine();
  w.writeLineOfFields(
      {tr("Legend for significance: * - significant (p<0.05), ** - high significance (p<0.01), *** "
          "- very high significance (p<0.001)")});
}

std::vector<std::pair<std::string, const char*>> effectLines(const HypothesisResult& r,
                                                             const HypothesisContext& c) {
  std::vector<std::pair<std::string, const char*>> lines;
  const VariableType type = figureType(c);
  if (r.ci) {
    // A one-sample interval holds the mean; the others a difference.
    const bool ofDifference = twoSamples(c);
    auto end = [&](double v) {
      return proportions(c) ? n7(v) : stringFromNumber(v, ofDifference ? VariableType::Numeric : type, 7);
    };
    const char* format = proportions(c) ? (ofDifference ? "95% CI of the difference of proportions: [%@, %@]"
                                                        : "95% CI of the proportion (Wilson): [%@, %@]")
                                        : (ofDifference ? "95% CI of the difference: [%@, %@]"
                                                        : "95% CI of the mean: [%@, %@]");
    lines.push_back({fillPlaceholders(tr(format), {end((*r.ci)[0]), end((*r.ci)[1])}),
                     ofDifference ? "ciDifference" : "meanCI"});
  }
  if (r.cohenD)
    lines.push_back({fillPlaceholders(tr("Cohen's d = %@"), {stringFromNumber(*r.cohenD, 4)}), "cohenD"});
  for (size_t i = 0; i < r.shapiro.size(); ++i) {
    const std::string which = r.shapiro.size() == 1 ? tr(c.paired ? "differences" : "sample 1")
                                                    : tr(i == 0 ? "sample 1" : "sample 2");
    const double n = i < r.shapiroN.size() ? r.shapiroN[i] : 0;
    if (std::isnan(r.shapiro[i].W))
      lines.push_back({fillPlaceholders(n > 5000 ? tr("Shapiro–Wilk (%@): not computed above 5,000 values")
                                                 : tr("Shapiro–Wilk (%@): not computed"),
                                        {which}),
                       "shapiro"});
    else
      lines.push_back(
          {fillPlaceholders(tr("Shapiro–Wilk (%@): W = %@, %@"),
                            {which, stringFromNumber(r.shapiro[i].W, 5), stringFromPNumber(r.shapiro[i].p)}),
           "shapiro"});
  }
  return lines;
}

reports::Element hypothesisLayout(const HypothesisResult& r, const HypothesisContext& c, bool print) {
  using namespace reports;
  const double width = print ? kPageWidth : 760;
  const double body = print && !proportions(c) ? 12 : 11;
  Element root = container({0, 0, width, 0});
  double y = 20;
  auto add = [&](Element e, const char* role) {
    e.role = role;
    root.children.push_back(std::move(e));
  };
  auto line = [&](const std::string& text, double size, bool bold, const char* role, const char* term = "") {
    Element e = label(text, {20, y, width - 40, size + 6}, size, TextAlign::Left, bold);
    e.term = term;
    add(std::move(e), role);
    y += size + 8;
  };
  line(fileNameOutput(c), 16, true, "title");
  line(r.testName, body, false, "subtitle");
  for (const std::string& s : sampleLines(c)) line(s, body, false, "filter");
  y += 6;
  const auto statement = hypothesisStatement(c);
  if (!statement.empty()) {
    line(tr("Hypothesis Statement"), 12, true, "heading", "hypothesis");
    for (const std::string& s : statement) {
      // Long statements wrap onto a second line.
      const double h = (s.size() * body * 0.5 > width - 40 ? 2 : 1) * (body + 4);
      Element e = textBlock(s, {20, y, width - 40, h}, body);
      add(std::move(e), "figure");
      y += h + 2;
    }
  }
  y += 6;
  TableColumns grid;
  // The last header, "Sample 1 - Sample 2", is the longest.
  if (print) {
    grid.columnX = {0, 80, 180, 280};
    grid.columnWidth = {80, 100, 100, 130};
  } else {
    grid.columnX = {0, 120, 270, 420};
    grid.columnWidth = {120, 150, 150, 190};
  }
  grid.align = {TextAlign::Left, TextAlign::Right, TextAlign::Right, TextAlign::Right};
  grid.rowHeight = print ? 15 : 22;
  grid.fontSize = print ? 10 : 12;
  Element t = table(summaryRows(r, c), grid, 20, y);
  t.role = "summary";
  y += t.frame.h + 10;
  root.children.push_back(std::move(t));
  line(tr("Significance level to reject the null hypothesis: 0.05"), body, false, "figure", "significance");
  line(tr("Test statistics"), 12, true, "heading", "statistic");
  line(statisticsLine(r), body, false, "figure", "pValue");
  {
    // On paper the interval and effect size share a line, and the normality
    // tests another, to keep the report short.
    auto lines = effectLines(r, c);
    if (print && lines.size() > 1) {
      std::vector<std::pair<std::string, const char*>> joined;
      for (auto& [text, term] : lines) {
        const bool normality = std::string_view(term) == "shapiro";
        if (!joined.empty() && (std::string_view(joined.back().second) == "shapiro") == normality)
          joined.back().first += "; " + text;
        else
          joined.push_back({text, term});
      }
      lines = std::move(joined);
    }
    for (const auto& [text, term] : lines) line(text, body, false, "figure", term);
  }
  // Without a statistic there is no decision: the note says why.
  const auto decision = r.note.empty() ? decisionLines(r.p) : std::array<std::string, 2>{r.note, ""};
  line(decision[0], 12, true, "heading");
  Element d = textBlock(decision[1], {20, y, width - 40, 2 * (body + 4)}, body);
  add(std::move(d), "note");
  y += 2 * (body + 4) + 10;
  std::vector<charts::Chart> charts = hypothesisCharts(r, c);
  // Two charts a row, wide enough for their axes' ticks; on paper the
  // charts that do not fit continue on the next page.
  const size_t perRow = 2;
  const double chartWidth = (width - 40 - 12 * static_cast<double>(perRow - 1)) / static_cast<double>(perRow);
  const double chartHeight = print ? 190 : 240;
  for (size_t i = 0; i < charts.size(); ++i) {
    const double x = 20 + static_cast<double>(i % perRow) * (chartWidth + 12);
    add(chartHost(std::move(charts[i]), {x, y, chartWidth, chartHeight}), "chart");
    if (i % perRow == perRow - 1 || i + 1 == charts.size()) y += chartHeight + 12;
  }
  root.frame.h = y + 20;
  return root;
}

}  // namespace tabulix
