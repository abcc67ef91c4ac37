#include "analyses/tab_summarize/oneway_tables.h"

#include "analyses/report_text.h"
#include "engine/number_format.h"
#include "engine/translate.h"

namespace tabulix {

std::optional<PostHoc> postHocFromText(const std::string& text) {
  if (text == "none" || text.empty()) return PostHoc::None;
  if (text == "tukey") return PostHoc::Tukey;
  if (text == "gamesHowell") return PostHoc::GamesHowell;
  return std::nullopt;
}

std::string postHocText(PostHoc postHoc) {
  switch (postHoc) {
    case PostHoc::Tukey:
      return "tukey";
    case PostHoc::GamesHowell:
      return "gamesHowell";
    case PostHoc::None:
      break;
  }
  return "none";
}

OneWayTables oneWayTables(const std::vector<std::vector<double>>& groups, const std::vector<std::string>& levels,
                          PostHoc postHoc, bool proportions) {
  OneWayTables t;
  t.postHoc = postHoc;
  t.proportions = proportions;
  // The statistics see the non-empty groups only, so that a level without
  // values neither counts as a group nor leaves a hole in the comparisons.
  std::vector<std::vector<double>> kept;
  for (size_t k = 0; k < groups.size(); ++k)
    if (!groups[k].empty()) {
      kept.push_back(groups[k]);
      t.levels.push_back(k < levels.size() ? levels[k] : std::string());
    }
  t.anova = GroupTests::anovaTable(kept);
  t.welch = GroupTests::welchAnova(kept);
  t.levene = GroupTests::brownForsythe(kept);
  t.kruskal = GroupTests::kruskalWallis(kept);
  if (postHoc != PostHoc::None && kept.size() >= 2) {
    t.comparisons = postHoc == PostHoc::Tukey ? GroupTests::tukeyHsd(kept) : GroupTests::gamesHowell(kept);
    t.rankComparisons = GroupTests::dunn(kept);
  }
  return t;
}

namespace {

nlohmann::json fTest(const FTestResult& f) {
  return {{"F", f.F}, {"df1", f.df1}, {"df2", f.df2}, {"p", f.p}};
}

const std::string& levelOf(const OneWayTables& t, int index) {
  static const std::string none;
  return index >= 0 && static_cast<size_t>(index) < t.levels.size() ? t.levels[static_cast<size_t>(index)] : none;
}

// A p-value in a table cell, and after a statistic on a line.
std::string pText(double p) { return stringFromPValue(p) + significanceMark(p); }
std::string pLine(double p) { return stringFromPNumber(p) + significanceMark(p); }

std::string comparisonTitle(const OneWayTables& t) {
  return t.postHoc == PostHoc::Tukey ? tr("Tukey's honestly significant differences:")
                                     : tr("Games–Howell comparisons:");
}

}  // namespace

void addToJson(const OneWayTables& t, nlohmann::json& out) {
  const AnovaTable& a = t.anova;
  out["anova"] = {{"dfBetween", a.dfBetween}, {"dfWithin", a.dfWithin}, {"ssBetween", a.ssBetween},
                  {"ssWithin", a.ssWithin},   {"msBetween", a.msBetween}, {"msWithin", a.msWithin},
                  {"F", a.F},                 {"p", a.p},                 {"eta2", a.eta2},
                  {"omega2", a.omega2}};
  out["welch"] = fTest(t.welch);
  out["levene"] = fTest(t.levene);
  out["kruskal"] = {{"H", t.kruskal.H}, {"df", t.kruskal.df}, {"p", t.kruskal.p}};
  out["postHoc"] = postHocText(t.postHoc);
  if (t.postHoc == PostHoc::None) return;
  nlohmann::json pairs = nlohmann::json::array();
  for (const PairComparison& c : t.comparisons)
    pairs.push_back({{"a", levelOf(t, c.a)},
                     {"b", levelOf(t, c.b)},
                     {"diff", c.diff},
                     {"lower", c.lower},
                     {"upper", c.upper},
                     {"p", c.p}});
  out["comparisons"] = std::move(pairs);
  nlohmann::json ranks = nlohmann::json::array();
  for (const RankComparison& c : t.rankComparisons)
    ranks.push_back(
        {{"a", levelOf(t, c.a)}, {"b", levelOf(t, c.b)}, {"z", c.z}, {"p", c.p}, {"pAdjusted", c.pAdjusted}});
  out["rankComparisons"] = std::move(ranks);
}

void writeCSVLines(const OneWayTables& t, CsvWriter& w) {
  auto line = [&](std::initializer_list<std::string> texts, std::initializer_list<double> numbers) {
    for (const std::string& s : texts) w.writeField(s);
    for (double v : numbers) w.writeField(v);
    w.finishLine();
  };
  const AnovaTable& a = t.anova;
  w.finishLine();
  w.writeLineOfFields({tr("Analysis of variance table:")});
  w.writeLineOfFields({std::string(), tr("df"), tr("Sum of squares"), tr("Mean square"), "F", "p"});
  line({tr("Between groups")}, {a.dfBetween, a.ssBetween, a.msBetween, a.F, a.p});
  line({tr("Within groups")}, {a.dfWithin, a.ssWithin, a.msWithin});
  line({tr("Eta squared")}, {a.eta2});
  line({tr("Omega squared")}, {a.omega2});
  w.finishLine();
  w.writeLineOfFields({tr("Tests:")});
  w.writeLineOfFields({std::string(), tr("Statistic"), tr("df1"), tr("df2"), "p"});
  line({tr("Welch's ANOVA (F)")}, {t.welch.F, t.welch.df1, t.welch.df2, t.welch.p});
  line({tr("Levene's test, Brown–Forsythe (F)")}, {t.levene.F, t.levene.df1, t.levene.df2, t.levene.p});
  w.writeField(tr("Kruskal–Wallis (H)"));
  w.writeField(t.kruskal.H);
  w.writeField(t.kruskal.df);
  w.writeField(std::string_view());
  w.writeField(t.kruskal.p);
  w.finishLine();
  if (t.postHoc == PostHoc::None) return;
  w.finishLine();
  w.writeLineOfFields({comparisonTitle(t)});
  w.writeLineOfFields({tr("Level a"), tr("Level b"), tr("Difference (a − b)"), tr("Lower 95%"), tr("Upper 95%"),
                       tr("Adjusted p")});
  for (const PairComparison& c : t.comparisons) line({levelOf(t, c.a), levelOf(t, c.b)}, {c.diff, c.lower, c.upper, c.p});
  w.finishLine();
  w.writeLineOfFields({tr("Dunn's comparisons of mean ranks:")});
  w.writeLineOfFields({tr("Level a"), tr("Level b"), "z", "p", tr("Holm-adjusted p")});
  for (const RankComparison& c : t.rankComparisons) line({levelOf(t, c.a), levelOf(t, c.b)}, {c.z, c.p, c.pAdjusted});
}

double appendOneWayTables(const OneWayTables& t, reports::Element& root, double y, double width, bool print) {
  using namespace reports;
  const double inner = width - 40;
  auto add = [&](Element e, const char* role, const char* term = "") {
    e.role = role;
    e.term = term;
    root.children.push_back(std::move(e));
  };
  auto grid = [&](size_t columns, double first) {
    TableColumns g;
    const double rest = (inner - first) / static_cast<double>(columns - 1);
    g.columnX.push_back(0);
    g.columnWidth.push_back(first);
    g.align.push_back(TextAlign::Left);
    for (size_t i = 1; i < columns; ++i) {
      g.columnX.push_back(first + rest * static_cast<double>(i - 1));
      g.columnWidth.push_back(rest);
      g.align.push_back(TextAlign::Right);
    }
    g.rowHeight = print ? 16 : 20;
    g.fontSize = print ? 10 : 12;
    return g;
  };
  auto heading = [&](const std::string& text, const char* term) {
    add(label(text, {20, y, inner, 18}, 12, TextAlign::Left, true), "heading", term);
    y += 20;
  };
  auto figure = [&](const std::string& text, const char* term) {
    add(label(text, {20, y, inner, 16}, 11), "figure", term);
    y += 16;
  };

  const AnovaTable& a = t.anova;
  heading(tr("Analysis of variance table:"), "anovaTable");
  std::vector<std::vector<std::string>> rows = {
      {"", tr("df"), tr("Sum of squares"), tr("Mean square"), "F", "p"},
      {tr("Between groups"), stringFromNumber(a.dfBetween), stringFromNumber(a.ssBetween),
       stringFromNumber(a.msBetween), stringFromNumber(a.F), pText(a.p)},
      {tr("Within groups"), stringFromNumber(a.dfWithin), stringFromNumber(a.ssWithin), stringFromNumber(a.msWithin),
       "", ""}};
  Element table1 = table(rows, grid(6, print ? 120 : 150), 20, y);
  y += table1.frame.h + 6;
  add(std::move(table1), "table", "anovaTable");
  figure(fillPlaceholders(tr("η² = %@"), {stringFromNumber(a.eta2)}), "eta2");
  figure(fillPlaceholders(tr("ω² = %@"), {stringFromNumber(a.omega2)}), "omega2");
  y += 6;
  figure(fillPlaceholders(tr("Welch's ANOVA: F(%@, %@) = %@, %@"),
                          {stringFromNumber(t.welch.df1), stringFromNumber(t.welch.df2), stringFromNumber(t.welch.F),
                           pLine(t.welch.p)}),
         "welchAnova");
  figure(fillPlaceholders(tr("Levene's test (Brown–Forsythe): F(%@, %@) = %@, %@"),
                          {stringFromNumber(t.levene.df1), stringFromNumber(t.levene.df2),
                           stringFromNumber(t.levene.F), pLine(t.levene.p)}),
         "levene");
  figure(fillPlaceholders(tr("Kruskal–Wallis: H = %@, df = %@, %@"),
                          {stringFromNumber(t.kruskal.H), stringFromNumber(t.kruskal.df), pLine(t.kruskal.p)}),
         "kruskalWallis");
  if (t.proportions) {
    add(label(tr("The summarized variable is Binary: these tables compare the proportions of its second value."),
              {20, y, inner, 14}, 9),
        "note");
    y += 16;
  }
  y += 10;
  if (t.postHoc == PostHoc::None) return y;

  heading(comparisonTitle(t), t.postHoc == PostHoc::Tukey ? "tukeyHsd" : "gamesHowell");
  std::vector<std::vector<std::string>> pairs = {
      {tr("Comparison"), tr("Difference"), tr("Lower 95%"), tr("Upper 95%"), tr("Adjusted p")}};
  for (const PairComparison& c : t.comparisons)
    pairs.push_back({levelOf(t, c.a) + " − " + levelOf(t, c.b), stringFromNumber(c.diff), stringFromNumber(c.lower),
                     stringFromNumber(c.upper), pText(c.p)});
  Element table2 = table(pairs, grid(5, print ? 170 : 220), 20, y);
  y += table2.frame.h + 12;
  add(std::move(table2), "table", t.postHoc == PostHoc::Tukey ? "tukeyHsd" : "gamesHowell");

  heading(tr("Dunn's comparisons of mean ranks:"), "dunn");
  std::vector<std::vector<std::string>> ranks = {{tr("Comparison"), "z", "p", tr("Holm-adjusted p")}};
  for (const RankComparison& c : t.rankComparisons)
    ranks.push_back({levelOf(t, c.a) + " − " + levelOf(t, c.b), stringFromNumber(c.z), stringFromNumber(c.p),
                     pText(c.pAdjusted)});
  Element table3 = table(ranks, grid(4, print ? 170 : 220), 20, y);
  y += table3.frame.h + 12;
  add(std::move(table3), "table", "dunn");
  return y;
}

}  // namespace tabulix
