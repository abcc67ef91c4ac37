// Workbooks on the Workspaces screen's API: the sheets of an uploaded
// workbook, importing the chosen one, and refusing one that cannot be read
// without letting the open workspace go.
#include "../import/xlsx_test_util.h"
#include "server_test_util.h"

namespace tabulix::server::testing {
namespace {

using tabulix::testing::readFile;
using tabulix::testing::workbookParts;
using tabulix::testing::writeZip;

class WorkbookApi : public ServerFixture {};

TEST_F(WorkbookApi, SheetsImportAndRefusals) {
  auto parts = workbookParts(
      "<sheetData><row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>day</t></is></c></row>"
      "<row r=\"2\"><c r=\"A2\" s=\"1\"><v>45000</v></c></row></sheetData>",
      "<cellXfs><xf/><xf numFmtId=\"14\"/></cellXfs>");
  fs::path made = docs / ".made.xlsx";
  writeZip(made, parts);
  std::string bytes = readFile(made);
  fs::remove(made);
  auto up = client->Post("/api/upload?name=book.xlsx", writeHeaders(), bytes, "application/octet-stream");
  ASSERT_TRUE(up && up->status == 200);
  json inspect = getJson("/api/inspect?file=Inbox%2Fbook.xlsx");
  EXPECT_TRUE(inspect["workbook"]);
  EXPECT_EQ(inspect["sheets"], json({"S"}));

  json started = postJson("/api/workspaces/create",
                          {{"mode", "import"}, {"name", "book"}, {"file", "Inbox/book.xlsx"}, {"sheet", 0}});
  json job = waitForJob(started["job"]);
  EXPECT_EQ(job["result"]["code"], -1);
  EXPECT_EQ(job["result"]["statusBlock"]["statusLine"], "book.tbx, 1 Variable, 1 Observation");
  json v = getJson("/api/variables");
  EXPECT_EQ(v["cards"][0]["typeLine"], "Type: Date / Time");

  // Not a workbook, or no such sheet: an alert saying why, and book.tbx stays open.
  std::ofstream(docs / "fake.xlsx") << "a,b\n1,2\n";
  json refused = getJson("/api/inspect?file=fake.xlsx", 422);
  EXPECT_EQ(refused["alert"]["title"], "Error While Importing");
  EXPECT_NE(refused["alert"]["message"].get<std::string>().find("fake.xlsx is not a readable workbook"),
            std::string::npos);
  json create =
      postJson("/api/workspaces/create", {{"mode", "import"}, {"name", "fake"}, {"file", "fake.xlsx"}}, 422);
  EXPECT_EQ(create["alert"]["title"], "Error While Importing");
  postJson("/api/workspaces/create",
           {{"mode", "import"}, {"name", "two"}, {"file", "book.xlsx"}, {"sheet", 1}}, 422);
  EXPECT_FALSE(fs::exists(docs / "fake.tbx"));
  EXPECT_FALSE(fs::exists(docs / "two.tbx"));
  EXPECT_EQ(getJson("/api/status")["workspace"], "book.tbx");
}

}  // namespace
}  // namespace tabulix::server::testing
