#include "import/workbook_dates.h"

#include <chrono>
#include <cmath>

namespace tabulix {

namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Whether `code` continues at `i` with `word` (lower case), ignoring case.
bool startsWith(std::string_view code, size_t i, std::string_view word) {
  if (code.size() - i < word.size()) return false;
  for (size_t k = 0; k < word.size(); ++k)
    if (lower(code[i + k]) != word[k]) return false;
  return true;
}

// A bracketed part made of one letter repeated: h, m or s — an elapsed time
// ("[h]:mm:ss", "[mm]:ss"), which counts past 24 hours or 60 minutes.
bool isElapsed(std::string_view inside) {
  if (inside.empty()) return false;
  char c = lower(inside[0]);
  if (c != 'h' && c != 'm' && c != 's') return false;
  for (char k : inside)
    if (lower(k) != c) return false;
  return true;
}

void putDigits(std::string& out, int64_t v, int width) {
  char buffer[24];
  int n = 0;
  do {
    buffer[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v > 0);
  for (int k = n; k < width; ++k) out.push_back('0');
  while (n > 0) out.push_back(buffer[--n]);
}

}  // namespace

WorkbookFormatKind workbookFormatKind(std::string_view code) {
  bool date = false, time = false, month = false;
  for (size_t i = 0; i < code.size(); ++i) {
    char c = lower(code[i]);
    if (c == ';') break;  // the sections for negatives, zero and texts follow
    if (startsWith(code, i, "general")) {
      i += 6;
      continue;
    }
    switch (c) {
      case '"': {
        size_t close = code.find('"', i + 1);
        i = close == std::string_view::npos ? code.size() : close;
        break;
      }
      case '\\':  // an escaped character
      case '_':   // a space as wide as the next character
      case '*':   // the next character repeated to fill the cell
        ++i;
        break;
      case '[': {
        size_t close = code.find(']', i + 1);
        if (close == std::string_view::npos) close = code.size();
        if (isElapsed(code.substr(i + 1, close - i - 1))) return WorkbookFormatKind::Number;
        i = close;  // a locale, a colour or a condition
        break;
      }
      case 'y':
      case 'd':
      case 'g':  // an East Asian era
        date = true;
        break;
      case 'e':
        // "0.00E+00" is an exponent; elsewhere e is an era year.
        if (i + 1 < code.size() && (code[i + 1] == '+' || code[i + 1] == '-')) {
          ++i;
        } else {
          date = true;
        }
        break;
      case 'h':
      case 's':
        time = true;
        break;
      case 'm':
        month = true;
        break;
      case 'a':
        if (startsWith(code, i, "am/pm")) {
          time = true;
          i += 4;
        } else if (startsWith(code, i, "a/p")) {
          time = true;
          i += 2;
        }
        break;
      default:
        break;
    }
  }
  // An m is minutes beside hours or seconds and a month otherwise; either
  // way the format shows a date or a time.
  if (date) return time ? WorkbookFormatKind::DateTime : WorkbookFormatKind::Date;
  if (time) return WorkbookFormatKind::Time;
  return month ? WorkbookFormatKind::Date : WorkbookFormatKind::Number;
}

WorkbookFormatKind workbookBuiltinFormatKind(int64_t id) {
  if ((id >= 14 && id <= 17) || (id >= 27 && id <= 31) || (id >= 34 && id <= 36) || (id >= 50 && id <= 58))
    return WorkbookFormatKind::Date;
  if ((id >= 18 && id <= 21) || id == 32 || id == 33 || id == 45 || id == 47) return WorkbookFormatKind::Time;
  if (id == 22) return WorkbookFormatKind::DateTime;
  return WorkbookFormatKind::Number;
}

bool workbookDateText(double days, bool date1904, WorkbookFormatKind kind, std::string& out) {
  using namespace std::chrono;
  // 9999-12-31 is serial 2958465 in the 1900 system (1462 less in 1904's).
  const double last = date1904 ? 2957003.0 : 2958465.0;
  if (kind == WorkbookFormatKind::Number || !std::isfinite(days) || days < 0 || days >= last + 1)
    return false;
  int64_t seconds = std::llround(days * 86400.0);
  int64_t day = seconds / 86400, second = seconds % 86400;
  if (day > static_cast<int64_t>(last)) return false;  // rounded past 9999-12-31 23:59:59
  sys_days base;
  if (date1904) {
    base = sys_days{1904y / January / 1};
  } else if (day == 60) {
    return false;  // 1900-02-29, which Excel shows and the calendar never had
  } else {
    base = day < 60 ? sys_days{1899y / December / 31} : sys_days{1899y / December / 30};
  }
  const year_month_day ymd{base + std::chrono::days{day}};
  out.clear();
  const bool timeOnly = kind == WorkbookFormatKind::Time && day == 0;
  if (!timeOnly) {
    putDigits(out, static_cast<int>(ymd.year()), 4);
    out.push_back('-');
    putDigits(out, static_cast<unsigned>(ymd.month()), 2);
    out.push_back('-');
    putDigits(out, static_cast<unsigned>(ymd.day()), 2);
    if (kind == WorkbookFormatKind::Date && second == 0) return true;
    out.push_back(' ');
  }
  putDigits(out, second / 3600, 2);
  out.push_back(':');
  putDigits(out, second / 60 % 60, 2);
  out.push_back(':');
  putDigits(out, second % 60, 2);
  return true;
}

}  // namespace tabulix
