#include "analyses/ranks/ranks.h"

#include <algorithm>
#include <cmath>

#include "analyses/detail/detail_report.h"
#include "analyses/hypothesis_test/hypothesis_report.h"
#include "analyses/report_text.h"
#include "engine/number_format.h"
#include "engine/translate.h"
#include "reports/pdf_writer.h"
#include "stats/descriptive.h"

namespace tabulix {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kPercents[] = {0, 25, 50, 75, 100};

Tail tailOf(int tails) { return tails == 1 ? Tail::Less : tails == 2 ? Tail::Greater : Tail::TwoSided; }

const std::string& nameAt(const RanksContext& c, size_t i) {
  static const std::string none;
  return i < c.names.size() ? c.names[i] : none;
}

std::string joined(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& n : names) out += (out.empty() ? "" : ", ") + n;
  return out;
}

std::string n7(double v) { return stringFromNumber(v, 7); }

// A confidence level as the interval's label gives it: 95, or 88 where an
// exact interval cannot reach the 95% asked for.
std::string levelPercent(double level) { return stringFromNumber(std::round(level * 1000) / 10, 3); }

}  // namespace

RanksResult rankTests(const RanksContext& c, const std::vector<std::vector<double>>& samples) {
  RanksResult r;
  for (const auto& s : samples) {
    std::vector<double> sorted = s;
    std::sort(sorted.begin(), sorted.end());
    r.obs.push_back(static_cast<double>(sorted.size()));
    std::array<double, 5> box{kNaN, kNaN, kNaN, kNaN, kNaN};
    if (!sorted.empty()) {
      auto pc = DescriptiveStatistics::percentiles(kPercents, sorted);
      for (size_t i = 0; i < 5; ++i) box[i] = pc.at(kPercents[i]);
    }
    r.boxes.push_back(box);
    r.medians.push_back(box[2]);
  }
  const Tail tail = tailOf(c.tails);
  switch (c.test) {
    case RankTest::SignedRank:
      if (!samples.empty()) r.wilcoxon = signedRankTest(samples[0], c.expected, tail);
      break;
    case RankTest::PairedSignedRank:
      if (samples.size() == 2) {
        std::vector<double> d(samples[0].size());
        for (size_t i = 0; i < d.size() && i < samples[1].size(); ++i) d[i] = samples[0][i] - samples[1][i];
        r.wilcoxon = signedRankTest(d, 0, tail);
      }
      break;
    case RankTest::RankSum:
      if (samples.size() == 2) r.wilcoxon = rankSumTest(samples[0], samples[1], 0, tail);
      break;
    case RankTest::Friedman: {
      // One block per row: the i-th value of every variable.
      const size_t rows = samples.empty() ? 0 : samples[0].size();
      std::vector<std::vector<double>> blocks(rows, std::vector<double>(samples.size()));
      for (size_t j = 0; j < samples.size(); ++j)
        for (size_t i = 0; i < rows && i < samples[j].size(); ++i) blocks[i][j] = samples[j][i];
      r.friedman = GroupTests::friedman(blocks);
      break;
    }
  }
  const double p = r.wilcoxon ? r.wilcoxon->p : r.friedman ? r.friedman->p : kNaN;
  if (std::isnan(p))
    r.note =
        c.test == RankTest::Friedman
            ? tr("There are too few complete rows, or every row has equal values, so no test statistic can "
                 "be computed.")
            : tr("There are too few observations (or no values differ from the expected one), so no test "
                 "statistic can be computed.");
  return r;
}

nlohmann::json toJson(const RanksResult& r, const RanksContext& c) {
  static const char* names[] = {"signedRank", "pairedSignedRank", "rankSum", "friedman"};
  nlohmann::json j = {{"test", names[static_cast<int>(c.test)]},
                      {"testName", ranksTestName(c)},
                      {"obs", r.obs},
                      {"medians", r.medians},
                      {"boxes", r.boxes}};
  if (r.wilcoxon) {
    const WilcoxonResult& w = *r.wilcoxon;
    j["W"] = w.W;
    j["p"] = w.p;
    j["exact"] = w.exact;
    j["estimate"] = w.estimate;
    j["ci"] = {w.lower, w.upper};
    j["ciLevel"] = w.level;
    j["z"] = w.z;
    j["r"] = w.r;
    j["rankBiserial"] = w.rankBiserial;
    j["n"] = w.n;
  }
  if (r.friedman) {
    j["friedman"] = {{"chisq", r.friedman->chisq}, {"df", r.friedman->df}, {"p", r.friedman->p}};
    j["p"] = r.friedman->p;
  }
  if (!r.note.empty()) j["note"] = r.note;
  return j;
}

