// The .xlsx reader: workbooks written by openpyxl (generated at test time by
// make_xlsx.py), hand-made containers for what writers rarely produce, and
// hostile containers that must be refused with a clear error.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "engine/number_format.h"
#include "import/workbook_error.h"
#include "import/xlsx_parser.h"
#include "xlsx_test_util.h"

namespace fs = std::filesystem;
using namespace tabulix;
using namespace tabulix::testing;

namespace {

struct Line {
  std::vector<std::string> cells;
  uint64_t number, consecutive;
};

// Records the reader's calls; reads the sheet at `sheet` when asked to.
struct Recorder : XlsxParserDelegate {
  std::optional<size_t> sheet;
  std::optional<int64_t> num;
  std::vector<XlsxSheet> sheets;
  std::vector<Line> lines;
  int completions = 0;
  size_t cancelAfter = 0;
  void parserDidInspectDocument(XlsxParser& p, const std::string&, const std::vector<XlsxSheet>& s) override {
    sheets = s;
    if (sheet) p.parseSheetAtIndex(*sheet);
    if (num) p.parseSheetNumber(*num);
  }
  void parserDidCompleteLine(XlsxParser& p, const std::vector<std::string>& line, uint64_t n,
                             uint64_t c) override {
    lines.push_back({line, n, c});
    if (cancelAfter && lines.size() == cancelAfter) p.cancelParsing();
  }
  void parserDidCompleteDocument(XlsxParser&, const std::string&) override { ++completions; }
};

class Xlsx : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char tmpl[] = "/tmp/tabulix-xlsx-XXXXXX";
    dir_ = mkdtemp(tmpl);
    std::string cmd =
        "/usr/bin/python3 " + std::string(TABULIX_SOURCE_DIR) + "/tests/import/make_xlsx.py " + dir_.string();
    ASSERT_EQ(std::system(cmd.c_str()), 0) << "make_xlsx.py needs python3-openpyxl";
  }
  static void TearDownTestSuite() { fs::remove_all(dir_); }
  void SetUp() override {
    setDeviceTimeZone("UTC");
    setDeviceLocale("en_US");
  }
  void TearDown() override { setDeviceTimeZone("UTC"); }

  static Recorder read(const fs::path& file, size_t sheet, const std::string& locale = "en_US") {
    Recorder r;
    r.sheet = sheet;
    XlsxParser parser(file, &r, locale);
    return r;
  }
  static Recorder readParts(const Parts& parts, ZipLimits limits = {}) {
    fs::path f = dir_ / "made.xlsx";
    writeZip(f, parts);
    std::string bytes = readFile(f);
    Recorder r;
    r.sheet = 0;
    XlsxParser parser(bytes, "made.xlsx", &r, "en_US", limits);
    return r;
  }
  static std::string failure(const Parts& parts, ZipLimits limits = {}) {
    try {
      readParts(parts, limits);
    } catch (const WorkbookError& e) {
      return e.what();
    }
    return "no error";
  }
  static fs::path dir_;
};
fs::path Xlsx::dir_;

using Cells = std::vector<std::string>;

