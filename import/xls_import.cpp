#include "import/xls_import.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <memory>
#include <string_view>
#include <system_error>

#include "engine/number_format.h"
#include "engine/translate.h"
#include "import/workbook_dates.h"
#include "import/xls_reader.h"

namespace tabulix {

namespace {

WorkbookError workbookError(const std::string& name, const std::string& problem) {
  return WorkbookError(fillPlaceholders(tr("The workbook \"%@\" cannot be read: %@."), {name, problem}));
}

// Runs `work`, turning the reader's failures into a WorkbookError naming the file.
template <typename Work>
auto guarded(const std::string& name, Work&& work) {
  try {
    return work();
  } catch (const xls::FormatError& e) {
    throw workbookError(name, e.what());
  } catch (const std::system_error& e) {
    throw workbookError(name, std::string(e.what()));
  } catch (const std::bad_alloc&) {
    throw workbookError(name, "it needs more memory than is available");
  }
}

// Writes `v` into `out` (reusing its buffer) as xlsNumberText describes.
void assignNumberText(std::string& out, double v) {
  out.clear();
  if (v == 0) {
    out.push_back('0');
    return;
  }
  char buffer[64];
  if (!std::isfinite(v)) {
    out.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, v).ptr);
    return;
  }
  // The shortest digits that read back the same double, then placed around
  // the decimal point: d.ddde+X has the digits ddddd and the exponent X.
  const char* end = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::scientific).ptr;
  const std::string_view s(buffer, static_cast<size_t>(end - buffer));
  const size_t e = s.find('e');
  int exponent = 0;
  std::from_chars(s.data() + e + (s[e + 1] == '+' ? 2 : 1), s.data() + s.size(), exponent);
  if (exponent < -7 || exponent >= 21) {
    out.append(s);
    return;
  }
  char digits[32];
  int count = 0;
  for (char c : s.substr(0, e)) {
    if (c == '-') {
      out.push_back(c);
    } else if (c != '.') {
      digits[count++] = c;
    }
  }
  if (exponent >= count - 1) {
    out.append(digits, static_cast<size_t>(count));
    out.append(static_cast<size_t>(exponent - (count - 1)), '0');
  } else if (exponent >= 0) {
    out.append(digits, static_cast<size_t>(exponent + 1));
    out.push_back('.');
    out.append(digits + exponent + 1, static_cast<size_t>(count - exponent - 1));
  } else {
    out.append("0.");
    out.append(static_cast<size_t>(-exponent - 1), '0');
    out.append(digits, static_cast<size_t>(count));
  }
}

// The sheet conversion: cells to lines, one line's cells held at a time.
void convertSheet(XlsReader& reader, int sheetIndex, const XlsLineHandler& deliver,
                  std::optional<double>* fraction = nullptr) {
  if (sheetIndex < 0) return;
  reader.startIterator(static_cast<uint32_t>(sheetIndex));
  const bool date1904 = reader.is1904();
  // What each XF record's number format shows: the workbook's own code for
  // the format when it has one, else the built-in meaning of its index.
  std::vector<WorkbookFormatKind> xfKinds(reader.xfs().size());
  for (size_t i = 0; i < xfKinds.size(); ++i) xfKinds[i] = xlsFormatKind(reader.numFmts(), reader.xfs()[i]);

  // Every line is as wide as the widest row: a first pass over the cells,
  // which the reader holds in memory anyway, finds it.
  uint32_t columns = 0;
  for (auto c = reader.nextCell(); c && c->type != cellBlank; c = reader.nextCell())
    columns = std::max(columns, c->col);
  reader.startIterator(static_cast<uint32_t>(sheetIndex));

  uint32_t currentRow = 0;
  uint64_t lines = 0;
  std::vector<std::string> texts(columns);  // the open line's texts by column - 1
  std::vector<uint32_t> filled;             // columns of the open line that hold a text
  std::vector<std::string> fields(columns);

  auto finishLine = [&]() {
    for (auto& f : fields) f.clear();
    for (uint32_t c : filled) fields[c - 1].swap(texts[c - 1]);
    filled.clear();
    if (fraction) *fraction = reader.fractionIterated();
    return deliver(lines, fields);
  };

  for (;;) {
    std::optional<XlsCell> cell = reader.nextCell();
    if (!cell) break;
    if (cell->row != currentRow) {
      if (lines > 0 && !finishLine()) break;
      currentRow = cell->row;
      ++lines;
    }
    if (cell->type == cellBlank) break;
    const uint32_t col = cell->col;
    std::string& text = texts[col - 1];
    text.clear();
    if (cell->type == cellFloat) {
      const double v = cell->val.value_or(0);
      const WorkbookFormatKind kind =
          cell->xf < xfKinds.size() ? xfKinds[cell->xf] : WorkbookFormatKind::Number;
      if (kind == WorkbookFormatKind::Number || !workbookDateText(v, date1904, kind, text))
        assignNumberText(text, v);
    } else if (cell->str) {
      text.assign(*cell->str);
    }
    filled.push_back(col);
  }
}

}  // namespace

WorkbookFormatKind xlsFormatKind(const std::map<uint16_t, std::string>& numFmts, uint16_t index) {
  auto code = numFmts.find(index);
  return code != numFmts.end() ? workbookFormatKind(code->second) : workbookBuiltinFormatKind(index);
}

std::string xlsNumberText(double v) {
  std::string out;
  assignNumberText(out, v);
  return out;
}

std::vector<std::string> xlsSheetNamesFromMemory(std::span<const uint8_t> bytes,
                                                 const std::string& displayName) {
  return guarded(displayName, [&] {
    std::unique_ptr<XlsReader> reader = XlsReader::xlsReaderFromMemory(bytes);
    std::vector<std::string> names;
    for (uint32_t i = 0; i < reader->numberOfSheets(); ++i) names.push_back(*reader->sheetNameAtIndex(i));
    return names;
  });
}

std::vector<std::string> xlsSheetNames(const std::filesystem::path& file) {
  return guarded(file.filename().string(), [&] {
    std::unique_ptr<XlsReader> reader = XlsReader::xlsReaderFromFile(file);
    std::vector<std::string> names;
    for (uint32_t i = 0; i < reader->numberOfSheets(); ++i) names.push_back(*reader->sheetNameAtIndex(i));
    return names;
  });
}

void readXlsSheetFromMemory(std::span<const uint8_t> bytes, int sheetIndex, const XlsLineHandler& deliver,
                            const std::string& displayName) {
  std::unique_ptr<XlsReader> reader = guarded(displayName, [&] {
    auto r = XlsReader::xlsReaderFromMemory(bytes);
    if (sheetIndex >= 0) r->startIterator(static_cast<uint32_t>(sheetIndex));
    return r;
  });
  convertSheet(*reader, sheetIndex, deliver);
}

void readXlsSheet(const std::filesystem::path& file, int sheetIndex, const XlsLineHandler& deliver,
                  std::optional<double>* fraction) {
  std::unique_ptr<XlsReader> reader = guarded(file.filename().string(), [&] {
    auto r = XlsReader::xlsReaderFromFile(file);
    if (sheetIndex >= 0) r->startIterator(static_cast<uint32_t>(sheetIndex));
    return r;
  });
  convertSheet(*reader, sheetIndex, deliver, fraction);
}

}  // namespace tabulix