std::string ranksTestName(const RanksContext& c) {
  const std::string tail = c.tails == 0 ? tr("two tail") : tr("one tail");
  switch (c.test) {
    case RankTest::SignedRank:
      return fillPlaceholders(tr("One sample %@ Wilcoxon signed-rank test"), {tail});
    case RankTest::PairedSignedRank:
      return fillPlaceholders(tr("Paired %@ Wilcoxon signed-rank test"), {tail});
    case RankTest::RankSum:
      return fillPlaceholders(tr("Two sample %@ Wilcoxon rank-sum (Mann–Whitney) test"), {tail});
    case RankTest::Friedman:
      break;
  }
  return tr("Friedman rank sum test");
}

std::vector<std::string> ranksHypothesisStatement(const RanksContext& c) {
  const int t = std::clamp(c.tails, 0, 2);
  const std::string a = nameAt(c, 0), b = nameAt(c, 1);
  switch (c.test) {
    case RankTest::SignedRank: {
      static const char* n[] = {
          "Null hypothesis, H₀: median(%@) = %@ (The true median of %@ is equal to %@)",
          "Null hypothesis, H₀: median(%@) >= %@ (The true median of %@ is greater than or equal to %@)",
          "Null hypothesis, H₀: median(%@) <= %@ (The true median of %@ is less than or equal to %@)"};
      static const char* h[] = {
          "Alternative hypothesis, H₁: median(%@) ≠ %@ (The true median of %@ is not equal to %@)",
          "Alternative hypothesis, H₁: median(%@) < %@ (The true median of %@ is less than %@)",
          "Alternative hypothesis, H₁: median(%@) > %@ (The true median of %@ is greater than %@)"};
      const std::string m = n7(c.expected);
      return {fillPlaceholders(tr(n[t]), {a, m, a, m}), fillPlaceholders(tr(h[t]), {a, m, a, m})};
    }
    case RankTest::PairedSignedRank: {
      static const char* n[] = {
          "Null hypothesis, H₀: median(%@ - %@) = 0 (The true median of pairwise differences between %@ and "
          "%@ "
          "is equal to zero)",
          "Null hypothesis, H₀: median(%@ - %@) >= 0 (The true median of pairwise differences between %@ and "
          "%@ is greater than or equal to zero)",
          "Null hypothesis, H₀: median(%@ - %@) <= 0 (The true median of pairwise differences between %@ and "
          "%@ is less than or equal to zero)"};
      static const char* h[] = {
          "Alternative hypothesis, H₁: median(%@ - %@) ≠ 0 (The true median of pairwise differences between "
          "%@ and %@ is not equal to zero)",
          "Alternative hypothesis, H₁: median(%@ - %@) < 0 (The true median of pairwise differences between "
          "%@ and %@ is less than zero)",
          "Alternative hypothesis, H₁: median(%@ - %@) > 0 (The true median of pairwise differences between "
          "%@ and %@ is greater than zero)"};
      return {fillPlaceholders(tr(n[t]), {a, b, a, b}), fillPlaceholders(tr(h[t]), {a, b, a, b})};
    }
    case RankTest::RankSum: {
      static const char* n[] = {"Null hypothesis, H₀: %@ = %@ (The distributions of %@ and %@ are equal)",
                                "Null hypothesis, H₀: %@ >= %@ (%@ does not tend to smaller values than %@)",
                                "Null hypothesis, H₀: %@ <= %@ (%@ does not tend to larger values than %@)"};
      static const char* h[] = {
          "Alternative hypothesis, H₁: %@ ≠ %@ (One of %@ and %@ tends to larger values than the other)",
          "Alternative hypothesis, H₁: %@ < %@ (%@ tends to smaller values than %@)",
          "Alternative hypothesis, H₁: %@ > %@ (%@ tends to larger values than %@)"};
      // A grouped sample's name ("Y | G = a") is bracketed where it stands in a formula.
      const std::string fa = c.grouped ? "(" + a + ")" : a, fb = c.grouped ? "(" + b + ")" : b;
      return {fillPlaceholders(tr(n[t]), {fa, fb, a, b}), fillPlaceholders(tr(h[t]), {fa, fb, a, b})};
    }
    case RankTest::Friedman:
      break;
  }
  const std::string all = joined(c.names);
  return {fillPlaceholders(tr("Null hypothesis, H₀: The distributions of %@ are equal"), {all}),
          fillPlaceholders(
              tr("Alternative hypothesis, H₁: At least one of %@ tends to larger or smaller values"), {all})};
}