TEST_F(Xlsx, OpenpyxlWorkbookSheetsValuesAndDates) {
  Recorder r = read(dir_ / "mixed.xlsx", 0);
  ASSERT_EQ(r.sheets.size(), 5u);
  EXPECT_EQ(r.sheets[1].name, "Hidden");
  EXPECT_EQ(r.sheets[2].name, "Données €");
  EXPECT_EQ(r.sheets[4].num, 5);
  EXPECT_EQ(r.completions, 1);
  ASSERT_EQ(r.lines.size(), 4u);
  EXPECT_EQ(r.lines[0].cells, (Cells{"name", "score", "passed", "day", "stamp", "custom", "ymd", "long"}));
  // 45000 days after 1899-12-31 is 2023-03-16 (Excel shows 03/15: see WorkbookDateWriter);
  // "m/d/yyyy;@" is a known date code, "yyyy-mm-dd" is not, built-in 15 is a date.
  EXPECT_EQ(r.lines[1].cells, (Cells{"Ann", "3.5", "1", "03/16/2023", "03/16/2023, 12:00", "03/17/2023",
                                     "45002", "01/02/2023"}));
  EXPECT_EQ(r.lines[2].cells,
            (Cells{"Bob", "-2", "0", "01/01/1900", "12/31/1899, 06:00", "01/02/1900", "3", "03/01/1900"}));
  // The empty row 4 is not in the file: row number 5, consecutive number 4.
  EXPECT_EQ(r.lines[3].cells, (Cells{"Émile ✓", "1e-07", "", "", "", "", "", ""}));
  EXPECT_EQ(r.lines[3].number, 5u);
  EXPECT_EQ(r.lines[3].consecutive, 4u);

  Recorder offset = read(dir_ / "mixed.xlsx", 3);  // dimension B2:D5
  ASSERT_EQ(offset.lines.size(), 3u);
  EXPECT_EQ(offset.lines[0].cells, (Cells{"b", "c", "d"}));
  EXPECT_EQ(offset.lines[1].cells, (Cells{"1", "", "3"}));
  EXPECT_EQ(offset.lines[2].cells, (Cells{"", "five", ""}));
  EXPECT_EQ(offset.lines[2].number, 5u);

  Recorder wide;
  wide.num = 5;  // by relationship number: rId5 is the fifth sheet, "Wide"
  XlsxParser byNum(dir_ / "mixed.xlsx", &wide, "en_US");
  ASSERT_EQ(wide.lines.size(), 2u);
  ASSERT_EQ(wide.lines[1].cells.size(), 256u);
  EXPECT_EQ(wide.lines[0].cells[255], "c256");
  EXPECT_EQ(wide.lines[1].cells[255], "256");

  Recorder mac = read(dir_ / "epoch1904.xlsx", 0);
  ASSERT_EQ(mac.lines.size(), 3u);
  EXPECT_EQ(mac.lines[1].cells[0], "01/02/1904");
  EXPECT_EQ(mac.lines[2].cells[0], "01/02/1905, 18:00");

  // Local time zone and the locale's own arrangement of the fields.
  setDeviceTimeZone("America/New_York");
  Recorder local = read(dir_ / "mixed.xlsx", 0, "de_DE");
  EXPECT_EQ(local.lines[1].cells[3], "15.03.2023");  // midnight UTC is the evening before in New York
  EXPECT_EQ(local.lines[1].cells[4], "16.03.2023, 08:00");

  // Items of several runs give their whole text, without the phonetic guide;
  // a formula gives its cached text, an inline string its text.
  Recorder runs = read(dir_ / "runs.xlsx", 0);
  ASSERT_EQ(runs.lines.size(), 2u);
  EXPECT_EQ(runs.lines[1].cells, (Cells{"bold and plain", "ab", "in line"}));
}

TEST_F(Xlsx, ColumnsRowsStylesAndSharedStrings) {
  // No dimension: the first row's cells A and C make three columns; later
  // cells past C are dropped. Rows and cells without a reference follow on.
  Recorder r =
      readParts(workbookParts("<sheetData><row r=\"5\"><c r=\"A5\"><v>1</v></c><c r=\"C5\"><v>3</v></c></row>"
                              "<row><c r=\"B6\"><v>x</v></c><c r=\"E6\"><v>dropped</v></c></row>"
                              "<row r=\"9\"><c><v>a</v></c><c><v>b</v></c></row></sheetData>"));
  ASSERT_EQ(r.lines.size(), 3u);
  EXPECT_EQ(r.lines[0].cells, (Cells{"1", "", "3"}));
  EXPECT_EQ(r.lines[0].number, 5u);
  EXPECT_EQ(r.lines[0].consecutive, 1u);
  EXPECT_EQ(r.lines[1].cells, (Cells{"", "x", ""}));
  EXPECT_EQ(r.lines[1].number, 6u);
  EXPECT_EQ(r.lines[2].cells, (Cells{"a", "b", ""}));

  // Style 0 is never a date even with format 14; 27 (an East Asian built-in)
  // is; an index past the list is not. Shared-string indexes outside the
  // table read "parse error"; an si of runs is one entry, its phonetic run
  // left out, as in an inline string.
  std::string styles =
      "<numFmts><numFmt numFmtId=\"170\" formatCode=\"mmm d\"/></numFmts>"
      "<cellXfs><xf numFmtId=\"14\"/><xf numFmtId=\"27\"/><xf numFmtId=\"170\"/><xf/></cellXfs>";
  std::string shared =
      "<si><r><t>a</t></r><r><t>b</t></r><rPh sb=\"0\" eb=\"1\"><t>AB</t></rPh></si><si><t>c</t></si>";
  Recorder s =
      readParts(workbookParts("<dimension ref=\"A1:H1\"/><sheetData><row r=\"1\">"
                              "<c r=\"A1\" s=\"0\"><v>45000</v></c><c r=\"B1\" s=\"1\"><v>45000</v></c>"
                              "<c r=\"C1\" s=\"2\"><v>1.5</v></c><c r=\"D1\" s=\"9\"><v>45000</v></c>"
                              "<c r=\"E1\" t=\"s\"><v>1</v></c><c r=\"F1\" t=\"s\"><v>2</v></c>"
                              "<c r=\"G1\" t=\"s\" s=\"1\"><v>0</v></c><c r=\"H1\" t=\"inlineStr\"><is>"
                              "<t>k</t><rPh sb=\"0\" eb=\"1\"><t>K</t></rPh></is></c></row></sheetData>",
                              styles, shared));
  ASSERT_EQ(s.lines.size(), 1u);
  EXPECT_EQ(s.lines[0].cells,
            (Cells{"45000", "03/16/2023", "01/01/1900, 12:00", "45000", "c", "parse error", "ab", "k"}));

  // A dimension reaching past ZZ is cut there; cells beyond it never arrive.
  Recorder w =
      readParts(workbookParts("<dimension ref=\"ZY1:AAB1\"/><sheetData><row r=\"1\"><c r=\"ZZ1\"><v>z</v></c>"
                              "<c r=\"AAA1\"><v>beyond</v></c></row></sheetData>"));
  EXPECT_EQ(w.lines.at(0).cells, (Cells{"", "z"}));

  // Cancelling stops at the next element; the completion still comes once.
  fs::path f = dir_ / "mixed.xlsx";
  Recorder c;
  c.sheet = 0;
  c.cancelAfter = 2;
  XlsxParser parser(f, &c, "en_US");
  EXPECT_EQ(c.lines.size(), 2u);
  EXPECT_EQ(c.completions, 1);
}

