#include "engine/number_reading.h"

#include <unicode/dcfmtsym.h>
#include <unicode/decimfmt.h>
#include <unicode/fmtable.h>
#include <unicode/locid.h>
#include <unicode/numfmt.h>
#include <unicode/parsepos.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <vector>

#include "engine/number_format.h"

namespace tabulix {

namespace {

icu::Locale readerLocale(const std::string& name) {
  return name.empty() ? icu::Locale::getRoot() : icu::Locale::createCanonical(name.c_str());
}

std::string utf8(const icu::UnicodeString& u) {
  std::string out;
  u.toUTF8String(out);
  return out;
}

// The symbol as one ASCII character, or 0 when it is anything else.
char asciiSymbol(const icu::UnicodeString& symbol) {
  if (symbol.length() != 1) return 0;
  char16_t c = symbol.charAt(0);
  return c > 0x20 && c < 0x7f ? char(c) : 0;
}

// Whether `format` consumes the whole text, and the value it reads.
bool parseWhole(const icu::NumberFormat* format, const icu::UnicodeString& text, double& value) {
  if (!format) return false;
  icu::Formattable result;
  icu::ParsePosition position(0);
  format->parse(text, result, position);
  if (position.getErrorIndex() >= 0 || position.getIndex() != text.length()) return false;
  UErrorCode status = U_ZERO_ERROR;
  double d = result.getDouble(status);
  // NaN, the infinities and literals beyond the double range are no numbers.
  if (U_FAILURE(status) || !std::isfinite(d)) return false;
  value = d;
  return true;
}

// Exact powers of ten: every 10^k for k <= 22 is a double.
constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                   1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

}  // namespace

std::string localeForDecimalPoint(std::string_view separator) {
  const std::string& device = deviceLocaleName();
  UErrorCode status = U_ZERO_ERROR;
  icu::DecimalFormatSymbols symbols(readerLocale(device), status);
  if (U_SUCCESS(status) &&
      utf8(symbols.getSymbol(icu::DecimalFormatSymbols::kDecimalSeparatorSymbol)) == separator) {
    return device;
  }
  if (separator == ".") return "en_US";
  if (separator == ",") return "fr_FR";
  return "";
}

struct NumberReaders::Icu {
  std::unique_ptr<icu::NumberFormat> readDecimal;
  std::unique_ptr<icu::NumberFormat> readPercent;
  std::unique_ptr<icu::NumberFormat> readCurrency;
  // The percent style's own affixes ("%" in en_US, U+00A0 "%" in fr_FR).
  icu::UnicodeString percentPrefix, percentSuffix;
  // The decimal separator and grouping sizes, to check what the lenient
  // currency reader accepted.
  char16_t decimal = u'.';
  int primaryGroup = 3;
  int secondaryGroup = 3;

