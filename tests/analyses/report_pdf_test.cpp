// Every kind's PDF report read back with pdftotext -bbox: the header and
// "Page N of M" on every page, no word cut, outside the page or on another,
// the report's one name as heading, its filter line, long tables continued.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "analyses/analysis_kind.h"
#include "test_workspace.h"
#include "tests/pdf_words.h"

using namespace tabulix;
namespace tt = tabulix::testing;
using tt::Word;

namespace {

// 2,000 rows: Day (Weekday, Weekend and 8 more levels), Kind (10 levels),
// twenty groups, a score and a second measure, both numeric.
std::vector<std::vector<std::string>> rows() {
  std::vector<std::vector<std::string>> out = {{"Day", "Kind", "Group", "Score", "Height"}};
  for (int i = 0; i < 2000; ++i) {
    const int day = (i * 7) % 10, kind = (i / 3) % 10;
    std::string dayName = day == 0 ? "Weekday" : day == 1 ? "Weekend" : "Holiday " + std::to_string(day);
    out.push_back({dayName, "Kind " + std::to_string(kind), "Group " + std::to_string(i % 20 + 1),
                   std::to_string(10 + (i * 37) % 23 + kind * 0.5), std::to_string(150 + (i * 13) % 41)});
  }
  return out;
}

struct Report {
  std::vector<Word> words;
  int pages = 0;
  std::string baseName;
  std::string text() const {
    std::string all;
    for (int p = 1; p <= pages; ++p) all += tt::pageText(words, p);
    return all;
  }
};

class ReportPdf : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { w = new tt::TestWorkspace(rows()); }
  static void TearDownTestSuite() { delete w; }
  static tt::TestWorkspace* w;

  int32_t num(const std::string& name) { return *w->col(name).num; }
  // Runs a kind, writes its PDF with a fixed header and reads it back.
  Report report(const std::string& kind, const AnalysisRequest& request) {
    AnalysisOutput out = analysisKinds().at(kind).run(w->model, request);
    const reports::PageFurniture furniture{"Class 4B", out.baseName, "2026-12-07"};
    const auto pdf = w->dir / (kind + ".pdf");
    reports::writePdfOfView(out.print, pdf, furniture);
    Report r;
    r.words = tt::pdfWords(pdf);
    for (const Word& word : r.words) r.pages = std::max(r.pages, word.page);
    r.baseName = out.baseName;
    tt::expectPagesFurnishedAndNoWordsCollide(r.words, r.pages, furniture);
    // The heading under the header is the base name, as the file is named.
    const std::string first = tt::pageText(r.words, 1);
    const size_t header = first.find(out.baseName);
    EXPECT_NE(header, std::string::npos) << kind << ": header";
    if (header != std::string::npos) {
      EXPECT_NE(first.find(out.baseName, header + 1), std::string::npos) << kind << ": heading";
    }
    return r;
  }
  WhereClauseObj where(const std::string& name, uint64_t op, const std::string& constant) {
    WhereClauseObj c;
    c.colNum = num(name);
    c.op = op;
    c.constant = constant;
    return c;
  }
};
tt::TestWorkspace* ReportPdf::w = nullptr;

}  // namespace

TEST_F(ReportPdf, TenByTenTableShowsWholeLevelsCountsAndPercents) {
  AnalysisRequest r;
  r.left = num("Day");
  r.right = num("Kind");
  r.settings = {{"twoWayPercAgg", "0"}, {"twoWayPercDisplay", "1"}};
  Report rep = report("twoway", r);
  const std::string text = rep.text();
  EXPECT_NE(text.find("Weekday"), std::string::npos);
  EXPECT_NE(text.find("Weekend"), std::string::npos);
  EXPECT_NE(text.find("2,000"), std::string::npos) << "the grand total in full";
  EXPECT_NE(text.find("No filters"), std::string::npos);
  // Count and percent on separate lines of one cell: the percent sits below.
  const Word* count = nullptr;
  const Word* percent = nullptr;
  for (const Word& word : rep.words) {
    if (word.text == "2,000" && !count) count = &word;
    if (word.text == "100%" && !percent) percent = &word;
  }
  ASSERT_TRUE(count && percent);
  EXPECT_GT(percent->yMin, count->yMax - 1);
}

