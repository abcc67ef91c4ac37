// Finds the first date or time written anywhere in a free text.
//
// The detector scans the text from the left and returns the first match of
// the grammar below, as seconds since 1970-01-01 00:00 UTC. Words are matched
// without regard to case; "ws" is one or more spaces or tabs; brackets mark
// optional parts. A match never starts or ends inside a word or a number: the
// characters around it are neither letters nor digits, and a numeric date is
// not preceded by a digit and one of "/-.:" nor followed by one of "/-.:" and
// a digit ("v2.0.1", "06.12.34.56.78" and "1.2.3.4" hold no date).
//
//   match    := date [joiner time] | time [joiner date]
//   date     := iso | numeric | named | weekday [.] [,] [ws] date
//             | weekday | relative
//   iso      := YYYY s MM s DD          s one of "-" "/" ".", the same twice;
//                                       "T" may join a time directly
//   numeric  := A s B s C               1-2, 1-2 and 2 or 4 digits, read in the
//                                       locale's order of its short date:
//                                       M/D/Y (en_US), D/M/Y (fr_FR, de_DE and
//                                       most others) or Y/M/D (ja, zh, ...)
//   named    := month [.] ws D [ord] [[,] ws YYYY]      "March 15, 2021"
//             | month [.] [,] ws YYYY                    "Mar 2021": the 1st
//             | D [ord] [.] ws [of|de ws] month [.] [[,] ws [de ws] YYYY]
//                                                        "15 March 2021"
//             | D s month [s (YY|YYYY)]                  "15-Mar-2021"
//   weekday  := a weekday's full name alone: the next such day, today included;
//               before a date, any weekday name is skipped ("Mon, 15 Mar 2021")
//   relative := today | tomorrow | yesterday
//   time     := H ":" MM [":" SS [("."|",") fraction]] [[ws] ampm] [zone]
//             | H [ws] ampm                              "3pm", "11 a.m."
//   ampm     := am | pm | a.m. | p.m.                    (H then 1-12)
//   zone     := offset [name] | name
//   offset   := "Z" | [ws] (UTC|GMT) [("+"|"-") H[H][[:]MM]] | ws ("+"|"-") HHMM
//             | ("+"|"-") HH[[:]MM]     (directly attached: after an ISO date only)
//   name     := ws id | [ws] "[" id "]" | ws abbr
//   id       := a tz database id Area/Location[/...] ("Europe/Paris",
//               "America/Argentina/Buenos_Aires", "Etc/GMT+5"), Area one of
//               Africa America Antarctica Arctic Asia Atlantic Australia
//               Europe Indian Pacific Etc, or of the legacy Brazil Canada
//               Chile Mexico US
//   abbr     := two to five capitals: "UT", or three to five that are not
//               a month, weekday or relative word ("9:00 MARCH 15" stays one)
//   joiner   := ws | [ws] "," [ws] | ws "at" ws | ws "on" ws (time, then date)
//   ord      := st | nd | rd | th | er
//
// Month and weekday names are the English ones (with "Sept", "Tues", "Thur",
// "Thurs") and those of the locale's language from ICU (wide and abbreviated,
// format and stand-alone forms), compared after Unicode case folding.
//
// Values are checked: month 1-12, the day within its month (leap years
// included), hour 0-23, minute and second 0-59, zone offsets up to 14:59. A
// date that fails the check is no match, and the locale's order is never
// swapped to rescue one ("15/03/2021" is no date in en_US). Years have 4
// digits, or 2 (numeric and "15-Mar-21" forms), which fall within the 80
// years before and the 20 years after the current year. A named date without
// a year is in the current year. Lone years ("2012"), year-month forms
// ("2021-03") and day-month numerals ("3/15") are not dates.
//
// A zone puts the time at its offset. An id's offset is the zone's at that
// local date and time, daylight saving included (Europe/Paris is +02:00 in
// May, +01:00 in January). An abbreviation has one fixed offset: UT, GMT and
// EST EDT CST CDT MST MDT PST PDT as in RFC 5322, and those the tz database
// uses today with a single offset (CET, CEST, BST, JST, AEST, ...; the list
// is in the source). A name that cannot be applied makes the whole text no
// date, as the date read without it would be another instant: an id that
// ICU does not know (ids are case-sensitive: "Europe/Pariss",
// "europe/paris"), an abbreviation outside the list ("IST", which stands for
// three offsets, or "XYZ"), or a name whose offset at that instant differs
// from an offset also given ("14:30 +0100 CEST"). An offset and a name that
// agree are one zone ("2024-05-13T14:30+02:00[Europe/Paris]"). Lowercase
// words after a time ("est") are words of the text, not zones.
//
// A date alone is at 00:00. A time alone is today at that time. A date or
// time without a zone is local time: the process's time zone, which is ICU's
// default zone when the detector is made (the TZ environment variable unless
// setDeviceTimeZone changed it); a local time that a daylight-saving change
// skips or repeats is taken in standard time. "today", "tomorrow",
// "yesterday" and lone weekdays count from the current local date.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "engine/number_format.h"

namespace tabulix {

// A date detector for one locale; const members may be called from several
// threads at once.
class DateDetector {
 public:
  // The order of the fields of an all-numeric date.
  enum class Order { MDY, DMY, YMD };

  // A detector for the locale's numeric order and month and weekday names.
  explicit DateDetector(const std::string& localeName = deviceLocaleName());
  ~DateDetector();
  DateDetector(const DateDetector&) = delete;
  DateDetector& operator=(const DateDetector&) = delete;

  // The first date found in the text, in seconds since 1970-01-01 00:00 UTC,
  // or none.
  std::optional<double> dateForString(std::string_view utf8) const;

  // The same with relative words, missing years and lone times counted from
  // `nowSeconds` instead of the clock.
  std::optional<double> dateForString(std::string_view utf8, double nowSeconds) const;

  // The numeric order: the locale's short date pattern's unless set.
  Order numericOrder() const;
  // Reads all-numeric dates in `order` instead of the locale's.
  void setNumericOrder(Order order);

  // The order's name: "dmy", "mdy" or "ymd".
  static std::string orderName(Order order);
  // The order a name stands for ("dmy", "mdy", "ymd"); none for others ("auto").
  static std::optional<Order> orderNamed(std::string_view name);
  // What a field tells about the order of an all-numeric date A s B s C
  // (1-2, 1-2 and 2 or 4 digits) it starts with: day first when A is 13-31
  // and B at most 12, month first the other way round; none otherwise.
  static std::optional<Order> orderEvidence(std::string_view field);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tabulix
