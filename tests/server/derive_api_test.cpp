// The derived-variable editor's API: what it offers, the refusals worded as
// the editor's status lines, and a creation that runs as a job and answers
// with the new variable's card.
#include "server_test_util.h"

namespace tabulix::server::testing {
namespace {

class DeriveApi : public ServerFixture {};

TEST_F(DeriveApi, OffersNumericInputsRefusesByStatusAndCreatesAsAJob) {
  writeWorkspace(docs / "w.tbx", {"x", "label", "Var1"},
                 {{"100", "a", "1"}, {"0", "b", "2"}, {"10", "c", "3"}});
  openWorkspace("w.tbx");
  json offer = getJson("/api/derive");
  EXPECT_EQ(offer["transformations"].size(), 34u);
  EXPECT_EQ(offer["categories"][3], "Recode variable's distribution");
  EXPECT_EQ(offer["proposedName"], "Var2");
  ASSERT_EQ(offer["variables"].size(), 2u);  // Numeric only, by name
  EXPECT_EQ(offer["variables"][0]["name"], "Var1");
  EXPECT_EQ(offer["variables"][1]["name"], "x");
  int64_t x = offer["variables"][1]["id"];
  int64_t label = getJson("/api/variables")["cards"][1]["id"];

  json taken = postJson("/api/derive", {{"name", "x"}, {"equation", 300}, {"x", x}}, 409);
  EXPECT_EQ(taken["message"], "Another variable already exists with the name x");
  json zero = postJson("/api/derive", {{"name", "r"}, {"equation", 311}, {"x", x}, {"c", 0}}, 409);
  EXPECT_EQ(zero["message"], "Make constant non-zero for division");
  json noX = postJson("/api/derive", {{"name", "r"}, {"equation", 316}, {"x", x}}, 409);
  EXPECT_EQ(noX["message"], "Please select a variable to transform");
  postJson("/api/derive", {{"name", "r"}, {"equation", 300}, {"x", label}}, 404);
  EXPECT_EQ(getJson("/api/variables")["total"], 3);

  json job = postJson("/api/derive", {{"name", "lx"}, {"equation", 300}, {"x", x}});
  json done = waitForJob(job["job"]);
  json card = done["result"]["card"];
  EXPECT_EQ(card["name"], "lx");
  EXPECT_EQ(card["typeLine"], "Type: Numeric");
  EXPECT_TRUE(card["cached"]);
  std::vector<std::string> lines;
  for (auto& l : card["lines"]) lines.push_back(l["text"]);
  EXPECT_EQ(lines, (std::vector<std::string>{"Observations: 2", "Unique Values: 2", "Min: 1", "Max: 2",
                                             "Median: 1.5", "Mean: 1.5"}));
  EXPECT_TRUE(done["result"]["saved"]);
  json after = getJson("/api/variables");
  EXPECT_EQ(after["total"], 4);
  EXPECT_EQ(after["cards"][3]["name"], "lx");
  EXPECT_EQ(getJson("/api/derive")["proposedName"], "Var2");
}

TEST_F(DeriveApi, TheVariableLimitShowsItsAlert) {
  std::vector<std::string> names;
  for (int i = 0; i < 500; ++i) {
    std::string name = "v";
    name += std::to_string(i);  // not "v" + …: GCC 12 warns wrongly at -O3
    names.push_back(name);
  }
  writeWorkspace(docs / "wide.tbx", names, {}, false);
  openWorkspace("wide.tbx");
  json refused = getJson("/api/derive", 409);
  EXPECT_EQ(refused["alert"]["title"], "500 Variable Limit Reached");
  EXPECT_EQ(refused["alert"]["message"], "To make room for a new variable please delete an existing one.");
  postJson("/api/derive", {{"name", "k"}, {"equation", 334}, {"c", 1}}, 409);
}

}  // namespace
}  // namespace tabulix::server::testing