std::string ranksInterpretation(const RanksResult& r, const RanksContext& c) {
  const double p = r.wilcoxon ? r.wilcoxon->p : r.friedman ? r.friedman->p : kNaN;
  if (std::isnan(p)) return r.note;
  const bool significant = p <= 0.05;
  const std::string a = nameAt(c, 0), b = nameAt(c, 1);
  switch (c.test) {
    case RankTest::SignedRank:
      return fillPlaceholders(significant ? tr("The median of %@ is significantly different from %@.")
                                          : tr("The median of %@ is not significantly different from %@."),
                              {a, n7(c.expected)});
    case RankTest::PairedSignedRank:
    case RankTest::RankSum:
      return fillPlaceholders(significant ? tr("%@ and %@ differ significantly in location.")
                                          : tr("%@ and %@ do not differ significantly in location."),
                              {a, b});
    case RankTest::Friedman:
      break;
  }
  return fillPlaceholders(significant ? tr("The distributions of %@ differ significantly.")
                                      : tr("The distributions of %@ do not differ significantly."),
                          {joined(c.names)});
}

namespace {

// The figure lines and their glossary terms.
std::vector<std::pair<std::string, const char*>> figureLines(const RanksResult& r, const RanksContext& c) {
  std::vector<std::pair<std::string, const char*>> lines;
  if (r.friedman) {
    lines.push_back(
        {fillPlaceholders(tr("Friedman χ² = %@, degrees of freedom = %@, %@"),
                          {n7(r.friedman->chisq), n7(r.friedman->df), stringFromPNumber(r.friedman->p)}),
         "friedman"});
    return lines;
  }
  if (!r.wilcoxon) return lines;
  const WilcoxonResult& w = *r.wilcoxon;
  const bool signedRank = c.test != RankTest::RankSum;
  lines.push_back({fillPlaceholders(tr("%@ = %@, %@ (%@)"),
                                    {signedRank ? "V" : "W", n7(w.W), stringFromPNumber(w.p),
                                     w.exact ? tr("exact distribution")
                                             : tr("normal approximation with continuity correction")}),
                   signedRank ? "signedRank" : "rankSum"});
  lines.push_back({fillPlaceholders(tr("Hodges–Lehmann estimate = %@, %@% CI [%@, %@]"),
                                    {n7(w.estimate), levelPercent(w.level), n7(w.lower), n7(w.upper)}),
                   "hodgesLehmann"});
  lines.push_back(
      {fillPlaceholders(tr("Effect size r = %@ (Z = %@, N = %@)"),
                        {stringFromNumber(w.r, 4), stringFromNumber(w.z, 4), std::to_string(w.n)}),
       "rankEffect"});
  lines.push_back(
      {fillPlaceholders(tr("Rank-biserial correlation = %@"), {stringFromNumber(w.rankBiserial, 4)}),
       "rankBiserial"});
  return lines;
}

charts::Chart boxChart(const RanksResult& r, const RanksContext& c) {
  charts::Chart chart;
  chart.title = tr("Box plots of the samples");
  static const char* ids[] = {"bottomWhisker", "bottomBox",        "topBox",
                              "topWhisker",    "bottomWhiskerTip", "topWhiskerTip"};
  for (const char* id : ids) {
    charts::RangeBarSeries s;
    s.id = id;
    s.asLines = std::string_view(id).find("Whisker") != std::string_view::npos;
    s.width = std::string_view(id).ends_with("Tip") ? 0.3 : 0.6;
    chart.rangeBars.push_back(std::move(s));
  }
  double lo = INFINITY, hi = -INFINITY;
  const size_t n = r.boxes.size();
  for (size_t k = 0; k < n; ++k) {
    chart.x.categoryLabels.push_back({static_cast<double>(k), nameAt(c, k)});
    const auto& m = r.boxes[k];
    if (std::isnan(m[0])) continue;
    const double segments[6][2] = {{m[0], m[1]}, {m[1], m[2]}, {m[2], m[3]},
                                   {m[3], m[4]}, {m[0], m[0]}, {m[4], m[4]}};
    for (size_t s = 0; s < 6; ++s) {
      chart.rangeBars[s].position.push_back(static_cast<double>(k));
      chart.rangeBars[s].from.push_back(segments[s][0]);
      chart.rangeBars[s].to.push_back(segments[s][1]);
    }
    lo = std::min(lo, m[0]);
    hi = std::max(hi, m[4]);
  }
  chart.x.min = -0.6;
  chart.x.max = static_cast<double>(n) - 0.4;
  const double pad = hi > lo ? (hi - lo) * 0.05 : 1;
  chart.y.min = std::isfinite(lo) ? lo - pad : 0;
  chart.y.max = std::isfinite(hi) ? hi + pad : 1;
  return chart;
}

}  // namespace

