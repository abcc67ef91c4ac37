// The saved analyses over HTTP: the menu, creating, choosing variables under
// the position's rules, filters and settings stored on the analysis, the
// list newest first with its search, and deleting.
#include "server_test_util.h"

namespace tabulix::server::testing {
namespace {

class AnalysesApi : public ServerFixture {
 protected:
  // Computes a saved definition as the web page does, by its id, with any
  // unsaved settings laid over the stored ones; the job's result.
  json analyze(const json& d, const json& settings = json::object()) {
    return waitForJob(postJson("/api/analyses/" + std::to_string(d["id"].get<int64_t>()) + "/compute",
                               {{"settings", settings}})["job"])["result"];
  }
};

TEST_F(AnalysesApi, CreateChooseFilterSetSearchAndDelete) {
  std::vector<std::vector<std::string>> rows;
  for (int r = 1; r <= 30; ++r)
    rows.push_back({std::to_string(r % 21), r % 2 ? "Male" : "Female", std::to_string(r * 1.5),
                    r % 3 ? "yes" : "no", std::to_string(r % 20)});
  writeWorkspace(docs / "w.tbx", {"n21", "Sexé", "score", "smoker", "n20"}, rows);
  openWorkspace("w.tbx");

  json list = getJson("/api/analyses");
  ASSERT_EQ(list["menu"].size(), 8u);
  EXPECT_EQ(list["menu"][0]["title"], "Two way table of frequencies");
  EXPECT_EQ(list["menu"][7]["screen"], "tabSummarize");
  EXPECT_TRUE(list["menu"][7]["built"]);
  EXPECT_TRUE(list["menu"][1]["built"]);
  EXPECT_TRUE(list["analyses"].empty());

  json anova = postJson("/api/analyses", {{"row", 7}});
  EXPECT_EQ(anova["type"], 2);
  EXPECT_EQ(anova["kind"], "summarize");
  const std::string id = std::to_string(anova["id"].get<int64_t>());
  // The grouping position offers no Numeric variable with more than 20 levels (n21, score); n20 has 20.
  json choices = getJson("/api/analyses/" + id + "/choices/2");
  std::vector<std::string> offered;
  for (auto& c : choices["offered"]) offered.push_back(c["name"]);
  EXPECT_EQ(offered, (std::vector<std::string>{"Sexé", "smoker", "n20"}));
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
  // Listed only once it has both its variables ("... for smoker and " is no title).
  postJson("/api/analyses/" + tid + "/variables", {{"position", 1}, {"columns", {3}}});
  ASSERT_EQ(getJson("/api/analyses")["analyses"].size(), 1u);
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
  // A filter line only where there are conditions.
  EXPECT_EQ(list["analyses"][0]["filterLine"], "");
  EXPECT_EQ(list["analyses"][1]["filterLine"], "Filters: score > 10");
  EXPECT_EQ(getJson("/api/analyses?search=SEXE")["analyses"].size(), 2u);
  json found = getJson("/api/analyses?search=smok")["analyses"];
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0]["title"], "Two way table of frequencies for smoker and Sexé");

  deleteJson("/api/analyses/" + tid);
  list = getJson("/api/analyses");
  ASSERT_EQ(list["analyses"].size(), 1u);
  EXPECT_EQ(list["analyses"][0]["id"], anova["id"]);
  getJson("/api/analyses/" + tid, 404);

  // Left before its variables were chosen, an analysis is not kept; left with them, it stays.
  const std::string pid = std::to_string(postJson("/api/analyses", {{"row", 0}})["id"].get<int64_t>());
  EXPECT_TRUE(postJson("/api/analyses/" + pid + "/leave", json::object())["dropped"]);
  getJson("/api/analyses/" + pid, 404);
  EXPECT_FALSE(postJson("/api/analyses/" + id + "/leave", json::object())["dropped"]);
  getJson("/api/analyses/" + id);
}

