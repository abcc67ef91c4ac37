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
  size_t columnLimit = 0;
  uint64_t measuredRows = 0;
  std::vector<XlsxLeftOut> leftOut;
  void parserDidInspectDocument(XlsxParser& p, const std::string&, const std::vector<XlsxSheet>& s) override {
    sheets = s;
    if (columnLimit) p.setColumnLimit(columnLimit);
    if (measuredRows) p.setMeasuredRows(measuredRows);
    if (sheet) p.parseSheetAtIndex(*sheet);
    if (num) p.parseSheetNumber(*num);
  }
  void parserDidCompleteLine(XlsxParser& p, const std::vector<std::string>& line, uint64_t n,
                             uint64_t c) override {
    lines.push_back({line, n, c});
    if (cancelAfter && lines.size() == cancelAfter) p.cancelParsing();
  }
  void parserDidLeaveOutColumns(XlsxParser&, const XlsxLeftOut& l) override {
    EXPECT_TRUE(lines.empty());
    leftOut.push_back(l);
  }
  void parserDidCompleteDocument(XlsxParser&, const std::string&) override { ++completions; }
};

fs::path dataFile(const std::string& name) { return fs::path(TABULIX_SOURCE_DIR) / "tests/data/xlsx" / name; }

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

  static Recorder read(const fs::path& file, size_t sheet) {
    Recorder r;
    r.sheet = sheet;
    XlsxParser parser(file, &r);
    return r;
  }
  static Recorder readParts(const Parts& parts, ZipLimits limits = {}) {
    fs::path f = dir_ / "made.xlsx";
    writeZip(f, parts);
    std::string bytes = readFile(f);
    Recorder r;
    r.sheet = 0;
    XlsxParser parser(bytes, "made.xlsx", &r, limits);
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
  // Serial 45000 is 2023-03-15, as Excel shows it; built-in formats 14, 22
  // and 15 and the custom codes "m/d/yyyy;@" and "yyyy-mm-dd" are dates.
  // Serial 60 is Excel's 29 February 1900, which is no date.
  EXPECT_EQ(r.lines[1].cells, (Cells{"Ann", "3.5", "TRUE", "2023-03-15", "2023-03-15 12:00:00", "2023-03-16",
                                     "2023-03-17", "2023-01-01"}));
  EXPECT_EQ(r.lines[2].cells, (Cells{"Bob", "-2", "FALSE", "1900-01-01", "1899-12-31 06:00:00", "1900-01-02",
                                     "1900-01-03", "60"}));
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
  XlsxParser byNum(dir_ / "mixed.xlsx", &wide);
  ASSERT_EQ(wide.lines.size(), 2u);
  ASSERT_EQ(wide.lines[1].cells.size(), 256u);
  EXPECT_EQ(wide.lines[0].cells[255], "c256");
  EXPECT_EQ(wide.lines[1].cells[255], "256");

  Recorder mac = read(dir_ / "epoch1904.xlsx", 0);
  ASSERT_EQ(mac.lines.size(), 3u);
  EXPECT_EQ(mac.lines[1].cells[0], "1904-01-01");
  EXPECT_EQ(mac.lines[2].cells[0], "1905-01-01 18:00:00");

  // Items of several runs give their whole text, without the phonetic guide;
  // a formula gives its cached text, an inline string its text.
  Recorder runs = read(dir_ / "runs.xlsx", 0);
  ASSERT_EQ(runs.lines.size(), 2u);
  EXPECT_EQ(runs.lines[1].cells, (Cells{"bold and plain", "ab", "in line"}));
}

