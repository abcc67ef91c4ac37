#include "engine/date_detector.h"

#include <unicode/datefmt.h>
#include <unicode/dtfmtsym.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace tabulix {

namespace {

constexpr size_t kFail = std::string_view::npos;

// What a word can stand for in a date.
struct Word {
  int8_t month = 0;          // 1..12, 0 when the word names no month
  int8_t weekday = 0;        // 1 (Sunday)..7 (Saturday), 0 when none
  bool fullWeekday = false;  // a full weekday name, which is a date on its own
  bool relative = false;     // today, tomorrow, yesterday
  int8_t relativeDays = 0;   // their offset from today
};

// Case-folded words, in an open-addressing table: the scan looks up every
// word of every cell, so the lookup must not allocate.
class WordTable {
 public:
  void add(const std::string& key, const Word& w) {
    if (key.empty()) return;
    for (auto& [k, existing] : entries_) {
      if (k != key) continue;
      if (!existing.month) existing.month = w.month;
      if (!existing.weekday) existing.weekday = w.weekday;
      existing.fullWeekday = existing.fullWeekday || w.fullWeekday;
      if (!existing.relative) {
        existing.relative = w.relative;
        existing.relativeDays = w.relativeDays;
      }
      return;
    }
    entries_.emplace_back(key, w);
  }

  void build() {
    size_t capacity = 16;
    while (capacity < entries_.size() * 2) capacity *= 2;
    slots_.assign(capacity, Slot{});
    for (auto& [key, w] : entries_) {
      size_t h = hash(key) & (capacity - 1);
      while (slots_[h].used) h = (h + 1) & (capacity - 1);
      slots_[h] = Slot{key, w, true};
      if (key.size() > maxLength_) maxLength_ = key.size();
    }
    entries_.clear();
  }

  const Word* find(std::string_view key) const {
    if (key.empty() || key.size() > maxLength_ || slots_.empty()) return nullptr;
    const size_t mask = slots_.size() - 1;
    for (size_t h = hash(key) & mask;; h = (h + 1) & mask) {
      const Slot& slot = slots_[h];
      if (!slot.used) return nullptr;
      if (slot.key == key) return &slot.word;
    }
  }

  size_t maxLength() const { return maxLength_; }

 private:
  struct Slot {
    std::string key;
    Word word;
    bool used = false;
  };
  static size_t hash(std::string_view s) {
    uint64_t h = 1469598103934665603ull;  // FNV-1a
    for (char c : s) h = (h ^ uint8_t(c)) * 1099511628211ull;
    return size_t(h ^ (h >> 29));
  }
  std::vector<std::pair<std::string, Word>> entries_;
  std::vector<Slot> slots_;
  size_t maxLength_ = 0;
};

std::string fold(const icu::UnicodeString& u) {
  std::string out;
  icu::UnicodeString(u).foldCase().toUTF8String(out);
  return out;
}

// A word as a key: case-folded, without the dot of an abbreviation ("janv.").
std::string keyOf(const icu::UnicodeString& word) {
  std::string key = fold(word);
  while (!key.empty() && key.back() == '.') key.pop_back();
  return key;
}

// ---- calendar arithmetic (proleptic Gregorian, day 0 = 1970-01-01) ---------

int64_t daysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

int yearOfDays(int64_t z) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int m = int(mp < 10 ? mp + 3 : mp - 9);
  return int(yoe + era * 400 + (m <= 2));
}

bool isLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

bool validDate(int y, int m, int d) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
  return d <= kDays[m - 1] + (m == 2 && isLeap(y));
}

// ---- characters ------------------------------------------------------------

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isAsciiAlpha(char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }
char lower(char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; }
bool isNumberSeparator(char c) { return c == '/' || c == '-' || c == '.' || c == ':'; }

char at(std::string_view s, size_t i) { return i < s.size() ? s[i] : '\0'; }

size_t digitRun(std::string_view s, size_t i) {
  size_t j = i;
  while (j < s.size() && isDigit(s[j])) ++j;
  return j - i;
}

// The value of k (at most 9) digits at i.
int value(std::string_view s, size_t i, size_t k) {
  int v = 0;
  for (size_t j = 0; j < k; ++j) v = v * 10 + (s[i + j] - '0');
  return v;
}

UChar32 codePointAt(std::string_view s, size_t i, size_t& next) {
  int32_t index = int32_t(i);
  UChar32 c;
  U8_NEXT(s.data(), index, int32_t(s.size()), c);
  next = size_t(index);
  return c;
}

bool isLetter(UChar32 c) {
  if (c < 0x80) return c >= 0 && isAsciiAlpha(char(c));
  return u_isalpha(c) || (U_GET_GC_MASK(c) & U_GC_M_MASK) != 0;
}

bool isWordChar(UChar32 c) {
  if (c < 0x80) return c >= 0 && (isAsciiAlpha(char(c)) || isDigit(char(c)));
  return u_isalnum(c) || (U_GET_GC_MASK(c) & U_GC_M_MASK) != 0;
}

bool wordCharAt(std::string_view s, size_t i) {
  if (i >= s.size()) return false;
  if (!(s[i] & 0x80)) return isAsciiAlpha(s[i]) || isDigit(s[i]);
  size_t next;
  return isWordChar(codePointAt(s, i, next));
}

