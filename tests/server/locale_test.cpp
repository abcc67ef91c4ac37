// Each browser reads numbers, dates and counts in its own language, whatever
// the server's locale; the browser-facing texts of the server.
#include "server/request_locale.h"
#include "server_test_util.h"

namespace tabulix::server::testing {
namespace {

class Locale : public ServerFixture {
 protected:
  json getIn(const std::string& path, const std::string& languages) {
    auto r = client->Get(path, httplib::Headers{{"Accept-Language", languages}});
    EXPECT_TRUE(r) << path;
    if (!r) return {};
    EXPECT_EQ(r->status, 200) << r->body;
    return json::parse(r->body, nullptr, false);
  }
  std::string meanLine(const json& variables) {
    for (const auto& l : variables["cards"][0]["lines"])
      if (l["text"].get<std::string>().rfind("Mean", 0) == 0) return l["text"];
    return "";
  }
};

TEST(AcceptLanguage, TakesTheFirstUsableLanguageByWeight) {
  EXPECT_EQ(localeFromAcceptLanguage("fr-CH, fr;q=0.9, en;q=0.8"), "fr_CH");
  EXPECT_EQ(localeFromAcceptLanguage("en;q=0.5, de-DE;q=0.9"), "de_DE");
  EXPECT_EQ(localeFromAcceptLanguage("xx-YY, *;q=0.5, it;q=0.1"), "it");
  EXPECT_EQ(localeFromAcceptLanguage("de;q=0, nl;q=0.3"), "nl");  // q=0: not acceptable
  EXPECT_EQ(localeFromAcceptLanguage("de;q=abc, es"), "es");      // a malformed weight counts as 0
  EXPECT_FALSE(localeFromAcceptLanguage("").has_value());
  EXPECT_FALSE(localeFromAcceptLanguage("*").has_value());
  EXPECT_FALSE(localeFromAcceptLanguage(",,;;==").has_value());
  EXPECT_EQ(languageTag("zh_Hant_TW"), "zh-Hant-TW");
}

TEST_F(Locale, NumbersFollowEachRequestsLanguage) {
  writeWorkspace(docs / "w.tbx", {"x"}, {{"1.25"}, {"2.5"}, {"1000"}});
  openWorkspace("w.tbx");
  json fr = getIn("/api/variables", "fr-FR,fr;q=0.9");
  EXPECT_EQ(meanLine(fr), "Mean: 334,6");
  EXPECT_EQ(fr["status"]["locale"], "fr-FR");
  json de = getIn("/api/variables", "de-DE");
  EXPECT_EQ(meanLine(de), "Mean: 334,6");
  EXPECT_EQ(de["status"]["locale"], "de-DE");
  // Without a usable language the server's own locale applies.
  json plain = getJson("/api/variables");
  EXPECT_EQ(meanLine(plain), "Mean: 334.6");
  EXPECT_EQ(plain["status"]["locale"], "en-US");
  EXPECT_EQ(getIn("/api/status", "tlh, xx")["locale"], "en-US");
}

TEST_F(Locale, ImportsDefaultToTheBrowsersDecimalSeparator) {
  EXPECT_EQ(getIn("/api/documents", "de-DE, en;q=0.5")["decimalSeparator"], ",");
  EXPECT_EQ(getIn("/api/documents", "en-GB")["decimalSeparator"], ".");
  EXPECT_EQ(getJson("/api/documents")["decimalSeparator"], ".");
}

TEST_F(Locale, StatusLineCountsInTheSingular) {
  writeWorkspace(docs / "one.tbx", {"a"}, {{"1"}});
  openWorkspace("one.tbx");
  EXPECT_EQ(getJson("/api/status")["statusLine"], "one.tbx, 1 Variable, 1 Observation");
  writeWorkspace(docs / "two.tbx", {"a", "b"}, {{"1", "2"}});
  openWorkspace("two.tbx");
  EXPECT_EQ(getJson("/api/status")["statusLine"], "two.tbx, 2 Variables, 1 Observation");
}

}  // namespace
}  // namespace tabulix::server::testing
