// The saved analyses over HTTP: the menu, creating, choosing variables under
// the position's rules, filters and settings stored on the analysis, the
// list newest first with its search, and deleting.
#include "server_test_util.h"

namespace tabulix::server::testing {
namespace {

class AnalysesApi : public ServerFixture {};

TEST_F(AnalysesApi, CreateChooseFilterSetSearchAndDelete) {
  std::vector<std::vector<std::string>> rows;
  for (int r = 1; r <= 30; ++r)
    rows.push_back(
        {std::to_string(r % 21), r % 2 ? "Male" : "Female", std::to_string(r * 1.5), r % 3 ? "yes" : "no"});
  writeWorkspace(docs / "w.tbx", {"n21", "Sexé", "score", "smoker"}, rows);
  openWorkspace("w.tbx");

  json list = getJson("/api/analyses");
  ASSERT_EQ(list["menu"].size(), 7u);
  EXPECT_EQ(list["menu"][0]["title"], "Two way table of frequencies");
  EXPECT_EQ(list["menu"][6]["screen"], "tabSummarize");
  EXPECT_TRUE(list["menu"][6]["built"]);
  EXPECT_FALSE(list["menu"][1]["built"]);
  EXPECT_TRUE(list["analyses"].empty());

  json anova = postJson("/api/analyses", {{"row", 6}});
  EXPECT_EQ(anova["type"], 2);
  EXPECT_EQ(anova["kind"], "summarize");
  const std::string id = std::to_string(anova["id"].get<int64_t>());
  // The grouping position offers no Numeric variable with more than 20 levels (n21, score).
  json choices = getJson("/api/analyses/" + id + "/choices/2");
  std::vector<std::string> offered;
  for (auto& c : choices["offered"]) offered.push_back(c["name"]);
  EXPECT_EQ(offered, (std::vector<std::string>{"Sexé", "smoker"}));
  EXPECT_FALSE(choices["multiple"]);
  postJson("/api/analyses/" + id + "/variables", {{"position", 2}, {"columns", {0}}}, 422);
  postJson("/api/analyses/" + id + "/variables", {{"position", 1}, {"columns", {2}}});
  json d = postJson("/api/analyses/" + id + "/variables", {{"position", 2}, {"columns", {1}}});
  EXPECT_EQ(d["title"], "One-way ANOVA of score by Sexé.");
  d = postJson("/api/analyses/" + id + "/filters",
               {{"wheres", {{{"colNum", 2}, {"op", 2}, {"constant", "10"}}}}});
  EXPECT_EQ(d["filterLine"], "Filters: score > 10");
  EXPECT_EQ(d["wheres"].size(), 1u);

  json table = postJson("/api/analyses", {{"row", 0}});
  const std::string tid = std::to_string(table["id"].get<int64_t>());
  postJson("/api/analyses/" + tid + "/variables", {{"position", 1}, {"columns", {3}}});
  postJson("/api/analyses/" + tid + "/variables", {{"position", 2}, {"columns", {1}}});
  d = postJson("/api/analyses/" + tid + "/settings", {{"twoWayPercAgg", 2}, {"includeMissing", true}});
  EXPECT_EQ(d["settings"]["twoWayPercAgg"], "2");
  EXPECT_EQ(d["settings"]["includeMissing"], "1");
  postJson("/api/analyses/" + tid + "/settings", {{"twoWayPercAgg", 3}}, 400);

  // Newest first; the search ignores case and diacritics on either variable.
  list = getJson("/api/analyses");
  ASSERT_EQ(list["analyses"].size(), 2u);
  EXPECT_EQ(list["analyses"][0]["displayStyle"], "TwoWayTab");
  EXPECT_EQ(list["analyses"][1]["displayStyle"], "TabSummarize");
  EXPECT_EQ(getJson("/api/analyses?search=SEXE")["analyses"].size(), 2u);
  json found = getJson("/api/analyses?search=smok")["analyses"];
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0]["title"], "Two way table of frequencies for smoker and Sexé");

  deleteJson("/api/analyses/" + tid);
  list = getJson("/api/analyses");
  ASSERT_EQ(list["analyses"].size(), 1u);
  EXPECT_EQ(list["analyses"][0]["id"], anova["id"]);
  getJson("/api/analyses/" + tid, 404);
}

}  // namespace
}  // namespace tabulix::server::testing