bool wordCharBefore(std::string_view s, size_t i) {
  if (i == 0) return false;
  const char b = s[i - 1];
  if (!(b & 0x80)) return isAsciiAlpha(b) || isDigit(b);
  int32_t index = int32_t(i);
  UChar32 c;
  U8_PREV(s.data(), 0, index, c);
  return isWordChar(c);
}

// The end of the run of letters at i.
size_t readWord(std::string_view s, size_t i) {
  while (i < s.size()) {
    if (!(s[i] & 0x80)) {
      if (!isAsciiAlpha(s[i])) break;
      ++i;
      continue;
    }
    size_t next;
    if (!isLetter(codePointAt(s, i, next))) break;
    i = next;
  }
  return i;
}

// Spaces and tabs, and the no-break and narrow no-break spaces that ICU
// writes inside dates and times.
size_t skipSpaces(std::string_view s, size_t i) {
  for (;;) {
    if (i < s.size() && (s[i] == ' ' || s[i] == '\t')) {
      ++i;
    } else if (s.substr(i, 2) == "\xC2\xA0") {
      i += 2;
    } else if (s.substr(i, 3) == "\xE2\x80\xAF" || s.substr(i, 3) == "\xE2\x80\x89") {
      i += 3;
    } else {
      return i;
    }
  }
}

// The end of the lowercase ASCII word `w` at i when the text has it there as
// a whole word, or kFail.
size_t matchWord(std::string_view s, size_t i, std::string_view w) {
  for (size_t k = 0; k < w.size(); ++k) {
    if (lower(at(s, i + k)) != w[k]) return kFail;
  }
  return wordCharAt(s, i + w.size()) ? kFail : i + w.size();
}

// "st", "nd", "rd", "th" (English) and "er" (French "1er") after a day.
size_t skipOrdinal(std::string_view s, size_t i) {
  const char a = lower(at(s, i)), b = lower(at(s, i + 1));
  const bool ordinal = (a == 's' && b == 't') || (a == 'n' && b == 'd') || (a == 'r' && b == 'd') ||
                       (a == 't' && b == 'h') || (a == 'e' && b == 'r');
  return ordinal && !isAsciiAlpha(at(s, i + 2)) ? i + 2 : i;
}

// "am", "pm", "a.m.", "p.m." (any case) at i.
size_t matchAmPm(std::string_view s, size_t i, bool& pm) {
  const char a = lower(at(s, i));
  if (a != 'a' && a != 'p') return kFail;
  size_t j = i + 1;
  if (lower(at(s, j)) == 'm') {
    ++j;
  } else if (at(s, j) == '.' && lower(at(s, j + 1)) == 'm') {
    j += 2;
    if (at(s, j) == '.') ++j;
  } else {
    return kFail;
  }
  if (wordCharAt(s, j)) return kFail;
  pm = a == 'p';
  return j;
}

// A zone offset "+HH", "+HHMM", "+HH:MM" at i (and "+H" when `shortHours`).
size_t parseOffset(std::string_view s, size_t i, bool shortHours, int& offset) {
  const char sign = at(s, i);
  if (sign != '+' && sign != '-') return kFail;
  const size_t k = digitRun(s, i + 1);
  int hours, minutes = 0;
  size_t end;
  if (k == 4) {
    hours = value(s, i + 1, 2);
    minutes = value(s, i + 3, 2);
    end = i + 5;
  } else if (k == 2 || (k == 1 && shortHours)) {
    hours = value(s, i + 1, k);
    end = i + 1 + k;
    if (at(s, end) == ':' && digitRun(s, end + 1) == 2) {
      minutes = value(s, end + 1, 2);
      end += 3;
    }
  } else {
    return kFail;
  }
  if (hours > 14 || minutes > 59) return kFail;
  offset = (sign == '-' ? -1 : 1) * (hours * 3600 + minutes * 60);
  return end;
}

// A zone abbreviation and its offset in minutes east of UTC.
struct Abbreviation {
  std::string_view name;
  int minutes;
};

// The abbreviations read after a time, sorted by name. UT, GMT and the North
// American EST ... PDT are RFC 5322's (its obsolete zones), which fix CST and
// PST to the United States even though the tz database also writes CST for
// China and Cuba and PST for the Philippines. The others are every
// abbreviation of three to five capitals that the tz database uses today with
// a single offset (tests/reference/date_zones.R lists them from tzdata). IST
// (India +05:30, Ireland +01:00, Israel +02:00) has no single offset and is
// left out, so a time followed by it is no date.
constexpr Abbreviation kAbbreviations[] = {
    {"ACDT", 630}, {"ACST", 570}, {"ADT", -180}, {"AEDT", 660}, {"AEST", 600}, {"AKDT", -480}, {"AKST", -540},
    {"AST", -240}, {"AWST", 480}, {"BST", 60},   {"CAT", 120},  {"CDT", -300}, {"CEST", 120},  {"CET", 60},
    {"CST", -360}, {"EAT", 180},  {"EDT", -240}, {"EEST", 180}, {"EET", 120},  {"EST", -300},  {"GMT", 0},
    {"HDT", -540}, {"HKT", 480},  {"HST", -600}, {"IDT", 180},  {"JST", 540},  {"KST", 540},   {"MDT", -360},
    {"MEST", 120}, {"MET", 60},   {"MSK", 180},  {"MST", -420}, {"NDT", -150}, {"NST", -210},  {"NZDT", 780},
    {"NZST", 720}, {"PDT", -420}, {"PKT", 300},  {"PST", -480}, {"SAST", 120}, {"SST", -660},  {"UT", 0},
    {"UTC", 0},    {"WAT", 60},   {"WEST", 60},  {"WET", 0},    {"WIB", 420},  {"WIT", 540},   {"WITA", 480}};