TEST_F(Xlsx, DamagedAndHostileFilesAreRefusedClearly) {
  auto refused = [](const std::string& message, const std::string& part) {
    EXPECT_NE(message.find("made.xlsx"), std::string::npos) << message;
    EXPECT_NE(message.find(part), std::string::npos) << message;
  };
  refused(failure(workbookParts("<sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></row></sheetData>")),
          "xl/worksheets/sheet1.xml is not well-formed XML");
  // Entity expansion: any document type is refused before it can expand.
  EXPECT_EQ(failure(workbookParts("<sheetData/>")), "no error");
  Parts laughs = workbookParts("<sheetData/>");
  laughs[2].second =
      "<?xml version=\"1.0\"?><!DOCTYPE w [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;\">]>"
      "<worksheet><sheetData><row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>&b;</t></is></c></row>"
      "</sheetData></worksheet>";
  refused(failure(laughs), "document type");
  Parts external = workbookParts("<sheetData/>");
  external[0].second = "<!DOCTYPE x SYSTEM \"file:///etc/passwd\">" + external[0].second;
  refused(failure(external), "document type");

  // A zip bomb: 16 MiB of zeros deflate to a few KiB.
  Parts bomb = workbookParts("<sheetData/>");
  bomb[2].second = "<worksheet><sheetData/>" + std::string(16 << 20, ' ') + "</worksheet>";
  refused(failure(bomb, ZipLimits{.ratioFloor = 1 << 20}), "zip bomb");
  refused(failure(bomb, ZipLimits{.maxPartBytes = 8 << 20, .maxRatio = 1u << 30}), "larger than 8 MiB");

  Parts slip = workbookParts("<sheetData/>");
  slip.emplace_back("../../etc/evil", "x");
  refused(failure(slip), "points outside the container");
  Parts many = workbookParts("<sheetData/>");
  for (int i = 0; i < 10; ++i) many.emplace_back("extra" + std::to_string(i), "x");
  refused(failure(many, ZipLimits{.maxEntries = 12}), "more than 12 entries");
  Parts upward = workbookParts("<sheetData/>");
  upward[1].second =
      "<Relationships><Relationship Id=\"rId7\" Type=\"x/relationships/worksheet\" "
      "Target=\"../../../a.xml\"/>"
      "</Relationships>";
  refused(failure(upward), "points outside the package");
  Parts noSheet = workbookParts("<sheetData/>");
  noSheet.pop_back();
  refused(failure(noSheet), "no sheet part xl/worksheets/sheet1.xml");
  Parts noWorkbook = workbookParts("<sheetData/>");
  noWorkbook.erase(noWorkbook.begin());
  refused(failure(noWorkbook), "no workbook part");

  // Not a zip at all, and a real workbook cut short.
  std::string whole = readFile(dir_ / "mixed.xlsx");
  for (std::string bytes : {std::string("name,score\nAnn,3\n"), whole.substr(0, whole.size() / 2)}) {
    try {
      Recorder r;
      XlsxParser p(bytes, "made.xlsx", &r, "en_US");
      ADD_FAILURE() << "read a damaged container";
    } catch (const WorkbookError& e) {
      refused(e.what(), "not a zip container");
    }
  }
  // A flipped byte inside the compressed sheet data.
  std::string bad = whole;
  size_t at = bad.find("xl/worksheets/sheet1.xml");
  ASSERT_NE(at, std::string::npos);
  for (size_t i = at + 40; i < at + 400 && i < bad.size(); i += 7) bad[i] = static_cast<char>(bad[i] ^ 0x5a);
  try {
    Recorder r;
    r.sheet = 0;
    XlsxParser p(bad, "made.xlsx", &r, "en_US");
    ADD_FAILURE() << "read a damaged sheet";
  } catch (const WorkbookError& e) {
    refused(e.what(), "sheet1.xml");
  }
}

}  // namespace
