// The .xls side of the import: the sheet names of a workbook, and the
// conversion of one sheet into lines of UTF-8 texts for the import driver
// (numbers as plain decimal texts, numbers under a date or time format as the
// dates Excel shows (workbook_dates.h), booleans as TRUE and FALSE, formula
// errors as their texts such as #DIV/0!).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "import/workbook_dates.h"
#include "import/workbook_error.h"

namespace tabulix {

// Receives one line: its number (1 for the first line delivered, then 2, 3, ...
// with no gaps: rows without any cell deliver no line) and its fields, as many
// as the right-most column of the sheet that holds a cell. Returns false to
// stop the reading.
using XlsLineHandler = std::function<bool(uint64_t line, const std::vector<std::string>& fields)>;

// Sheet names of an .xls workbook in workbook order (hidden sheets and chart
// sheets included). Throws WorkbookError.
std::vector<std::string> xlsSheetNames(const std::filesystem::path& file);

// Reads sheet `sheetIndex` (0-based) and hands its lines to `deliver`; a
// missing cell is the empty text. An index out of range delivers no line.
// Throws WorkbookError, before any line, for a damaged workbook. `fraction`,
// when given, is set before each line to the share of the sheet's cells read.
void readXlsSheet(const std::filesystem::path& file, int sheetIndex, const XlsLineHandler& deliver,
                  std::optional<double>* fraction = nullptr);

// The same two operations over a workbook in memory; `displayName` stands for
// the file's name in error messages.
std::vector<std::string> xlsSheetNamesFromMemory(std::span<const uint8_t> bytes,
                                                 const std::string& displayName = "workbook");
void readXlsSheetFromMemory(std::span<const uint8_t> bytes, int sheetIndex, const XlsLineHandler& deliver,
                            const std::string& displayName = "workbook");

// What number format `index` shows: the workbook's code for it from
// `numFmts` when there is one, else the built-in format's meaning.
WorkbookFormatKind xlsFormatKind(const std::map<uint16_t, std::string>& numFmts, uint16_t index);

// A number as plain decimal text with as many digits as it takes to read back
// the same double ("3.5", "45000", "0.1"); exponent form below 1e-7 and from 1e21.
std::string xlsNumberText(double v);

}  // namespace tabulix
