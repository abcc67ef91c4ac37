// Managing variables through the API: the offered types and a refused one,
// missing-value codes on the card and in the figures, deleting a variable
// that an analysis uses (asked first), and deleting rows in edit mode.
#include "server_test_util.h"

namespace tabulix::server::testing {
namespace {

class VariablesApi : public ServerFixture {};

TEST_F(VariablesApi, TypesCodesAndDeletions) {
  writeWorkspace(docs / "w.tbx", {"g", "score", "who"},
                 {{"0", "4", "ann"}, {"1", "999", "bob"}, {"1", "7", "cy"}, {"0", "6", "di"}});
  openWorkspace("w.tbx");
  json cards = getJson("/api/variables")["cards"];
  const std::string g = std::to_string(cards[0]["id"].get<int64_t>());
  const std::string score = std::to_string(cards[1]["id"].get<int64_t>());
  const std::string who = std::to_string(cards[2]["id"].get<int64_t>());

  json types = getJson("/api/variables/" + g + "/types");
  EXPECT_EQ(types["type"], "Numeric");
  std::vector<std::string> offered;
  for (auto& t : types["types"]) offered.push_back(t["key"]);
  EXPECT_EQ(offered, (std::vector<std::string>{"Numeric", "Binary", "Categorical"}));
  json made = postJson("/api/variables/" + g + "/type", {{"type", "Categorical"}});
  EXPECT_EQ(made["card"]["typeLine"], "Type: Categorical");
  json refused = postJson("/api/variables/" + who + "/type", {{"type", "Numeric"}}, 400);
  EXPECT_EQ(refused["message"], "\"who\" cannot be Numeric: its types are Categorical");
  postJson("/api/variables/" + who + "/type", {{"type", "Text"}}, 400);
  postJson("/api/variables/999/type", {{"type", "Numeric"}}, 404);

  json coded = postJson("/api/variables/" + score + "/missing", {{"codes", {"999"}}});
  EXPECT_EQ(coded["missingCodes"], json({"999"}));
  EXPECT_EQ(coded["card"]["missingCodes"], json({"999"}));
  bool meanWithoutCode = false;
  for (auto& l : coded["card"]["lines"]) meanWithoutCode |= l["text"] == "Mean: 5.667";
  EXPECT_TRUE(meanWithoutCode) << coded["card"].dump();
  postJson("/api/variables/" + score + "/missing", {{"codes", "999"}}, 400);

  // An analysis uses score: the first delete names it, force deletes.
  json anova = postJson("/api/analyses", {{"row", 7}});
  const std::string aid = std::to_string(anova["id"].get<int64_t>());
  postJson("/api/analyses/" + aid + "/variables", {{"position", 1}, {"columns", {1}}});
  json asked = deleteJson("/api/variables/" + score, 409);
  EXPECT_EQ(asked["error"], "variableInUse");
  ASSERT_EQ(asked["analyses"].size(), 1u);
  EXPECT_EQ(asked["analyses"][0]["id"], anova["id"]);
  EXPECT_EQ(getJson("/api/variables")["total"], 3);
  deleteJson("/api/variables/" + score + "?force=1");
  EXPECT_EQ(getJson("/api/variables")["total"], 2);

  // Rows in edit mode: typed cells are stored first, later rows move up;
  // another page's typed cells hold the deletion back.
  std::string session = postJson("/api/browse/edit/begin", json::object())["session"];
  std::string other = postJson("/api/browse/edit/begin", json::object())["session"];
  postJson("/api/browse/edit/cell", {{"session", other}, {"colNum", 2}, {"rowNum", 4}, {"text", "dee"}});
  postJson("/api/browse/edit/deleteRows", {{"session", session}, {"rows", {1}}}, 409);
  json end = postJson("/api/browse/edit/end", {{"session", other}});
  waitForJob(end["job"]);
  postJson("/api/browse/edit/cell", {{"session", session}, {"colNum", 2}, {"rowNum", 3}, {"text", "cyd"}});
  postJson("/api/browse/edit/deleteRows", {{"session", session}, {"rows", {9}}}, 404);
  json left = postJson("/api/browse/edit/deleteRows", {{"session", session}, {"rows", {1, 2}}});
  EXPECT_EQ(left["rowCount"], 2);
  json win = postJson("/api/browse/window", {{"first", 0}, {"count", 10}});
  ASSERT_EQ(win["rows"].size(), 2u);
  EXPECT_EQ(win["rows"][0]["cells"][1], "cyd");
  EXPECT_EQ(win["rows"][1]["cells"][1], "dee");
}

}  // namespace
}  // namespace tabulix::server::testing
