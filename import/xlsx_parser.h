// XlsxParser: reads an Office Open XML workbook (.xlsx) for the import
// driver. One reader serves one pass: the sheet list, then (when the delegate
// asks for it from the sheet-list call) one sheet delivered row by row.
//
// Cells are delivered as text: shared strings replaced by their item's whole
// text (all its runs, without phonetic guides), inline strings by their
// text, booleans as TRUE and FALSE, numbers under a date or time format as
// the dates Excel shows (workbook_dates.h), everything else as the raw text
// of its value (error values as written: #DIV/0!).
//
// Every line is as wide as the sheet's widest row: the sheet is read twice,
// first to find the columns that hold values, then to deliver the rows.
//
// The parts are read straight from the zip container (ZipPackage) with
// expat; nothing is extracted to disk, so readers never share anything. Any
// failure (not a zip, a missing part, malformed XML, a limit) throws
// WorkbookError with a message naming the file and what is wrong.
#pragma once

#include <cstdint>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "import/workbook_dates.h"
#include "import/workbook_error.h"
#include "import/zip_package.h"

namespace tabulix {

class XlsxParser;

// A sheet of the workbook: its display name and its relationship number
// (the digits of its relationship id after "rId"; 0 when there are none).
struct XlsxSheet {
  std::string name;
  int64_t num = 0;
  std::string relId;  // the relationship id as written
};

// Columns of a sheet past the parser's column limit, which no line holds.
struct XlsxLeftOut {
  size_t firstColumn = 0, lastColumn = 0;  // 0-based
  uint64_t values = 0;                     // cells with a value in them
};

// Receives what an XlsxParser reads, on the thread that made the parser.
class XlsxParserDelegate {
 public:
  virtual ~XlsxParserDelegate() = default;
  // Once, after the workbook part has been read; may call parseSheetNumber.
  virtual void parserDidInspectDocument(XlsxParser& parser, const std::string& path,
                                        const std::vector<XlsxSheet>& sheets) = 0;
  // Before the first line, when columns past the column limit hold values.
  virtual void parserDidLeaveOutColumns(XlsxParser& /*parser*/, const XlsxLeftOut& /*leftOut*/) {}
  // At the end of every row: one text per delivered column, the row's own
  // number and its consecutive number (1 for the first row of the sheet).
  virtual void parserDidCompleteLine(XlsxParser& parser, const std::vector<std::string>& line,
                                     uint64_t number, uint64_t consecutive) = 0;
  // Once after the sheet has been read to its end (or cancelled).
  virtual void parserDidCompleteDocument(XlsxParser& parser, const std::string& path) = 0;
};

// Reads one .xlsx workbook.
class XlsxParser {
 public:
  // Opens the workbook file, reads its sheet list and calls the delegate's
  // parserDidInspectDocument before returning. Throws WorkbookError.
  XlsxParser(const std::filesystem::path& file, XlsxParserDelegate* delegate);
  // The same over a workbook held in memory (not copied); `displayName`
  // names it in messages.
  XlsxParser(std::string_view bytes, const std::string& displayName, XlsxParserDelegate* delegate,
             ZipLimits limits = {});
  ~XlsxParser();

  // At most `columns` texts per line (set before a sheet is read); the
  // delegate hears of the columns left out.
  void setColumnLimit(size_t columns) { columnLimit_ = columns; }
  // Only the first `rows` rows decide how wide the lines are: rows a
  // reader stops before do not widen them.
  void setMeasuredRows(uint64_t rows) { measuredRows_ = rows; }

  // Delivers the rows of the sheet whose relationship number is `num`.
  void parseSheetNumber(int64_t num);
  // Delivers the rows of sheet `index` (0-based position in sheets()).
  void parseSheetAtIndex(size_t index);
  // Stops delivery at the next element start; the completion still follows.
  void cancelParsing() { cancelled_ = true; }
  // How far the chosen sheet is read, from 0 to 1: a sheet is read twice
  // (its columns measured, then its rows delivered), each reading half;
  // none before the sheet is reached.
  std::optional<double> fractionRead() const;
  // The sheets in workbook order, hidden ones included.
  const std::vector<XlsxSheet>& sheets() const { return sheets_; }
  // True when the workbook counts dates from 1904.
  bool date1904() const { return date1904_; }
  // The 702 column names A … Z, AA … ZZ.
  static const std::vector<std::string>& orderCols();
  // The name of 0-based column `index` (0 is A, 702 is AAA).
  static std::string columnName(size_t index);
  // Columns a sheet may use: A … XFD.
  static constexpr size_t kMaxColumns = 16384;