const Abbreviation* findAbbreviation(std::string_view name) {
  const auto* end = std::end(kAbbreviations);
  const auto* it = std::lower_bound(std::begin(kAbbreviations), end, name,
                                    [](const Abbreviation& a, std::string_view n) { return a.name < n; });
  return it != end && it->name == name ? it : nullptr;
}

// The first part of the tz database's Area/Location ids, and of its legacy
// Country/Region ids ("US/Eastern"), lowercase.
constexpr std::string_view kZoneAreas[] = {"africa",    "america", "antarctica", "arctic", "asia", "atlantic",
                                           "australia", "brazil",  "canada",     "chile",  "etc",  "europe",
                                           "indian",    "mexico",  "pacific",    "us"};

bool isZoneArea(std::string_view s) {
  for (std::string_view area : kZoneAreas) {
    if (area.size() != s.size()) continue;
    bool same = true;
    for (size_t i = 0; i < s.size() && same; ++i) same = lower(s[i]) == area[i];
    if (same) return true;
  }
  return false;
}

// The characters of a tz database id ("America/Port-au-Prince", "Etc/GMT+5").
bool isZoneIdChar(char c) {
  return isAsciiAlpha(c) || isDigit(c) || c == '_' || c == '-' || c == '+' || c == '/';
}

struct TimeOfDay {
  double seconds = 0;  // since midnight
  bool zoned = false;
  int offset = 0;  // seconds east of UTC, when zoned
  // The tz database zone named after the time, whose offset at the date
  // applies (and must equal `offset` when the text gives one too).
  const icu::TimeZone* named = nullptr;
  // A zone name followed the time that cannot be applied: an unknown id or
  // abbreviation, or an abbreviation that contradicts the offset.
  bool badZone = false;
};

struct StringHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

}  // namespace

struct DateDetector::Impl {
  Order order = Order::DMY;
  WordTable words;
  std::unique_ptr<icu::TimeZone> zone;

  // The tz database zones named in texts so far, by id, and null for ids ICU
  // does not know: a column repeats its zone on every row, and making an ICU
  // zone takes microseconds. Zones are kept for the detector's life (ICU
  // knows some 600 ids); unknown ids only while there is room, so that texts
  // full of made-up ids cannot grow it without end.
  static constexpr size_t kMaxUnknownZones = 4096;
  mutable std::mutex namedZonesMutex;
  mutable std::unordered_map<std::string, std::unique_ptr<const icu::TimeZone>, StringHash, std::equal_to<>>
      namedZones;
  mutable size_t unknownZones = 0;

  // The state of one dateForString call.
  struct Call {
    std::string_view s;
    double now;
    bool haveToday = false;
    int64_t today = 0;
    // A match failed for a reason that makes the whole text no date.
    bool rejected = false;
  };

  static int offsetAt(const icu::TimeZone& z, double millis, bool local) {
    int32_t raw = 0, dst = 0;
    UErrorCode status = U_ZERO_ERROR;
    z.getOffset(millis, local, raw, dst, status);
    return U_SUCCESS(status) ? (raw + dst) / 1000 : 0;
  }

  int offsetAt(double millis, bool local) const { return offsetAt(*zone, millis, local); }

  // The zone of a tz database id, or null when ICU does not know the id.
  const icu::TimeZone* namedZone(std::string_view id) const {
    {
      std::lock_guard<std::mutex> lock(namedZonesMutex);
      if (auto it = namedZones.find(id); it != namedZones.end()) return it->second.get();
    }
    std::unique_ptr<const icu::TimeZone> made(icu::TimeZone::createTimeZone(
        icu::UnicodeString::fromUTF8(icu::StringPiece(id.data(), int32_t(id.size())))));
    if (made && *made == icu::TimeZone::getUnknown()) made.reset();
    std::lock_guard<std::mutex> lock(namedZonesMutex);
    if (!made && unknownZones >= kMaxUnknownZones) return nullptr;
    // Another thread may have made the same zone meanwhile; the first stays.
    auto [it, added] = namedZones.emplace(std::string(id), std::move(made));
    if (added && !it->second) ++unknownZones;
    return it->second.get();
  }

  int64_t today(Call& c) const {
    if (!c.haveToday) {
      const double local = c.now + offsetAt(c.now * 1000.0, false);
      c.today = int64_t(std::floor(local / 86400.0));
      c.haveToday = true;
    }
    return c.today;
  }

  int currentYear(Call& c) const { return yearOfDays(today(c)); }