TEST_F(AnalysesApi, TestAndRegressionSettingsAreStoredAndComputed) {
  std::vector<std::vector<std::string>> rows;
  for (int r = 1; r <= 30; ++r)
    rows.push_back({std::to_string(r * 1.5), r % 3 ? "yes" : "no", std::to_string(r % 4)});
  writeWorkspace(docs / "w.tbx", {"score", "smoker", "x"}, rows);
  openWorkspace("w.tbx");

  json d = postJson("/api/analyses", {{"row", 3}});  // a test of proportions
  const std::string id = std::to_string(d["id"].get<int64_t>());
  const std::string settings = "/api/analyses/" + id + "/settings";
  EXPECT_EQ(d["kind"], "proportions");
  EXPECT_EQ(d["samples"], 1);
  EXPECT_TRUE(d["test"].is_null());
  d = postJson("/api/analyses/" + id + "/variables", {{"position", 1}, {"columns", {1}}});
  json levels = getJson("/api/analyses/" + id + "/levels");
  EXPECT_EQ(levels["left"].size(), 2u);
  EXPECT_TRUE(levels["right"].is_null());
  d = postJson(settings, {{"leftLevel1", "no"}});
  EXPECT_EQ(d["settings"]["leftLevel1"], "no");
  // Choosing McNemar's test makes the samples paired; independent samples then clear it.
  d = postJson(settings, {{"test", 4}});
  EXPECT_EQ(d["samples"], 2);
  EXPECT_TRUE(d["isPaired"]);
  d = postJson(settings, {{"samples", 2}, {"isPaired", false}});
  EXPECT_TRUE(d["test"].is_null());
  EXPECT_EQ(d["settings"].count("test"), 0u);
  // As a test of means the chi-squared test no longer fits; a regression has no such setting.
  d = postJson(settings, {{"test", 3}});
  d = postJson(settings, {{"distribution", 0}});
  EXPECT_EQ(d["kind"], "means");
  EXPECT_TRUE(d["test"].is_null());
  d = postJson(settings, {{"distribution", 2}});
  EXPECT_EQ(d["kind"], "proportions");
  d = postJson(settings, {{"samples", 1}, {"tails", 2}});
  // A text that does not read leaves the expected value as it was.
  d = postJson(settings, {{"expected", "abc"}});
  EXPECT_TRUE(d["expected"].is_null());
  d = postJson(settings, {{"expected", "0.25"}});
  EXPECT_EQ(d["expected"], 0.25);
  EXPECT_EQ(d["settings"]["expected"], "0.25");
  // Its list entry says what the sample is compared with; no "where" hangs
  // without conditions, for the second sample neither.
  json entry = getJson("/api/analyses")["analyses"][0];
  EXPECT_EQ(entry["description"], "Comparing smoker");
  EXPECT_EQ(entry["filterLine"], "to expected value 0.25");
  postJson(settings, {{"samples", 2}, {"isPaired", false}});
  postJson("/api/analyses/" + id + "/variables", {{"position", 2}, {"columns", {1}}});
  EXPECT_EQ(getJson("/api/analyses")["analyses"][0]["filterLine"], "to smoker");
  postJson(settings, {{"samples", 1}});
  postJson(settings, {{"tails", 3}}, 400);
  postJson(settings, {{"test", "4"}}, 400);
  postJson(settings, {{"colour", 1}}, 400);

  // The saved settings compute; a typed text that is no proportion gives
  // the validity message instead.
  json saved = analyze(d);
  ASSERT_TRUE(saved.contains("result")) << saved.dump();
  EXPECT_EQ(saved["result"]["testName"], "One sample one tail binomial test");
  EXPECT_EQ(saved["result"]["leftLevel1"], "no");
  json refused = analyze(d, {{"expected", "2"}});
  EXPECT_EQ(refused["error"],
            "Sample is a categorical variable. Expected value must be a proportion between 0 and 1.");

  // A logistic regression's levels in text order (the last is coded 1 until another is chosen).
  json r = postJson("/api/analyses", {{"row", 6}});
  const std::string rid = std::to_string(r["id"].get<int64_t>());
  r = postJson("/api/analyses/" + rid + "/variables", {{"position", 1}, {"columns", {1}}});
  EXPECT_EQ(getJson("/api/analyses/" + rid + "/levels")["left"], json({"no", "yes"}));
  postJson("/api/analyses/" + rid + "/settings", {{"distribution", 0}, {"leftLevel1", "yes"}}, 400);
  r = postJson("/api/analyses/" + rid + "/settings", {{"leftLevel1", "no"}});
  EXPECT_EQ(r["settings"]["leftLevel1"], "no");
  r = postJson("/api/analyses/" + rid + "/variables", {{"position", 3}, {"columns", {0, 2}}});
  json fit = analyze(r);
  ASSERT_TRUE(fit.contains("result")) << fit.dump();
  EXPECT_EQ(fit["result"]["leftLevel1"], "no");
  EXPECT_EQ(fit["result"]["distribution"], 2);
}

