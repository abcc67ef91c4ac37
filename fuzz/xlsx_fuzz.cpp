// libFuzzer target for the .xlsx reader over an in-memory workbook.
//
// The first byte chooses the mode. Even: the rest is a zip container as it
// stands, which exercises the container checks. Odd: the rest holds the
// workbook's parts separated by the line "----" (workbook, relationships,
// sheet, styles, shared strings), packed here into an uncompressed zip, so
// that mutations reach the XML handling instead of breaking the
// compression. The second byte chooses when the delegate cancels. Besides
// crashes, leaks and hangs it checks that every line has as many texts as
// the first and that the completion comes exactly once.
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "import/workbook_error.h"
#include "import/xlsx_parser.h"

namespace {

using namespace tabulix;

#define REQUIRE(cond) \
  if (!(cond)) __builtin_trap()

void put16(std::string& s, uint32_t v) {
  s += static_cast<char>(v & 0xff);
  s += static_cast<char>((v >> 8) & 0xff);
}
void put32(std::string& s, uint32_t v) {
  put16(s, v & 0xffff);
  put16(s, v >> 16);
}

// A zip of stored (uncompressed) entries.
std::string storedZip(const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string out, dir;
  for (const auto& [name, data] : entries) {
    uint32_t crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), data.size()));
    uint32_t offset = static_cast<uint32_t>(out.size());
    put32(out, 0x04034b50);
    put16(out, 20), put16(out, 0), put16(out, 0), put16(out, 0), put16(out, 0);
    put32(out, crc), put32(out, data.size()), put32(out, data.size());
    put16(out, name.size()), put16(out, 0);
    out += name + data;
    put32(dir, 0x02014b50);
    put16(dir, 20), put16(dir, 20), put16(dir, 0), put16(dir, 0), put16(dir, 0), put16(dir, 0);
    put32(dir, crc), put32(dir, data.size()), put32(dir, data.size());
    put16(dir, name.size()), put16(dir, 0), put16(dir, 0), put16(dir, 0), put16(dir, 0);
    put32(dir, 0), put32(dir, offset);
    dir += name;
  }
  uint32_t dirOffset = static_cast<uint32_t>(out.size());
  out += dir;
  put32(out, 0x06054b50);
  put16(out, 0), put16(out, 0), put16(out, entries.size()), put16(out, entries.size());
  put32(out, dir.size()), put32(out, dirOffset), put16(out, 0);
  return out;
}

struct Checker : XlsxParserDelegate {
  size_t cancelAt = 0;
  size_t lines = 0, width = 0;
  int completions = 0;
  bool cancelled = false;
  void parserDidInspectDocument(XlsxParser& p, const std::string&,
                                const std::vector<XlsxSheet>& sheets) override {
    if (!sheets.empty()) p.parseSheetAtIndex(0);
  }
  void parserDidCompleteLine(XlsxParser& p, const std::vector<std::string>& line, uint64_t,
                             uint64_t n) override {
    REQUIRE(!cancelled);
    REQUIRE(completions == 0);
    REQUIRE(n == ++lines);
    if (lines == 1) width = line.size();
    REQUIRE(line.size() == width);
    if (cancelAt && lines == cancelAt) {
      p.cancelParsing();
      cancelled = true;
    }
  }
  void parserDidCompleteDocument(XlsxParser&, const std::string&) override { ++completions; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  std::string body(reinterpret_cast<const char*>(data) + 2, size - 2);
  if (data[0] & 1) {
    static const char* names[] = {"xl/workbook.xml", "xl/_rels/workbook.xml.rels", "xl/worksheets/sheet1.xml",
                                  "xl/styles.xml", "xl/sharedStrings.xml"};
    std::vector<std::pair<std::string, std::string>> parts;
    size_t start = 0;
    for (const char* name : names) {
      size_t end = body.find("\n----\n", start);
      parts.emplace_back(name,
                         body.substr(start, end == std::string::npos ? std::string::npos : end - start));
      if (end == std::string::npos) break;
      start = end + 6;
    }
    body = storedZip(parts);
  }
  Checker checker;
  checker.cancelAt = data[1] % 8;
  // Small limits keep each run short; the logic under them is the same.
  ZipLimits limits{.maxEntries = 64, .maxPartBytes = 8u << 20, .ratioFloor = 1u << 20, .maxRatio = 200};
  try {
    XlsxParser parser(body, "fuzz.xlsx", &checker, limits);
    REQUIRE(checker.completions <= 1);
  } catch (const WorkbookError&) {
    REQUIRE(checker.completions <= 1);
  }
  return 0;
}