  // A two-digit year within the 80 years before and 20 after this year.
  int fullYear(Call& c, int yy) const {
    const int start = currentYear(c) - 80;
    int y = start - start % 100 + yy;
    if (y < start) y += 100;
    return y;
  }

  const Word* lookup(std::string_view s, size_t begin, size_t end) const {
    const size_t length = end - begin;
    if (length == 0) return nullptr;
    char buffer[64];
    bool ascii = true;
    for (size_t i = begin; i < end; ++i) {
      if (s[i] & 0x80) {
        ascii = false;
        break;
      }
    }
    if (ascii) {
      if (length > words.maxLength()) return nullptr;
      for (size_t i = 0; i < length; ++i) buffer[i] = lower(s[begin + i]);
      return words.find(std::string_view(buffer, length));
    }
    if (length > 4 * words.maxLength() + 8) return nullptr;
    return words.find(
        fold(icu::UnicodeString::fromUTF8(icu::StringPiece(s.data() + begin, int32_t(length)))));
  }

  // A four-digit year after a named date: [","] ws ["de" ws] YYYY.
  size_t trailingYear(std::string_view s, size_t p, int& year) const {
    size_t t = p;
    if (at(s, t) == ',') ++t;
    size_t u = skipSpaces(s, t);
    if (u == p) return kFail;
    size_t r = matchWord(s, u, "de");
    if (r != kFail && skipSpaces(s, r) > r) u = skipSpaces(s, r);
    if (digitRun(s, u) != 4) return kFail;
    const size_t end = u + 4;
    if (wordCharAt(s, end) || (isNumberSeparator(at(s, end)) && isDigit(at(s, end + 1)))) return kFail;
    year = value(s, u, 4);
    return end;
  }

  // Digits, a separator, digits, the same separator, digits at i: the
  // shape of an all-numeric date, whatever its values.
  // Returns where it ends, or kFail.
  static size_t numericDateShape(std::string_view s, size_t i) {
    const size_t ka = digitRun(s, i);
    const char sep = at(s, i + ka);
    if (sep != '/' && sep != '-' && sep != '.') return kFail;
    const size_t kb = digitRun(s, i + ka + 1);
    if (kb < 1 || kb > 2 || at(s, i + ka + 1 + kb) != sep) return kFail;
    const size_t kc = digitRun(s, i + ka + kb + 2);
    return kc >= 1 && kc <= 4 ? i + ka + kb + 2 + kc : kFail;
  }

  // YYYY s MM s DD, A s B s C, D s month [s Y] at i.
  size_t numericDate(Call& c, size_t i, int64_t& days, bool& iso) const {
    const std::string_view s = c.s;
    const size_t ka = digitRun(s, i);
    const char sep = at(s, i + ka);
    if (sep != '/' && sep != '-' && sep != '.') return kFail;
    const size_t j = i + ka + 1;
    int y, m, d;
    size_t end;
    if (ka == 4) {
      const size_t kb = digitRun(s, j);
      if (kb < 1 || kb > 2 || at(s, j + kb) != sep) return kFail;
      const size_t kc = digitRun(s, j + kb + 1);
      if (kc < 1 || kc > 2) return kFail;
      y = value(s, i, 4);
      m = value(s, j, kb);
      d = value(s, j + kb + 1, kc);
      end = j + kb + 1 + kc;
      iso = true;
    } else if (ka <= 2) {
      const int a = value(s, i, ka);
      if (isDigit(at(s, j))) {
        const size_t kb = digitRun(s, j);
        if (kb > 2 || at(s, j + kb) != sep) return kFail;
        const int b = value(s, j, kb);
        const size_t q = j + kb + 1;
        const size_t kc = digitRun(s, q);
        if (order == Order::YMD) {
          if (ka != 2 || kc < 1 || kc > 2) return kFail;
          y = fullYear(c, a);
          m = b;
          d = value(s, q, kc);
        } else {
          if (kc != 2 && kc != 4) return kFail;
          const int cv = value(s, q, kc);
          y = kc == 4 ? cv : fullYear(c, cv);
          m = order == Order::MDY ? a : b;
          d = order == Order::MDY ? b : a;
        }
        end = q + kc;
      } else {
        const size_t w = readWord(s, j);
        const Word* word = lookup(s, j, w);
        if (!word || !word->month) return kFail;
        d = a;
        m = word->month;
        end = w;
        if (at(s, w) == sep && isDigit(at(s, w + 1))) {
          const size_t kc = digitRun(s, w + 1);
          if (kc != 2 && kc != 4) return kFail;
          const int cv = value(s, w + 1, kc);
          y = kc == 4 ? cv : fullYear(c, cv);
          end = w + 1 + kc;
        } else {
          y = currentYear(c);
        }
      }
    } else {
      return kFail;
    }
    const char next = at(s, end);
    const bool timeFollows = iso && (next == 'T' || next == 't') && isDigit(at(s, end + 1));
    if (!timeFollows && (wordCharAt(s, end) || (isNumberSeparator(next) && isDigit(at(s, end + 1))))) {
      return kFail;
    }
    if (!validDate(y, m, d)) return kFail;
    days = daysFromCivil(y, m, d);
    return end;
  }

