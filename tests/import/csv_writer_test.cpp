// The delimited-text writer: quoting, line ends, byte-order marks, comments,
// and the round trip of random fields through the parser.
#include "textio/csv_writer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <limits>
#include <random>
#include <sstream>

#include "tests/import/csv_test_util.h"

namespace tabulix {
namespace {

std::string written(const std::function<void(CsvWriter&)>& body, TextEncoding encoding = TextEncoding::UTF8,
                    char16_t delimiter = u',') {
  std::string out;
  {
    CsvWriter w(std::make_unique<StringByteSink>(out), encoding, delimiter);
    body(w);
  }
  return out;
}

TEST(CsvWriter, QuotesOnlyWhatTheParserWouldSplit) {
  std::string out = written([](CsvWriter& w) {
    w.writeLineOfFields({"plain", "  lead and trail  ", "back\\slash", "#hash", ""});
    w.writeLineOfFields({"a,b", "say \"hi\"", "two\nlines", "cr\r", "ls\xE2\x80\xA8", "nel\xC2\x85"});
    w.writeLineOfFields(std::vector<std::string>{});
    w.writeLineOfFields({CsvValue{}, 2.5, 42LL, 1e-300, std::u16string(u"\u00E9,")});
  });
  EXPECT_EQ(out,
            "plain,  lead and trail  ,back\\slash,#hash,\n"
            "\"a,b\",\"say \"\"hi\"\"\",\"two\nlines\",\"cr\r\",\"ls\xE2\x80\xA8\",\"nel\xC2\x85\"\n"
            "\n"
            ",2.5,42,1e-300,\"\xC3\xA9,\"\n");
}

// Not-a-number has one text whatever its sign bit (to_chars gives "nan" and "-nan").
TEST(CsvWriter, NotANumberIsNaN) {
  std::string out = written([](CsvWriter& w) {
    w.writeField(std::numeric_limits<double>::quiet_NaN());
    w.writeField(-std::numeric_limits<double>::quiet_NaN());
    w.writeField(0.5);
    w.finishLine();
  });
  EXPECT_EQ(out, "NaN,NaN,0.5\n");
}

// Numbers are written in plain decimals (the shortest form alone gives
// "1e+05" for a count of 100000); a rounded figure keeps only its digits.
TEST(CsvWriter, NumbersArePlainDecimals) {
  std::string out = written([](CsvWriter& w) {
    for (double v : {100000.0, 1e-5, 124996.94717023, -2.5e15, 1e21, 1e-8}) w.writeField(v);
    w.finishLine();
    w.writeRounded(1.0000000000000002, 15);
    w.writeRounded(124996.947170230123, 15);
    w.writeRounded(0.000012345678901234567, 15);
    w.writeRounded(std::numeric_limits<double>::infinity(), 15);
    w.finishLine();
  });
  EXPECT_EQ(out,
            "100000,0.00001,124996.94717023,-2500000000000000,1e+21,1e-8\n"
            "1,124996.94717023,0.0000123456789012346,inf\n");
}

TEST(CsvWriter, FieldsLinesAndComments) {
  std::string out = written(
      [](CsvWriter& w) {
        w.writeField("x");
        w.writeField(7);
        w.writeComment("one\r\ntwo");  // ends the open line first; every line break splits
        w.writeField("a;b");
        w.writeLineOfFields({"c"});
        w.closeStream();
        w.writeField("after close");
      },
      TextEncoding::UTF8, u';');
  EXPECT_EQ(out, "x;7\n#one\n#\n#two\n\"a;b\"\nc\n");
}

TEST(CsvWriter, ByteOrderMarkWrittenOnce) {
  // Marked UTF-16: FF FE once, then every text without its own mark.
  std::string out = written(
      [](CsvWriter& w) {
        w.writeLineOfFields({"a", "\xC3\xA9"});
      },
      TextEncoding::UTF16);
  EXPECT_EQ(out, std::string("\xFF\xFE"
                             "a\0,\0\xE9\0\n\0",
                             10));
  out = written([](CsvWriter& w) { w.writeLineOfFields({"a", "b"}); }, TextEncoding::UTF16BE);
  EXPECT_EQ(out, std::string("\0a\0,\0b\0\n", 8));
  // ISO-2022-KR's header plays the part of the mark; the parser reads the result back.
  out = written([](CsvWriter& w) { w.writeLineOfFields({"a", "\xEA\xB0\x80"}); }, TextEncoding::ISO2022KR);
  EXPECT_EQ(out, "\x1B$)Ca,\x0E\x30\x21\x0F\n");
  EXPECT_EQ(testing::parseBytes(out).lines[0], (std::vector<std::string>{"a", "\xEA\xB0\x80"}));
  out = written([](CsvWriter& w) { w.writeLineOfFields({"caf\xC3\xA9"}); }, TextEncoding::MacRoman);
  EXPECT_EQ(out, "caf\x8E\n");
}

TEST(CsvWriter, WritesFiles) {
  auto path = std::filesystem::temp_directory_path() / "tabulix_csv_writer_test.csv";
  {
    auto w = CsvWriter::initForWritingToCSVFile(path);
    w->writeLineOfFields({"h1", "h2"});
    for (int i = 0; i < 20000; ++i)
      w->writeLineOfFields({CsvValue{static_cast<long long>(i)}, "v,\"" + std::to_string(i)});
    EXPECT_TRUE(w->good());
  }
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  std::string text = ss.str();
  EXPECT_EQ(text.substr(0, 18), "h1,h2\n0,\"v,\"\"0\"\n1,");
  const std::string last = "\n19999,\"v,\"\"19999\"\n";
  EXPECT_EQ(text.substr(text.size() - last.size()), last);
  std::filesystem::remove(path);
  auto bad = CsvWriter::initForWritingToCSVFile("/nonexistent-dir/x.csv");
  bad->writeField("x");
  EXPECT_FALSE(bad->good());
}

// What the parser gives back, with sanitizing, for a field the writer wrote.
std::string trimmed(const std::u16string& s) {
  size_t a = 0, b = s.size();
  while (a < b && isTrimCharacter(s[a])) ++a;
  while (b > a && isTrimCharacter(s[b - 1])) --b;
  return toUtf8(std::u16string_view(s).substr(a, b - a));
}

// Random fields rich in the characters that matter: delimiters, quotes, every
// line break, spaces of several kinds, backslashes, '#', non-ASCII and
// characters beyond the BMP.
std::u16string randomField(std::mt19937& rng) {
  static const std::u16string alphabet =
      u"abcXYZ019 ,;\t\"\"\n\r\v\f\u0085\u2028\u2029\u00A0\u3000\\#'\u00E9\u20AC\u4E2D";
  std::u16string s;
  int length = std::uniform_int_distribution<int>(0, 12)(rng);
  for (int k = 0; k < length; ++k) {
    if (rng() % 10 == 0) {
      s += u"\U0001F600";
    } else {
      s += alphabet[rng() % alphabet.size()];
    }
  }
  return s;
}

TEST(CsvWriter, RoundTripThroughParser) {
  for (char16_t delimiter : {u',', u'\t', u';'}) {
    for (int seed = 1; seed <= 4; ++seed) {
      std::mt19937 rng(seed * 7919 + delimiter);
      std::vector<std::vector<std::string>> expected;
      std::string out;
      {
        CsvWriter w(std::make_unique<StringByteSink>(out), TextEncoding::UTF8, delimiter);
        for (int line = 0; line < 400; ++line) {
          int n = std::uniform_int_distribution<int>(1, 6)(rng);
          std::vector<std::string> want;
          for (int k = 0; k < n; ++k) {
            std::u16string f = randomField(rng);
            // A line of one empty field is written as an empty line, which the
            // parser (rightly) skips; give such lines a visible field.
            if (n == 1 && f.empty()) f.push_back(u'x');
            w.writeField(std::u16string_view(f));
            want.push_back(trimmed(f));
          }
          w.finishLine();
          expected.push_back(want);
        }
      }
      expected.push_back({""});  // the record after the final line feed
      // Through memory with the encoding given, and through a file with it sniffed.
      testing::RecordingDelegate d = testing::parseBytes(
          out, testing::ParseOptions().sanitize().delimiter(delimiter).encoding(TextEncoding::UTF8));
      ASSERT_EQ(d.lines, expected) << "seed " << seed;
      auto path = std::filesystem::temp_directory_path() / "tabulix_csv_roundtrip.csv";
      std::ofstream(path, std::ios::binary) << out;
      std::optional<TextEncoding> used;
      CsvParser parser(std::make_unique<FileByteSource>(path), &used, delimiter);
      testing::RecordingDelegate f;
      parser.setSanitizesFields(true);
      parser.setDelegate(&f);
      parser.parse();
      std::filesystem::remove(path);
      EXPECT_EQ(used, TextEncoding::UTF8);
      ASSERT_EQ(f.lines, expected) << "seed " << seed;
      EXPECT_EQ(f.transcript.substr(f.transcript.size() - 2), " E");
    }
  }
}

}  // namespace
}  // namespace tabulix
