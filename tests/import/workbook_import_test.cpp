// Workbooks through the import driver: sheet choice, the limits, refusals
// that leave the target alone, and failures that keep the rows read.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "engine/cell_access.h"
#include "engine/number_format.h"
#include "engine/workspace_data.h"
#include "import/documents.h"
#include "import/file_importer.h"
#include "xlsx_test_util.h"

namespace fs = std::filesystem;
using namespace tabulix;
using namespace tabulix::testing;

namespace {

struct Dir {
  fs::path path;
  Dir() {
    char tmpl[] = "/tmp/tabulix-wbimport-XXXXXX";
    path = mkdtemp(tmpl);
  }
  ~Dir() { fs::remove_all(path); }
};

std::vector<std::string> rowOf(Model& m, int32_t n) {
  std::vector<std::string> out;
  for (auto& c : cellsForRow(m, Row{{}, n}, {{CellKey::ColNum, true}})) out.push_back(c.data.value_or("?"));
  return out;
}

std::string rows(size_t count, size_t firstBad = 0) {
  std::string xml = "<dimension ref=\"A1:B1\"/><sheetData>";
  for (size_t r = 1; r <= count; ++r) {
    std::string n = std::to_string(r);
    if (r == firstBad) xml += "<row r=\"" + n + "\"><c r=\"A" + n + "\"><v>oops</c></row>";
    xml +=
        "<row r=\"" + n + "\"><c r=\"A" + n + "\"><v>" + n + "</v></c><c r=\"B" + n + "\"><v>x</v></c></row>";
  }
  return xml + "</sheetData>";
}

struct SheetAnswer : FileImporterDelegate {
  std::optional<std::vector<std::string>> sheets;
  bool answered = false;
  void importerDidInspectURL(FileImporter&, const fs::path&,
                             const std::optional<std::vector<std::string>>& s) override {
    answered = true;
    sheets = s;
  }
};

TEST(WorkbookImport, SheetChoiceInspectionAndRefusals) {
  Dir d;
  setDeviceTimeZone("UTC");
  fs::path book = d.path / "book.xlsx";
  writeZip(book,
           workbookParts("<sheetData><row r=\"2\"><c r=\"B2\"><v>1</v></c><c r=\"C2\" t=\"inlineStr\"><is><t>"
                         "two</t></is></c></row><row r=\"3\"><c r=\"C3\"><v>4</v></c></row></sheetData>"));
  {
    Model scratch;
    SheetAnswer answer;
    FileImporter importer(scratch, &answer);
    importer.inspectURL(book);
    ASSERT_TRUE(answer.answered && answer.sheets);
    EXPECT_EQ(*answer.sheets, std::vector<std::string>{"S"});
  }
  ImportOptions opts;
  opts.dataFile = book;
  opts.target = d.path / "w.tbx";
  opts.hasHeader = false;
  ImportOutcome out = importDataFile(opts, d.path, nullptr);
  EXPECT_EQ(out.code, kImportReadToEnd);
  EXPECT_EQ(out.variables, 3u);
  EXPECT_EQ(out.observations, 2u);
  {
    Model m;
    ASSERT_NO_THROW(m.openStore(opts.target));
    EXPECT_EQ(rowOf(m, 1), (std::vector<std::string>{"", "1", "two"}));
    EXPECT_EQ(rowOf(m, 2), (std::vector<std::string>{"", "", "4"}));
    EXPECT_EQ(*columnNumber(m, 2)->name, "Var3");
  }

  // A sheet that is not there, a damaged container: refused, and the
  // workspace that was at the target is left as it was.
  std::string before = readFile(opts.target);
  opts.sheet = 1;
  out = importDataFile(opts, d.path, nullptr);
  EXPECT_TRUE(out.refused);
  EXPECT_EQ(out.alertTitle, "Error While Importing");
  EXPECT_NE(out.error.find("no sheet number 2"), std::string::npos) << out.error;
  opts.sheet = 0;
  std::string whole = readFile(book);
  fs::path cut = d.path / "cut.xlsx";
  std::ofstream(cut, std::ios::binary) << whole.substr(0, whole.size() - 30);
  opts.dataFile = cut;
  out = importDataFile(opts, d.path, nullptr);
  EXPECT_TRUE(out.refused);
  EXPECT_NE(out.error.find(cut.string()), std::string::npos) << out.error;
  EXPECT_EQ(readFile(opts.target), before);
  {
    Model scratch;
    SheetAnswer answer;
    FileImporter importer(scratch, &answer);
    importer.inspectURL(cut);
    EXPECT_FALSE(answer.answered);
    EXPECT_NE(importer.inspectionError().find("not a zip container"), std::string::npos);
  }
}

TEST(WorkbookImport, LimitsAndFailuresMidSheet) {
  Dir d;
  ImportOptions opts;
  opts.target = d.path / "w.tbx";
  // 100,050 data rows under a header: the import stops after row 100,000.
  opts.dataFile = d.path / "long.xlsx";
  writeZip(opts.dataFile, workbookParts(rows(100051)));
  // The progress is the share of the sheet read over its two readings; the
  // lines, and so the fractions, come from the second.
  std::vector<double> fractions;
  ImportOutcome out = importDataFile(opts, d.path, [&](const std::string&, std::optional<double> f) {
    if (f) fractions.push_back(*f);
  });
  ASSERT_GT(fractions.size(), 10u);
  EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));
  EXPECT_GE(fractions.front(), 0.5);
  EXPECT_LT(fractions.front(), 0.6);
  EXPECT_GT(fractions.back(), 0.95);
  EXPECT_LE(fractions.back(), 1.0);
  EXPECT_EQ(out.code, kImportLimitReached);
  EXPECT_EQ(out.alertTitle, "Row Limit Reached");
  EXPECT_EQ(out.observations, 100000u);
  {
    Model m;
    ASSERT_NO_THROW(m.openStore(opts.target));
    EXPECT_EQ(rowOf(m, 100000), (std::vector<std::string>{"100001", "x"}));
    EXPECT_EQ(*columnNumber(m, 0)->name, "1");
  }

  // A sheet 702 columns wide keeps 500 variables and names what it left out.
  std::string wideRow =
      "<dimension ref=\"A1:ZZ2\"/><sheetData><row r=\"1\"><c r=\"ZZ1\"><v>last</v></c></row>"
      "<row r=\"2\"><c r=\"A2\"><v>1</v></c></row></sheetData>";
  // (Into a new name: a workspace of that name would stay, the new one lacking data.)
  opts.dataFile = d.path / "wide.xlsx";
  writeZip(opts.dataFile, workbookParts(wideRow));
  opts.target = d.path / "wide.tbx";
  out = importDataFile(opts, d.path, nullptr);
  EXPECT_EQ(out.code, kImportReadToEnd);
  EXPECT_EQ(out.variables, 500u);
  EXPECT_EQ(out.observations, 1u);
  EXPECT_EQ(out.unreadNotes,
            std::vector<std::string>{"Columns SG to ZZ of the sheet were left out (1 value): a "
                                     "workspace holds at most 500 variables."});
  EXPECT_EQ(out.alertTitle, "Some Data Was Not Imported");

  // Malformed XML after 150 rows: into a new workspace, those rows stay,
  // typed, and the end says why.
  opts.dataFile = d.path / "bad.xlsx";
  writeZip(opts.dataFile, workbookParts(rows(300, 151)));
  opts.target = d.path / "w.tbx";
  std::string before = readFile(opts.target);
  opts.target = d.path / "new.tbx";
  out = importDataFile(opts, d.path, nullptr);
  EXPECT_EQ(out.code, kWorkbookUnreadable);
  EXPECT_FALSE(out.refused);
  EXPECT_EQ(out.observations, 149u);
  EXPECT_NE(out.alertMessage.find("not well-formed"), std::string::npos) << out.alertMessage;
  {
    Model m;
    ASSERT_NO_THROW(m.openStore(opts.target));
    EXPECT_EQ(columnNumber(m, 0)->type, static_cast<int32_t>(VariableType::Numeric));
  }
  // Over an existing workspace, the same sheet replaces nothing.
  opts.target = d.path / "w.tbx";
  out = importDataFile(opts, d.path, nullptr);
  EXPECT_NE(out.error.find("was not replaced"), std::string::npos) << out.error;
  EXPECT_NE(out.error.find("not well-formed"), std::string::npos) << out.error;
  EXPECT_EQ(readFile(opts.target), before);
}

}  // namespace