  // D [ord] [.] ws [of|de ws] month [.] [year] at i.
  size_t dayFirstDate(Call& c, size_t i, int64_t& days) const {
    const std::string_view s = c.s;
    const size_t k = digitRun(s, i);
    if (k < 1 || k > 2) return kFail;
    const int d = value(s, i, k);
    size_t j = skipOrdinal(s, i + k);
    if (at(s, j) == '.') ++j;
    size_t q = skipSpaces(s, j);
    if (q == j) return kFail;
    size_t r = matchWord(s, q, "of");
    if (r == kFail) r = matchWord(s, q, "de");
    if (r != kFail && skipSpaces(s, r) > r) q = skipSpaces(s, r);
    const size_t w = readWord(s, q);
    if (wordCharAt(s, w)) return kFail;
    const Word* word = lookup(s, q, w);
    if (!word || !word->month) return kFail;
    size_t end = at(s, w) == '.' ? w + 1 : w;
    int y;
    const size_t yearEnd = trailingYear(s, end, y);
    if (yearEnd != kFail) {
      end = yearEnd;
    } else {
      y = currentYear(c);
    }
    if (!validDate(y, word->month, d)) return kFail;
    days = daysFromCivil(y, word->month, d);
    return end;
  }

  // month [.] ws D [ord] [year] | month [.] [,] ws YYYY, the month word
  // ending at w.
  size_t monthFirstDate(Call& c, size_t w, int month, int64_t& days) const {
    const std::string_view s = c.s;
    const size_t p = at(s, w) == '.' ? w + 1 : w;
    int y, d = 1;
    size_t end = trailingYear(s, p, y);
    if (end == kFail) {
      const size_t q = skipSpaces(s, p);
      if (q == p) return kFail;
      const size_t k = digitRun(s, q);
      if (k < 1 || k > 2) return kFail;
      d = value(s, q, k);
      const size_t r = skipOrdinal(s, q + k);
      if (wordCharAt(s, r) || (isNumberSeparator(at(s, r)) && isDigit(at(s, r + 1)))) return kFail;
      end = trailingYear(s, r, y);
      if (end == kFail) {
        end = r;
        y = currentYear(c);
      }
    }
    if (!validDate(y, month, d)) return kFail;
    days = daysFromCivil(y, month, d);
    return end;
  }

  // A date that starts exactly at i (the caller has checked what precedes).
  size_t dateAt(Call& c, size_t i, int64_t& days, bool& iso, bool allowWeekday) const {
    const std::string_view s = c.s;
    if (isDigit(at(s, i))) {
      const size_t k = digitRun(s, i);
      const char next = at(s, i + k);
      if ((next == '/' || next == '-' || next == '.') && (k == 4 || k <= 2)) {
        const size_t r = numericDate(c, i, days, iso);
        if (r != kFail) return r;
      }
      return k <= 2 ? dayFirstDate(c, i, days) : kFail;
    }
    const size_t w = readWord(s, i);
    if (w == i || wordCharAt(s, w)) return kFail;
    const Word* word = lookup(s, i, w);
    if (!word) return kFail;
    if (word->month) {
      const size_t r = monthFirstDate(c, w, word->month, days);
      if (r != kFail) return r;
    }
    if (word->relative) {
      days = today(c) + word->relativeDays;
      return w;
    }
    if (word->weekday && allowWeekday) {
      // A weekday before a date only names the date's day.
      size_t p = w;
      if (at(s, p) == '.') ++p;
      if (at(s, p) == ',') ++p;
      const size_t q = skipSpaces(s, p);
      if (q > w) {
        const size_t r = dateAt(c, q, days, iso, false);
        if (r != kFail) return r;
      }
      if (word->fullWeekday) {
        const int64_t t = today(c);
        const int todayWeekday = int(((t + 4) % 7 + 7) % 7);  // 1970-01-01 was a Thursday; 0 = Sunday
        days = t + ((word->weekday - 1) - todayWeekday + 7) % 7;
        return w;
      }
    }
    return kFail;
  }

  // The zone after a time ending at j, an offset form then a zone name, each
  // optional; returns the end of the zone, j when there is none, or kFail
  // with t.badZone when a name follows that cannot be applied.
  size_t zoneAfter(std::string_view s, size_t j, bool attached, TimeOfDay& t) const {
    return zoneNameAfter(s, offsetAfter(s, j, attached, t), t);
  }

