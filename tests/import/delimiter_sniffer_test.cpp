// The import sheet's first look at a file: which delimiter and decimal
// separator fit its first lines.
#include "import/delimiter_sniffer.h"

#include <gtest/gtest.h>

#include "textio/text_encoding.h"

namespace tabulix {
namespace {

DelimitedSniff sniff(std::string_view bytes, char16_t fallback = u',', const std::string& decimal = ".",
                     bool complete = true) {
  return sniffDelimitedBytes(bytes, complete, fallback, decimal, 3);
}

TEST(DelimiterSniffer, PicksTheDelimiterThatSplitsEveryLineAlike) {
  // Semicolons with decimal commas: by comma each line would split anew.
  DelimitedSniff s = sniff("name;height;weight\nAnna;1,62;55,5\nBo;1,80;80,25\nCy;1,75;70\n");
  EXPECT_TRUE(s.delimiterFound);
  EXPECT_EQ(s.delimiter, u';');
  EXPECT_EQ(s.decimalSeparator, ",");
  EXPECT_EQ(s.lines, (std::vector<std::string>{"name;height;weight", "Anna;1,62;55,5", "Bo;1,80;80,25"}));
  EXPECT_EQ(s.encoding, "UTF-8");

  // Tabs, with decimal points, from a .txt whose fallback is tab as well.
  s = sniff("a\tb\n1.5\t2\n3.25\t4\n", u'\t', ",");
  EXPECT_EQ(s.delimiter, u'\t');
  EXPECT_EQ(s.decimalSeparator, ".");

  // Commas inside quotes do not split; pipes do.
  s = sniff("\"Doe, J\"|7\n\"Roe, K\"|8\n", u'\t');
  EXPECT_EQ(s.delimiter, u'|');
  EXPECT_EQ(s.lines[0], "\"Doe, J\"|7");

  // A tie keeps the fallback; a single column finds nothing and keeps it too.
  s = sniff("a,b;c\n1,2;3\n", u';');
  EXPECT_EQ(s.delimiter, u';');
  s = sniff("value\n1\n2\n", u'\t', ",");
  EXPECT_FALSE(s.delimiterFound);
  EXPECT_EQ(s.delimiter, u'\t');
  EXPECT_EQ(s.decimalSeparator, ",");  // integers decide nothing
}

TEST(DelimiterSniffer, ReadsTheFileEncodingAndIgnoresACutLastLine) {
  const std::string le = encodeText(u"x;y\n1,5;2\n2,5;3\n", TextEncoding::UTF16LE);
  DelimitedSniff s = sniff(le);
  EXPECT_EQ(s.encoding, "UTF-16LE");
  EXPECT_EQ(s.delimiter, u';');
  EXPECT_EQ(s.decimalSeparator, ",");

  // The bytes end inside a line that is not shown nor counted.
  s = sniffDelimitedBytes("a,b\n1,2\n3;4;5;6;7", false, u',', ".", 8);
  EXPECT_EQ(s.delimiter, u',');
  EXPECT_EQ(s.lines, (std::vector<std::string>{"a,b", "1,2"}));

  s = sniff("");
  EXPECT_TRUE(s.lines.empty());
  EXPECT_FALSE(s.delimiterFound);
}

}  // namespace
}  // namespace tabulix
