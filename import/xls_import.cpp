#include "import/xls_import.h"

#include <unicode/dtptngen.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>

#include <array>
#include <charconv>
#include <cmath>
#include <memory>
#include <string_view>
#include <system_error>
#include <unordered_map>

#include "engine/number_format.h"
#include "engine/translate.h"
#include "import/xls_reader.h"

namespace tabulix {

namespace {

// The custom number format strings taken as dates, compared exactly; a few
// stand twice, which does no harm.
constexpr std::array<std::string_view, 62> kDateFormats = {"mmm d, yyyy",
                                                           "m/d",
                                                           "mmm d",
                                                           "m/d/yy",
                                                           "mm/dd/yy",
                                                           "m/d/yyyy",
                                                           "m/d/yy h:mm",
                                                           "m/d/yy",
                                                           "d-mmm-yy",
                                                           "d-mmm",
                                                           "mmm-yy",
                                                           "m/d/yy h:mm",
                                                           "ddmmmyy",
                                                           "ddmmmyyyy:hh:mm:ss",
                                                           "dd",
                                                           "dd/mm/yy",
                                                           "dddd",
                                                           "mm/dd/yy",
                                                           "mm:ss",
                                                           "mm yy",
                                                           "mm yyyy",
                                                           "mm:yy",
                                                           "mm:yyyy",
                                                           "mm-yy",
                                                           "mm-yyyy",
                                                           "mmyy",
                                                           "mmyyyy",
                                                           "mm.yy",
                                                           "mm.yyyy",
                                                           "mm/yy",
                                                           "mm/yyyy",
                                                           "mmmm",
                                                           "m",
                                                           "mmmyy",
                                                           "mmmyyyy",
                                                           "dddd, mmmm dd, yyyy",
                                                           "dddd, dd mmmm yyyy",
                                                           "mmmm dd, yyyy",
                                                           "dd mmmm yyyy",
                                                           "yy",
                                                           "yyyy",
                                                           "yy mm",
                                                           "yyyy mm",
                                                           "yy:mm",
                                                           "yyyy:mm",
                                                           "yy-mm",
                                                           "yyyy-mm",
                                                           "yymm",
                                                           "yyyymm",
                                                           "yy.mm",
                                                           "yyyy.mm",
                                                           "yy/mm",
                                                           "yyyy/mm",
                                                           "yy-mm-dd",
                                                           "yymmm",
                                                           "yyyymmm",
                                                           "h:mm AM/PM",
                                                           "h:mm:ss AM/PM",
                                                           "h:mm",
                                                           "hh:mm",
                                                           "h:mm:ss",
                                                           "hh:mm:ss"};

// Day zero of serial dates: 1899-12-31 00:00 UTC, or 1904-01-02 00:00 UTC.
constexpr double kDayZero1900 = -2209075200.0;
constexpr double kDayZero1904 = -2082758400.0;

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

// The date-only and date-and-time formats: the locale's patterns for the
// templates MM/dd/yyyy and MM/dd/yyyy HH:mm, in the device time zone.
class DateTexts {
 public:
  explicit DateTexts(const std::string& localeName) {
    const icu::Locale locale = icu::Locale::createCanonical(localeName.c_str());
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::DateTimePatternGenerator> generator(
        icu::DateTimePatternGenerator::createInstance(locale, status));
    icu::UnicodeString datePattern = u"MM/dd/yyyy", dateTimePattern = u"MM/dd/yyyy HH:mm";
    if (U_SUCCESS(status)) {
      UErrorCode s1 = U_ZERO_ERROR, s2 = U_ZERO_ERROR;
      icu::UnicodeString p1 = generator->getBestPattern(u"MMddyyyy", s1);
      icu::UnicodeString p2 = generator->getBestPattern(u"MMddyyyyHHmm", s2);
      if (U_SUCCESS(s1)) datePattern = p1;
      if (U_SUCCESS(s2)) dateTimePattern = p2;
    }
    status = U_ZERO_ERROR;
    date_ = std::make_unique<icu::SimpleDateFormat>(datePattern, locale, status);
    status = U_ZERO_ERROR;
    dateTime_ = std::make_unique<icu::SimpleDateFormat>(dateTimePattern, locale, status);
  }

  // The instant `seconds` after 1970-01-01 00:00 UTC.
  const std::string& text(double seconds, bool withTime) {
    // Whole days repeat often in a column, so their texts are kept.
    if (!withTime) {
      if (auto it = cache_.find(seconds); it != cache_.end()) return it->second;
      if (cache_.size() > 100000) cache_.clear();
    }
    icu::UnicodeString u;
    (withTime ? dateTime_ : date_)->format(seconds * 1000.0, u);
    out_.clear();
    u.toUTF8String(out_);
    if (!withTime) return cache_.emplace(seconds, out_).first->second;
    return out_;
  }

