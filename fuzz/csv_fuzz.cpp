// libFuzzer target for the delimited-text parser over an in-memory source.
//
// The first four bytes choose the options (sanitize, escapes, comments, when to
// cancel), the delimiter, the encoding (sniffed or given) and the size of the
// source's reads; the rest is the file. Besides crashes, leaks and hangs it
// checks the order of the delegate calls and that the writer's output of the
// fields read parses back to the same (trimmed) fields.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/log.h"
#include "import/csv_parser.h"
#include "textio/csv_writer.h"

namespace {

using namespace tabulix;

[[noreturn]] void fail(const char* what) {
  __builtin_trap();
  (void)what;
}
#define REQUIRE_ORDER(cond) \
  if (!(cond)) fail(#cond)

// Checks the order of calls; keeps the first lines' fields for the round trip.
struct CheckingDelegate : CsvParserDelegate {
  bool begun = false, inLine = false, finished = false, cancelled = false;
  uint64_t line = 0;
  int64_t nextField = 0;
  uint64_t cancelAtLine = 0;  // 0: never
  uint64_t keepLines = 64;    // lines whose fields are kept
  std::vector<std::vector<std::u16string>> lines;
  std::string utf8;

  void parserDidBeginDocument(CsvParser&) override {
    REQUIRE_ORDER(!begun);
    begun = true;
  }
  void parserDidBeginLine(CsvParser&, uint64_t n) override {
    REQUIRE_ORDER(begun && !finished && !inLine && !cancelled);
    REQUIRE_ORDER(n == line + 1);
    line = n;
    inLine = true;
    nextField = 0;
    if (n <= keepLines) lines.emplace_back();
  }
  void parserDidReadField(CsvParser& p, std::u16string_view field, int64_t index) override {
    REQUIRE_ORDER(inLine && !cancelled);
    REQUIRE_ORDER(index == nextField);
    ++nextField;
    for (char16_t c : field) REQUIRE_ORDER(c != 0);
    utf8.clear();
    appendUtf8(utf8, field);  // the importer's conversion
    if (line <= keepLines) lines.back().emplace_back(field);
    if (cancelAtLine && line == cancelAtLine && index == 1) cancel(p);
  }
  void parserDidReadComment(CsvParser&, std::u16string_view) override {
    REQUIRE_ORDER(begun && !finished && !inLine && !cancelled);
  }
  void parserDidEndLine(CsvParser& p, uint64_t n) override {
    REQUIRE_ORDER(inLine && n == line && !cancelled);
    inLine = false;
    if (cancelAtLine && n == cancelAtLine) cancel(p);
  }
  void parserDidEndDocument(CsvParser&) override {
    REQUIRE_ORDER(begun && !finished);
    finished = true;
  }
  void parserDidFailWithError(CsvParser& p, const CsvError& e) override {
    REQUIRE_ORDER(begun && !finished && !cancelled);
    REQUIRE_ORDER(e.domain == "CsvErrorDomain" && e.code == 1 && p.error().has_value());
    finished = true;
  }
  void cancel(CsvParser& p) {
    p.cancelParsing();
    cancelled = true;
  }
};

std::u16string trimmed(std::u16string_view s) {
  while (!s.empty() && isTrimCharacter(s.front())) s.remove_prefix(1);
  while (!s.empty() && isTrimCharacter(s.back())) s.remove_suffix(1);
  return std::u16string(s);
}

// Writes the fields with the writer and checks they parse back, trimmed.
void roundTrip(const std::vector<std::vector<std::u16string>>& lines, char16_t delimiter) {
  std::string bytes;
  std::vector<std::vector<std::u16string>> expected;
  {
    CsvWriter w(std::make_unique<StringByteSink>(bytes), TextEncoding::UTF16LE, delimiter);
    for (const auto& fields : lines) {
      // A line of one empty field is an empty line, which the parser skips.
      if (fields.empty() || (fields.size() == 1 && fields[0].empty())) continue;
      std::vector<std::u16string> want;
      for (const auto& f : fields) {
        w.writeField(std::u16string_view(f));
        want.push_back(trimmed(f));
      }
      w.finishLine();
      expected.push_back(std::move(want));
    }
  }
  expected.push_back({u""});
  CheckingDelegate again;
  again.keepLines = expected.size();
  std::optional<TextEncoding> encoding = TextEncoding::UTF16LE;
  CsvParser parser(std::make_unique<MemoryByteSource>(bytes), &encoding, delimiter);
  parser.setSanitizesFields(true);
  parser.setDelegate(&again);
  parser.parse();
  REQUIRE_ORDER(again.finished && !parser.error());
  REQUIRE_ORDER(again.lines == expected);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setLogSink([](std::string_view) {});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const uint8_t flags = data[0], delimiterChoice = data[1], encodingChoice = data[2], readChoice = data[3];
  static const char16_t delimiters[] = {u',',  u';', u'\t', u'|',      u' ',     u'"',
                                        u'\n', u'#', u'\\', u'\u00A7', u'\u2028'};
  const char16_t delimiter = delimiters[delimiterChoice % (sizeof delimiters / sizeof delimiters[0])];
  std::optional<TextEncoding> encoding;
  if (encodingChoice % 16 < 9) encoding = static_cast<TextEncoding>(encodingChoice % 16);  // else sniffed
  static const size_t readSizes[] = {0, 1, 2, 3, 7, 100, 511, 513};
  const size_t readSize = readSizes[readChoice % 8];

  std::string_view text(reinterpret_cast<const char*>(data + 4), size - 4);
  CheckingDelegate d;
  d.cancelAtLine = (flags & 8) ? 1 + (flags >> 4) : 0;
  {
    CsvParser parser(std::make_unique<MemoryByteSource>(text, readSize), &encoding, delimiter);
    parser.setSanitizesFields(flags & 1);
    parser.setRecognizesBackslashesAsEscapes(flags & 2);
    parser.setRecognizesComments(flags & 4);
    parser.setDelegate(&d);
    parser.parse();
    REQUIRE_ORDER(d.finished || (d.cancelled && parser.error()));
    REQUIRE_ORDER(!d.inLine || d.cancelled);
    REQUIRE_ORDER(parser.totalBytesRead() <= text.size());
    // Input left unread is only ever reported with something in it.
    const auto& unread = parser.unreadInput();
    REQUIRE_ORDER(!unread || (!d.cancelled && !parser.error() && (unread->lines > 0 || unread->bytes > 0)));
  }
  // The quoting only round-trips with ordinary delimiters.
  if (!d.cancelled && (delimiter == u',' || delimiter == u';' || delimiter == u'\t' || delimiter == u'|')) {
    roundTrip(d.lines, delimiter);
  }
  return 0;
}