// Workbooks of tests/data/xlsx/make_openpyxl.py, each line checked against
// the values the script gave openpyxl.
TEST_F(Xlsx, OpenpyxlDatesTimesAndElapsedTimes) {
  // Not shifted by the device's zone.
  setDeviceTimeZone("America/New_York");
  Recorder r = read(dataFile("openpyxl_dates.xlsx"), 0);
  ASSERT_EQ(r.lines.size(), 4u);
  EXPECT_EQ(r.lines[0].cells, (Cells{"stamp", "day", "clock", "dmy", "long", "upper", "elapsed", "span"}));
  // openpyxl's default styles for datetime, date and time; "dd/mm/yyyy",
  // "[$-409]mmmm d, yyyy" and "YYYY-MM-DD" are dates; "[h]:mm" and
  // "[hh]:mm:ss" (timedelta's default) are elapsed times, left as numbers.
  EXPECT_EQ(r.lines[1].cells, (Cells{"2024-03-05 14:30:00", "2024-03-05", "14:30:00", "2024-05-13",
                                     "2024-03-05", "2023-03-15", "1.5", "1.25"}));
  EXPECT_EQ(r.lines[2].cells, (Cells{"1999-12-31 23:59:59", "1900-03-01", "00:00:01", "2024-03-05",
                                     "1999-12-31", "1900-01-01", "0.25", "0.0625"}));
  // 14:29:59.6 rounds to 14:30:00.
  EXPECT_EQ(r.lines[3].cells, (Cells{"2024-03-05 14:30:00", "1900-02-28", "23:59:59", "1900-01-15",
                                     "2000-02-29", "9999-12-31", "2", "0"}));

  Recorder mac = read(dataFile("openpyxl_1904.xlsx"), 0);
  ASSERT_EQ(mac.lines.size(), 3u);
  EXPECT_EQ(mac.lines[1].cells, (Cells{"2024-03-05 14:30:00", "1904-01-01"}));
  EXPECT_EQ(mac.lines[2].cells, (Cells{"1904-01-02 06:00:00", "2023-03-15"}));
}

TEST_F(Xlsx, OpenpyxlCellsPastAShortDimensionBooleansAndErrors) {
  // The dimension says A1; the rows reach column E.
  Recorder r = read(dataFile("openpyxl_cells.xlsx"), 0);
  ASSERT_EQ(r.lines.size(), 11u);
  EXPECT_EQ(r.lines[0].cells, (Cells{"name", "flag", "error", "", ""}));
  const char* errors[] = {"#DIV/0!", "#N/A", "#VALUE!", "#REF!", "#NAME?", "#NUM!", "#NULL!"};
  for (size_t i = 0; i < 7; ++i)
    EXPECT_EQ(r.lines[i + 1].cells, (Cells{std::string(1, static_cast<char>('a' + i)),
                                           i % 2 ? "FALSE" : "TRUE", errors[i], "", ""}));
  EXPECT_EQ(r.lines[8].cells, (Cells{"", "", "", "", "right"}));
  EXPECT_EQ(r.lines[9].cells, (Cells{"", "", "", "4.5", ""}));
  // Formulas give their cached results.
  EXPECT_EQ(r.lines[10].cells, (Cells{"hi", "TRUE", "#DIV/0!", "", ""}));

  // Only the measured rows decide the width.
  Recorder first;
  first.sheet = 0;
  first.measuredRows = 8;
  XlsxParser parser(dataFile("openpyxl_cells.xlsx"), &first);
  ASSERT_EQ(first.lines.size(), 11u);
  EXPECT_EQ(first.lines[1].cells, (Cells{"a", "TRUE", "#DIV/0!"}));
  EXPECT_EQ(first.lines[8].cells, (Cells{"", "", ""}));
}

TEST_F(Xlsx, ColumnsPastTheLimitAreNamed) {
  Recorder r;
  r.sheet = 0;
  r.columnLimit = 500;
  XlsxParser parser(dataFile("openpyxl_wide.xlsx"), &r);
  ASSERT_EQ(r.lines.size(), 3u);
  for (const Line& l : r.lines) EXPECT_EQ(l.cells.size(), 500u);
  EXPECT_EQ(r.lines[0].cells[499], "c500");
  EXPECT_EQ(r.lines[2].cells[499], "500");
  // Columns SG (the 501st) to WV (the 620th): 120 + 120 + 10 values.
  ASSERT_EQ(r.leftOut.size(), 1u);
  EXPECT_EQ(XlsxParser::columnName(r.leftOut[0].firstColumn), "SG");
  EXPECT_EQ(XlsxParser::columnName(r.leftOut[0].lastColumn), "WV");
  EXPECT_EQ(r.leftOut[0].values, 250u);
  EXPECT_EQ(XlsxParser::columnName(0), "A");
  EXPECT_EQ(XlsxParser::columnName(701), "ZZ");
  EXPECT_EQ(XlsxParser::columnName(702), "AAA");
  EXPECT_EQ(XlsxParser::columnName(16383), "XFD");
  // Without a limit every column arrives.
  Recorder all = read(dataFile("openpyxl_wide.xlsx"), 0);
  EXPECT_EQ(all.lines.at(1).cells.size(), 620u);
  EXPECT_TRUE(all.leftOut.empty());
}

