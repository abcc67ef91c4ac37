// Tick geometry, charts drawn as SVG, the PDF writer's page rules (read back
// with poppler's pdftotext -bbox), result exports that never share files,
// and the data set export.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "charts/renderer.h"
#include "charts/ticks.h"
#include "engine/number_format.h"
#include "engine/workspace_data.h"
#include "reports/dataset_export.h"
#include "reports/output_file.h"
#include "reports/pdf_writer.h"
#include "reports/result_export.h"
#include "tests/pdf_words.h"
#include "tests/temp_dir.h"

namespace fs = std::filesystem;
using namespace tabulix;
using namespace tabulix::reports;

namespace {

std::vector<std::string> labels(const std::vector<charts::Tick>& ticks) {
  std::vector<std::string> out;
  for (const auto& t : ticks) out.push_back(t.label);
  return out;
}

}  // namespace

TEST(Ticks, NiceStepsAndTheirLabels) {
  setDeviceLocale("en_US");
  EXPECT_EQ(labels(charts::axisTicks(0, 10, 5)), (std::vector<std::string>{"0", "2", "4", "6", "8", "10"}));
  EXPECT_EQ(labels(charts::axisTicks(0.13, 0.91, 4)), (std::vector<std::string>{"0.2", "0.4", "0.6", "0.8"}));
  EXPECT_EQ(labels(charts::axisTicks(-1.5, 1.5, 6)),
            (std::vector<std::string>{"-1.5", "-1", "-0.5", "0", "0.5", "1", "1.5"}));
  EXPECT_DOUBLE_EQ(charts::tickStep(0, 1e6, 5), 200000);
  EXPECT_EQ(charts::axisTicks(0, 1e6, 5).back().label, "1,000,000");
  // A histogram whose edges span more than 2 units has no decimals on its axis.
  EXPECT_EQ(labels(charts::axisTicks(0, 2.5, 5, charts::AxisKind::Number, true)),
            (std::vector<std::string>{"0", "1", "2"}));
  // Degenerate ranges give no tick.
  EXPECT_TRUE(charts::axisTicks(3, 3, 5).empty());
  EXPECT_TRUE(charts::axisTicks(5, 1, 5).empty());
  EXPECT_TRUE(charts::axisTicks(0, NAN, 5).empty());
  // Dates step by calendar-like units and are labelled as dates.
  const double day = 86400, jan1 = 1609459200;  // 2021-01-01 UTC
  auto dates = charts::axisTicks(jan1, jan1 + 60 * day, 5, charts::AxisKind::Date);
  ASSERT_GE(dates.size(), 2u);
  EXPECT_DOUBLE_EQ(dates[1].value - dates[0].value, 14 * day);
  EXPECT_NE(dates[0].label.find("/"), std::string::npos) << dates[0].label;
}