  // Limits on what one workbook may hold in memory.
  static constexpr uint64_t kMaxSharedStrings = 8u << 20;        // items
  static constexpr uint64_t kMaxSharedStringBytes = 1ull << 30;  // UTF-8 bytes of the whole table
  static constexpr size_t kMaxCellText = 1u << 20;               // bytes of one value or string item
  static constexpr size_t kMaxStyles = 1u << 20;                 // cell formats

 private:
  enum class Part { Rels, Workbook, SharedStrings, Styles, Measure, Sheet };
  struct Xml;

  void start();
  void parsePart(Part part, const std::string& name, uint64_t cap);
  void parseSheetRel(const std::string& relId);
  void startElement(const char* name, const char** attrs);
  void endElement(const char* name);
  void characters(const char* s, int len);
  void measureStart(std::string_view name, const char** attrs);
  void measureEnd(std::string_view name);
  void layOutColumns();
  void sheetStart(std::string_view name, const char** attrs);
  void sheetEnd(std::string_view name);
  void cellStart(const char** attrs);
  void storeCell(std::string&& text);
  void finishValue();
  void deliverRow();
  void appendCapped(std::string& to, const char* s, size_t len);
  [[noreturn]] void fail(const std::string& what) const;

  XlsxParserDelegate* delegate_;
  std::string path_;
  std::unique_ptr<ZipPackage> zip_;
  bool cancelled_ = false;
  bool date1904_ = false;
  std::vector<XlsxSheet> sheets_;
  std::unordered_map<std::string, std::string> workbookRels_;
  std::vector<std::string> sharedStrings_;
  uint64_t sharedBytes_ = 0;
  std::vector<int64_t> styles_;                                  // number format of each cell format
  std::unordered_map<int64_t, WorkbookFormatKind> formatKinds_;  // of the numFmt codes
  std::vector<WorkbookFormatKind> styleKinds_;
  size_t columnLimit_ = kMaxColumns;
  uint64_t measuredRows_ = UINT64_MAX;

  // The part being parsed.
  Xml* xml_ = nullptr;
  std::string partName_;
  Part part_ = Part::Rels;
  uint64_t partRead_ = 0, partSize_ = 0;  // uncompressed bytes read, and those the directory claims
  std::exception_ptr pending_;
  bool stoppedByCancel_ = false;
  std::string error_;

  // Shared strings and styles.
  bool inSharedString_ = false;  // inside a t element of an si item
  bool inCellXfs_ = false;
  bool inNumFmts_ = false;
  int phoneticDepth_ = 0;  // inside rPh (phonetic guide) elements
  std::string currentCharacters_;

  // Sheet data.
  bool inValue_ = false;
  bool inInline_ = false;   // inside the is element of an inline-string cell
  bool inInlineT_ = false;  // inside a t element of it
  bool isStringValue_ = false;
  bool isBoolCell_ = false;
  WorkbookFormatKind cellKind_ = WorkbookFormatKind::Number;
  bool isNumberCell_ = true;
  bool hasValue_ = false;
  bool isInlineCell_ = false;
  uint64_t row_ = 0;
  uint64_t rowInternal_ = 0;
  size_t col_ = 0;       // 0-based column of the current cell; kNoColumn beyond ZZZ
  size_t nextCol_ = 0;   // column of a cell without a reference
  size_t firstCol_ = 0;  // columns delivered: firstCol_ .. firstCol_ + colCount_ - 1
  size_t colCount_ = 0;

  // What the first reading finds: the dimension's first column, and the
  // values in each column.
  size_t dimensionFirst_ = 0;
  bool haveDimension_ = false;
  size_t dimensionWidth_ = 0;
  std::vector<uint64_t> columnValues_;
  bool cellHasValue_ = false;
  uint64_t measured_ = 0;

  std::vector<std::string> slots_;  // one per delivered column
  std::vector<uint8_t> present_;
  std::vector<size_t> touched_;  // indexes into slots_
  std::vector<std::string> line_;
  std::string inlineText_;
};

}  // namespace tabulix