  // A zone name at j: ws Area/Location, [ws] "[" Area/Location "]" or ws and an
  // abbreviation of capitals. Returns its end, j when no name is there, or
  // kFail with t.badZone when the name is unknown or contradicts t's offset.
  size_t zoneNameAfter(std::string_view s, size_t j, TimeOfDay& t) const {
    // The common case, a time at the end of its text or before digits or
    // punctuation, stops here.
    const char next = at(s, j);
    if (next != ' ' && next != '\t' && next != '[' && !(next & 0x80)) return j;
    size_t k = skipSpaces(s, j);
    const bool bracket = at(s, k) == '[';
    if (bracket) {
      ++k;
    } else if (k == j) {
      return j;
    }
    if (!isAsciiAlpha(at(s, k))) return j;
    size_t e = k, slash = kFail;
    bool capitals = true;
    for (; e < s.size() && isZoneIdChar(s[e]); ++e) {
      if (s[e] == '/' && slash == kFail) slash = e;
      capitals = capitals && s[e] >= 'A' && s[e] <= 'Z';
    }
    if (slash != kFail) {
      if (!isZoneArea(s.substr(k, slash - k)) || (bracket && at(s, e) != ']')) return j;
      const icu::TimeZone* z = namedZone(s.substr(k, e - k));
      if (!z) {
        t.badZone = true;
        return kFail;
      }
      t.named = z;
      return bracket ? e + 1 : e;
    }
    // An abbreviation: capitals only, as a lowercase word ("est") is more
    // likely a word of the text than a zone.
    const size_t n = e - k;
    if (bracket || !capitals || n < 2 || n > 5 || wordCharAt(s, e)) return j;
    if (n == 2 && s.substr(k, 2) != "UT") return j;
    if (lookup(s, k, e)) return j;  // a date word after the time ("14:30 TODAY", "9:00 MARCH 15")
    const Abbreviation* a = findAbbreviation(s.substr(k, n));
    if (!a || (t.zoned && t.offset != a->minutes * 60)) {
      t.badZone = true;
      return kFail;
    }
    t.zoned = true;
    t.offset = a->minutes * 60;
    return e;
  }

  // An offset form after a time ending at j; returns its end, or j.
  size_t offsetAfter(std::string_view s, size_t j, bool attached, TimeOfDay& t) const {
    if (at(s, j) == 'Z' && !wordCharAt(s, j + 1)) {
      t.zoned = true;
      t.offset = 0;
      return j + 1;
    }
    const size_t k = skipSpaces(s, j);
    size_t r = matchWord(s, k, "utc");
    if (r == kFail) r = matchWord(s, k, "gmt");
    if (r != kFail) {
      t.zoned = true;
      t.offset = 0;
      int offset;
      const size_t e = parseOffset(s, r, true, offset);
      if (e != kFail && !isDigit(at(s, e))) {
        t.offset = offset;
        return e;
      }
      return r;
    }
    int offset;
    if (attached) {
      const size_t e = parseOffset(s, j, false, offset);
      if (e != kFail && !isDigit(at(s, e))) {
        t.zoned = true;
        t.offset = offset;
        return e;
      }
    }
    if (k > j && digitRun(s, k + 1) == 4) {
      const size_t e = parseOffset(s, k, false, offset);
      if (e != kFail) {
        t.zoned = true;
        t.offset = offset;
        return e;
      }
    }
    return j;
  }

  // H:MM[:SS[.fff]] [ampm] [zone] | H ampm at i.
  size_t timeAt(std::string_view s, size_t i, bool attachedZone, TimeOfDay& t) const {
    const size_t k = digitRun(s, i);
    if (k < 1 || k > 2) return kFail;
    int h = value(s, i, k), minutes = 0;
    double seconds = 0;
    size_t j = i + k;
    bool colon = false;
    if (at(s, j) == ':' && digitRun(s, j + 1) == 2) {
      minutes = value(s, j + 1, 2);
      j += 3;
      colon = true;
      if (at(s, j) == ':' && digitRun(s, j + 1) == 2) {
        seconds = value(s, j + 1, 2);
        j += 3;
        if ((at(s, j) == '.' || at(s, j) == ',') && isDigit(at(s, j + 1))) {
          const size_t f = digitRun(s, j + 1);
          double scale = 0.1;
          for (size_t n = 0; n < f && n < 9; ++n, scale /= 10) seconds += (s[j + 1 + n] - '0') * scale;
          j += 1 + f;
        }
      }
    }
    bool pm = false;
    const size_t a = matchAmPm(s, skipSpaces(s, j), pm);
    if (a != kFail) {
      if (h < 1 || h > 12) return kFail;
      h = h % 12 + (pm ? 12 : 0);
      j = a;
    } else if (!colon) {
      return kFail;
    }
    if (h > 23 || minutes > 59 || seconds >= 60) return kFail;
    j = zoneAfter(s, j, attachedZone, t);
    if (j == kFail) return kFail;
    if (wordCharAt(s, j) || ((at(s, j) == ':' || at(s, j) == '.') && isDigit(at(s, j + 1)))) return kFail;
    t.seconds = h * 3600.0 + minutes * 60.0 + seconds;
    return j;
  }

  // The time joined to a date that ends at `end`, or kFail.
  size_t timeAfterDate(std::string_view s, size_t end, bool iso, TimeOfDay& t) const {
    if (iso && (at(s, end) == 'T' || at(s, end) == 't') && isDigit(at(s, end + 1))) {
      return timeAt(s, end + 1, true, t);
    }
    size_t q = skipSpaces(s, end);
    if (at(s, q) == ',') {
      q = skipSpaces(s, q + 1);
    } else if (q == end) {
      return kFail;
    }
    const size_t r = matchWord(s, q, "at");
    if (r != kFail) {
      q = skipSpaces(s, r);
      if (q == r) return kFail;
    }
    return isDigit(at(s, q)) ? timeAt(s, q, iso, t) : kFail;
  }