  std::optional<double> readPercentSpaced(const icu::UnicodeString& text) const;
  bool validGrouping(const icu::UnicodeString& text) const;
  bool validSignsAndEnds(const icu::UnicodeString& text) const;
};

namespace {

bool isSpace(char16_t c) { return c == u'\t' || u_charType(c) == U_SPACE_SEPARATOR; }

// What the lenient reader may take for a grouping separator.
bool isGroupingLike(char16_t c) {
  return c == u',' || c == u'.' || c == u'\'' || c == u'\u2019' || c == u'\u066c' || isSpace(c);
}

}  // namespace

// A percent sign where the locale writes it (after the number, or before it
// as in Turkish), with or without space between it and the number, read as
// the locale's own percent form: "50 %" with "." and "50%"
// with "," are both 0.5. Only the spacing changes; the number itself is
// still read strictly.
std::optional<double> NumberReaders::Icu::readPercentSpaced(const icu::UnicodeString& text) const {
  int32_t begin = 0, end = text.length();
  while (begin < end && isSpace(text.charAt(begin))) ++begin;
  while (end > begin && isSpace(text.charAt(end - 1))) --end;
  if (end - begin < 2) return std::nullopt;
  if (text.charAt(end - 1) == u'%') {
    --end;
    while (end > begin && isSpace(text.charAt(end - 1))) --end;
  } else if (text.charAt(begin) == u'%' && percentPrefix.indexOf(u'%') >= 0) {
    ++begin;
    while (begin < end && isSpace(text.charAt(begin))) ++begin;
  } else {
    return std::nullopt;
  }
  if (begin == end) return std::nullopt;
  icu::UnicodeString number(text, begin, end - begin);
  if (number.indexOf(u'%') >= 0) return std::nullopt;
  icu::UnicodeString normal = percentPrefix;
  normal += number;
  normal += percentSuffix;
  double v;
  if (normal != text && parseWhole(readPercent.get(), normal, v)) return v;
  return std::nullopt;
}

// Whether the digits before the decimal separator are grouped as the
// locale groups them (the last group of the primary size, the others of
// the secondary size, the first one possibly shorter, all with one
// separator), and the digits after it not at all.
bool NumberReaders::Icu::validGrouping(const icu::UnicodeString& text) const {
  const int32_t n = text.length();
  int32_t i = 0;
  while (i < n && !u_isdigit(text.charAt(i))) ++i;
  std::vector<int> groups;
  char16_t separator = 0;
  bool fraction = false;
  while (i < n) {
    int run = 0;
    while (i < n && u_isdigit(text.charAt(i))) ++i, ++run;
    if (!fraction) groups.push_back(run);
    if (i + 1 >= n || !u_isdigit(text.charAt(i + 1))) break;
    const char16_t c = text.charAt(i);
    if (c == decimal && !fraction) {
      fraction = true;
    } else if (isGroupingLike(c)) {
      if (fraction || (separator && c != separator)) return false;
      separator = c;
    } else {
      break;
    }
    ++i;
  }
  if (groups.size() < 2) return true;
  if (groups.back() != primaryGroup) return false;
  const int inner = secondaryGroup > 0 ? secondaryGroup : primaryGroup;
  if (groups.front() < 1 || groups.front() > inner) return false;
  for (size_t g = 1; g + 1 < groups.size(); ++g)
    if (groups[g] != inner) return false;
  return true;
}

// What the lenient reader lets pass beyond its grouping: a grouping
// separator in front of the first digit or behind the last (",5" is 5 to
// it under the point), and more than one sign or a sign after the number
// ("--5", "5-"). Those are text.
bool NumberReaders::Icu::validSignsAndEnds(const icu::UnicodeString& text) const {
  const int32_t n = text.length();
  int32_t first = 0, last = n - 1;
  while (first < n && !u_isdigit(text.charAt(first))) ++first;
  while (last >= 0 && !u_isdigit(text.charAt(last))) --last;
  if (first >= n) return true;
  auto separatorAt = [&](int32_t i) {
    const char16_t c = text.charAt(i);
    return c != decimal && isGroupingLike(c) && !isSpace(c);
  };
  if (first > 0 && separatorAt(first - 1)) return false;
  if (last + 1 < n && separatorAt(last + 1)) return false;
  int signs = 0;
  for (int32_t i = 0; i < n; ++i) {
    const char16_t c = text.charAt(i);
    const bool exponentSign = i > 0 && (text.charAt(i - 1) == u'e' || text.charAt(i - 1) == u'E');
    if ((c == u'-' || c == u'+' || c == u'\u2212') && !exponentSign) {
      if (++signs > 1 || i > first) return false;
    }
  }
  return true;
}

NumberReaders::NumberReaders(std::string_view decimalSeparator)
    : locale_(localeForDecimalPoint(decimalSeparator)), icu_(std::make_unique<Icu>()) {
  const icu::Locale locale = readerLocale(locale_);
  auto make = [&](UNumberFormatStyle style, bool lenient) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::NumberFormat> f(icu::NumberFormat::createInstance(locale, style, status));
    if (U_FAILURE(status)) return std::unique_ptr<icu::NumberFormat>();
    f->setLenient(lenient);
    return f;
  };
  icu_->readDecimal = make(UNUM_DECIMAL, false);
  icu_->readPercent = make(UNUM_PERCENT, false);
  icu_->readCurrency = make(UNUM_CURRENCY, true);
  if (auto* percent = dynamic_cast<const icu::DecimalFormat*>(icu_->readPercent.get())) {
    percent->getPositivePrefix(icu_->percentPrefix);
    percent->getPositiveSuffix(icu_->percentSuffix);
  }

