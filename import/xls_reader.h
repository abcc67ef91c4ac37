// XlsReader: an .xls workbook opened for the import driver. It lists the
// sheets, exposes the number formats, the cell formats and the date system,
// and iterates the non-blank cells of one sheet as XlsCell records.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "import/xls_biff.h"

namespace tabulix {

// Cell type codes of XlsCell::type.
enum XlsCellType : int32_t {
  cellBlank = 0,    // the end-of-iteration cell
  cellString = 1,   // text cells; formula cells with a text result
  cellInteger = 2,  // never produced
  cellFloat = 3,    // NUMBER, RK and MULRK cells; formula cells with a numeric result
  cellBool = 4,     // formula cells with a boolean result: TRUE or FALSE
  cellError = 5,    // formula cells with an error result: its text, such as #DIV/0!
  cellUnknown = 6,  // every other record kind (direct boolean and error cells, RSTRING)
};

// The name a cell type prints as: "cellBlank" ... "cellError", "cellUnknown" above 5.
std::string_view xlsCellTypeName(int32_t type);

// One cell of an iteration. Rows and columns are 1-based and 32-bit, so the
// 65,536th row is not mistaken for the end of the iteration.
struct XlsCell {
  uint32_t row = 0;  // 0 in the blank cell that ends an iteration
  uint32_t col = 0;
  uint16_t xf = 0;  // index of the cell's XF record
  int32_t type = cellBlank;
  std::optional<std::string_view> str;  // valid until the next startIterator or the reader's end
  std::optional<double> val;
};

// A workbook opened for reading. Errors are xls::FormatError (damaged or
// unsupported files) or std::system_error (the file cannot be read).
class XlsReader {
 public:
  // Opens and parses the workbook file.
  static std::unique_ptr<XlsReader> xlsReaderFromFile(const std::filesystem::path& path);
  // Parses a workbook held in memory (the bytes are copied what is needed of).
  static std::unique_ptr<XlsReader> xlsReaderFromMemory(std::span<const uint8_t> bytes);

  // The number of sheets, hidden ones and charts included.
  uint32_t numberOfSheets() const { return static_cast<uint32_t>(globals_.sheets.size()); }
  // The sheet's name, or none for an index out of range.
  std::optional<std::string> sheetNameAtIndex(uint32_t index) const;
  // Opens sheet `index` and puts the cursor on its first cell; an index out of
  // range switches iteration off. Throws xls::FormatError for a damaged sheet.
  void startIterator(uint32_t index);
  // The next non-blank cell in row-major order; the blank cell (type 0, row 0)
  // once the sheet is exhausted; none when no iteration is running.
  std::optional<XlsCell> nextCell();
  // The share of the open sheet's cells iterated, 0..1 (0 when none is open).
  double fractionIterated() const {
    return iterating_ && !sheet_.cells.empty()
               ? std::min(1.0, static_cast<double>(cursor_) / static_cast<double>(sheet_.cells.size()))
               : 0.0;
  }

  // Number-format index to format string.
  const std::map<uint16_t, std::string>& numFmts() const { return globals_.numFmts; }
  // The number-format index of each XF record, in workbook order.
  const std::vector<uint16_t>& xfs() const { return globals_.xfNumFmts; }
  // Whether the workbook counts dates from 1904.
  bool is1904() const { return globals_.is1904; }
  // Whether it is a BIFF5 (Excel 5 or 95) workbook.
  bool isBiff5() const { return !globals_.biff8; }

 private:
  explicit XlsReader(std::vector<uint8_t> stream);

  std::vector<uint8_t> stream_;  // the workbook stream
  xls::Globals globals_;
  static constexpr uint32_t kNone = 0xFFFFFFFF;
  uint32_t activeWorkSheetID_ = kNone;
  xls::Sheet sheet_;
  bool iterating_ = false;
  size_t cursor_ = 0;  // index of the next cell of sheet_
};

}  // namespace tabulix
