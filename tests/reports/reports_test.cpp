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

namespace fs = std::filesystem;
using namespace tabulix;
using namespace tabulix::reports;

namespace {

std::vector<std::string> labels(const std::vector<charts::Tick>& ticks) {
  std::vector<std::string> out;
  for (const auto& t : ticks) out.push_back(t.label);
  return out;
}

std::string run(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  char buf[4096];
  size_t n;
  while (p && (n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  if (p) pclose(p);
  return out;
}

// Words of a PDF page with their top edge: (page, yMin, text).
struct Word {
  int page;
  double yMin, xMin;
  std::string text;
};
std::vector<Word> pdfWords(const fs::path& pdf) {
  std::string html = run("pdftotext -bbox '" + pdf.string() + "' - 2>/dev/null");
  std::vector<Word> out;
  int page = 0;
  std::regex word(R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="[\d.]+" yMax="[\d.]+">([^<]*)</word>)re");
  std::istringstream in(html);
  std::string line;
  std::smatch m;
  while (std::getline(in, line)) {
    if (line.find("<page ") != std::string::npos) ++page;
    if (std::regex_search(line, m, word)) out.push_back({page, std::stod(m[2]), std::stod(m[1]), m[3]});
  }
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

TEST(PdfWriter, TablesContinueOnNewPagesAndHiddenElementsAreNotDrawn) {
  char tmpl[] = "/tmp/tabulix-pdf-XXXXXX";
  fs::path dir = mkdtemp(tmpl);
  Element root = container({0, 0, kPageWidth, kPageHeight});
  root.children.push_back(label("TitleWord", {40, 30, 300, 20}, 14));
  Element hidden = container({0, 100, 200, 50}, {label("SecretWord", {0, 0, 200, 20})});
  hidden.hidden = true;
  root.children.push_back(hidden);
  // A table starting low on the page: 60 rows of 20 points cannot fit.
  std::vector<std::vector<std::string>> rows = {{"Head", "Count"}};
  for (int i = 1; i < 60; ++i) rows.push_back({"row" + std::to_string(i), std::to_string(i)});
  TableColumns grid;
  grid.columnX = {0, 100};
  grid.columnWidth = {100, 60};
  grid.rowHeight = 20;
  grid.fontSize = 10;
  // Listed first, drawn last: tables come after every other element.
  root.children.insert(root.children.begin(), table(rows, grid, 72, 600));
  root.children.push_back(label("AfterWord", {40, 700, 200, 20}));
  // A rotated label: drawn about its centre.
  Element turned = label("TurnedWord", {300, 300, 100, 20});
  turned.transform = {0, -1, 1, 0, 0, 0};
  root.children.push_back(turned);
  ASSERT_TRUE(pdfOfView(root, dir / "r.pdf"));
  auto words = pdfWords(dir / "r.pdf");
  auto find = [&](const std::string& t) {
    for (const auto& w : words)
      if (w.text == t) return w;
    return Word{0, -1, -1, ""};
  };
  EXPECT_EQ(find("TitleWord").page, 1);
  EXPECT_EQ(find("AfterWord").page, 1);
  EXPECT_EQ(find("SecretWord").page, 0) << "a hidden container's children are not drawn";
  EXPECT_EQ(find("row1").page, 1);
  // Rows fit while their bottom stays 20 points above the page's bottom
  // edge: 600 + 20 k + 20 <= 772 gives rows 0..7 on page 1.
  EXPECT_EQ(find("row7").page, 1);
  Word next = find("row8");
  EXPECT_EQ(next.page, 2);
  // The continued table starts 20 points below the top, at its own x: row 8
  // sits where row 1 sat in its row (row 1's top is 600 + 20).
  EXPECT_NEAR(next.yMin - 20, find("row1").yMin - 620, 0.5);
  EXPECT_NEAR(next.xMin, find("row1").xMin, 0.5);
  EXPECT_EQ(find("row59").page, 3);
  Word turnedWord = find("TurnedWord");
  EXPECT_EQ(turnedWord.page, 1);

  // From 612 the header and rows 1..7 end exactly 20 points above the
  // bottom edge: one page, no continuation; one row more starts page 2.
  for (int last : {7, 8}) {
    Element page = container({0, 0, kPageWidth, kPageHeight});
    page.children.push_back(table({rows.begin(), rows.begin() + last + 1}, grid, 72, 612));
    ASSERT_TRUE(pdfOfView(page, dir / "fit.pdf"));
    int lastPage = 0;
    for (const auto& w : pdfWords(dir / "fit.pdf")) lastPage = std::max(lastPage, w.page);
    EXPECT_EQ(lastPage, last == 7 ? 1 : 2) << last << " rows";
  }
  fs::remove_all(dir);
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
