// The Browse API: windows over the rows a filter keeps, the condition
// editor, and editing sessions that other pages do not see until they end.
#include "server_test_util.h"

namespace tabulix::server::testing {
namespace {

class Browse : public ServerFixture {
 protected:
  void SetUp() override {
    ServerFixture::SetUp();
    std::vector<std::vector<std::string>> rows;
    for (int r = 1; r <= 300; ++r) {
      std::string g = r % 3 == 0 ? "Red" : "blue";
      rows.push_back({std::to_string(r), g});
    }
    writeWorkspace(docs / "w.tbx", {"n", "colour"}, rows);
    openWorkspace("w.tbx");
  }
  json window(int first, int count, json wheres = json::array(), std::string session = "") {
    json body = {{"first", first}, {"count", count}, {"wheres", wheres}};
    if (!session.empty()) body["session"] = session;
    return postJson("/api/browse/window", body);
  }
};

TEST_F(Browse, WindowsReachEveryRowFilteredOrNot) {
  json w = window(290, 50);
  EXPECT_EQ(w["total"], 300);
  EXPECT_EQ(w["first"], 290);
  ASSERT_EQ(w["rows"].size(), 10u);
  EXPECT_EQ(w["rows"][9]["num"], 300);
  EXPECT_EQ(w["rows"][9]["cells"], json({"300", "Red"}));
  // n > 100 and colour = red (any case): rows 102, 105, ... 300.
  json wheres = {{{"colNum", 0}, {"op", 2}, {"constant", "100"}},
                 {{"colNum", 1}, {"op", 4}, {"constant", "red"}}};
  w = window(60, 50, wheres);
  EXPECT_EQ(w["total"], 67);
  ASSERT_EQ(w["rows"].size(), 7u);
  EXPECT_EQ(w["rows"][0]["num"], 282);
  EXPECT_EQ(w["filterDescription"], "Filters: n > 100 & colour = red");
  EXPECT_EQ(w["columns"][0]["where"]["constant"], "100");
  // An incomplete condition is no condition.
  w = window(0, 1, json::array({{{"colNum", 0}, {"op", 2}, {"constant", ""}}}));
  EXPECT_EQ(w["total"], 300);
  EXPECT_EQ(w["filterDescription"], "No filter. Tap filter icons in column headers");
  // Wrong types are refused with a message, not a server error.
  postJson("/api/browse/window", {{"first", "ten"}}, 400);
  postJson("/api/browse/window", {{"wheres", {{{"colNum", "0"}, {"op", 2}}}}}, 400);
}

TEST_F(Browse, TheConditionEditor) {
  json c = postJson("/api/browse/condition", {{"colNum", 1}, {"typed", "R"}});
  EXPECT_EQ(c["operators"].size(), 5u);  // Binary: =, ≠, IN, is missing, is not missing
  EXPECT_EQ(c["values"], json({"Red"}));
  c = postJson("/api/browse/condition",
               {{"colNum", 0}, {"typed", ""}, {"where", {{"op", 3}, {"constant", "x"}}}});
  EXPECT_EQ(c["placeholder"], "Please enter a number");
  EXPECT_FALSE(c["canApply"]);
  EXPECT_EQ(c["summary"], "Browse filter: n ≥ x");
  EXPECT_EQ(c["values"].size(), 300u);
  postJson("/api/browse/condition", {{"colNum", 9}}, 404);
}

TEST_F(Browse, EditsStayInTheirSessionUntilItEnds) {
  std::string a = postJson("/api/browse/edit/begin", json::object())["session"];
  std::string b = postJson("/api/browse/edit/begin", json::object())["session"];
  EXPECT_TRUE(postJson("/api/browse/edit/cell",
                       {{"session", a}, {"colNum", 0}, {"rowNum", 2}, {"text", "two"}})["changed"]);
  EXPECT_FALSE(postJson("/api/browse/edit/cell",
                        {{"session", a}, {"colNum", 1}, {"rowNum", 3}, {"text", "Red"}})["changed"]);
  EXPECT_TRUE(postJson("/api/browse/edit/cell",
                       {{"session", b}, {"colNum", 1}, {"rowNum", 4}, {"text", "green"}})["changed"]);
  postJson("/api/browse/edit/cell", {{"session", a}, {"colNum", 0}, {"rowNum", 999}, {"text", "x"}}, 404);
  // Session a sees its own edit; another page sees the saved state.
  EXPECT_EQ(window(1, 1, json::array(), a)["rows"][0]["cells"][0], "two");
  EXPECT_EQ(window(1, 1)["rows"][0]["cells"][0], "2");
  // Renames are stored at once; a taken name is refused.
  EXPECT_FALSE(
      postJson("/api/browse/edit/rename", {{"session", a}, {"colNum", 0}, {"name", "colour"}})["accepted"]);
  EXPECT_TRUE(
      postJson("/api/browse/edit/rename", {{"session", a}, {"colNum", 0}, {"name", "number"}})["accepted"]);
  // Both sessions end; neither loses the other's edits.
  for (const std::string& s : {a, b}) {
    json end = postJson("/api/browse/edit/end", {{"session", s}});
    EXPECT_EQ(end["title"], "Processing Changed Variables");
    json job = waitForJob(end["job"]);
    ASSERT_EQ(job["result"]["variables"].size(), 1u);
  }
  json w = window(1, 3);
  EXPECT_EQ(w["rows"][0]["cells"], json({"two", "blue"}));
  EXPECT_EQ(w["rows"][2]["cells"], json({"4", "green"}));
  EXPECT_EQ(w["columns"][0]["name"], "number");
  // The statistics followed the edits: 299 numbers left in n, three levels in colour.
  json vars = getJson("/api/variables");
  EXPECT_EQ(vars["cards"][0]["lines"][0]["text"], "Observations: 299");
  EXPECT_EQ(vars["cards"][1]["lines"][1]["text"], "Unique Values: 3");
  EXPECT_EQ(vars["cards"][1]["typeLine"], "Type: Categorical");
  // A finished session is gone.
  postJson("/api/browse/edit/cell", {{"session", a}, {"colNum", 0}, {"rowNum", 2}, {"text", "x"}}, 404);
}

// Undo and redo through the API: the step's name in the status and the
// answer, the grid and the cards as before the step, refused while typed
// cells wait in a session, 409 when there is nothing.
TEST_F(Browse, UndoAndRedoWaitForTypedCellsAndNameTheStep) {
  EXPECT_TRUE(getJson("/api/history")["history"]["undo"].is_null());
  postJson("/api/history/undo", json::object(), 409);
  std::string s = postJson("/api/browse/edit/begin", json::object())["session"];
  postJson("/api/browse/edit/cell", {{"session", s}, {"colNum", 0}, {"rowNum", 1}, {"text", "100"}});
  postJson("/api/browse/edit/cell", {{"session", s}, {"colNum", 0}, {"rowNum", 2}, {"text", ""}});
  json refused = postJson("/api/history/undo", json::object(), 409);
  EXPECT_EQ(refused["error"], "editing");
  json end = postJson("/api/browse/edit/end", {{"session", s}});
  waitForJob(end["job"]);
  json edited = getJson("/api/variables");
  EXPECT_EQ(edited["cards"][0]["lines"][0]["text"], "Observations: 299");
  deleteJson("/api/variables/" + std::to_string(edited["cards"][1]["id"].get<int64_t>()));
  EXPECT_EQ(getJson("/api/history")["history"]["undo"], "delete variable colour");

  json undone = postJson("/api/history/undo", json::object());
  EXPECT_EQ(undone["message"], "Undid: delete variable colour");
  EXPECT_EQ(undone["status"]["history"]["undo"], "edit 2 cells of n");
  EXPECT_EQ(undone["status"]["history"]["redo"], "delete variable colour");
  EXPECT_EQ(getJson("/api/variables")["cards"], edited["cards"]);
  EXPECT_EQ(postJson("/api/history/undo", json::object())["step"], "edit 2 cells of n");
  EXPECT_EQ(window(0, 2)["rows"][1]["cells"], json({"2", "blue"}));
  EXPECT_EQ(getJson("/api/variables")["cards"][0]["lines"][0]["text"], "Observations: 300");
  EXPECT_EQ(postJson("/api/history/redo", json::object())["step"], "edit 2 cells of n");
  EXPECT_EQ(window(0, 2)["rows"][0]["cells"], json({"100", "blue"}));
  EXPECT_EQ(getJson("/api/variables")["cards"], edited["cards"]);
  json steps = getJson("/api/history")["steps"];
  ASSERT_EQ(steps.size(), 2u);
  EXPECT_TRUE(steps[1]["undone"]);
}

}  // namespace
}  // namespace tabulix::server::testing
