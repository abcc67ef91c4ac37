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

TEST(CsvEncoding, MacRomanAndIso2022Kr) {
  FileResult roman = parseFixture("macroman.csv");
  EXPECT_EQ(roman.encoding, TextEncoding::MacRoman);
  EXPECT_EQ(roman.delegate.lines,
            (Lines{{"caf\xC3\xA9", "na\xC3\xAFve"}, {"\xE2\x82\xAC", "\xCE\xA9"}, {""}}));  // café naïve € Ω
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

}  // namespace
}  // namespace tabulix
