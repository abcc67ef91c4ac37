// SPSS files on the Workspaces screen's API: an uploaded .sav is inspected
// as a statistical file (no text options, no preview), imported with its
// labels on the cards, and a damaged one is refused without a workspace.
#include "../import/xlsx_test_util.h"
#include "server_test_util.h"

namespace tabulix::server::testing {
namespace {

using tabulix::testing::readFile;

class StatFileApi : public ServerFixture {};

TEST_F(StatFileApi, ImportWithLabelsAndRefusal) {
  std::string sav = readFile(fs::path(TABULIX_SOURCE_DIR) / "tests/data/stat/pspp.sav");
  auto up = client->Post("/api/upload?name=survey.sav", writeHeaders(), sav, "application/octet-stream");
  ASSERT_TRUE(up && up->status == 200);
  json inspect = getJson("/api/inspect?file=Inbox%2Fsurvey.sav");
  EXPECT_TRUE(inspect["statFile"]);
  EXPECT_FALSE(inspect["workbook"]);
  EXPECT_FALSE(inspect.contains("preview"));

  json started = postJson("/api/workspaces/create",
                          {{"mode", "import"}, {"name", "survey"}, {"file", "Inbox/survey.sav"}});
  json job = waitForJob(started["job"]);
  EXPECT_EQ(job["result"]["code"], -1);
  EXPECT_EQ(job["result"]["statusBlock"]["statusLine"], "survey.tbx, 6 Variables, 4 Observations");
  json v = getJson("/api/variables");
  EXPECT_FALSE(v["cards"][0].contains("label"));
  EXPECT_EQ(v["cards"][1]["label"], "Group (ÄÖÜ)");
  EXPECT_EQ(v["cards"][1]["typeLine"], "Type: Binary");
  // The data file is listed with the others once out of the Inbox.
  bool listed = false;
  json documentsList = getJson("/api/documents");
  for (const auto& d : documentsList["dataFiles"]) listed = listed || d["name"] == "survey.sav";
  EXPECT_TRUE(listed) << documentsList.dump();

  // Cut short: refused when the import is asked for, and nothing is made.
  std::ofstream(docs / "cut.sav", std::ios::binary) << sav.substr(0, sav.size() - 40);
  json refused =
      postJson("/api/workspaces/create", {{"mode", "import"}, {"name", "cut"}, {"file", "cut.sav"}}, 422);
  EXPECT_EQ(refused["alert"]["title"], "Error While Importing");
  EXPECT_NE(refused["alert"]["message"].get<std::string>().find(
                "The file cut.sav could not be read as an SPSS data file"),
            std::string::npos);
  EXPECT_FALSE(fs::exists(docs / "cut.tbx"));
  EXPECT_EQ(getJson("/api/status")["workspace"], "survey.tbx");
}

}  // namespace
}  // namespace tabulix::server::testing