std::string ranksBaseName(const RanksContext& c) {
  switch (c.test) {
    case RankTest::SignedRank:
      return fillPlaceholders(tr("Wilcoxon signed-rank test of %@"), {nameAt(c, 0)});
    case RankTest::PairedSignedRank:
      return fillPlaceholders(tr("Wilcoxon signed-rank test of %@ and %@"), {nameAt(c, 0), nameAt(c, 1)});
    case RankTest::RankSum:
      if (c.grouped) return fillPlaceholders(tr("Wilcoxon rank-sum test of %@"), {c.groupedName});
      return fillPlaceholders(tr("Wilcoxon rank-sum test of %@ and %@"), {nameAt(c, 0), nameAt(c, 1)});
    case RankTest::Friedman:
      break;
  }
  return fillPlaceholders(tr("Friedman test of %@"), {joined(c.names)});
}

void writeCSVLines(const RanksResult& r, const RanksContext& c, CsvWriter& w) {
  w.writeLineOfFields({ranksBaseName(c)});
  w.finishLine();
  w.writeLineOfFields({tr("Filters:"), c.filterText1});
  if (c.test == RankTest::RankSum) w.writeLineOfFields({tr("Sample 2 filters:"), c.filterText2});
  w.writeLineOfFields({ranksTestName(c)});
  if (c.test == RankTest::SignedRank) w.writeLineOfFields({tr("Expected value"), c.expected});
  for (size_t k = 0; k < r.obs.size(); ++k) {
    w.writeLineOfFields({fillPlaceholders(tr("Obs. (%@)"), {nameAt(c, k)}), r.obs[k]});
    w.writeLineOfFields({fillPlaceholders(tr("Median (%@)"), {nameAt(c, k)}), r.medians[k]});
  }
  if (r.wilcoxon) {
    const WilcoxonResult& x = *r.wilcoxon;
    w.writeLineOfFields({c.test == RankTest::RankSum ? "W" : "V", x.W});
    w.writeLineOfFields({tr("p"), x.p});
    w.writeLineOfFields({tr("Exact"), x.exact ? tr("Yes") : tr("No")});
    w.writeLineOfFields({tr("Hodges–Lehmann estimate"), x.estimate});
    w.writeLineOfFields({fillPlaceholders(tr("%@% CI lower bound"), {levelPercent(x.level)}), x.lower});
    w.writeLineOfFields({fillPlaceholders(tr("%@% CI upper bound"), {levelPercent(x.level)}), x.upper});
    w.writeLineOfFields({tr("Z"), x.z});
    w.writeLineOfFields({tr("Effect size r"), x.r});
    w.writeLineOfFields({tr("Rank-biserial correlation"), x.rankBiserial});
  }
  if (r.friedman) {
    w.writeLineOfFields({tr("Friedman chi-squared"), r.friedman->chisq});
    w.writeLineOfFields({tr("degrees of freedom"), r.friedman->df});
    w.writeLineOfFields({tr("p"), r.friedman->p});
  }
}

