// The JSON API over HTTP: the open workspace, Browse, Variables, help tips,
// and what a bad request does (and does not do) to the server.
#include <set>

#include "server_test_util.h"

namespace tabulix::server::testing {
namespace {

class Api : public ServerFixture {};

// prefix + n, built by appending (GCC 12 warns wrongly about "x" + to_string at -O3).
std::string numbered(std::string prefix, long long n) {
  prefix += std::to_string(n);
  return prefix;
}

TEST_F(Api, StatusWithoutWorkspaceAndAfterOpening) {
  json s = getJson("/api/status");
  EXPECT_TRUE(s["workspace"].is_null());
  EXPECT_EQ(s["statusLine"], "None, 0 Variables, 0 Observations");
  EXPECT_EQ(s["statusLineTablet"], "Open Workspace: None, Source File: N/A, Variables: 0, Observations: 0");
  writeWorkspace(docs / "w.tbx", {"a", "b"}, {{"1", "x"}, {"2", "y"}, {"3", "z"}});
  uint64_t before = s["generation"];
  openWorkspace("w.tbx");
  s = getJson("/api/status");
  EXPECT_EQ(s["workspace"], "w.tbx");
  EXPECT_EQ(s["statusLine"], "w.tbx, 2 Variables, 3 Observations");
  EXPECT_GT(s["generation"].get<uint64_t>(), before);  // pages reset their other tabs
}

TEST_F(Api, BrowseShowsCellsExactlyAsStoredInNumOrder) {
  writeWorkspace(docs / "w.tbx", {"first", "second"}, {{" 1.50 ", "a,b"}, {"", "\"q\""}, {"7", "é"}});
  openWorkspace("w.tbx");
  // Reorder the display order: the grid still follows num.
  json g = getJson("/api/browse");
  ASSERT_EQ(g["columns"].size(), 2u);
  EXPECT_EQ(g["columns"][0]["name"], "first");
  EXPECT_EQ(g["columns"][1]["name"], "second");
  ASSERT_EQ(g["rows"].size(), 3u);
  EXPECT_EQ(g["rows"][0]["num"], 1);
  EXPECT_EQ(g["rows"][0]["cells"], json({" 1.50 ", "a,b"}));
  EXPECT_EQ(g["rows"][1]["cells"], json({"", "\"q\""}));
  EXPECT_EQ(g["rows"][2]["cells"], json({"7", "é"}));
  EXPECT_EQ(g["filterDescription"], "No filter. Tap filter icons in column headers");
  EXPECT_EQ(g["status"]["statusLine"], "w.tbx, 2 Variables, 3 Observations");
  EXPECT_FALSE(g["truncated"]);
}

TEST_F(Api, BrowseStopsAtTenThousandCellsInRowOrder) {
  std::vector<std::vector<std::string>> rows;
  for (int r = 1; r <= 4000; ++r) rows.push_back({std::to_string(r), numbered("b", r), numbered("c", r)});
  writeWorkspace(docs / "big.tbx", {"a", "b", "c"}, rows, false);
  openWorkspace("big.tbx");
  json g = getJson("/api/browse");
  EXPECT_EQ(g["cellCount"], 10000);
  EXPECT_EQ(g["rowCount"], 4000);
  EXPECT_TRUE(g["truncated"]);
  ASSERT_EQ(g["rows"].size(), 3334u);
  // 3333 full rows, then the first cell of row 3334 only.
  EXPECT_EQ(g["rows"][3332]["cells"], json({"3333", "b3333", "c3333"}));
  EXPECT_EQ(g["rows"][3333]["num"], 3334);
  EXPECT_EQ(g["rows"][3333]["cells"], json({"3334", nullptr, nullptr}));
}

TEST_F(Api, BrowseKeepsRowOrderWhateverTheRowNumbers) {
  {
    // Rows 1-3000 and 5001-8000: the first 10000 cells are rows 1-3000, then
    // 333 rows from 5001 on and the first cell of row 5334.
    Model m;
    ASSERT_NO_THROW(m.openStore(docs / "gaps.tbx"));
    addColumns(m, {"a", "b", "c"});
    auto cols = columns(m);
    for (uint32_t r = 1; r <= 8000; ++r)
      if (r <= 3000 || r > 5000) addRow(m, r, std::vector<std::string>{numbered("a", r), "b", "c"}, cols);
    m.saveContext();
    m.closeStores();
  }
  openWorkspace("gaps.tbx");
  json g = getJson("/api/browse");
  EXPECT_EQ(g["cellCount"], 10000);
  EXPECT_TRUE(g["truncated"]);
  ASSERT_EQ(g["rows"].size(), 3334u);
  EXPECT_EQ(g["rows"][2999]["num"], 3000);
  EXPECT_EQ(g["rows"][3000]["num"], 5001);
  EXPECT_EQ(g["rows"][3000]["cells"][0], "a5001");
  EXPECT_EQ(g["rows"][3333]["num"], 5334);
  EXPECT_EQ(g["rows"][3333]["cells"], json({"a5334", nullptr, nullptr}));
}

TEST_F(Api, VariableCardsFromCacheThenRefreshed) {
  std::vector<std::vector<std::string>> rows;
  for (int r = 1; r <= 10; ++r)
    rows.push_back({std::to_string(r * 10), r <= 7 ? "red" : "blue", "only", "1/2/2020"});
  writeWorkspace(docs / "w.tbx", {"Âge", "colour", "single", "when"}, rows);
  openWorkspace("w.tbx");
  json v = getJson("/api/variables");
  ASSERT_EQ(v["cards"].size(), 4u);
  EXPECT_EQ(v["total"], 4);
  EXPECT_TRUE(v["canAdd"]);
  json age = v["cards"][0];
  EXPECT_EQ(age["typeLine"], "Type: Numeric");
  EXPECT_TRUE(age["cached"]);
  std::vector<std::string> lines;
  for (auto& l : age["lines"]) lines.push_back(l["text"]);
  EXPECT_EQ(lines, (std::vector<std::string>{"Observations: 10", "Unique Values: 10", "Min: 10", "Max: 100",
                                             "Median: 55", "Mean: 55"}));
  EXPECT_EQ(v["cards"][1]["typeLine"], "Type: Binary");

  // The background computation adds the frequent values.
  std::vector<int64_t> ids;
  for (auto& c : v["cards"]) ids.push_back(c["id"]);
  json job = postJson("/api/variables/refresh", {{"ids", ids}});
  json done = waitForJob(job["job"]);
  ASSERT_EQ(done["events"].size(), 4u);
  json colour = done["events"][1]["lines"];
  EXPECT_EQ(colour[2]["text"], " Values");
  EXPECT_EQ(colour[3]["value"], "red");
  EXPECT_EQ(colour[3]["count"], "7");
  EXPECT_EQ(colour[3]["percent"], "70%");
  EXPECT_EQ(colour[4]["value"], "blue");
  // One level: the second frequency line stays empty.
  json single = done["events"][2]["lines"];
  EXPECT_EQ(single[3]["value"], "only");
  EXPECT_EQ(single[4]["text"], "");
  EXPECT_EQ(done["events"][3]["lines"][0]["text"], "Observations: 10");

  // Search ignores case and diacritics.
  json found = getJson("/api/variables?search=AGE");
  ASSERT_EQ(found["cards"].size(), 1u);
  EXPECT_EQ(found["cards"][0]["name"], "Âge");
  EXPECT_EQ(getJson("/api/variables?search=zzz")["cards"].size(), 0u);
}

TEST_F(Api, ANewerRefreshOfAScreenTakesOverWhatIsLeft) {
  std::vector<std::string> names;
  std::vector<std::vector<std::string>> rows(300);
  for (int c = 0; c < 60; ++c) names.push_back(numbered("v", c));
  for (int r = 0; r < 300; ++r)
    for (int c = 0; c < 60; ++c) rows[r].push_back(std::to_string((r * 7 + c) % 50));
  writeWorkspace(docs / "w.tbx", names, rows);
  openWorkspace("w.tbx");
  std::vector<int64_t> ids;
  json cards = getJson("/api/variables");
  for (auto& c : cards["cards"]) ids.push_back(c["id"]);
  ASSERT_EQ(ids.size(), 60u) << cards.dump().substr(0, 500);
  std::vector<int64_t> first(ids.begin(), ids.end() - 1);
  json a = postJson("/api/variables/refresh", {{"screen", "s1"}, {"ids", first}});
  json b = postJson("/api/variables/refresh", {{"screen", "s1"}, {"ids", {ids.back()}}});
  // Another screen's refresh is its own.
  json other = postJson("/api/variables/refresh", {{"screen", "s2"}, {"ids", {ids.front()}}});
  // However far the first had got, every card is summarised exactly once.
  std::multiset<int64_t> done;
  for (const json& j : {waitForJob(a["job"]), waitForJob(b["job"])})
    for (auto& e : j["events"]) done.insert(e["id"].get<int64_t>());
  EXPECT_EQ(done, std::multiset<int64_t>(ids.begin(), ids.end()));
  EXPECT_EQ(waitForJob(other["job"])["events"].size(), 1u);
  // An empty refresh stops the screen's refresh and starts nothing.
  json c = postJson("/api/variables/refresh", {{"screen", "s1"}, {"ids", ids}});
  EXPECT_TRUE(
      postJson("/api/variables/refresh", {{"screen", "s1"}, {"ids", json::array()}})["job"].is_null());
  EXPECT_TRUE(waitForJob(c["job"])["finished"]);
}

TEST_F(Api, CardsWithoutCompleteCacheSayCalculating) {
  writeWorkspace(docs / "w.tbx", {"x"}, {{"1"}, {"2"}}, false);
  {
    // A numeric type without statistics: the cache is incomplete.
    Model m;
    m.openStore(docs / "w.tbx");
    columns(m)[0]->type = 3;
    m.saveContext();
    m.closeStores();
  }
  openWorkspace("w.tbx");
  json card = getJson("/api/variables")["cards"][0];
  EXPECT_FALSE(card["cached"]);
  std::vector<std::string> lines;
  for (auto& l : card["lines"]) lines.push_back(l["text"]);
  EXPECT_EQ(lines,
            (std::vector<std::string>{"Calculating...", "Min: ...", "Max: ...", "Median: ...", "Mean: ..."}));
}

TEST_F(Api, VariableLimitIsCheckedAgainAfterDeleting) {
  std::vector<std::string> names;
  for (int i = 0; i < 500; ++i) names.push_back(numbered("v", i));
  writeWorkspace(docs / "wide.tbx", names, {}, false);
  openWorkspace("wide.tbx");
  json v = getJson("/api/variables");
  EXPECT_FALSE(v["canAdd"]);
  json refused = postJson("/api/variables", json::object(), 409);
  EXPECT_EQ(refused["alert"]["title"], "500 Variable Limit Reached");
  EXPECT_EQ(refused["alert"]["message"], "To make room for a new variable please delete an existing one.");
  EXPECT_EQ(refused["alert"]["buttons"], json({"OK"}));
  EXPECT_EQ(getJson("/api/variables")["total"], 500);

  json del = deleteJson(numbered("/api/variables/", v["cards"][499]["id"].get<int64_t>()));
  EXPECT_TRUE(del["canAdd"]);
  json added = postJson("/api/variables", json::object());
  EXPECT_EQ(added["card"]["name"], "Var500");  // the freed number is reused after the last
  EXPECT_FALSE(added["canAdd"]);
  deleteJson("/api/variables/99999999", 404);
}

TEST_F(Api, HelpTipsCountTheirShowings) {
  EXPECT_TRUE(getJson("/api/help/import")["show"]);
  postJson("/api/help/import/shown", json::object());
  EXPECT_TRUE(getJson("/api/help/import")["show"]);
  postJson("/api/help/import/shown", json::object());
  json h = getJson("/api/help/import");
  EXPECT_FALSE(h["show"]);
  EXPECT_EQ(h["timesSeen"], 2);
  EXPECT_TRUE(getJson("/api/help/browse")["show"]);
  getJson("/api/help/other", 404);
}

TEST_F(Api, StoreFailureShowsTheErrorAlertAndTheServerGoesOn) {
  std::ofstream(docs / "broken.tbx") << "this is not a workspace";
  json r = postJson("/api/workspaces/open", {{"name", "broken.tbx"}}, 500);
  EXPECT_EQ(r["message"], "The file is not a Tabulix workspace");
  ASSERT_TRUE(r.contains("alerts"));
  EXPECT_EQ(r["alerts"][0]["title"], "Error!");
  // The real reason, and what to do in a browser.
  EXPECT_EQ(r["alerts"][0]["message"],
            "Tabulix can't continue.\nThe file is not a Tabulix workspace.\nReload the page or open another "
            "workspace.");
  EXPECT_EQ(r["alerts"][0]["buttons"], json({"OK"}));
  // Bad requests are answered and forgotten.
  auto bad = client->Post("/api/workspaces/open", writeHeaders(), "{not json", "application/json");
  ASSERT_TRUE(bad);
  EXPECT_EQ(bad->status, 400);
  EXPECT_EQ(json::parse(bad->body)["message"], "the request body is not a JSON object");
  EXPECT_EQ(getJson("/api/nothing-here", 404)["error"], "not found");
  EXPECT_EQ(getJson("/api/status")["workspace"], nullptr);
}

TEST_F(Api, AboutListsTheLibraries) {
  json a = getJson("/api/about");
  EXPECT_EQ(a["name"], "Tabulix");
  EXPECT_FALSE(a["version"].get<std::string>().empty());
  bool httplib = false;
  for (auto& d : a["dependencies"]) httplib |= d["name"] == "cpp-httplib" && d["licence"] == "MIT";
  EXPECT_TRUE(httplib);
}

// The card refresh computes on a worker but only the shared model writes:
// the figures reach the shared model (the card is cached from then on), and
// a later save of the same column by the shared model keeps them.
TEST_F(Api, RefreshedStatisticsAreKeptByTheSharedModel) {
  writeWorkspace(docs / "w.tbx", {"gone", "x"}, {{"a", "1"}, {"b", "3"}}, false);
  {
    Model m;
    m.openStore(docs / "w.tbx");
    columns(m)[1]->type = 3;
    m.saveContext();
  }
  openWorkspace("w.tbx");
  json cards = getJson("/api/variables")["cards"];
  ASSERT_FALSE(cards[1]["cached"]);
  json done = waitForJob(postJson("/api/variables/refresh", {{"ids", {cards[1]["id"]}}})["job"]);
  EXPECT_EQ(done["events"][0]["lines"][2]["text"], "Min: 1");
  json card = getJson("/api/variables")["cards"][1];
  EXPECT_TRUE(card["cached"]);
  // Removing the first variable moves x to order 0: the shared model saves x.
  deleteJson("/api/variables/" + std::to_string(cards[0]["id"].get<int64_t>()));
  postJson("/api/workspaces/open", {{"name", "w.tbx"}});
  card = getJson("/api/variables")["cards"][0];
  EXPECT_EQ(card["name"], "x");
  EXPECT_TRUE(card["cached"]);
  EXPECT_EQ(card["lines"][3]["text"], "Max: 3");
}

}  // namespace
}  // namespace tabulix::server::testing
