// Reading numbers from cell text by a workspace's decimal separator.
//
// A text is a number when one of three ICU readers of the separator's locale
// consumes all of it, tried in this order: the decimal style (strict), the
// percent style (strict; "12%" is 0.12 in en_US) and the currency style
// (lenient: "$1,200", " 1", "+1", "USD 1"). The grammar beyond that is ICU's,
// with three corrections:
//  - a percent sign is accepted with or without a space before it, whatever
//    the locale writes ("50%" and "50 %" are 0.5 with "," as with ".");
//  - the lenient reader's grouping must be in valid groups (of three, or the
//    locale's sizes): "1,25" with "." and "3.14" with "," are no numbers;
//  - only finite values are numbers: "NaN", "∞" and overflowing literals
//    such as "1E400" are text like any other word.
//
// Statistics read every cell of a variable through here, and ICU takes
// microseconds per text, so plain decimal text takes a fast path first:
//
//   [minus] int [dec frac] [(e|E) [+|-] exp]
//
// with the locale's ASCII minus and decimal separator, int grouped in groups
// of the primary grouping size (or not grouped at all) by one separator: the
// locale's ASCII one, a space, U+00A0 or U+202F, each only if the locale's
// reader takes it; int or frac possibly empty but not both. Such a
// text is converted without allocating and gives the double that ICU gives
// (correct rounding, -0 kept); anything the fast path does not fully
// understand goes to ICU. A text without any digit that is pure ASCII is no
// number for any of the readers and is rejected without ICU. The randomized
// test holds the fast path to ICU's results.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tabulix {

// The locale whose number conventions read text written with `separator` as
// decimal separator: the device locale when its decimal separator equals
// `separator`, else "en_US" for "." and "fr_FR" for ","; otherwise "", ICU's
// root locale ("." decimal, "," grouping), standing for the platform default.
std::string localeForDecimalPoint(std::string_view separator);

// What the fast path concluded about a text.
enum class FastReading {
  Number,      // a plain decimal number; the value is ICU's
  NotANumber,  // none of the three readers can accept it
  Undecided,   // only ICU can tell
};

// The three number readers of one decimal separator, with the fast path.
// Const members may be called from several threads at once.
class NumberReaders {
 public:
  // Readers for the locale localeForDecimalPoint(decimalSeparator).
  explicit NumberReaders(std::string_view decimalSeparator);
  ~NumberReaders();
  NumberReaders(const NumberReaders&) = delete;
  NumberReaders& operator=(const NumberReaders&) = delete;

  // The number that the text reads as, or none; the empty text is none.
  std::optional<double> decimalNumberForString(std::string_view utf8) const;

  // The same reading through the ICU readers only (no fast path).
  std::optional<double> icuNumberForString(std::string_view utf8) const;

  // The fast path alone: Number sets `value`.
  FastReading fastNumberForString(std::string_view utf8, double& value) const;

  // The ICU locale name of the readers ("" for the root locale).
  const std::string& localeName() const { return locale_; }

 private:
  struct Icu;
  std::string locale_;
  std::unique_ptr<Icu> icu_;
  static constexpr int kGroupingKinds = 4;
  bool groupingAt(const char* p, const char* end, int& kind, int& width) const;

  // The fast path's view of the locale: single ASCII symbols, or 0 when the
  // locale's symbol is not one (the fast path then never accepts it).
  bool fastEnabled_ = false;
  char decimal_ = 0;
  char minus_ = 0;
  bool exponent_ = false;
  // Grouping separators that the locale's strict reader takes: bit 0 its
  // ASCII separator (groupingChar_), bits 1-3 space, U+00A0 and U+202F.
  char groupingChar_ = 0;
  unsigned groupingKinds_ = 0;
  int groupSize_ = 0;
};

}  // namespace tabulix
