// The kind registered from longest_text_kind.cpp over HTTP: described by
// /api/kinds, computed by /api/analyze, its request checked from its
// description.
#include "../server/server_test_util.h"

namespace tabulix::server::testing {
namespace {

class KindPlugin : public ServerFixture {};

TEST_F(KindPlugin, ARegisteredKindIsDescribedCheckedAndComputed) {
  writeWorkspace(docs / "w.tbx", {"word", "n"}, {{"ab", "1"}, {"naïve", "2"}, {"xyz", "3"}});
  openWorkspace("w.tbx");
  json kinds = getJson("/api/kinds");
  auto it = std::find_if(kinds.begin(), kinds.end(), [](const json& k) { return k["name"] == "longest"; });
  ASSERT_NE(it, kinds.end());
  EXPECT_EQ((*it)["settings"][0]["values"], json({"characters", "bytes"}));

  auto analyze = [&](const json& settings) {
    return waitForJob(postJson("/api/analyze", {{"kind", "longest"}, {"left", 0}, {"settings", settings}})["job"])
        ["result"];
  };
  json bytes = analyze({{"unit", "bytes"}});
  ASSERT_TRUE(bytes.contains("result")) << bytes.dump();
  EXPECT_EQ(bytes["result"]["longest"], "naïve");
  EXPECT_EQ(bytes["result"]["length"], 6);
  EXPECT_NE(bytes["result"]["command"].get<std::string>().find("longest --left word --set unit=bytes"),
            std::string::npos);
  EXPECT_EQ(analyze(json::object())["result"]["length"], 5);
  // The description refuses a value it does not list, in the setting's words.
  EXPECT_EQ(analyze({{"unit", "words"}})["error"],
            "The setting unit (Count) must be one of characters, bytes, not \"words\".");
}

}  // namespace
}  // namespace tabulix::server::testing
