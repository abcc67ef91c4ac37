// The glossary API: term lists with their search, and one term's page.
#include "server_test_util.h"

namespace tabulix::server::testing {
namespace {

class GlossaryApi : public ServerFixture {};

std::vector<std::string> keysOf(const json& answer) {
  std::vector<std::string> keys;
  for (const auto& t : answer["terms"]) keys.push_back(t["key"]);
  return keys;
}

TEST_F(GlossaryApi, ListsTheGivenTermsAndSearchesTheirTitles) {
  json all = getJson("/api/glossary");
  ASSERT_EQ(all["terms"].size(), 68u);
  EXPECT_EQ(all["terms"][29], json({{"key", "r2"}, {"title", "R²"}}));
  // The given keys in their order; unknown ones left out.
  EXPECT_EQ(keysOf(getJson("/api/glossary?keys=skew,nosuch,mean")),
            (std::vector<std::string>{"skew", "mean"}));
  // An empty list lists nothing, searched or not.
  EXPECT_TRUE(getJson("/api/glossary?keys=")["terms"].empty());
  EXPECT_TRUE(getJson("/api/glossary?keys=&search=mean")["terms"].empty());
  // Case and diacritics are ignored (QUÄRT, URL-encoded).
  EXPECT_EQ(keysOf(getJson("/api/glossary?search=QU%C3%84RT")), (std::vector<std::string>{"pc25", "pc75"}));
  EXPECT_EQ(keysOf(getJson("/api/glossary?keys=observations,mean,median,rms,mad&search=Mean")),
            (std::vector<std::string>{"mean", "rms", "mad"}));
}

TEST_F(GlossaryApi, TermPageCarriesTitleTextAndRenderedHtml) {
  json t = getJson("/api/glossary/terms/coeffvar");
  EXPECT_EQ(t["title"], "Coeff. Variation");
  EXPECT_EQ(t["text"], "Calculated as the ratio of the standard deviation to the mean");
  EXPECT_EQ(t["html"], "<p>Calculated as the ratio of the standard deviation to the mean</p>\n");
  json missing = getJson("/api/glossary/terms/nosuch", 404);
  EXPECT_EQ(missing["error"], "no such term");
  getJson("/api/glossary/terms/Skew", 404);  // keys are case-sensitive
}

}  // namespace
}  // namespace tabulix::server::testing