  // The date joined to a time that ends at `end`, or kFail.
  size_t dateAfterTime(Call& c, size_t end, int64_t& days) const {
    const std::string_view s = c.s;
    size_t q = skipSpaces(s, end);
    if (at(s, q) == ',') {
      q = skipSpaces(s, q + 1);
    } else if (q == end) {
      return kFail;
    }
    const size_t r = matchWord(s, q, "on");
    if (r != kFail && skipSpaces(s, r) > r) q = skipSpaces(s, r);
    bool iso = false;
    return dateAt(c, q, days, iso, true);
  }

  // The instant of a local date and time; none when the text gives both an
  // offset and a zone name and the zone has another offset at that instant.
  std::optional<double> toSeconds(int64_t days, const TimeOfDay& t) const {
    const double local = double(days) * 86400.0 + t.seconds;
    if (t.named) {
      if (!t.zoned) return local - offsetAt(*t.named, local * 1000.0, true);
      const double utc = local - t.offset;
      if (offsetAt(*t.named, utc * 1000.0, false) != t.offset) return std::nullopt;
      return utc;
    }
    if (t.zoned) return local - t.offset;
    return local - offsetAt(local * 1000.0, true);
  }

  // The instant of a match, or none with the call rejected.
  std::optional<double> instant(Call& c, int64_t days, const TimeOfDay& t) const {
    std::optional<double> v = toSeconds(days, t);
    if (!v) c.rejected = true;
    return v;
  }

  // A match that starts at i, where a word or number starts.
  std::optional<double> matchAt(Call& c, size_t i) const {
    int64_t days;
    bool iso = false;
    TimeOfDay t;
    const size_t end = dateAt(c, i, days, iso, true);
    if (end != kFail) {
      if (timeAfterDate(c.s, end, iso, t) == kFail) {
        // A time whose zone name cannot be applied makes its date no date
        // either: read without the zone it would be another instant.
        if (t.badZone) {
          c.rejected = true;
          return std::nullopt;
        }
        t = TimeOfDay{};
      }
      return instant(c, days, t);
    }
    if (isDigit(c.s[i])) {
      const size_t timeEnd = timeAt(c.s, i, false, t);
      if (timeEnd != kFail) {
        if (dateAfterTime(c, timeEnd, days) == kFail) days = today(c);
        return instant(c, days, t);
      }
      if (t.badZone) c.rejected = true;
    }
    return std::nullopt;
  }

  std::optional<double> detect(std::string_view s, double now) const {
    if (s.size() > size_t(INT32_MAX)) s = s.substr(0, size_t(INT32_MAX));
    Call c{s, now};
    size_t i = 0;
    while (i < s.size()) {
      const char ch = s[i];
      if (isDigit(ch)) {
        const size_t k = digitRun(s, i);
        const bool insideNumber =
            wordCharBefore(s, i) || (i >= 2 && isNumberSeparator(s[i - 1]) && isDigit(s[i - 2]));
        if (!insideNumber && k <= 4) {
          if (auto found = matchAt(c, i)) return found;
          if (c.rejected) return std::nullopt;
          // A numeric date with an impossible part followed by a time
          // ("31/13/1999 23:59") is no date: its time is not one of today.
          if (const size_t shapeEnd = numericDateShape(s, i); shapeEnd != kFail) {
            TimeOfDay t;
            if (timeAfterDate(s, shapeEnd, k == 4, t) != kFail) return std::nullopt;
          }
        }
        i += k;
      } else if (isAsciiAlpha(ch) || (ch & 0x80)) {
        size_t next;
        if ((ch & 0x80) && !isLetter(codePointAt(s, i, next))) {
          i = next;
          continue;
        }
        const size_t w = readWord(s, i);
        if (!wordCharBefore(s, i) && !wordCharAt(s, w)) {
          if (auto found = matchAt(c, i)) return found;
          if (c.rejected) return std::nullopt;
        }
        i = w;
        // A word that runs into digits ("A12") takes them along.
        while (i < s.size() && (isDigit(s[i]) || isAsciiAlpha(s[i]))) ++i;
      } else {
        ++i;
      }
    }
    return std::nullopt;
  }
};

