// libFuzzer target for the .xls reader over an in-memory workbook.
//
// The input is the whole file. Every sheet (up to four) is read twice: through
// XlsReader, checking that cells come in strict row-major order and that the
// end of the iteration stays there, and through the sheet conversion, checking
// that lines are numbered 1, 2, 3, ... and are all as wide as the first.
// Failures must be WorkbookError (or FormatError below it), never a crash,
// leak or hang.
//
// Seeds (fuzz/corpus/xls): small workbooks of xlwt and Spreadsheet::WriteExcel
// from tests/data/xls, and crafted_biff8.xls / crafted_biff5.xls built with
// tests/import/xls_test_util.h (MULRK, RK forms, a formula text result, BIFF5
// code-page text, both in the mini stream).
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/log.h"
#include "import/xls_import.h"
#include "import/xls_reader.h"

namespace {

using namespace tabulix;

#define REQUIRE(cond) \
  if (!(cond)) __builtin_trap()

void iterateCells(std::span<const uint8_t> bytes) {
  std::unique_ptr<XlsReader> reader;
  try {
    reader = XlsReader::xlsReaderFromMemory(bytes);
  } catch (const xls::FormatError&) {
    return;
  }
  const uint32_t sheets = std::min<uint32_t>(reader->numberOfSheets(), 4);
  for (uint32_t s = 0; s <= sheets; ++s) {
    try {
      reader->startIterator(s);
    } catch (const xls::FormatError&) {
      continue;
    }
    uint64_t previous = 0;
    for (;;) {
      std::optional<XlsCell> c = reader->nextCell();
      if (s == reader->numberOfSheets()) {
        REQUIRE(!c);  // out of range: iteration is off
        break;
      }
      REQUIRE(c.has_value());
      if (c->type == cellBlank) {
        REQUIRE(c->row == 0);
        REQUIRE(reader->nextCell()->type == cellBlank);
        break;
      }
      const uint64_t position = uint64_t{c->row} << 32 | c->col;
      REQUIRE(c->row >= 1 && c->col >= 1 && position > previous);
      previous = position;
      REQUIRE(c->type >= cellString && c->type <= cellUnknown && c->type != cellInteger);
      REQUIRE(c->type == cellFloat ? c->val.has_value() : c->str.has_value());
    }
  }
}

void convertSheets(std::span<const uint8_t> bytes) {
  std::vector<std::string> names;
  try {
    names = xlsSheetNamesFromMemory(bytes);
  } catch (const WorkbookError&) {
    return;
  }
  for (int s = 0; s < static_cast<int>(std::min<size_t>(names.size(), 4)); ++s) {
    uint64_t expected = 1;
    size_t width = 0;
    try {
      readXlsSheetFromMemory(bytes, s, [&](uint64_t n, const std::vector<std::string>& fields) {
        REQUIRE(n == expected);
        if (n == 1) width = fields.size();
        REQUIRE(fields.size() == width && width > 0);
        ++expected;
        return n < 2000;
      });
    } catch (const WorkbookError&) {
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setLogSink([](std::string_view) {});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  iterateCells(bytes);
  convertSheets(bytes);
  return 0;
}
