// The level order and recode API: listing and storing an order (refusing an
// unknown level), the preview of groups and counts, the refusals, and a
// creation whose variable is Categorical in its groups' order.
#include "server_test_util.h"

namespace tabulix::server::testing {
namespace {

class RecodeApi : public ServerFixture {};

TEST_F(RecodeApi, OrdersLevelsPreviewsAndCreates) {
  writeWorkspace(docs / "w.tbx", {"age", "dose"},
                 {{"12", "low"}, {"30", "high"}, {"49", "mid"}, {"50", "high"}, {"", "low"}});
  openWorkspace("w.tbx");
  json levels = getJson("/api/variables/1/levels");
  EXPECT_EQ(levels["levels"], json({"high", "low", "mid"}));
  EXPECT_FALSE(levels["custom"]);
  json set = postJson("/api/variables/1/levels", {{"levels", {"low", "mid", "high"}}});
  EXPECT_EQ(set["levels"], json({"low", "mid", "high"}));
  EXPECT_TRUE(set["custom"]);
  json wrong = postJson("/api/variables/1/levels", {{"levels", {"medium"}}}, 400);
  EXPECT_EQ(wrong["message"], "\"medium\" is not a level of \"dose\"");
  postJson("/api/variables/9/levels", {{"levels", json::array()}}, 404);
  EXPECT_EQ(getJson("/api/variables/1/levels")["levels"], json({"low", "mid", "high"}));

  json breaks = {{"x", 0}, {"method", "breaks"}, {"breaks", {18, 50}}};
  json preview = postJson("/api/recode/preview", breaks);
  EXPECT_EQ(preview["levels"], json({"< 18", "[18, 50)", "\u2265 50"}));
  EXPECT_EQ(preview["counts"], json({1, 2, 1}));
  EXPECT_EQ(preview["missing"], 1);
  EXPECT_EQ(getJson("/api/variables")["total"], 2);  // a preview stores nothing
  json notNumeric = postJson("/api/recode/preview", {{"x", 1}, {"method", "bins"}, {"groups", 2}}, 400);
  EXPECT_NE(notNumeric["message"].get<std::string>().find("is not Numeric"), std::string::npos);
  postJson("/api/recode/preview", {{"x", 0}, {"method", "cubes"}}, 400);
  json taken = postJson("/api/recode", {{"name", "age"}, {"x", 0}, {"method", "bins"}, {"groups", 2}}, 409);
  EXPECT_EQ(taken["message"], "Another variable already exists with the name age");

  json body = breaks;
  body["name"] = "ageg";
  json created = postJson("/api/recode", body);
  EXPECT_EQ(created["card"]["name"], "ageg");
  EXPECT_EQ(created["card"]["typeLine"], "Type: Categorical");
  EXPECT_TRUE(created["saved"]);
  EXPECT_EQ(getJson("/api/variables/2/levels")["levels"], json({"< 18", "[18, 50)", "\u2265 50"}));
  postJson(
      "/api/recode",
      {{"name", "d2"}, {"x", 1}, {"method", "map"}, {"map", json::array({json::array({"mid", "high"})})}});
  EXPECT_EQ(getJson("/api/variables/3/levels")["levels"], json({"high", "low"}));
}

}  // namespace
}  // namespace tabulix::server::testing
