#include "engine/number_reading.h"

#include <unicode/dcfmtsym.h>
#include <unicode/decimfmt.h>
#include <unicode/fmtable.h>
#include <unicode/locid.h>
#include <unicode/numfmt.h>
#include <unicode/parsepos.h>
#include <unicode/unistr.h>

#include <charconv>
#include <cstdint>

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

// The lowercase ASCII form of a symbol, or "" when it is not ASCII.
std::string asciiLower(const icu::UnicodeString& symbol) {
  std::string out;
  for (int32_t i = 0; i < symbol.length(); ++i) {
    char16_t c = symbol.charAt(i);
    if (c >= 0x80) return {};
    out += char(c >= 'A' && c <= 'Z' ? c + 32 : c);
  }
  return out;
}

bool containsIgnoringCase(std::string_view text, std::string_view lowerNeedle) {
  if (lowerNeedle.empty() || lowerNeedle.size() > text.size()) return false;
  for (size_t i = 0; i + lowerNeedle.size() <= text.size(); ++i) {
    size_t k = 0;
    while (k < lowerNeedle.size()) {
      char c = text[i + k];
      if (c >= 'A' && c <= 'Z') c = char(c + 32);
      if (c != lowerNeedle[k]) break;
      ++k;
    }
    if (k == lowerNeedle.size()) return true;
  }
  return false;
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
  if (U_FAILURE(status)) return false;
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
};

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

  // The fast path takes its symbols from the decimal reader, and stays off
  // for anything it could not mirror exactly: non-Latin digits, symbols that
  // are not single ASCII characters, or two grouping sizes (as in en_IN).
  auto* decimal = dynamic_cast<const icu::DecimalFormat*>(icu_->readDecimal.get());
  if (!decimal) return;
  const icu::DecimalFormatSymbols* symbols = decimal->getDecimalFormatSymbols();
  using Sym = icu::DecimalFormatSymbols;
  if (symbols->getSymbol(Sym::kZeroDigitSymbol) != icu::UnicodeString(u'0')) return;
  decimal_ = asciiSymbol(symbols->getSymbol(Sym::kDecimalSeparatorSymbol));
  minus_ = asciiSymbol(symbols->getSymbol(Sym::kMinusSignSymbol));
  exponent_ = symbols->getSymbol(Sym::kExponentialSymbol) == icu::UnicodeString(u"E");
  const int primary = decimal->getGroupingSize();
  const int secondary = decimal->getSecondaryGroupingSize();
  if (decimal->isGroupingUsed() && primary > 0 && (secondary <= 0 || secondary == primary)) {
    grouping_ = asciiSymbol(symbols->getSymbol(Sym::kGroupingSeparatorSymbol));
    groupSize_ = primary;
  }
  auto isDigitOrSign = [](char c) { return (c >= '0' && c <= '9') || c == '+' || c == 'e' || c == 'E'; };
  if (!decimal_ || isDigitOrSign(decimal_) || grouping_ == decimal_ || isDigitOrSign(grouping_) ||
      minus_ == decimal_ || minus_ == grouping_ || isDigitOrSign(minus_)) {
    return;
  }
  nanSymbol_ = asciiLower(symbols->getSymbol(Sym::kNaNSymbol));
  infinitySymbol_ = asciiLower(symbols->getSymbol(Sym::kInfinitySymbol));
  fastEnabled_ = true;
}

NumberReaders::~NumberReaders() = default;

FastReading NumberReaders::fastNumberForString(std::string_view text, double& value) const {
  if (!fastEnabled_) return FastReading::Undecided;
  const char* p = text.data();
  const char* const end = p + text.size();

  // The digits without grouping, as "<int>.<frac>e<exp>" for std::from_chars
  // when the exact shortcut below does not apply. Longer texts go to ICU.
  constexpr int kBufferSize = 128;
  char buffer[kBufferSize];
  int length = 0;
  buffer[length++] = '0';

  // The first 19 significant digits as an integer, and the power of ten that
  // scales it.
  uint64_t mantissa = 0;
  int significant = 0;
  int scale = 0;
  bool truncated = false;
  auto digit = [&](char c, bool fraction) {
    if (mantissa == 0 && c == '0') {
      if (fraction) --scale;
      return;
    }
    if (significant < 19) {
      mantissa = mantissa * 10 + uint64_t(c - '0');
      ++significant;
      if (fraction) --scale;
    } else {
      truncated = true;
      if (!fraction) ++scale;
    }
  };

  bool negative = false;
  if (p < end && *p == minus_) {
    negative = true;
    ++p;
  }

  int intDigits = 0;
  int groupDigits = 0;
  bool grouped = false;
  for (; p < end; ++p) {
    char c = *p;
    if (c >= '0' && c <= '9') {
      if (length >= kBufferSize - 16) return FastReading::Undecided;
      buffer[length++] = c;
      digit(c, false);
      ++intDigits;
      ++groupDigits;
    } else if (c == grouping_ && grouping_) {
      // Grouping as ICU's strict decimal reader accepts it: a first group of
      // 1..size digits, then groups of exactly size digits.
      if (groupDigits == 0 || (grouped ? groupDigits != groupSize_ : groupDigits > groupSize_)) {
        goto undecided;
      }
      grouped = true;
      groupDigits = 0;
    } else {
      break;
    }
  }
  if (grouped && groupDigits != groupSize_) goto undecided;

  {
    int fracDigits = 0;
    if (p < end && *p == decimal_) {
      ++p;
      buffer[length++] = '.';
      for (; p < end && *p >= '0' && *p <= '9'; ++p) {
        if (length >= kBufferSize - 16) return FastReading::Undecided;
        buffer[length++] = *p;
        digit(*p, true);
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
      buffer[length++] = 'e';
      auto [ptr, ec] = std::to_chars(buffer + length, buffer + kBufferSize, exponent);
      if (ec != std::errc()) return FastReading::Undecided;
      length = int(ptr - buffer);
      auto result = std::from_chars(buffer, buffer + length, v);
      // Overflow and underflow are left to ICU, which gives infinity or 0.
      if (result.ec != std::errc() || result.ptr != buffer + length) return FastReading::Undecided;
    }
    value = negative ? -v : v;
    return FastReading::Number;
  }

undecided:
  // Every reader needs a digit, an infinity symbol or a NaN symbol; a pure
  // ASCII text without any of them cannot be a number.
  for (char c : text) {
    if ((c & 0x80) || (c >= '0' && c <= '9')) return FastReading::Undecided;
  }
  if (containsIgnoringCase(text, "nan") || containsIgnoringCase(text, nanSymbol_) ||
      containsIgnoringCase(text, infinitySymbol_)) {
    return FastReading::Undecided;
  }
  return FastReading::NotANumber;
}

std::optional<double> NumberReaders::icuNumberForString(std::string_view text) const {
  if (text.empty()) return std::nullopt;
  const icu::UnicodeString u =
      icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), int32_t(text.size())));
  double v;
  if (parseWhole(icu_->readDecimal.get(), u, v)) return v;
  if (parseWhole(icu_->readPercent.get(), u, v)) return v;
  if (parseWhole(icu_->readCurrency.get(), u, v)) return v;
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