TEST_F(Xlsx, ColumnsRowsStylesAndSharedStrings) {
  // No dimension: the lines run from A to the right-most cell of any row
  // (E6, right of the first row). Rows and cells without a reference follow
  // on; a cell without a value (only a style) does not widen the lines.
  Recorder r = readParts(
      workbookParts("<sheetData><row r=\"5\"><c r=\"A5\"><v>1</v></c><c r=\"C5\"><v>3</v></c></row>"
                    "<row><c r=\"B6\"><v>x</v></c><c r=\"E6\"><v>kept</v></c><c r=\"G6\" s=\"1\"/></row>"
                    "<row r=\"9\"><c><v>a</v></c><c><v>b</v></c></row></sheetData>"));
  ASSERT_EQ(r.lines.size(), 3u);
  EXPECT_EQ(r.lines[0].cells, (Cells{"1", "", "3", "", ""}));
  EXPECT_EQ(r.lines[0].number, 5u);
  EXPECT_EQ(r.lines[0].consecutive, 1u);
  EXPECT_EQ(r.lines[1].cells, (Cells{"", "x", "", "", "kept"}));
  EXPECT_EQ(r.lines[1].number, 6u);
  EXPECT_EQ(r.lines[2].cells, (Cells{"a", "b", "", "", ""}));

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
            (Cells{"45000", "2023-03-15", "1900-01-01 12:00:00", "45000", "c", "parse error", "ab", "k"}));

  // The dimension gives the first column (ZY, left of every value) but not
  // the last: columns past ZZ arrive too, and the one past the last value
  // (AAB) does not.
  Recorder w =
      readParts(workbookParts("<dimension ref=\"ZY1:AAB1\"/><sheetData><row r=\"1\"><c r=\"ZZ1\"><v>z</v></c>"
                              "<c r=\"AAA1\"><v>beyond</v></c></row></sheetData>"));
  EXPECT_EQ(w.lines.at(0).cells, (Cells{"", "z", "beyond"}));
  // A value left of the dimension moves the first column left.
  Recorder left =
      readParts(workbookParts("<dimension ref=\"C1:D2\"/><sheetData><row r=\"1\"><c r=\"C1\"><v>c</v></c><c "
                              "r=\"D1\"><v>d</v></c></row>"
                              "<row r=\"2\"><c r=\"A2\"><v>a</v></c></row></sheetData>"));
  EXPECT_EQ(left.lines.at(0).cells, (Cells{"", "", "c", "d"}));
  EXPECT_EQ(left.lines.at(1).cells, (Cells{"a", "", "", ""}));
  // A workbook's code for a built-in id wins over the id's meaning; t="b"
  // cells are TRUE and FALSE, and an error value arrives as written.
  Recorder own = readParts(workbookParts(
      "<sheetData><row r=\"1\"><c r=\"A1\" s=\"1\"><v>45000</v></c><c r=\"B1\" s=\"2\"><v>45000.5</v></c>"
      "<c r=\"C1\" t=\"b\"><v>1</v></c><c r=\"D1\" t=\"b\" s=\"1\"><v>0</v></c>"
      "<c r=\"E1\" t=\"e\" s=\"1\"><v>#N/A</v></c></row></sheetData>",
      "<numFmts><numFmt numFmtId=\"14\" formatCode=\"0.00\"/><numFmt numFmtId=\"3\" formatCode=\"h:mm\"/>"
      "</numFmts><cellXfs><xf/><xf numFmtId=\"14\"/><xf numFmtId=\"3\"/></cellXfs>"));
  EXPECT_EQ(own.lines.at(0).cells, (Cells{"45000", "2023-03-15 12:00:00", "TRUE", "FALSE", "#N/A"}));

  // Cancelling stops at the next element; the completion still comes once.
  fs::path f = dir_ / "mixed.xlsx";
  Recorder c;
  c.sheet = 0;
  c.cancelAfter = 2;
  XlsxParser parser(f, &c);
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
      XlsxParser p(bytes, "made.xlsx", &r);
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
    XlsxParser p(bad, "made.xlsx", &r);
    ADD_FAILURE() << "read a damaged sheet";
  } catch (const WorkbookError& e) {
    refused(e.what(), "sheet1.xml");
  }
}

}  // namespace
