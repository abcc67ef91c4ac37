// The device locale and the shared formatters that write numbers, dates,
// differences, p-values and filter operators as text.
//
// Every formatter follows the device locale (setDeviceLocale) and the device
// time zone (ICU's default zone, which is TZ unless setDeviceTimeZone changed
// it). The ICU formatters behind these functions are built once per locale and
// zone and shared by all threads: the number formatters are ICU's immutable,
// thread-safe LocalizedNumberFormatter; the date formatters are cloned once per
// thread, because ICU does not promise that one DateFormat may format on two
// threads at the same time.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "engine/variable_type.h"

namespace tabulix {

// Sets the device locale (an ICU locale name such as "en_US" or "fr_FR").
void setDeviceLocale(const std::string& name);

// The locale name the formatters of this thread follow: the LocaleScope's when
// one is active on the thread, else the device locale ("en_US" until
// setDeviceLocale is called). Safe to call from any thread; the reference stays
// valid for the life of the process.
const std::string& deviceLocaleName();

// The ICU name ("fr_CH") of a language tag ("fr-CH", "fr_CH") whose language
// ICU has formatting data for; none for anything else (the tag may come from
// a browser, so it is checked, not trusted).
std::optional<std::string> supportedLocale(std::string_view tag);

// True when the plural rules of this thread's locale put the count n in the
// category "one" (in English: n = 1), which takes the singular wording.
bool pluralIsOne(double n);

// While it lives, the formatters of the thread that made it follow `name` (an
// ICU locale name from supportedLocale) instead of the device locale: a server
// request writes numbers and dates in its browser's language. Nothing changes
// when name is empty.
class LocaleScope {
 public:
  explicit LocaleScope(const std::optional<std::string>& name);
  ~LocaleScope();
  LocaleScope(const LocaleScope&) = delete;
  LocaleScope& operator=(const LocaleScope&) = delete;

 private:
  const std::string* previous_;
};

// Sets the device time zone (an Olson id such as "Europe/Paris") as ICU's
// default zone, used by the date formatters and by date detectors made later.
void setDeviceTimeZone(const std::string& zoneId);

// Writes v with at most sigDigits significant digits (half-even rounding) but
// never fewer than its integer digits, in the locale's grouped decimal form
// from 0.0001 (taken in single precision) up to 10^15, so whole numbers there
// are written in full ("100,000"); in scientific notation with sigDigits
// digits outside that range (v != 0). A sigDigits of 0 writes 1 digit.
// Negative zero is written as 0 and NaN without a sign.
std::string stringFromNumber(double v, unsigned sigDigits = 4);

// A value of a variable of the given type: a date (stringFromDateNumber with the
// time scale) for DateTime, else stringFromNumber with sigDigits. This one
// function stands for every ofType: variant, the omitted arguments taking
// their defaults (4 digits, time scale 0).
std::string stringFromNumber(double v, VariableType type, unsigned sigDigits = 4, double timeScale = 0);

// The date and time format styles of ICU's DateFormat.
enum class FormatStyle { None, Short, Medium, Long, Full };

// The pair of styles that a date is written with.
struct DateTimeStyles {
  FormatStyle dateStyle;
  FormatStyle timeStyle;
  bool operator==(const DateTimeStyles&) const = default;
};

// The styles for values spread over timeScale seconds: a short date without
// time when timeScale > 86400 or timeScale == 0, otherwise a short time
// without date (values within a day differ only by their time).
DateTimeStyles dateTimeStylesForInterval(double timeScale);

// The date and/or time `seconds` after 1970-01-01 00:00 UTC, in the device's
// zone, with the styles of dateTimeStylesForInterval(timeScale). NaN,
// infinities and instants beyond 10^14 seconds are written by
// stringFromNumber instead.
std::string stringFromDateNumber(double seconds, double timeScale = 0);

// A difference between two values of the given type: stringFromNumber for a
// non-date type; for DateTime, the seconds as days, with sigDigits - 4 digits
// (1 digit when sigDigits <= 4), in the translated "%@ days".
std::string stringFromDifferenceNumber(double v, VariableType type, unsigned sigDigits);

// A p-value as a table cell: "< 0.001" below 0.001, else the value with 4
// significant digits ("0.04567").
std::string stringFromPValue(double p);

// A p-value in a sentence: "p < 0.001" below 0.001, else "p = " followed by
// stringFromPValue ("p = 0.04567"). Every p-value shown goes through these two.
std::string stringFromPNumber(double p);

// A share (0.125 for 12.5 %) in the locale's percent style, rounded half to
// even to fractionDigits decimals at most ("12%" in en_US, "31 %" in fr_FR);
// "" when the share is not a number.
std::string stringFromPercent(double share, unsigned fractionDigits = 0);

// The symbol of a filter operator code: "<", "≤", ">", "≥", "=", "≠", the
// translated "IN" (10) and "Contains" (99), and "Unknown op" for any other code.
std::string stringForOperatorType(unsigned op);

}  // namespace tabulix
