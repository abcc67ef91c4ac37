#include "glossary/glossary.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

namespace tabulix {
namespace {

std::vector<std::string> titles(const std::vector<std::string>& keys) {
  std::vector<std::string> out;
  for (const auto& k : keys) out.push_back(Glossary::titleForTerm(k).value_or("?"));
  return out;
}

TEST(Glossary, TermsKeysAndTitlesInOrder) {
  const auto& d = Glossary::dictTerms();
  // The first 36 are the application's own terms; the analyses' added figures follow.
  ASSERT_EQ(d.size(), 68u);
  EXPECT_EQ(d.front().key, "observations");
  EXPECT_EQ(d[3].key, "meanCI");
  EXPECT_EQ(d[3].title, "95% CI of Mean");
  EXPECT_EQ(d[29].title, "R²");
  EXPECT_EQ(d[35].key, "AIC");
  EXPECT_EQ(d.back().key, "friedman");
  std::set<std::string> keys;
  for (const auto& e : d) {
    EXPECT_TRUE(keys.insert(e.key).second) << "duplicate key " << e.key;
    EXPECT_FALSE(e.title.empty()) << e.key;
    // One to three sentences, no markup.
    EXPECT_FALSE(e.text.empty()) << e.key;
    size_t sentences = 1;
    for (size_t i = 0; i + 1 < e.text.size(); ++i)
      if (e.text[i] == '.' && e.text[i + 1] == ' ') ++sentences;
    EXPECT_LE(sentences, 3u) << e.key;
    EXPECT_EQ(e.text.find_first_of("*_`#<>[]"), std::string::npos) << e.key;
  }
  // The variable detail lists its 23 keys, each in the dictionary, in dictionary order.
  const auto& vd = Glossary::variableDetailTerms();
  ASSERT_EQ(vd.size(), 23u);
  for (size_t i = 0; i < vd.size(); ++i) EXPECT_EQ(vd[i], d[i].key);
}

TEST(Glossary, AttributesOfKnownAndUnknownKeys) {
  EXPECT_EQ(Glossary::titleForTerm("coeffvar"), "Coeff. Variation");
  EXPECT_EQ(Glossary::textForTerm("coeffvar"),
            "Calculated as the ratio of the standard deviation to the mean");
  EXPECT_EQ(Glossary::attribute("title", "adjustedR2"), "Adjusted-R²");
  EXPECT_FALSE(Glossary::attribute("title", "Mean").has_value());  // keys are case-sensitive
  EXPECT_FALSE(Glossary::titleForTerm("nosuchterm").has_value());
  EXPECT_FALSE(Glossary::textForTerm("").has_value());
  EXPECT_FALSE(Glossary::attribute("colour", "mean").has_value());
}

TEST(Glossary, SearchIgnoresCaseAndDiacriticsAndKeepsTheListOrder) {
  auto all = Glossary::allTerms();
  std::vector<std::string> quartiles = {"1st Quartile", "3rd Quartile"};
  EXPECT_EQ(titles(Glossary::subsetOfTerms(all, "quart")), quartiles);
  EXPECT_EQ(titles(Glossary::subsetOfTerms(all, "QUART")), quartiles);
  EXPECT_EQ(titles(Glossary::subsetOfTerms(all, "quärt")), quartiles);
  EXPECT_EQ(titles(Glossary::subsetOfTerms(all, "ＱＵＡＲＴ")).size(),
            0u);  // full-width letters are other letters
  EXPECT_EQ(titles(Glossary::subsetOfTerms(Glossary::variableDetailTerms(), "mean")),
            (std::vector<std::string>{"Mean", "95% CI of Mean", "Root Mean Square", "Mean Abs Dev"}));
  // Titles with symbols are found by them.
  EXPECT_EQ(Glossary::subsetOfTerms(all, "r²"), (std::vector<std::string>{"r2", "adjustedR2", "pseudoR2", "nagelkerke"}));
  // Only the given keys are searched, in their order; unknown keys never match.
  EXPECT_EQ(Glossary::subsetOfTerms({"pc75", "nosuchterm", "pc25"}, "Quartile"),
            (std::vector<std::string>{"pc75", "pc25"}));
  EXPECT_TRUE(Glossary::subsetOfTerms({}, "mean").empty());
  EXPECT_TRUE(Glossary::subsetOfTerms({"nosuchterm"}, "").empty());
  EXPECT_TRUE(Glossary::subsetOfTerms(all, "kurtosis skew").empty());
  // The empty search keeps the whole list.
  EXPECT_EQ(Glossary::subsetOfTerms(all, ""), all);
}

TEST(Glossary, RendersTextsAsSafeHtmlWithTheApplicationsImages) {
  EXPECT_EQ(renderGlossaryText("The middle value of your variable"),
            "<p>The middle value of your variable</p>\n");
  EXPECT_EQ(renderGlossaryText("Values < 0 & *more*"), "<p>Values &lt; 0 &amp; <em>more</em></p>\n");
  EXPECT_EQ(renderGlossaryText("See ![a QQ plot](qqplot) here"),
            "<p>See <img src=\"/glossary/qqplot.svg\" alt=\"a QQ plot\" /> here</p>\n");
  // A name that is not one of the application's images shows its alt text;
  // outside addresses are never loaded.
  EXPECT_EQ(renderGlossaryText("![chart](https://example.com/x.png)"), "<p>chart</p>\n");
  EXPECT_EQ(renderGlossaryText("![](nosuchimage) and ![skew]( skew )"),
            "<p>and <img src=\"/glossary/skew.svg\" alt=\"skew\" /></p>\n");
  // Raw HTML and script links are dropped.
  std::string html = renderGlossaryText("<script>alert(1)</script>\n\n[x](javascript:alert(1))");
  EXPECT_EQ(html.find("<script"), std::string::npos);
  EXPECT_EQ(html.find("javascript:"), std::string::npos);
}

TEST(Glossary, EveryImageIsShippedWithTheWebInterface) {
  const char* src = std::getenv("TABULIX_SOURCE_DIR");
  std::filesystem::path root = src ? src : TABULIX_SOURCE_DIR;
  for (const auto& img : glossaryImages()) {
    ASSERT_EQ(img.url.front(), '/');
    EXPECT_TRUE(std::filesystem::exists(root / "web/public" / img.url.substr(1))) << img.url;
  }
}

}  // namespace
}  // namespace tabulix
