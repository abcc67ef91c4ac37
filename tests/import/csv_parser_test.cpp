// The delimited-text parser: records, fields, quoting, options, cancellation,
// errors, streaming memory and chunk boundaries.
#include "import/csv_parser.h"

#include <gtest/gtest.h>
#include <unicode/uchar.h>

#include <algorithm>
#include <string>

#include "engine/log.h"
#include "tests/import/csv_test_util.h"

namespace tabulix {
namespace {

using testing::parseBytes;
using testing::ParseOptions;
using testing::RecordingDelegate;

// Collects log lines for the life of the object.
struct LogCapture {
  std::vector<std::string> lines;
  LogCapture() {
    setLogSink([this](std::string_view line) { lines.emplace_back(line); });
  }
  ~LogCapture() { setLogSink(nullptr); }
};

std::string transcript(std::string_view bytes, ParseOptions o = {}) {
  return parseBytes(bytes, o).transcript;
}

TEST(CsvParser, CharacterClassesMatchUnicodeCategories) {
  for (uint32_t c = 0; c < 0x10000; ++c) {
    auto u = static_cast<char16_t>(c);
    int8_t cat = u_charType(static_cast<UChar32>(c));
    bool zs = cat == U_SPACE_SEPARATOR, zl = cat == U_LINE_SEPARATOR, zp = cat == U_PARAGRAPH_SEPARATOR;
    bool newline = (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
    ASSERT_EQ(isNewlineCharacter(u), newline) << std::hex << c;
    ASSERT_EQ(isFieldWhitespace(u), c == 0x09 || zs) << std::hex << c;
    ASSERT_EQ(isTrimCharacter(u), zs || zl || zp || (c >= 0x09 && c <= 0x0D) || c == 0x85) << std::hex << c;
  }
}

TEST(CsvParser, RecordsAndLineBreaks) {
  // A line break at the very end still opens a record with one empty field.
  EXPECT_EQ(transcript("a,b\r\nc,d\r\n"), "B L1 0[a] 1[b] /L1 L2 0[c] 1[d] /L2 L3 0[] /L3 E");
  // Runs of line breaks are one break: empty lines make no records...
  EXPECT_EQ(transcript("a,b\n\n\nc"), "B L1 0[a] 1[b] /L1 L2 0[c] /L2 E");
  // ...except at the very start, where the first field is read before them.
  EXPECT_EQ(transcript("\n\na,b"), "B L1 0[] /L1 L2 0[a] 1[b] /L2 E");
  EXPECT_EQ(transcript(""), "B L1 0[] /L1 E");
  EXPECT_EQ(transcript("a,b,"), "B L1 0[a] 1[b] 2[] /L1 E");
  EXPECT_EQ(transcript("a\t\tb", ParseOptions().delimiter(u'\t')), "B L1 0[a] 1[] 2[b] /L1 E");
  // A tab delimiter is never skipped as field whitespace, a space delimiter neither.
  EXPECT_EQ(transcript(" a \t b ", ParseOptions().sanitize().delimiter(u'\t')), "B L1 0[a] 1[b] /L1 E");
  EXPECT_EQ(transcript("a  b", ParseOptions().delimiter(u' ')), "B L1 0[a] 1[] 2[b] /L1 E");
  // Every member of the newline set ends a line: CR, VT, FF, NEL, LS, PS.
  EXPECT_EQ(transcript("a\rb\vc\fd\xC2\x85"
                       "e\xE2\x80\xA8"
                       "f\xE2\x80\xA9g"),
            "B L1 0[a] /L1 L2 0[b] /L2 L3 0[c] /L3 L4 0[d] /L4 L5 0[e] /L5 L6 0[f] /L6 L7 0[g] /L7 E");
  // A non-ASCII delimiter.
  EXPECT_EQ(transcript("a\xC2\xA7"
                       "b",
                       ParseOptions().delimiter(u'\u00A7')),
            "B L1 0[a] 1[b] /L1 E");
}

TEST(CsvParser, SanitizedAndRawFields) {
  const std::string field = "  \"x, \"\"\" ";
  EXPECT_EQ(transcript(field, ParseOptions().sanitize()), "B L1 0[x, \"] /L1 E");
  EXPECT_EQ(transcript(field), "B L1 0[" + field + "] /L1 E");
  // The trim applies inside quotes too, with the whole trim set (here LF, NBSP, ideographic space).
  EXPECT_EQ(transcript("\" a \",\"\n\xC2\xA0"
                       "b\xE3\x80\x80\"",
                       ParseOptions().sanitize()),
            "B L1 0[a] 1[b] /L1 E");
  EXPECT_EQ(transcript(" a b ,c", ParseOptions().sanitize()), "B L1 0[a b] 1[c] /L1 E");
  EXPECT_EQ(transcript(" a b ,c"), "B L1 0[ a b ] 1[c] /L1 E");
  // Delimiters and line breaks inside quotes belong to the value; lines count records.
  EXPECT_EQ(transcript("\"a,\r\nb\",c\nd", ParseOptions().sanitize()),
            "B L1 0[a,\r\nb] 1[c] /L1 L2 0[d] /L2 E");
  EXPECT_EQ(transcript("\"\"\"\"\"\",\"\"", ParseOptions().sanitize()), "B L1 0[\"\"] 1[] /L1 E");
}

TEST(CsvParser, StrayAndOpenQuotes) {
  // A quote inside an unquoted field is text, and the line goes on.
  RecordingDelegate d = parseBytes("ab\"cd,e\nf,g");
  EXPECT_EQ(d.transcript, "B L1 0[ab\"cd] 1[e] /L1 L2 0[f] 1[g] /L2 E");
  EXPECT_FALSE(d.error);
  EXPECT_EQ(transcript("4,27\" monitor,4.5\n5,x,1", ParseOptions().sanitize()),
            "B L1 0[4] 1[27\" monitor] 2[4.5] /L1 L2 0[5] 1[x] 2[1] /L2 E");
  // Text after a closing quote belongs to the field.
  EXPECT_EQ(transcript("x;\"q\" \xC3\xA9;z\n", ParseOptions().delimiter(u';').sanitize()),
            "B L1 0[x] 1[q \xC3\xA9] 2[z] /L1 L2 0[] /L2 E");

  // A quote never closed ends its field at the end of its line; the lines
  // after it are read as lines, and the parser says where it was.
  std::optional<TextEncoding> utf8 = TextEncoding::UTF8;
  CsvParser p(std::make_unique<MemoryByteSource>("a,b\n1,\"bc\nd,e\nf\n", 3), &utf8, u',');
  RecordingDelegate open;
  p.setSanitizesFields(true);
  p.setDelegate(&open);
  p.parse();
  EXPECT_EQ(open.transcript,
            "B L1 0[a] 1[b] /L1 L2 0[1] 1[bc] /L2 L3 0[d] 1[e] /L3 L4 0[f] /L4 L5 0[] /L5 E");
  EXPECT_EQ(p.unclosedQuotes(), 1u);
  EXPECT_EQ(p.firstUnclosedQuoteLine(), 2u);
  EXPECT_FALSE(p.unreadInput());
  EXPECT_EQ(transcript("a,\"bc\"\"", ParseOptions().sanitize()), "B L1 0[a] 1[bc\"\"] /L1 E");
}

// A field longer than the most the parser holds fails the parse, naming
// the line, plain or quoted (an open quote would otherwise run to the end).
TEST(CsvParser, FieldLongerThanTheLimitFails) {
  for (const char* quote : {"", "\""}) {
    std::string input = "a,b\n1,2\n3," + std::string(quote) + std::string(5000, 'x') + "\n4,5\n";
    std::optional<TextEncoding> utf8 = TextEncoding::UTF8;
    CsvParser p(std::make_unique<MemoryByteSource>(input), &utf8, u',');
    p.setMaxFieldLength(1000);
    RecordingDelegate d;
    p.setDelegate(&d);
    p.parse();
    ASSERT_TRUE(d.error) << quote;
    EXPECT_EQ(d.error->code, kFieldTooLong);
    EXPECT_EQ(d.error->description.rfind("Line 3: a ", 0), 0u) << d.error->description;
    EXPECT_EQ(d.transcript.substr(d.transcript.size() - 3), "ERR");
  }
}

TEST(CsvParser, BackslashEscapes) {
  ParseOptions on = ParseOptions().sanitize().backslashes();
  EXPECT_EQ(transcript("a\\,b,c", on), "B L1 0[a,b] 1[c] /L1 E");
  EXPECT_EQ(transcript("\"a\\\"b\\\\\",c", on), "B L1 0[a\"b\\] 1[c] /L1 E");
  EXPECT_EQ(transcript("a\\\nb\nc", on), "B L1 0[a\nb] /L1 L2 0[c] /L2 E");
  EXPECT_EQ(transcript("a\\,b", ParseOptions().backslashes()), "B L1 0[a\\,b] /L1 E");
  EXPECT_EQ(transcript("a\\", on), "B L1 0[a] /L1 E");
  // Off: a backslash is an ordinary character.
  EXPECT_EQ(transcript("a\\,b", ParseOptions().sanitize()), "B L1 0[a\\] 1[b] /L1 E");
}

TEST(CsvParser, Comments) {
  ParseOptions on = ParseOptions().comments();
  EXPECT_EQ(transcript("#one\n#two\r\na,b\n#three\nc", on),
            "B #[one] #[two] L1 0[a] 1[b] /L1 #[three] L2 0[c] /L2 E");
  // Only where a record begins.
  EXPECT_EQ(transcript("a,#b", on), "B L1 0[a] 1[#b] /L1 E");
  EXPECT_EQ(transcript("#x,y"), "B L1 0[#x] 1[y] /L1 E");
  // With escapes a backslash carries the comment over the line break.
  EXPECT_EQ(transcript("#a\\\nb\nc", ParseOptions().backslashes().comments()), "B #[a\\\nb] L1 0[c] /L1 E");
}

TEST(CsvParser, CancelEndsTheDocumentCleanly) {
  RecordingDelegate d;
  d.onEndLine = [](CsvParser& p, uint64_t line) {
    if (line == 2) p.cancelParsing();
  };
  auto parser = CsvParser::initWithCSVString(std::string_view("a\nb\nc\nd"));
  parser->setDelegate(&d);
  parser->parse();
  EXPECT_EQ(d.transcript, "B L1 0[a] /L1 L2 0[b] /L2 E");

  // From a field: no more fields or lines.
  RecordingDelegate f;
  f.onField = [](CsvParser& p, int64_t index) {
    if (index == 1) p.cancelParsing();
  };
  parser = CsvParser::initWithCSVString(std::string_view("a,b\"x,c\nd"));
  parser->setDelegate(&f);
  parser->parse();
  EXPECT_EQ(f.transcript, "B L1 0[a] 1[b\"x] E");
}

TEST(CsvParser, InMemoryStringsAndCounters) {
  RecordingDelegate d;
  auto parser = CsvParser::initWithCSVString(std::u16string_view(u"\u00E9,\U0001F600\n"));
  parser->setDelegate(&d);
  parser->parse();
  EXPECT_EQ(d.transcript, "B L1 0[\xC3\xA9] 1[\xF0\x9F\x98\x80] /L1 L2 0[] /L2 E");
  EXPECT_EQ(parser->totalBytesRead(), 10u);  // five UTF-16 units

  // The sniffed encoding is stored back; a given one is used as it is, marker and all.
  std::optional<TextEncoding> used;
  d = parseBytes("\xEF\xBB\xBFx", {}, &used);
  EXPECT_EQ(used, TextEncoding::UTF8);
  EXPECT_EQ(d.lines[0][0], "x");
  d = parseBytes("\xEF\xBB\xBFx", ParseOptions().encoding(TextEncoding::UTF8), &used);
  EXPECT_EQ(d.lines[0][0], "\xEF\xBB\xBFx");
  d = parseBytes(std::string("\0a\0,\0b", 6), ParseOptions().encoding(TextEncoding::UTF16BE));
  EXPECT_EQ(d.transcript, "B L1 0[a] 1[b] /L1 E");
  EXPECT_THROW(CsvParser(nullptr, nullptr, 0), std::invalid_argument);
}

// A quoted value longer than a read, with delimiters, breaks and doubled
// quotes on both sides of 512-byte boundaries; reads of any size agree.
TEST(CsvParser, QuotedFieldAcrossReadsAndShortReads) {
  std::string value;
  for (int i = 0; value.size() < 3000; ++i) {
    value += 'w';
    value += std::to_string(i);
    value += i % 7 == 0 ? ",\n\"" : " ";
  }
  std::string quoted;
  for (char c : value) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  std::string input = "id,text\n1,\"" + quoted + "\",end\n";
  std::string expected = "B L1 0[id] 1[text] /L1 L2 0[1] 1[" + value + "] 2[end] /L2 L3 0[] /L3 E";
  for (size_t limit : {0, 1, 3, 500, 513}) {
    EXPECT_EQ(transcript(input, ParseOptions().sanitize().chunkLimit(limit)), expected) << limit;
  }
  EXPECT_EQ(transcript(input).find("1[\"" + quoted + "\"]") != std::string::npos, true);
}

// Multi-byte characters cut by the first read (512 bytes) or by later reads
// stay UTF-8: neither the sniffing nor a refill mistakes them for another encoding.
TEST(CsvParser, Utf8CharacterSplitAcrossReads) {
  for (const char* ch : {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"}) {
    for (size_t offset : {509, 510, 511, 1022, 1023, 1534, 1535, 2047}) {
      std::string first(offset, 'x');
      first += ch;
      std::string input = first + ",y\n" + std::string(600, 'z');
      std::optional<TextEncoding> used;
      RecordingDelegate d = parseBytes(input, {}, &used);
      ASSERT_EQ(used, TextEncoding::UTF8) << offset;
      ASSERT_EQ(d.lines.size(), 2u);
      EXPECT_EQ(d.lines[0], (std::vector<std::string>{first, "y"})) << offset << " " << ch;
      EXPECT_EQ(d.lines[1][0].size(), 600u);
    }
  }
}

TEST(CsvParser, Utf16SurrogatePairSplitAcrossReads) {
  for (size_t units : {253, 254, 255, 509, 510}) {
    std::u16string text(units, u'x');
    text += u"\U0001F600,y\n";
    std::string bytes = "\xFF\xFE" + encodeText(text, TextEncoding::UTF16LE);
    std::optional<TextEncoding> used;
    RecordingDelegate d = parseBytes(bytes, {}, &used);
    EXPECT_EQ(used, TextEncoding::UTF16LE);
    EXPECT_EQ(d.lines[0][0], std::string(units, 'x') + "\xF0\x9F\x98\x80") << units;
    EXPECT_EQ(d.lines[0][1], "y");
  }
}

// Without a byte-order mark: UTF-8 when most non-ASCII bytes are in valid
// sequences, the few others becoming U+FFFD where they are; Windows-1252
// when most are not. A stray byte never changes how the rest reads, even
// after the first reads.
TEST(CsvParser, Utf8OrWindows1252ByTheirBytes) {
  std::string input = "caf\xC3\xA9,b\n";
  while (input.size() < 1500) input += "a,b\n";
  input += "caf\xC3\xA9,\xFF\n";  // a stray byte beyond the first read
  input += "Zo\xC3\xAB,\xC3\n";   // an incomplete sequence
  CsvParser parser(std::make_unique<MemoryByteSource>(input, 100), nullptr, u',');
  EXPECT_EQ(parser.streamEncoding(), TextEncoding::UTF8);
  RecordingDelegate d;
  parser.setDelegate(&d);
  parser.parse();
  EXPECT_EQ(parser.streamEncoding(), TextEncoding::UTF8);
  ASSERT_GE(d.lines.size(), 3u);
  EXPECT_EQ(d.lines[d.lines.size() - 3], (std::vector<std::string>{"caf\xC3\xA9", "\xEF\xBF\xBD"}));
  EXPECT_EQ(d.lines[d.lines.size() - 2], (std::vector<std::string>{"Zo\xC3\xAB", "\xEF\xBF\xBD"}));
  EXPECT_EQ(parser.replacedBytes(), 2u);
  EXPECT_EQ(parser.firstReplacedLine(), d.lines.size() - 2);
  EXPECT_EQ(parser.totalBytesRead(), input.size());
  EXPECT_FALSE(parser.unreadInput());

  // Single accented bytes: Windows-1252 (0x80-0x9F as Windows has them).
  std::optional<TextEncoding> used;
  d = parseBytes("Jos\xE9,Z\xFCrich\n\x80 5,\x93q\x94\n", {}, &used);
  EXPECT_EQ(used, TextEncoding::Windows1252);
  EXPECT_EQ(d.lines[0], (std::vector<std::string>{"Jos\xC3\xA9", "Z\xC3\xBCrich"}));
  EXPECT_EQ(d.lines[1], (std::vector<std::string>{"\xE2\x82\xAC 5", "\xE2\x80\x9Cq\xE2\x80\x9D"}));
  // A character cut off by the end of a short input is no UTF-8.
  parseBytes("ab\xE2\x82", {}, &used);
  EXPECT_EQ(used, TextEncoding::Windows1252);
  // One valid sequence among many stray bytes does not make UTF-8.
  parseBytes("\xE9\xE8,\xC3\xA9,\xFC\n", {}, &used);
  EXPECT_EQ(used, TextEncoding::Windows1252);
}

// Bytes that can never be decoded stay back; the parse ends where the text ends.
TEST(CsvParser, UndecodableBytesEndTheText) {
  std::string bytes = encodeText(u"a,b\n", TextEncoding::UTF32LE) + std::string("\x00\x00\x11\x00", 4) +
                      encodeText(u"c\n", TextEncoding::UTF32LE) + std::string(5000, '\x7F');
  RecordingDelegate d = parseBytes(bytes, ParseOptions().encoding(TextEncoding::UTF32LE));
  EXPECT_EQ(d.transcript, "B L1 0[a] 1[b] /L1 L2 0[] /L2 E");
}

// Records the one long field apart, with the parser's buffer size around it.
struct BigFieldDelegate : CsvParserDelegate {
  std::vector<std::string> small;
  size_t bigLength = 0, bufferedAtBig = 0, bufferedAfter = 0;
  bool bigSame = false;
  const std::string* want = nullptr;
  void parserDidReadField(CsvParser& p, std::u16string_view field, int64_t) override {
    if (field.size() > 1000) {
      bigLength = field.size();
      bigSame = toUtf8(field) == *want;
      bufferedAtBig = p.bufferedBytes();
    } else {
      small.push_back(toUtf8(field));
      if (bigLength) bufferedAfter = std::max(bufferedAfter, p.bufferedBytes());
    }
  }
};

TEST(CsvParser, TenMegabyteField) {
  std::string value;
  value.reserve(10'000'100);
  for (int i = 0; value.size() < 10'000'000; ++i) value += i % 1000 == 0 ? "\"\n," : "abcdefghij";
  std::string quoted;
  quoted.reserve(value.size() + 100000);
  for (char c : value) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  for (bool sanitize : {true, false}) {
    BigFieldDelegate d;
    std::string raw = "\"" + quoted + "\"";
    d.want = sanitize ? &value : &raw;
    CsvParser parser(std::make_unique<MemoryByteSource>("h\n" + raw + "\nz\n"), nullptr, u',');
    parser.setSanitizesFields(sanitize);
    parser.setDelegate(&d);
    parser.parse();
    EXPECT_EQ(d.small, (std::vector<std::string>{"h", "z", ""}));
    EXPECT_EQ(d.bigLength, d.want->size());
    EXPECT_TRUE(d.bigSame);
    // The buffers hold about the field and a look-ahead, then let it go.
    EXPECT_GE(d.bufferedAtBig, 2 * value.size());
    EXPECT_LE(d.bufferedAtBig, 10 * value.size());
    EXPECT_LT(d.bufferedAfter, 1u << 20);
  }
}

TEST(CsvParser, MemoryStaysBoundedOverManyLines) {
  std::string input;
  for (int i = 0; i < 200000; ++i) input += "abc,\"d,e\",f\xC3\xA9\n";
  input += std::string(300000, '\n') + "last\n";
  struct : CsvParserDelegate {
    size_t most = 0;
    uint64_t lines = 0;
    void parserDidEndLine(CsvParser& p, uint64_t line) override {
      most = std::max(most, p.bufferedBytes());
      lines = line;
    }
  } d;
  CsvParser parser(std::make_unique<MemoryByteSource>(input), nullptr, u',');
  parser.setSanitizesFields(true);
  parser.setDelegate(&d);
  parser.parse();
  EXPECT_EQ(d.lines, 200002u);
  size_t most = d.most;
  EXPECT_LT(most, 64u * 1024);
}

}  // namespace
}  // namespace tabulix