  // The fast path takes its symbols from the decimal reader, and stays off
  // for anything it could not mirror exactly: non-Latin digits, symbols that
  // are not single ASCII characters, or two grouping sizes (as in en_IN).
  auto* decimal = dynamic_cast<const icu::DecimalFormat*>(icu_->readDecimal.get());
  if (!decimal) return;
  const icu::DecimalFormatSymbols* symbols = decimal->getDecimalFormatSymbols();
  using Sym = icu::DecimalFormatSymbols;
  if (const icu::UnicodeString& d = symbols->getConstSymbol(Sym::kDecimalSeparatorSymbol); d.length() == 1)
    icu_->decimal = d.charAt(0);
  if (decimal->getGroupingSize() > 0) {
    icu_->primaryGroup = decimal->getGroupingSize();
    icu_->secondaryGroup = decimal->getSecondaryGroupingSize();
  }
  if (symbols->getSymbol(Sym::kZeroDigitSymbol) != icu::UnicodeString(u'0')) return;
  decimal_ = asciiSymbol(symbols->getSymbol(Sym::kDecimalSeparatorSymbol));
  minus_ = asciiSymbol(symbols->getSymbol(Sym::kMinusSignSymbol));
  const char grouping = asciiSymbol(symbols->getSymbol(Sym::kGroupingSeparatorSymbol));
  auto isNumberChar = [](char c) { return (c >= '0' && c <= '9') || c == '+' || c == 'e' || c == 'E'; };
  if (!decimal_ || isNumberChar(decimal_) || isNumberChar(minus_) || minus_ == decimal_) return;

  // Each rule of the fast path is enabled only when the locale's ICU reader
  // agrees with it on a few probes; the randomized test covers the rest.
  auto reads = [&](const std::string& text, double expected) {
    double v = 0;
    const bool ok = parseWhole(decimal, icu::UnicodeString::fromUTF8(text), v);
    return std::isnan(expected) ? !ok : ok && v == expected;
  };
  const std::string dec(1, decimal_);
  if (!reads("12" + dec + "5", 12.5) || !reads(dec + "5", 0.5) || !reads("3" + dec, 3)) return;
  if (minus_ && !reads(std::string(1, minus_) + "7" + dec + "25", -7.25)) minus_ = 0;
  exponent_ = symbols->getSymbol(Sym::kExponentialSymbol) == icu::UnicodeString(u"E") && reads("1E5", 1e5) &&
              reads("1e5", 1e5) && reads("2E+3", 2e3) && reads("25E-1", 2.5);
  const int primary = decimal->getGroupingSize();
  const int secondary = decimal->getSecondaryGroupingSize();
  if (decimal->isGroupingUsed() && primary > 0 && primary < 9 && (secondary <= 0 || secondary == primary)) {
    groupSize_ = primary;
    const std::string group(size_t(primary), '5');
    const double one = std::pow(10.0, primary), two = std::pow(10.0, 2 * primary);
    const double grouped = 5.0 * (one - 1) / 9.0;  // the digits 55...5 of one group
    const std::string separators[kGroupingKinds] = {
        grouping && grouping != decimal_ && !isNumberChar(grouping) && grouping != minus_
            ? std::string(1, grouping)
            : std::string(),
        " ", "\u00a0", "\u202f"};
    for (int kind = 0; kind < kGroupingKinds; ++kind) {
      const std::string& sep = separators[kind];
      if (sep.empty()) continue;
      const bool agrees = reads("3" + sep + group, 3 * one + grouped) &&
                          reads("42" + sep + group + sep + group, 42 * two + grouped * one + grouped) &&
                          reads("3" + sep + group.substr(1), std::nan("")) &&
                          reads(group + "5" + sep + group, std::nan(""));
      if (agrees) groupingKinds_ |= 1u << kind;
    }
    groupingChar_ = (groupingKinds_ & 1u) ? grouping : 0;
  }
  fastEnabled_ = true;
}