 private:
  std::unique_ptr<icu::SimpleDateFormat> date_, dateTime_;
  std::unordered_map<double, std::string> cache_;
  std::string out_;
};

// The date formats of this thread for a locale and the current default zone:
// building them takes far longer than reading a small sheet.
DateTexts& dateTextsFor(const std::string& localeName) {
  thread_local std::string key;
  thread_local std::unique_ptr<DateTexts> texts;
  std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createDefault());
  icu::UnicodeString id;
  zone->getID(id);
  std::string wanted = localeName + '|';
  id.toUTF8String(wanted);
  if (!texts || key != wanted) {
    texts = std::make_unique<DateTexts>(localeName);
    key = std::move(wanted);
  }
  return *texts;
}

// The sheet conversion: cells to lines, one line's cells held at a time.
void convertSheet(XlsReader& reader, int sheetIndex, const XlsLineHandler& deliver,
                  const std::string& localeName) {
  if (sheetIndex < 0) return;
  reader.startIterator(static_cast<uint32_t>(sheetIndex));
  DateTexts* dates = nullptr;  // found at the first date cell
  const double dayZero = reader.is1904() ? kDayZero1904 : kDayZero1900;
  // Which XF records give their cells a date format: built-in formats 14 to
  // 22 or one of the known custom date format strings.
  std::vector<bool> dateXf(reader.xfs().size());
  for (size_t i = 0; i < dateXf.size(); ++i) {
    const uint16_t k = reader.xfs()[i];
    auto custom = reader.numFmts().find(k);
    dateXf[i] =
        (k >= 14 && k <= 22) || (custom != reader.numFmts().end() && isXlsDateFormatString(custom->second));
  }

  uint32_t currentRow = 0;
  uint64_t lines = 0;
  uint32_t firstLineLastColumn = 0;
  uint32_t columns = 0;  // fixed when the first line is finished
  bool columnsFixed = false;
  std::vector<std::string> texts;  // the open line's texts by column - 1
  std::vector<uint32_t> filled;    // columns of the open line that hold a text
  std::vector<std::string> fields;

  auto finishLine = [&]() {
    if (lines == 1 && !columnsFixed && firstLineLastColumn > 0) {
      columns = firstLineLastColumn;
      columnsFixed = true;
      texts.resize(columns);
    }
    fields.resize(columns);
    for (auto& f : fields) f.clear();
    for (uint32_t c : filled) {
      if (c <= columns) fields[c - 1].swap(texts[c - 1]);
    }
    filled.clear();
    return deliver(lines, fields);
  };

  bool goOn = true;
  while (goOn) {
    std::optional<XlsCell> cell = reader.nextCell();
    if (!cell) break;
    if (cell->row != currentRow) {
      if (lines > 0 && !finishLine()) goOn = false;
      currentRow = cell->row;
      ++lines;
    }
    if (lines == 1) firstLineLastColumn = std::max(firstLineLastColumn, cell->col);
    if (cell->type == cellBlank) break;
    const uint32_t col = cell->col;
    if (columnsFixed && col > columns) continue;  // right of the first line: dropped
    if (col > texts.size()) texts.resize(col);
    std::string& text = texts[col - 1];
    text.clear();
    if (cell->type == cellFloat) {
      const double v = cell->val.value_or(0);
      if (cell->xf < dateXf.size() && dateXf[cell->xf] && std::isfinite(v) && std::fabs(v) < 1e9) {
        if (!dates) dates = &dateTextsFor(localeName.empty() ? deviceLocaleName() : localeName);
        text = dates->text(dayZero + v * 24 * 60 * 60, v != std::floor(v));
      } else {
        assignNumberText(text, v);
      }
    } else if (cell->str) {
      text.assign(*cell->str);
    }
    filled.push_back(col);
  }
}

}  // namespace

bool isXlsDateFormatString(const std::string& format) {
  for (std::string_view f : kDateFormats) {
    if (format == f) return true;
  }
  return false;
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
                            const std::string& localeName, const std::string& displayName) {
  std::unique_ptr<XlsReader> reader = guarded(displayName, [&] {
    auto r = XlsReader::xlsReaderFromMemory(bytes);
    if (sheetIndex >= 0) r->startIterator(static_cast<uint32_t>(sheetIndex));
    return r;
  });
  convertSheet(*reader, sheetIndex, deliver, localeName);
}

void readXlsSheet(const std::filesystem::path& file, int sheetIndex, const XlsLineHandler& deliver,
                  const std::string& localeName) {
  std::unique_ptr<XlsReader> reader = guarded(file.filename().string(), [&] {
    auto r = XlsReader::xlsReaderFromFile(file);
    if (sheetIndex >= 0) r->startIterator(static_cast<uint32_t>(sheetIndex));
    return r;
  });
  convertSheet(*reader, sheetIndex, deliver, localeName);
}

}  // namespace tabulix