// Tests on ranks are saved as any analysis: their samples (related ones as
// well), listed by their test's name, and set up by a grouping variable.
TEST_F(AnalysesApi, RankTestsAreSavedListedAndGrouped) {
  std::vector<std::vector<std::string>> rows;
  for (int r = 1; r <= 12; ++r)
    rows.push_back({std::to_string(r), std::to_string(r * r % 7), std::to_string(r % 5),
                    r % 2 ? "odd" : "even",
                    r % 3   ? "x"
                    : r % 2 ? "y"
                            : "z"});
  writeWorkspace(docs / "w.tbx", {"a", "b", "c", "parity", "three"}, rows);
  openWorkspace("w.tbx");

  json d = postJson("/api/analyses", {{"row", 4}});
  ASSERT_EQ(d["kind"], "ranks");
  const std::string base = "/api/analyses/" + std::to_string(d["id"].get<int64_t>());
  d = postJson(base + "/variables", {{"position", 1}, {"columns", {0}}});
  d = postJson(base + "/settings", {{"expected", "6"}, {"tails", 2}});
  json one = analyze(d);
  ASSERT_TRUE(one.contains("result")) << one.dump();
  EXPECT_EQ(one["result"]["testName"], "One sample one tail Wilcoxon signed-rank test");
  // wilcox.test(1:12, mu = 6, alternative = "greater"): V = 38.5 (the zero dropped, ties mid-ranked).
  EXPECT_EQ(one["result"]["W"], 38.5);

  // Related samples are kept as such and listed under Friedman's name.
  d = postJson(base + "/settings", {{"samples", "related"}});
  EXPECT_EQ(d["samples"], 3);
  EXPECT_EQ(d["settings"]["samples"], "related");
  d = postJson(base + "/variables", {{"position", 3}, {"columns", {0, 1, 2}}});
  json related = analyze(d);
  ASSERT_TRUE(related["result"].contains("friedman")) << related.dump();
  json list = getJson("/api/analyses");
  ASSERT_EQ(list["analyses"].size(), 1u);
  EXPECT_EQ(list["analyses"][0]["title"], "Friedman rank sum test");
  EXPECT_EQ(list["analyses"][0]["description"], "Comparing a, b, c");

  // Grouped: only two-level variables are offered; sample 2 and both filters follow the choice.
  json groups = getJson(base + "/groups");
  ASSERT_EQ(groups["offered"].size(), 1u);
  EXPECT_EQ(groups["offered"][0]["name"], "parity");
  postJson(base + "/group", {{"column", 4}}, 400);  // three levels
  postJson(base + "/settings", {{"tails", 0}});
  d = postJson(base + "/group", {{"column", 3}});
  EXPECT_EQ(d["samples"], 2);
  EXPECT_FALSE(d["isPaired"]);
  EXPECT_EQ(d["right"]["name"], "a");
  EXPECT_EQ(d["wheres"].size(), 1u);
  EXPECT_EQ(d["wheres2Text"], "parity IN odd");
  json grouped = analyze(d);
  ASSERT_TRUE(grouped.contains("result")) << grouped.dump();
  EXPECT_EQ(grouped["result"]["testName"], "Two sample two tail Wilcoxon rank-sum (Mann–Whitney) test");
  // wilcox.test(c(2, 4, ..., 12), c(1, 3, ..., 11)): W = 21, p = 0.699134199134199 (exact).
  EXPECT_EQ(grouped["result"]["W"], 21);
  EXPECT_NEAR(grouped["result"]["p"].get<double>(), 0.699134199134199, 1e-12);
}

}  // namespace
}  // namespace tabulix::server::testing
