// Files as they arrive: byte-order marks of every kind, Mac OS Roman,
// ISO-2022-KR, old Mac line ends and a stray NUL byte, read from disk.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "import/csv_parser.h"
#include "tests/import/csv_test_util.h"

namespace tabulix {
namespace {

using Lines = std::vector<std::vector<std::string>>;

struct FileResult {
  testing::RecordingDelegate delegate;
  std::optional<TextEncoding> encoding;
  uint64_t bytesRead = 0;
};

FileResult parseFixture(const std::string& name, bool sanitize = true) {
  FileResult r;
  std::filesystem::path path = std::filesystem::path(TABULIX_SOURCE_DIR) / "tests/data/csv" / name;
  auto parser = CsvParser::initWithContentsOfCSVFile(path);
  parser->setSanitizesFields(sanitize);
  parser->setDelegate(&r.delegate);
  parser->parse();
  r.encoding = parser->streamEncoding();
  r.bytesRead = parser->totalBytesRead();
  EXPECT_EQ(r.bytesRead, std::filesystem::file_size(path)) << name;
  return r;
}

TEST(CsvEncoding, ByteOrderMarks) {
  const Lines expected{{"name", "city"}, {"Anna", "Z\xC3\xBCrich"}, {"Bo, Jr.", "\xF0\x9F\x98\x80"}, {""}};
  const std::pair<const char*, TextEncoding> files[] = {
      {"utf8_bom.csv", TextEncoding::UTF8},       {"utf16le_bom.csv", TextEncoding::UTF16LE},
      {"utf16be_bom.csv", TextEncoding::UTF16BE}, {"utf32le_bom.csv", TextEncoding::UTF32LE},
      {"utf32be_bom.csv", TextEncoding::UTF32BE},
  };
  for (const auto& [file, encoding] : files) {
    FileResult r = parseFixture(file);
    EXPECT_EQ(r.encoding, encoding) << file;
    EXPECT_EQ(r.delegate.lines, expected) << file;
    EXPECT_EQ(r.delegate.transcript.substr(r.delegate.transcript.size() - 2), " E") << file;
  }
}

// Files written by Python's codecs read as the text the writer was given.
TEST(CsvEncoding, WindowsAndLatin1FilesReadAsWritten) {
  const std::filesystem::path dir = std::filesystem::path(TABULIX_SOURCE_DIR) / "tests/data/text";
  for (const char* name : {"cp1252", "latin1"}) {
    auto read = [&](const std::string& file, std::optional<TextEncoding>* encoding) {
      testing::RecordingDelegate d;
      auto parser = CsvParser::initWithContentsOfCSVFile(dir / file);
      parser->setSanitizesFields(true);
      parser->setDelegate(&d);
      parser->parse();
      if (encoding) *encoding = parser->streamEncoding();
      return d.lines;
    };
    std::optional<TextEncoding> encoding;
    const Lines lines = read(std::string(name) + ".csv", &encoding);
    EXPECT_EQ(encoding, TextEncoding::Windows1252) << name;
    EXPECT_EQ(lines, read(std::string(name) + ".given.csv", nullptr)) << name;
    EXPECT_EQ(lines.size(), 6u - (std::string(name) == "latin1")) << name;
  }
  // One Latin-1 byte on line 3 of a UTF-8 file: that byte alone is U+FFFD.
  testing::RecordingDelegate d;
  auto parser = CsvParser::initWithContentsOfCSVFile(dir / "utf8_stray_byte.csv");
  parser->setDelegate(&d);
  parser->parse();
  EXPECT_EQ(parser->streamEncoding(), TextEncoding::UTF8);
  ASSERT_EQ(d.lines.size(), 201u);
  EXPECT_EQ(d.lines[2][0], "Zo\xEF\xBF\xBD");
  for (size_t i = 1; i < 200; ++i) {
    if (i == 2) continue;
    EXPECT_EQ(d.lines[i][0], "Zo\xC3\xAB") << i;
  }
  EXPECT_EQ(parser->replacedBytes(), 1u);
  EXPECT_EQ(parser->firstReplacedLine(), 3u);
}

TEST(CsvEncoding, Iso2022Kr) {
  FileResult korean = parseFixture("iso2022kr.csv");
  EXPECT_EQ(korean.encoding, TextEncoding::ISO2022KR);
  EXPECT_EQ(korean.delegate.lines, (Lines{{"a", "\xEA\xB0\x80"}, {"b", "c"}, {""}}));  // 가
}

TEST(CsvEncoding, CarriageReturnLineEndsAndNulByte) {
  EXPECT_EQ(parseFixture("cr_only.csv").delegate.transcript,
            "B L1 0[a] 1[b] /L1 L2 0[c] 1[d] /L2 L3 0[e] /L3 L4 0[] /L4 E");
  // U+0000 reads as the end of the input: the rest of the file is not reported.
  FileResult nul = parseFixture("nul_byte.csv");
  EXPECT_EQ(nul.delegate.transcript, "B L1 0[a] 1[b] /L1 L2 0[c] /L2 E");
}

TEST(CsvEncoding, QuotedLineBreaksFromFile) {
  EXPECT_EQ(parseFixture("quoted_multiline.csv").delegate.lines,
            (Lines{{"id", "note"}, {"1", "two\nlines"}, {"2", "say \"hi\""}, {""}}));
  EXPECT_EQ(parseFixture("quoted_multiline.csv", false).delegate.lines,
            (Lines{{"id", "note"}, {"1", "\"two\nlines\""}, {"2", "\"say \"\"hi\"\"\""}, {""}}));
}

TEST(CsvEncoding, MissingFileIsAnEmptyInput) {
  auto parser = CsvParser::initWithContentsOfCSVFile("/nonexistent/tabulix.csv");
  testing::RecordingDelegate d;
  parser->setDelegate(&d);
  parser->parse();
  EXPECT_EQ(d.transcript, "B L1 0[] /L1 E");
  EXPECT_FALSE(parser->streamEncoding().has_value());
}

// What a parse that ends without an error leaves unread, read through small
// chunks so that the count crosses many refills.
struct Unread {
  std::string transcript;
  std::optional<CsvUnreadInput> unread;
  std::optional<TextEncoding> encoding;
};

Unread parseForUnread(std::string_view bytes, std::optional<TextEncoding> encoding = std::nullopt) {
  Unread r;
  testing::RecordingDelegate d;
  r.encoding = encoding;
  CsvParser p(std::make_unique<MemoryByteSource>(bytes, 7), &r.encoding, u',');
  p.setSanitizesFields(true);
  p.setDelegate(&d);
  p.parse();
  r.transcript = d.transcript;
  r.unread = p.unreadInput();
  return r;
}

TEST(CsvEncoding, UnreadInputIsCountedNotDelivered) {
  // Input read to its end leaves nothing.
  EXPECT_FALSE(parseForUnread("a,b\n1,2\n").unread);
  EXPECT_FALSE(parseForUnread("a,\"x\ny\"\n").unread);

  // An unclosed quote loses nothing: its field ends with its line.
  std::string input = "a,b\n1,2\n3,\"4\n";
  for (int i = 0; i < 3000; ++i) {
    input += 'r';
    input += std::to_string(i);
    input += ",x\r\n\n";
  }
  Unread quote = parseForUnread(input);
  EXPECT_EQ(quote.transcript.substr(0, 70),
            "B L1 0[a] 1[b] /L1 L2 0[1] 1[2] /L2 L3 0[3] 1[4] /L3 L4 0[r0] 1[x] /L4");
  EXPECT_NE(quote.transcript.find("0[r2999] 1[x]"), std::string::npos);
  EXPECT_FALSE(quote.unread);

  Unread nul = parseForUnread(std::string("a\nb\0c\nd\ne", 10));
  ASSERT_TRUE(nul.unread);
  EXPECT_EQ(nul.unread->reason, CsvUnreadInput::Reason::NulCharacter);
  EXPECT_EQ(nul.unread->afterLine, 1u);
  EXPECT_EQ(nul.unread->lines, 3u);

  // A UTF-16 text cut in the middle of a character: one byte left over.
  Unread odd = parseForUnread(std::string("a\0,\0b\0c", 7), TextEncoding::UTF16LE);
  EXPECT_EQ(odd.transcript, "B L1 0[a] 1[b] /L1 E");
  ASSERT_TRUE(odd.unread);
  EXPECT_EQ(odd.unread->reason, CsvUnreadInput::Reason::UndecodableBytes);
  EXPECT_EQ(odd.unread->bytes, 1u);
}

TEST(CsvEncoding, Utf16WithoutByteOrderMarkIsToldByItsNuls) {
  const std::u16string text = u"name,city\nAnna,Z\u00fcrich\n\u0100x,y";
  const std::string le = encodeText(text, TextEncoding::UTF16LE);
  const std::string be = encodeText(text, TextEncoding::UTF16BE);
  const std::string expected =
      "B L1 0[name] 1[city] /L1 L2 0[Anna] 1[Z\xC3\xBCrich] /L2 L3 0[\xC4\x80x] 1[y] /L3 E";
  for (const auto& [bytes, encoding] :
       {std::pair{le, TextEncoding::UTF16LE}, std::pair{be, TextEncoding::UTF16BE}}) {
    Unread r = parseForUnread(bytes);
    EXPECT_EQ(r.encoding, encoding);
    EXPECT_EQ(r.transcript, expected);
    EXPECT_FALSE(r.unread);
  }
  // UTF-8 with a NUL or two, and UTF-32 without a mark, are not taken for UTF-16.
  EXPECT_EQ(parseForUnread(std::string("ab,c\0d,e\n", 10)).encoding, TextEncoding::UTF8);
  EXPECT_EQ(parseForUnread(std::string("a\0\0\0b\0\0\0", 8)).encoding, TextEncoding::UTF8);
}

}  // namespace
}  // namespace tabulix