reports::Element ranksLayout(const RanksResult& r, const RanksContext& c, bool print) {
  using namespace reports;
  const double width = print ? kPageWidth : 760;
  const double inner = width - 40;
  Element root = container({0, 0, width, 0});
  double y = 20;
  auto line = [&](const std::string& text, double size, bool bold, const char* role, const char* term = "") {
    Element e = label(text, {20, y, inner, size + 6}, size, TextAlign::Left, bold);
    e.role = role;
    e.term = term;
    root.children.push_back(std::move(e));
    y += size + 8;
  };
  auto block = [&](const std::string& text, double size, const char* role) {
    const double h = (static_cast<double>(text.size()) * size * 0.5 > inner ? 2 : 1) * (size + 4);
    Element e = textBlock(text, {20, y, inner, h}, size);
    e.role = role;
    root.children.push_back(std::move(e));
    y += h + 2;
  };
  line(tr("Tests on Ranks:") + " " + ranksTestName(c), 16, true, "title");
  if (c.test == RankTest::Friedman) {
    line(fillPlaceholders(tr("Variables: %@, %@"), {joined(c.names), filterLineFor(c.filterText1)}), 11,
         false, "filter");
  } else {
    line(fillPlaceholders(tr("Sample 1: %@, %@"), {nameAt(c, 0), filterLineFor(c.filterText1)}), 11, false,
         "filter");
    if (c.test == RankTest::SignedRank)
      line(fillPlaceholders(tr("Expected value: %@"), {n7(c.expected)}), 11, false, "filter");
    else
      line(fillPlaceholders(
               tr("Sample 2: %@, %@"),
               {nameAt(c, 1), filterLineFor(c.test == RankTest::RankSum ? c.filterText2 : c.filterText1)}),
           11, false, "filter");
  }
  y += 6;
  line(tr("Hypothesis Statement"), 12, true, "heading", "hypothesis");
  for (const std::string& s : ranksHypothesisStatement(c)) block(s, 11, "figure");
  y += 6;
  std::vector<std::vector<std::string>> rows = {{"", tr("Obs."), tr("Median")}};
  for (size_t k = 0; k < r.obs.size(); ++k) rows.push_back({nameAt(c, k), n7(r.obs[k]), n7(r.medians[k])});
  TableColumns grid;
  grid.columnX = {0, print ? 200.0 : 260.0, print ? 300.0 : 400.0};
  grid.columnWidth = {print ? 200.0 : 260.0, 100, print ? 100.0 : 140.0};
  grid.align = {TextAlign::Left, TextAlign::Right, TextAlign::Right};
  grid.rowHeight = print ? 15 : 22;
  grid.fontSize = print ? 10 : 12;
  Element t = table(rows, grid, 20, y);
  t.role = "summary";
  y += t.frame.h + 10;
  root.children.push_back(std::move(t));
  line(tr("Test statistics"), 12, true, "heading", "statistic");
  for (const auto& [text, term] : figureLines(r, c)) line(text, 11, false, "figure", term);
  const auto decision = r.note.empty() ? decisionLines(r.wilcoxon ? r.wilcoxon->p : r.friedman->p)
                                       : std::array<std::string, 2>{r.note, ""};
  line(decision[0], 12, true, "heading");
  if (!decision[1].empty()) block(decision[1], 11, "note");
  block(ranksInterpretation(r, c), 11, "interpretation");
  y += 8;
  Element chart = chartHost(boxChart(r, c), {20, y, std::min(inner, 480.0), print ? 220.0 : 280.0});
  chart.role = "chart";
  root.children.push_back(std::move(chart));
  y += (print ? 220 : 280) + 8;
  line(tr("Box covers 1st quartile to 3rd quartile. Middle line is median. Whiskers are min and max."), 9,
       false, "note");
  root.frame.h = y + 20;
  return root;
}

}  // namespace tabulix
