// The access token, Host header check and confinement of file names.
#include "server/security.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "server/text_match.h"

namespace fs = std::filesystem;
using namespace tabulix::server;

TEST(Security, TokensAreLongRandomAndCompared) {
  std::set<std::string> seen;
  for (int i = 0; i < 50; ++i) {
    std::string t = randomToken();
    ASSERT_EQ(t.size(), 64u);  // 256 bits in hex
    EXPECT_EQ(t.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_TRUE(seen.insert(t).second);
  }
  std::string t = randomToken();
  EXPECT_TRUE(constantTimeEquals(t, t));
  EXPECT_FALSE(constantTimeEquals(t.substr(0, 63), t));
  EXPECT_FALSE(constantTimeEquals(t + "0", t));
  EXPECT_FALSE(constantTimeEquals("", t));
  std::string flipped = t;
  flipped[40] = flipped[40] == 'a' ? 'b' : 'a';
  EXPECT_FALSE(constantTimeEquals(flipped, t));
}

TEST(Security, LoopbackAndCookies) {
  for (const char* h : {"127.0.0.1", "127.3.2.1", "localhost", "LOCALHOST", "::1", "[::1]"})
    EXPECT_TRUE(isLoopbackHost(h)) << h;
  for (const char* h : {"0.0.0.0", "192.168.1.4", "10.0.0.1", "::", "example.com", "128.0.0.1"})
    EXPECT_FALSE(isLoopbackHost(h)) << h;
  EXPECT_EQ(cookieValue("a=1; tabulix_token=xyz; b=2", "tabulix_token"), "xyz");
  EXPECT_EQ(cookieValue("tabulix_token=xyz", "tabulix_token"), "xyz");
  EXPECT_EQ(cookieValue("xtabulix_token=1", "tabulix_token"), std::nullopt);
  EXPECT_EQ(cookieValue("", "tabulix_token"), std::nullopt);
}

TEST(Security, HostHeaderMustNameThisServer) {
  HostCheck loop("127.0.0.1", 8765);
  EXPECT_TRUE(loop.allows("127.0.0.1:8765"));
  EXPECT_TRUE(loop.allows("localhost:8765"));
  EXPECT_TRUE(loop.allows("LocalHost:8765"));
  EXPECT_TRUE(loop.allows("[::1]:8765"));
  // Rebinding: a foreign name, even on the right port, is refused.
  EXPECT_FALSE(loop.allows("evil.example:8765"));
  EXPECT_FALSE(loop.allows("127.0.0.1.evil.example:8765"));
  EXPECT_FALSE(loop.allows("127.0.0.1:9999"));
  EXPECT_FALSE(loop.allows("127.0.0.1"));  // port 80 implied
  EXPECT_FALSE(loop.allows(""));
  EXPECT_FALSE(loop.allows("127.0.0.1:87a5"));
  EXPECT_FALSE(loop.allows("[::1"));

  HostCheck lan("192.168.7.20", 80);
  EXPECT_TRUE(lan.allows("192.168.7.20"));
  EXPECT_TRUE(lan.allows("192.168.7.20:80"));
  EXPECT_FALSE(lan.allows("192.168.7.21"));

  // A wildcard server answers to the machine's own addresses.
  HostCheck any("0.0.0.0", 8000);
  EXPECT_TRUE(any.allows("127.0.0.1:8000"));
  EXPECT_FALSE(any.allows("evil.example:8000"));
}

class Confinement : public ::testing::Test {
 protected:
  void SetUp() override {
    base = fs::temp_directory_path() / (std::string("tabulix-confine-") + std::to_string(::getpid()));
    fs::remove_all(base);
    docs = base / "docs";
    fs::create_directories(docs / "Inbox");
    std::ofstream(docs / "a.csv") << "x\n1\n";
    std::ofstream(base / "secret.csv") << "secret\n";
    fs::create_symlink(base / "secret.csv", docs / "link.csv");
    fs::create_symlink(base, docs / "up");
    fs::create_symlink(docs / "a.csv", docs / "inside.csv");
  }
  void TearDown() override { fs::remove_all(base); }
  fs::path base, docs;
};

TEST_F(Confinement, NamesStayInsideTheDocumentsFolder) {
  auto canonicalDocs = fs::canonical(docs);
  EXPECT_EQ(confinedPath(docs, "a.csv"), canonicalDocs / "a.csv");
  EXPECT_EQ(confinedPath(docs, "new.tbx"), canonicalDocs / "new.tbx");  // need not exist
  EXPECT_EQ(confinedPath(docs, "Inbox/b.csv"), canonicalDocs / "Inbox" / "b.csv");
  // A link to a file inside is followed to that file.
  EXPECT_EQ(confinedPath(docs, "inside.csv"), canonicalDocs / "a.csv");
  EXPECT_EQ(confinedPath(docs, "up/docs/a.csv"), canonicalDocs / "a.csv");  // out and back in
  // The URL layer decodes once; a name that still reads %2e%2e is a plain
  // (odd) file name inside the folder, never a parent.
  EXPECT_EQ(confinedPath(docs, "%2e%2e"), canonicalDocs / "%2e%2e");

  for (const char* bad : {"../secret.csv", "..", ".", "Inbox/../../secret.csv", "Inbox/../a.csv", "./a.csv",
                          "/etc/passwd", "//etc/passwd", "", "Inbox/", "link.csv", "up/secret.csv"})
    EXPECT_EQ(confinedPath(docs, bad), std::nullopt) << bad;
  EXPECT_EQ(confinedPath(docs, std::string("a.csv\0x", 7)), std::nullopt);
}

TEST(TextMatch, IgnoresCaseAndDiacritics) {
  EXPECT_TRUE(containsIgnoringCaseAndDiacritics("age", "AGE"));
  EXPECT_TRUE(containsIgnoringCaseAndDiacritics("Élève âgé", "eleve age"));
  EXPECT_TRUE(containsIgnoringCaseAndDiacritics("Straße", "STRASSE"));  // full case folding
  EXPECT_TRUE(containsIgnoringCaseAndDiacritics("anything", ""));
  EXPECT_FALSE(containsIgnoringCaseAndDiacritics("weight", "height"));
}