NumberReaders::~NumberReaders() = default;

// The grouping separator at p, as a kind (0 the locale's ASCII one, 1 space,
// 2 no-break space, 3 narrow no-break space) and its length in bytes.
inline bool NumberReaders::groupingAt(const char* p, const char* end, int& kind, int& width) const {
  const unsigned char c = static_cast<unsigned char>(*p);
  if (c == static_cast<unsigned char>(groupingChar_) && groupingChar_) {
    kind = 0, width = 1;
  } else if (c == ' ') {
    kind = 1, width = 1;
  } else if (c == 0xC2 && end - p >= 2 && static_cast<unsigned char>(p[1]) == 0xA0) {
    kind = 2, width = 2;
  } else if (c == 0xE2 && end - p >= 3 && static_cast<unsigned char>(p[1]) == 0x80 &&
             static_cast<unsigned char>(p[2]) == 0xAF) {
    kind = 3, width = 3;
  } else {
    return false;
  }
  return (groupingKinds_ >> kind) & 1u;
}

FastReading NumberReaders::fastNumberForString(std::string_view text, double& value) const {
  if (!fastEnabled_) return FastReading::Undecided;
  const char* p = text.data();
  const char* const end = p + text.size();

  // The first 19 significant digits as an integer, and the power of ten that
  // scales it; later digits only set `truncated`.
  uint64_t mantissa = 0;
  int significant = 0;
  int scale = 0;
  bool truncated = false;

  bool negative = false;
  if (p < end && *p == minus_ && minus_) {
    negative = true;
    ++p;
  }

  // Grouping as ICU's strict decimal reader accepts it: a first group of
  // 1..size digits, then groups of exactly size digits, all with the same
  // separator.
  int intDigits = 0;
  int groupDigits = 0;
  int separator = -1;
  while (p < end) {
    const unsigned digit = unsigned(static_cast<unsigned char>(*p)) - '0';
    if (digit < 10) {
      if (significant < 19) {
        mantissa = mantissa * 10 + digit;
        significant += mantissa != 0;
      } else {
        truncated = true;
        ++scale;
      }
      ++intDigits;
      ++groupDigits;
      ++p;
      continue;
    }
    int kind, width;
    if (!groupingKinds_ || !groupingAt(p, end, kind, width)) break;
    if (groupDigits == 0 ||
        (separator >= 0 ? groupDigits != groupSize_ || kind != separator : groupDigits > groupSize_)) {
      goto undecided;
    }
    separator = kind;
    groupDigits = 0;
    p += width;
  }
  if (separator >= 0 && groupDigits != groupSize_) goto undecided;

  {
    int fracDigits = 0;
    if (p < end && *p == decimal_) {
      for (++p; p < end; ++p) {
        const unsigned digit = unsigned(static_cast<unsigned char>(*p)) - '0';
        if (digit >= 10) break;
        if (significant < 19) {
          mantissa = mantissa * 10 + digit;
          significant += mantissa != 0;
          --scale;
        } else {
          truncated = true;
        }
        ++fracDigits;
      }
    }
    if (intDigits + fracDigits == 0) goto undecided;

    int exponent = 0;
    if (p < end && (*p == 'e' || *p == 'E') && exponent_) {
      ++p;
      bool negativeExponent = false;
      if (p < end && (*p == '+' || *p == '-')) {
        negativeExponent = *p == '-';
        ++p;
      }
      const char* digits = p;
      for (; p < end && *p >= '0' && *p <= '9'; ++p) {
        if (p - digits >= 6) goto undecided;
        exponent = exponent * 10 + (*p - '0');
      }
      if (p == digits) goto undecided;
      if (negativeExponent) exponent = -exponent;
    }
    if (p != end) goto undecided;

    double v;
    const int power = exponent + scale;
    if (mantissa == 0) {
      v = 0.0;
    } else if (!truncated && mantissa <= (uint64_t(1) << 53) && power >= -22 && power <= 22) {
      // Both operands are exact, so the one rounding of the product or
      // quotient is the correctly rounded result (Clinger's fast path).
      v = power < 0 ? double(mantissa) / kPowersOfTen[-power] : double(mantissa) * kPowersOfTen[power];
    } else {
      // The digits without grouping, as "<int>.<frac>e<exp>", for the
      // correctly rounding std::from_chars. Longer texts go to ICU.
      constexpr size_t kBufferSize = 160;
      if (text.size() >= kBufferSize - 2) return FastReading::Undecided;
      char buffer[kBufferSize];
      size_t length = 0;
      buffer[length++] = '0';
      bool inExponent = false;
      for (const char* q = text.data() + (negative ? 1 : 0); q < end; ++q) {
        const char c = *q;
        if ((c >= '0' && c <= '9') || (inExponent && (c == '+' || c == '-'))) {
          buffer[length++] = c;
        } else if (c == decimal_ && !inExponent) {
          buffer[length++] = '.';
        } else if (c == 'e' || c == 'E') {
          buffer[length++] = 'e';
          inExponent = true;
        }
      }
      if (length < kBufferSize && buffer[length - 1] == '.') --length;
      auto result = std::from_chars(buffer, buffer + length, v);
      // Overflow and underflow are left to ICU, which gives infinity or 0.
      if (result.ec != std::errc() || result.ptr != buffer + length) return FastReading::Undecided;
    }
    value = negative ? -v : v;
    return FastReading::Number;
  }

undecided:
  // Every reader needs a digit (NaN and infinity are not taken); a pure
  // ASCII text without one cannot be a number. Neither can a date or a
  // time written in digits: no reader's symbols (signs, separators, percent,
  // currency) hold a slash or a colon, and without a letter the text holds
  // no currency symbol that might ("S/"), so the slash is never consumed.
  bool digit = false, slash = false, other = false;
  for (char c : text) {
    if (c & 0x80) return FastReading::Undecided;
    if (c >= '0' && c <= '9')
      digit = true;
    else if (c == '/' || c == ':')
      slash = true;
    else if (c != '-' && c != '.' && c != ',' && c != ' ')
      other = true;
  }
  if (!digit || (slash && !other)) return FastReading::NotANumber;
  return FastReading::Undecided;
}

std::optional<double> NumberReaders::icuNumberForString(std::string_view text) const {
  if (text.empty()) return std::nullopt;
  const icu::UnicodeString u =
      icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), int32_t(text.size())));
  double v;
  if (parseWhole(icu_->readDecimal.get(), u, v)) return v;
  if (parseWhole(icu_->readPercent.get(), u, v)) return v;
  if (auto percent = icu_->readPercentSpaced(u)) return percent;
  if (parseWhole(icu_->readCurrency.get(), u, v) && icu_->validGrouping(u) && icu_->validSignsAndEnds(u))
    return v;
  return std::nullopt;
}

std::optional<double> NumberReaders::decimalNumberForString(std::string_view text) const {
  if (text.empty()) return std::nullopt;
  double v;
  switch (fastNumberForString(text, v)) {
    case FastReading::Number:
      return v;
    case FastReading::NotANumber:
      return std::nullopt;
    case FastReading::Undecided:
      break;
  }
  return icuNumberForString(text);
}

}  // namespace tabulix