TEST(Charts, SvgHoldsTheSeries) {
  charts::Chart bars;
  bars.kind = charts::ChartKind::Bars;
  bars.title = "Bar Plot of x";
  bars.categories = {"a", "b", "c"};
  bars.values = {3, 6, 1.5};
  std::string svg = charts::toSvg(bars, 300, 200);
  ASSERT_EQ(svg.rfind("<?xml", 0), 0u);
  // Each bar is one filled rectangle path; the tallest reaches the top of
  // the value range (6 * 1.05 at the plot's top), the others in proportion.
  std::regex rect(
      R"(<path[^>]*d="M ([\d.]+) ([\d.]+) L [\d.]+ [\d.]+ L [\d.]+ ([\d.]+) L [\d.]+ [\d.]+ Z M)");
  std::vector<double> heights;
  for (std::sregex_iterator it(svg.begin(), svg.end(), rect), end; it != end; ++it)
    heights.push_back(std::stod((*it)[3]) - std::stod((*it)[2]));
  ASSERT_GE(heights.size(), 3u);
  std::vector<double> last(heights.end() - 3, heights.end());
  // cairo writes coordinates to a few decimals.
  EXPECT_NEAR(last[1] / last[0], 2.0, 1e-3);
  EXPECT_NEAR(last[2] / last[0], 0.5, 1e-3);
  // Two documents never share element ids when inlined in one page.
  std::string other = charts::toSvg(bars, 300, 200);
  std::smatch a, b;
  ASSERT_TRUE(std::regex_search(svg, a, std::regex(R"re(id="([^"]+)")re")));
  ASSERT_TRUE(std::regex_search(other, b, std::regex(R"re(id="([^"]+)")re")));
  EXPECT_NE(a[1], b[1]);
  auto png = charts::toPng(bars, 120, 80);
  ASSERT_GT(png.size(), 8u);
  EXPECT_EQ(png[1], 'P');
}

TEST(PdfWriter, LayoutsTallerThanAPageContinueWithHeaderAndPageNumbers) {
  tabulix::testing::TempDir dir;
  const PageFurniture furniture{"Class 4B", "Summary of Weekday", "2026-12-07"};
  Element root = container({0, 0, kPageWidth, 0});
  root.children.push_back(label("TitleWord", {20, 20, 300, 20}, 14));
  Element hidden = container({0, 100, 200, 50}, {label("SecretWord", {0, 0, 200, 20})});
  hidden.hidden = true;
  root.children.push_back(hidden);
  // Narrow columns that would cut their header and cells: widened to fit.
  std::vector<std::vector<std::string>> rows = {{"Day", "Observations", "cum. %", "p > | t |"}};
  for (int i = 1; i < 60; ++i)
    rows.push_back({(i % 2 ? "Weekday" : "Weekend") + std::to_string(i), "100,000", "100%", "< 0.001"});
  TableColumns grid;
  grid.columnX = {0, 30, 60, 90};
  grid.columnWidth = {30, 30, 30, 30};
  grid.rowHeight = 15;
  root.children.push_back(table(rows, grid, 72, 60));
  const double tableBottom = 60 + 15 * 60;
  // Below the table: a chart too tall for what is left of page 2 (it goes to
  // page 3 whole), a text block, a rotated label beside the chart.
  charts::Chart chart;
  chart.title = "ChartTitle";
  chart.x.title = "Xaxis";
  chart.y.title = "Yaxis";
  chart.x.min = chart.y.min = 0;
  chart.x.max = chart.y.max = 10;
  chart.points.push_back({{1, 5, 9}, {2, 4, 8}});
  root.children.push_back(chartHost(chart, {20, tableBottom + 10, 300, 500}));
  root.children.push_back(textBlock("BlockWord and more words", {20, tableBottom + 520, 300, 40}, 11));
  Element turned = label("TurnedWord", {400, tableBottom + 10, 100, 20});
  turned.transform = {0, -1, 1, 0, 0, 0};
  root.children.push_back(turned);
  root.frame.h = tableBottom + 570;
  ASSERT_TRUE(pdfOfView(root, dir.path / "r.pdf", furniture));
  auto words = tabulix::testing::pdfWords(dir.path / "r.pdf");
  auto find = [&](const std::string& t, int nth = 0) {
    for (const auto& w : words)
      if (w.text == t && nth-- == 0) return w;
    return tabulix::testing::Word{0, -1, -1, -1, -1, ""};
  };
  int pages = 0;
  for (const auto& w : words) pages = std::max(pages, w.page);
  EXPECT_EQ(pages, 3);
  tabulix::testing::expectPagesFurnishedAndNoWordsCollide(words, pages, furniture);
  EXPECT_EQ(find("TitleWord").page, 1);
  EXPECT_NEAR(find("TitleWord").yMin, kContentTop, 4) << "the layout starts below the header";
  EXPECT_EQ(find("SecretWord").page, 0) << "a hidden container's children are not drawn";
  EXPECT_EQ(find("Observations").page, 1);
  // Rows stop above the footer band; the next page starts with the header row again.
  tabulix::testing::Word last1 = find("Weekday1");
  for (const auto& w : words)
    if (w.page == 1 && w.text.rfind("Week", 0) == 0) last1 = w;
  EXPECT_LE(last1.yMax, kContentBottom);
  const tabulix::testing::Word again = find("Observations", 1);
  EXPECT_EQ(again.page, 2);
  EXPECT_NEAR(again.yMin, find("Observations").yMin - (60 - 20), 1);
  EXPECT_NEAR(find("Weekday1").xMin, find("Weekend58").xMin, 0.5) << "a continued table keeps its x";
  // Every part of the chart on one page, below the table's end.
  const tabulix::testing::Word title = find("ChartTitle"), xAxis = find("Xaxis"), block = find("BlockWord");
  EXPECT_EQ(title.page, xAxis.page);
  const tabulix::testing::Word lastRow = find("Weekday59");
  EXPECT_TRUE(title.page > lastRow.page || title.yMin > lastRow.yMax - 1);
  EXPECT_EQ(title.page, 3);
  EXPECT_NEAR(title.yMin, kContentTop, 12) << "a moved chart starts at the top";
  EXPECT_EQ(block.page, 3);
  EXPECT_EQ(find("TurnedWord").page, title.page);
}

// The same rules read off the plan, without the PDF: rows fill a page down
// to the content bottom; the next page starts with the header row again,
// then the row that did not fit (also when only the header fitted); an
// element below moves with the table.
TEST(PdfWriter, PagePlanRepeatsTheHeaderOfAContinuedTable) {
  std::vector<std::vector<std::string>> rows = {{"Head"}};
  for (int i = 1; i < 80; ++i) rows.push_back({std::to_string(i)});
  TableColumns grid;
  grid.columnX = {0};
  grid.columnWidth = {100};
  grid.rowHeight = 20;
  // The header ends at the content bottom of page 1 (layout y 0 is page y 40).
  const double y0 = kContentBottom - kContentTop - 20;
  Element root = container({0, 0, kPageWidth, y0 + 1630}, {label("Top", {20, 0, 100, 20})});
  root.children.push_back(table(rows, grid, 20, y0));
  root.children.push_back(label("After", {20, y0 + 20 * 80 + 10, 100, 20}));
  const Element& t = root.children[1];
  std::vector<Placement> plan = pagePlan(root);
  std::vector<std::vector<const Placement*>> byPage;
  for (const Placement& p : plan) {
    if (static_cast<size_t>(p.page) >= byPage.size()) byPage.resize(p.page + 1);
    byPage[p.page].push_back(&p);
  }
  // The header alone, then 34 rows, 34 rows and the last 11.
  ASSERT_EQ(byPage.size(), 4u);
  size_t nextRow = 0;
  for (size_t page = 0; page < byPage.size(); ++page) {
    const auto& on = byPage[page];
    for (size_t i = 0; i < on.size(); ++i) {
      EXPECT_LE(on[i]->y + on[i]->element->frame.h, kContentBottom + 0.01) << page;
      if (i > 0 && on[i]->rowOfTable && on[i - 1]->rowOfTable) {
        EXPECT_NEAR(on[i]->y - on[i - 1]->y, 20, 1e-9);
      }
    }
    if (page > 0) {
      // The header at the top, then the first row the page before left out.
      EXPECT_EQ(on[0]->element, &t.children[0]) << page;
      EXPECT_NEAR(on[0]->y, kContentTop, 1e-9);
      EXPECT_EQ(on[1]->element, &t.children[nextRow]) << page;
    }
    for (const Placement* p : on)
      if (p->rowOfTable && p->element == &t.children[nextRow]) ++nextRow;
    // A page holds as many rows as fit: the next one would cross the bottom.
    if (page + 1 < byPage.size()) {
      EXPECT_GT(on.back()->y + 2 * 20, kContentBottom) << page;
    }
  }
  EXPECT_EQ(nextRow, rows.size());
  EXPECT_EQ(plan.back().element, &root.children[2]);
  EXPECT_NEAR(plan.back().y, plan[plan.size() - 2].y + 20 + 10, 1e-9);
}

TEST(ResultExport, EachRequestWritesItsOwnFiles) {
  Element layout = container({0, 0, kPageWidth, 200}, {label("Hello", {20, 20, 200, 20})});
  auto a = exportResult(
      "Summary of x",
      [](CsvWriter& w) {
        w.writeLineOfFields({std::string("a"), std::string("1,5")});
      },
      layout);
  auto b = exportResult(
      "Summary of x", [](CsvWriter& w) { w.writeLineOfFields({std::string("b")}); }, layout);
  EXPECT_NE(a.dir, b.dir);
  EXPECT_EQ(a.csv.filename(), "results.csv");
  EXPECT_EQ(a.pdf.filename(), "export.pdf");
  std::ifstream ca(a.csv), cb(b.csv);
  std::string la, lb;
  std::getline(ca, la);
  std::getline(cb, lb);
  EXPECT_EQ(la, "a,\"1,5\"");
  EXPECT_EQ(lb, "b");
  EXPECT_GT(fs::file_size(a.pdf), 500u);
  removeExport(a);
  removeExport(b);
  EXPECT_FALSE(fs::exists(a.dir));
}

TEST(DatasetExport, AllRowsOrTheChosenOnesCellsAsStored) {
  char tmpl[] = "/tmp/tabulix-dsexport-XXXXXX";
  fs::path dir = mkdtemp(tmpl);
  {
    Model m;
    ASSERT_NO_THROW(m.openStore(dir / "survey.tbx"));
    addColumns(m, {"id", "note, quoted", "x"});
    auto cols = columns(m);
    for (uint32_t r = 1; r <= 5000; ++r)
      addRow(m, r,
             std::vector<std::string>{std::to_string(r), r % 2 ? "a \"b\"" : "", r == 7 ? " 1.50 " : "2"},
             cols);
    ASSERT_NO_THROW(m.saveContext());
    std::vector<std::pair<size_t, size_t>> progress;
    exportDataset(m, dir / "all.csv", std::nullopt, [&](size_t row, size_t total) {
      progress.push_back({row, total});
    });
    EXPECT_EQ(progress.size(), 50u);
    EXPECT_EQ(progress.front(), (std::pair<size_t, size_t>{100, 5000}));
    exportDataset(m, dir / "some.csv", std::vector<int32_t>{4999, 7, 12});
    exportDataset(m, dir / "none.csv", std::vector<int32_t>{});
    // Out of order across batches, a row twice: each line where it was asked for.
    std::vector<int32_t> backwards;
    for (int32_t r = 5000; r >= 1; --r) backwards.push_back(r);
    backwards.push_back(4097);
    exportDataset(m, dir / "backwards.csv", backwards);
  }
  std::ifstream all(dir / "all.csv");
  std::vector<std::string> lines;
  for (std::string l; std::getline(all, l);) lines.push_back(l);
  ASSERT_EQ(lines.size(), 5001u);
  EXPECT_EQ(lines[0], "id,\"note, quoted\",x");
  EXPECT_EQ(lines[7], "7,\"a \"\"b\"\"\", 1.50 ");
  EXPECT_EQ(lines[5000], "5000,,2");
  // Every row in its stored order: the first line out of place, if any.
  size_t misplaced = 1;
  while (misplaced < lines.size() && lines[misplaced].starts_with(std::to_string(misplaced) + ","))
    ++misplaced;
  EXPECT_EQ(misplaced, lines.size());
  std::ifstream some(dir / "some.csv");
  lines.clear();
  for (std::string l; std::getline(some, l);) lines.push_back(l);
  EXPECT_EQ(lines, (std::vector<std::string>{"id,\"note, quoted\",x", "4999,\"a \"\"b\"\"\",2",
                                             "7,\"a \"\"b\"\"\", 1.50 ", "12,,2"}));
  EXPECT_EQ(fs::file_size(dir / "none.csv"), std::string("id,\"note, quoted\",x\n").size());
  std::ifstream backwards(dir / "backwards.csv");
  lines.clear();
  for (std::string l; std::getline(backwards, l);) lines.push_back(l);
  ASSERT_EQ(lines.size(), 5002u);
  misplaced = 1;
  while (misplaced <= 5000 && lines[misplaced].starts_with(std::to_string(5001 - misplaced) + ","))
    ++misplaced;
  EXPECT_EQ(misplaced, 5001u);
  EXPECT_EQ(lines[5001], "4097,\"a \"\"b\"\"\",2");
  fs::remove_all(dir);
}

// An export that cannot be written is an error naming the file and the
// reason, and leaves nothing where the user looks: a missing folder, a full
// device, and a file cut short (a file-size limit) over an older export,
// which stays as it was.
TEST(Reports, FailedExportsAreErrorsAndLeaveNoPartialFile) {
  fs::path dir = fs::temp_directory_path() / ("tabulix-export-fail-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  Model m;
  ASSERT_NO_THROW(m.openStore(dir / "w.tbx"));
  addColumns(m, {"x"});
  auto cols = columns(m);
  for (uint32_t r = 1; r <= 3000; ++r) addRow(m, r, std::vector<std::string>{std::string(40, 'x')}, cols);
  ASSERT_NO_THROW(m.saveContext());
  auto message = [&](const fs::path& file) {
    try {
      exportDataset(m, file, std::nullopt);
    } catch (const ExportError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(message(dir / "missing" / "x.csv"),
            "Cannot write " + (dir / "missing" / "x.csv").string() + ": No such file or directory");
  EXPECT_EQ(message("/dev/full"), "Cannot write /dev/full: No space left on device");
  EXPECT_EQ(message(dir), "Cannot write " + dir.string() + ": Is a directory");
  std::ofstream(dir / "old.csv") << "the older export\n";
  {
    // Writes past 64 KiB fail with EFBIG instead of raising SIGXFSZ.
    struct rlimit saved {};
    getrlimit(RLIMIT_FSIZE, &saved);
    auto previous = signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 65536;
    setrlimit(RLIMIT_FSIZE, &small);
    std::string got = message(dir / "old.csv");
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previous);
    EXPECT_EQ(got, "Cannot write " + (dir / "old.csv").string() + ": File too large");
  }
  std::ifstream old(dir / "old.csv");
  std::string kept((std::istreambuf_iterator<char>(old)), {});
  EXPECT_EQ(kept, "the older export\n");
  EXPECT_EQ(message(dir / "new.csv"), "no error");
  EXPECT_EQ(fs::file_size(dir / "new.csv"), 2u + 3000u * 41u);
  // Nothing else is left in the folder: no temporary files beside them.
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"new.csv", "old.csv", "w.tbx"}));
  fs::remove_all(dir);
}