DateDetector::DateDetector(const std::string& localeName) : impl_(std::make_unique<Impl>()) {
  const icu::Locale locale = icu::Locale::createCanonical(localeName.c_str());
  impl_->zone.reset(icu::TimeZone::createDefault());

  // The numeric order is that of the locale's short date pattern.
  std::unique_ptr<icu::DateFormat> shortDate(
      icu::DateFormat::createDateInstance(icu::DateFormat::kShort, locale));
  if (auto* simple = dynamic_cast<icu::SimpleDateFormat*>(shortDate.get())) {
    icu::UnicodeString pattern;
    simple->toPattern(pattern);
    int yearAt = -1, monthAt = -1, dayAt = -1;
    bool quoted = false;
    for (int32_t i = 0; i < pattern.length(); ++i) {
      const char16_t ch = pattern.charAt(i);
      if (ch == u'\'') quoted = !quoted;
      if (quoted) continue;
      if ((ch == u'y' || ch == u'Y' || ch == u'u') && yearAt < 0) yearAt = i;
      if ((ch == u'M' || ch == u'L') && monthAt < 0) monthAt = i;
      if (ch == u'd' && dayAt < 0) dayAt = i;
    }
    if (yearAt >= 0 && monthAt >= 0 && dayAt >= 0) {
      if (yearAt < monthAt && monthAt < dayAt) {
        impl_->order = Order::YMD;
      } else if (monthAt < dayAt) {
        impl_->order = Order::MDY;
      } else {
        impl_->order = Order::DMY;
      }
    }
  }

  static const char* const kMonths[12][3] = {
      {"january", "jan", nullptr}, {"february", "feb", nullptr}, {"march", "mar", nullptr},
      {"april", "apr", nullptr},   {"may", nullptr, nullptr},    {"june", "jun", nullptr},
      {"july", "jul", nullptr},    {"august", "aug", nullptr},   {"september", "sep", "sept"},
      {"october", "oct", nullptr}, {"november", "nov", nullptr}, {"december", "dec", nullptr}};
  static const char* const kWeekdays[7][4] = {
      {"sunday", "sun", nullptr, nullptr},  {"monday", "mon", nullptr, nullptr},
      {"tuesday", "tue", "tues", nullptr},  {"wednesday", "wed", nullptr, nullptr},
      {"thursday", "thu", "thur", "thurs"}, {"friday", "fri", nullptr, nullptr},
      {"saturday", "sat", nullptr, nullptr}};
  for (int m = 0; m < 12; ++m) {
    for (const char* name : kMonths[m]) {
      if (name) impl_->words.add(name, Word{.month = int8_t(m + 1)});
    }
  }
  for (int d = 0; d < 7; ++d) {
    for (int k = 0; k < 4; ++k) {
      if (kWeekdays[d][k])
        impl_->words.add(kWeekdays[d][k], Word{.weekday = int8_t(d + 1), .fullWeekday = k == 0});
    }
  }
  impl_->words.add("today", Word{.relative = true, .relativeDays = 0});
  impl_->words.add("tomorrow", Word{.relative = true, .relativeDays = 1});
  impl_->words.add("yesterday", Word{.relative = true, .relativeDays = -1});

  if (std::strcmp(locale.getLanguage(), "en") != 0) {
    UErrorCode status = U_ZERO_ERROR;
    icu::DateFormatSymbols symbols(locale, status);
    if (U_SUCCESS(status)) {
      using Symbols = icu::DateFormatSymbols;
      for (auto context : {Symbols::FORMAT, Symbols::STANDALONE}) {
        for (auto width : {Symbols::WIDE, Symbols::ABBREVIATED}) {
          int32_t count = 0;
          const icu::UnicodeString* months = symbols.getMonths(count, context, width);
          for (int32_t m = 0; m < count && m < 12; ++m) {
            impl_->words.add(keyOf(months[m]), Word{.month = int8_t(m + 1)});
          }
          const icu::UnicodeString* weekdays = symbols.getWeekdays(count, context, width);
          for (int32_t d = 1; d < count && d <= 7; ++d) {
            impl_->words.add(keyOf(weekdays[d]),
                             Word{.weekday = int8_t(d), .fullWeekday = width == Symbols::WIDE});
          }
        }
      }
    }
  }
  impl_->words.build();
}

DateDetector::~DateDetector() = default;

DateDetector::Order DateDetector::numericOrder() const { return impl_->order; }

void DateDetector::setNumericOrder(Order order) { impl_->order = order; }

std::string DateDetector::orderName(Order order) {
  switch (order) {
    case Order::MDY:
      return "mdy";
    case Order::DMY:
      return "dmy";
    case Order::YMD:
      return "ymd";
  }
  return "dmy";
}

std::optional<DateDetector::Order> DateDetector::orderNamed(std::string_view name) {
  if (name == "dmy") return Order::DMY;
  if (name == "mdy") return Order::MDY;
  if (name == "ymd") return Order::YMD;
  return std::nullopt;
}

std::optional<DateDetector::Order> DateDetector::orderEvidence(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  const size_t ka = digitRun(s, i);
  const char sep = at(s, i + ka);
  if (ka < 1 || ka > 2 || (sep != '/' && sep != '-' && sep != '.')) return std::nullopt;
  const size_t j = i + ka + 1;
  const size_t kb = digitRun(s, j);
  if (kb < 1 || kb > 2 || at(s, j + kb) != sep) return std::nullopt;
  const size_t kc = digitRun(s, j + kb + 1);
  if (kc != 2 && kc != 4) return std::nullopt;
  const int a = value(s, i, ka), b = value(s, j, kb);
  if (a >= 13 && a <= 31 && b >= 1 && b <= 12) return Order::DMY;
  if (b >= 13 && b <= 31 && a >= 1 && a <= 12) return Order::MDY;
  return std::nullopt;
}

std::optional<double> DateDetector::dateForString(std::string_view utf8, double nowSeconds) const {
  return impl_->detect(utf8, nowSeconds);
}

std::optional<double> DateDetector::dateForString(std::string_view utf8) const {
  if (utf8.empty()) return std::nullopt;
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  return impl_->detect(utf8, std::chrono::duration<double>(now).count());
}

}  // namespace tabulix
