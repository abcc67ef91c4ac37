// BIFF5 and BIFF8 records of an .xls workbook stream: the workbook globals
// (sheets, shared strings, number formats, cell formats, date system, code
// page) and the cells of one sheet. Every length, count, offset and index read
// from the stream is checked before it is used; damage is a FormatError.
#pragma once

#include <cstdint>
#include <limits>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "import/xls_cfb.h"

namespace tabulix::xls {

// Record identifiers the reader acts on.
enum Record : uint16_t {
  kFormula = 0x0006,
  kEof = 0x000A,
  kDateMode = 0x0022,
  kFilePass = 0x002F,
  kContinue = 0x003C,
  kCodePage = 0x0042,
  kBoundSheet = 0x0085,
  kMulRk = 0x00BD,
  kMulBlank = 0x00BE,
  kRString = 0x00D6,
  kXf = 0x00E0,
  kSst = 0x00FC,
  kLabelSst = 0x00FD,
  kBlank = 0x0201,
  kNumber = 0x0203,
  kLabel = 0x0204,
  kBoolErr = 0x0205,
  kString = 0x0207,
  kRk = 0x027E,
  kFormat = 0x041E,
  kBof = 0x0809,
};

// One sheet as its BOUNDSHEET record describes it.
struct SheetEntry {
  std::string name;        // UTF-8
  uint32_t offset = 0;     // stream position of the sheet's BOF record
  uint8_t visibility = 0;  // 0 visible, 1 hidden, 2 very hidden
  uint8_t kind = 0;        // 0 worksheet, 1 macro sheet, 2 chart, 6 module
};

// Texts kept end to end in one buffer: a few bytes per text, however many.
class TextTable {
 public:
  // Appends a text; returns its index.
  uint32_t add(std::string_view text) {
    chars_.append(text);
    ends_.push_back(chars_.size());
    return static_cast<uint32_t>(ends_.size() - 1);
  }
  size_t size() const { return ends_.size(); }
  // The text at `index` (< size()).
  std::string_view operator[](size_t index) const {
    const size_t begin = index == 0 ? 0 : ends_[index - 1];
    return std::string_view(chars_).substr(begin, ends_[index] - begin);
  }
  void reserve(size_t texts) { ends_.reserve(texts); }

 private:
  std::string chars_;
  std::vector<size_t> ends_;
};

// What the workbook globals say.
struct Globals {
  bool biff8 = true;  // false: BIFF5/BIFF7 (Excel 5 and 95)
  std::vector<SheetEntry> sheets;
  TextTable sharedStrings;                  // UTF-8, in table order
  std::map<uint16_t, std::string> numFmts;  // FORMAT records: index to format string (UTF-8)
  std::vector<uint16_t> xfNumFmts;          // number-format index of each XF record, in order
  bool is1904 = false;
  uint16_t codePage = 1252;  // of BIFF5 byte strings
};

// Reads the workbook globals at the start of the stream. Throws FormatError.
Globals parseGlobals(std::span<const uint8_t> stream);

// The kind of value a cell holds.
enum class CellValue : uint8_t { Number, Text, Bool, Error };

// One non-blank cell of a sheet.
struct BiffCell {
  static constexpr uint32_t kNoText = std::numeric_limits<uint32_t>::max();
  uint32_t row = 0;  // 0-based
  uint16_t col = 0;  // 0-based
  uint16_t xf = 0;
  uint16_t record = 0;  // the record it came from; the cells of MULRK records carry kRk
  CellValue value = CellValue::Number;
  double number = 0;  // Number: the value; Bool: 0 or 1; Error: the error code
  // Text: the shared-string index for kLabelSst, else an index into
  // Sheet::texts, or kNoText for the empty text. Unused for BOOLERR cells.
  uint32_t text = kNoText;
};

// The cells of one sheet in row-major order, one per position (a later record
// for the same cell replaces an earlier one).
struct Sheet {
  std::vector<BiffCell> cells;
  TextTable texts;  // UTF-8 texts of LABEL, RSTRING and STRING records
};

// The last column an .xls sheet can have (IV).
constexpr uint16_t kLastColumn = 255;

// Reads the sheet that `globals.sheets[index]` points at. Throws FormatError,
// also for a cell right of column IV.
Sheet parseSheet(std::span<const uint8_t> stream, const Globals& globals, size_t index);

// The A1-style name of a 0-based cell position ("B3").
std::string cellName(uint32_t row, uint32_t col);

// The text Excel shows for an error code ("#DIV/0!"), or "#ERR" plus the code.
std::string_view errorText(uint8_t code);

}  // namespace tabulix::xls