TEST_F(ReportPdf, LongTablesContinueAndEveryReportShowsItsFilterLine) {
  AnalysisRequest anova;
  anova.left = num("Score");
  anova.right = num("Group");
  Report a = report("summarize", anova);
  EXPECT_GE(a.pages, 2) << "twenty groups, a table and charts";
  EXPECT_NE(a.text().find("Group 20"), std::string::npos);

  AnalysisRequest corr;
  corr.left = num("Score");
  corr.right = num("Height");
  corr.wheres = {where("Score", 2, "12")};
  Report c = report("correlation", corr);
  EXPECT_NE(c.text().find("Filters: Score > 12"), std::string::npos);
  EXPECT_NE(c.text().find(", p = 0.9"), std::string::npos);  // the one p-value formatter
  corr.wheres.clear();
  EXPECT_NE(report("correlation", corr).text().find("No filters"), std::string::npos);

  AnalysisRequest reg;
  reg.left = num("Score");
  reg.columns = {num("Height")};
  reg.wheres = {where("Height", 0, "180")};
  Report g = report("linear", reg);
  EXPECT_NE(g.text().find("Filters: Height < 180"), std::string::npos);
  EXPECT_NE(g.text().find("Linear regression model for variable Score"), std::string::npos);

  AnalysisRequest means;
  means.left = num("Score");
  means.right = num("Height");
  means.settings = {{"samples", "2"}};
  Report m = report("means", means);
  EXPECT_NE(m.text().find("Hypothesis Test of Means"), std::string::npos);

  AnalysisRequest detail;
  detail.left = num("Day");
  Report d = report("detail", detail);
  EXPECT_NE(d.text().find("Summary of Day"), std::string::npos);
  EXPECT_NE(d.text().find("Observations: 2,000"), std::string::npos);
  // An interval's ends stay apart from the grouping commas: "[1,234.5, 1,240.2]".
  detail.left = num("Height");
  const std::string h = report("detail", detail).text();
  const size_t ci = h.find("CI of Mean: [");
  ASSERT_NE(ci, std::string::npos);
  EXPECT_NE(h.substr(ci, h.find(']', ci) - ci).find(", "), std::string::npos) << h.substr(ci, 40);
}

// Long names wrap the hypothesis statement onto more lines than the layout
// reserved: the blocks below move down instead of being drawn over it.
TEST(ReportPdfText, WrappedStatementsPushWhatFollows) {
  std::vector<std::vector<std::string>> rows = {
      {"Ozone concentration in parts per billion", "Kind of day in the week"}};
  for (int i = 0; i < 60; ++i)
    rows.push_back({std::to_string(10 + (i * 37) % 23), i % 3 ? "Weekday" : "Weekend"});
  tt::TestWorkspace w(rows);
  AnalysisRequest r;
  r.left = r.right = *w.col("Ozone concentration in parts per billion").num;
  WhereClauseObj a, b;
  a.colNum = b.colNum = *w.col("Kind of day in the week").num;
  a.op = b.op = 4;  // =
  a.constant = "Weekday";
  b.constant = "Weekend";
  r.wheres = {a};
  r.wheres2 = {b};
  r.settings = {{"samples", "2"}};
  AnalysisOutput out = analysisKinds().at("means").run(w.model, r);
  const reports::PageFurniture furniture{"Class 4B", out.baseName, "2026-12-07"};
  const auto pdf = w.dir / "long.pdf";
  reports::writePdfOfView(out.print, pdf, furniture);
  const auto words = tt::pdfWords(pdf);
  int pages = 0;
  for (const tt::Word& word : words) pages = std::max(pages, word.page);
  tt::expectPagesFurnishedAndNoWordsCollide(words, pages, furniture);
}
