#include "engine/number_format.h"

#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/measunit.h>
#include <unicode/numberformatter.h>
#include <unicode/plurrule.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>

#include "engine/translate.h"

namespace tabulix {

namespace {

// ---- device locale ---------------------------------------------------------

// Every name ever set stays in this set, so deviceLocaleName() can hand out a
// reference without a lock: setting the locale happens a handful of times per
// process (command line, server setting), reading it on every formatter use.
std::mutex g_namesMutex;
std::set<std::string>& localeNames() {
  static std::set<std::string> names;
  return names;
}
const std::string kDefaultLocale = "en_US";
std::atomic<const std::string*> g_deviceLocale{&kDefaultLocale};
// The locale a LocaleScope set on this thread, if any.
thread_local const std::string* t_localeOverride = nullptr;

// The locale the formatters of this thread follow: a stable pointer, which
// also keys the caches below.
const std::string* currentLocale() {
  return t_localeOverride ? t_localeOverride : g_deviceLocale.load(std::memory_order_acquire);
}

// The stored copy of a locale name (kept for the life of the process).
const std::string* storedLocaleName(const std::string& name) {
  std::lock_guard lock(g_namesMutex);
  return &*localeNames().insert(name).first;
}

// Bumped whenever the locale or the zone changes; formatters built for an
// older generation are rebuilt on their next use.
std::atomic<uint64_t> g_generation{1};

// ---- shared number formatters ----------------------------------------------

// Significant-digit settings 1..kCachedDigits get a prebuilt formatter each;
// ICU compiles a formatter after a few uses, so keeping them avoids rebuilding
// the formatting pipeline on every call.
constexpr unsigned kCachedDigits = 20;
// ICU's upper limit for significant digits.
constexpr unsigned kMaxDigits = 999;

using icu::number::LocalizedNumberFormatter;

struct NumberFormatters {
  uint64_t generation = 0;
  const std::string* locale = nullptr;
  LocalizedNumberFormatter decimal[kCachedDigits + 1];
  LocalizedNumberFormatter scientific[kCachedDigits + 1];
  LocalizedNumberFormatter decimalBase;
  LocalizedNumberFormatter scientificBase;
  LocalizedNumberFormatter percent;  // the locale's percent style, whole percents
};

std::mutex g_formattersMutex;
// One set per locale in use; a server writes for each browser in its language.
std::map<const std::string*, std::shared_ptr<const NumberFormatters>> g_formatters;

icu::Locale icuLocale(const std::string& name) { return icu::Locale::createCanonical(name.c_str()); }

std::shared_ptr<const NumberFormatters> buildNumberFormatters(uint64_t generation,
                                                              const std::string* locale) {
  auto f = std::make_shared<NumberFormatters>();
  f->generation = generation;
  f->locale = locale;
  f->decimalBase = icu::number::NumberFormatter::withLocale(icuLocale(*locale))
                       .roundingMode(UNUM_ROUND_HALFEVEN)
                       .grouping(UNUM_GROUPING_AUTO);
  f->scientificBase = f->decimalBase.notation(icu::number::Notation::scientific());
  f->percent = icu::number::NumberFormatter::withLocale(icuLocale(*locale))
                   .unit(icu::NoUnit::percent())
                   .scale(icu::number::Scale::powerOfTen(2))
                   .roundingMode(UNUM_ROUND_HALFEVEN)
                   .precision(icu::number::Precision::integer());
  for (unsigned d = 1; d <= kCachedDigits; ++d) {
    f->decimal[d] = f->decimalBase.precision(icu::number::Precision::maxSignificantDigits(int32_t(d)));
    f->scientific[d] = f->scientificBase.precision(icu::number::Precision::maxSignificantDigits(int32_t(d)));
  }
  return f;
}

// The formatters of the current generation. Each thread keeps the last ones it
// used, so the common case is one atomic load and no lock.
const NumberFormatters& numberFormatters() {
  thread_local std::shared_ptr<const NumberFormatters> mine;
  uint64_t generation = g_generation.load(std::memory_order_acquire);
  const std::string* locale = currentLocale();
  if (!mine || mine->generation != generation || mine->locale != locale) {
    std::lock_guard lock(g_formattersMutex);
    auto& slot = g_formatters[locale];
    if (!slot || slot->generation != generation) slot = buildNumberFormatters(generation, locale);
    mine = slot;
  }
  return *mine;
}

std::string utf8(const icu::UnicodeString& u) {
  std::string out;
  u.toUTF8String(out);
  return out;
}

std::string formatWith(const LocalizedNumberFormatter& f, double v) {
  UErrorCode status = U_ZERO_ERROR;
  icu::number::FormattedNumber formatted = f.formatDouble(v, status);
  icu::UnicodeString text = formatted.toString(status);
  if (U_FAILURE(status)) return {};
  return utf8(text);
}

// ---- per-thread date formatters --------------------------------------------

icu::DateFormat::EStyle icuStyle(FormatStyle s) {
  switch (s) {
    case FormatStyle::None:
      return icu::DateFormat::kNone;
    case FormatStyle::Short:
      return icu::DateFormat::kShort;
    case FormatStyle::Medium:
      return icu::DateFormat::kMedium;
    case FormatStyle::Long:
      return icu::DateFormat::kLong;
    case FormatStyle::Full:
      return icu::DateFormat::kFull;
  }
  return icu::DateFormat::kNone;
}

constexpr int kStyles = 5;

struct DateFormatters {
  uint64_t generation = 0;
  std::array<std::unique_ptr<icu::DateFormat>, kStyles * kStyles> byStyles;
};

const icu::DateFormat* dateFormatter(DateTimeStyles styles) {
  thread_local std::map<const std::string*, DateFormatters> byLocale;
  const std::string* locale = currentLocale();
  DateFormatters& mine = byLocale[locale];
  uint64_t generation = g_generation.load(std::memory_order_acquire);
  if (mine.generation != generation) {
    for (auto& f : mine.byStyles) f.reset();
    mine.generation = generation;
  }
  auto& slot = mine.byStyles[int(styles.dateStyle) * kStyles + int(styles.timeStyle)];
  if (!slot) {
    // ICU takes the default zone at creation; setDeviceTimeZone bumps the
    // generation so that formatters made before it are replaced.
    slot.reset(icu::DateFormat::createDateTimeInstance(icuStyle(styles.dateStyle), icuStyle(styles.timeStyle),
                                                       icuLocale(*locale)));
  }
  return slot.get();
}

// The single-precision 0.0001 widened to double (9.999999747378752e-05): the
// bound below which a nonzero value is written in scientific notation and a
// p-value as "p < 0.0001".
const double kSmallBound = double(0.0001f);
// From here on values are written in scientific notation: 10^15, the
// largest power of ten below which every whole double is exact.
constexpr double kLargeBound = 1e15;

}  // namespace

void setDeviceLocale(const std::string& name) {
  g_deviceLocale.store(storedLocaleName(name), std::memory_order_release);
  g_generation.fetch_add(1, std::memory_order_acq_rel);
}

const std::string& deviceLocaleName() { return *currentLocale(); }

std::optional<std::string> supportedLocale(std::string_view tag) {
  if (tag.empty() || tag.size() > 35) return std::nullopt;
  std::string text(tag);
  for (char c : text)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_')) return std::nullopt;
  for (char& c : text)
    if (c == '_') c = '-';
  UErrorCode status = U_ZERO_ERROR;
  icu::Locale loc = icu::Locale::forLanguageTag(text, status);
  if (U_FAILURE(status) || loc.isBogus() || std::string_view(loc.getLanguage()).empty()) return std::nullopt;
  // Only languages ICU has formatting data for; others would silently fall
  // back to the root locale's conventions.
  int32_t count = 0;
  const icu::Locale* available = icu::Locale::getAvailableLocales(count);
  for (int32_t i = 0; i < count; ++i)
    if (std::string_view(available[i].getLanguage()) == loc.getLanguage()) return std::string(loc.getName());
  return std::nullopt;
}

bool pluralIsOne(double n) {
  thread_local std::map<const std::string*, std::unique_ptr<icu::PluralRules>> byLocale;
  const std::string* locale = currentLocale();
  auto& rules = byLocale[locale];
  if (!rules) {
    UErrorCode status = U_ZERO_ERROR;
    rules.reset(icu::PluralRules::forLocale(icuLocale(*locale), status));
    if (U_FAILURE(status)) rules.reset();
  }
  if (!rules) return n == 1;
  return rules->select(n) == icu::UnicodeString(u"one");
}

LocaleScope::LocaleScope(const std::optional<std::string>& name) : previous_(t_localeOverride) {
  if (name) t_localeOverride = storedLocaleName(*name);
}

LocaleScope::~LocaleScope() { t_localeOverride = previous_; }

void setDeviceTimeZone(const std::string& zoneId) {
  icu::TimeZone::adoptDefault(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(zoneId)));
  g_generation.fetch_add(1, std::memory_order_acq_rel);
}

// The digits before the point of a magnitude below 10^15 (1 for 0.5).
static unsigned integerDigits(double magnitude) {
  unsigned digits = 1;
  for (double bound = 10; digits < 16 && magnitude >= bound; bound *= 10) ++digits;
  return digits;
}

std::string stringFromNumber(double v, unsigned sigDigits) {
  if (v == 0) v = 0;  // -0.0 is written as 0
  if (std::isnan(v)) v = std::fabs(v);
  const double magnitude = std::fabs(v);
  // Decimal form from the single-precision 0.0001 up to 10^15: people read
  // counts and large sums in full. Within it a value keeps its integer
  // digits however few significant digits are asked for (12,345.6 with 4
  // is 12,346), so whole numbers are always written in full.
  const bool scientific = (v != 0 && magnitude < kSmallBound) || magnitude >= kLargeBound;
  unsigned d = sigDigits == 0 ? 1 : (sigDigits > kMaxDigits ? kMaxDigits : sigDigits);
  if (!scientific && std::isfinite(v)) d = std::max(d, integerDigits(magnitude));
  const NumberFormatters& f = numberFormatters();
  if (d <= kCachedDigits) return formatWith(scientific ? f.scientific[d] : f.decimal[d], v);
  auto precision = icu::number::Precision::maxSignificantDigits(int32_t(d));
  return formatWith(scientific ? f.scientificBase.precision(precision) : f.decimalBase.precision(precision),
                    v);
}

std::string stringFromPercent(double share, unsigned fractionDigits) {
  if (!std::isfinite(share)) return "";
  if (share == 0) share = 0;
  const NumberFormatters& f = numberFormatters();
  if (fractionDigits == 0) return formatWith(f.percent, share);
  return formatWith(
      f.percent.precision(icu::number::Precision::maxFraction(int32_t(std::min(fractionDigits, 15u)))),
      share);
}

std::string stringFromNumber(double v, VariableType type, unsigned sigDigits, double timeScale) {
  if (type == VariableType::DateTime) return stringFromDateNumber(v, timeScale);
  return stringFromNumber(v, sigDigits);
}

DateTimeStyles dateTimeStylesForInterval(double timeScale) {
  if (timeScale > 86400 || timeScale == 0) return {FormatStyle::Short, FormatStyle::None};
  return {FormatStyle::None, FormatStyle::Short};
}

std::string stringFromDateNumber(double seconds, double timeScale) {
  // ICU's calendar spans about 5.8 million years around 1970; outside it, and
  // for NaN and infinities, it would print an arbitrary date.
  if (!(std::fabs(seconds) < 1e14)) return stringFromNumber(seconds);
  const icu::DateFormat* f = dateFormatter(dateTimeStylesForInterval(timeScale));
  if (!f) return {};
  icu::UnicodeString text;
  f->format(UDate(seconds * 1000.0), text);
  return utf8(text);
}

std::string stringFromDifferenceNumber(double v, VariableType type, unsigned sigDigits) {
  if (type != VariableType::DateTime) return stringFromNumber(v, sigDigits);
  // Day counts carry four digits fewer than the values; a 4-digit setting
  // (and anything below it) keeps one.
  const unsigned dayDigits = sigDigits > 4 ? sigDigits - 4 : 1;
  return fillPlaceholders(tr("%@ days"), {stringFromNumber(v / 86400.0, dayDigits)});
}

std::string stringFromPValue(double p) {
  // Below 0.001 the digits say nothing a reader can use, and a p-value of
  // exactly 0 (a perfect fit) is never literally true.
  if (p < 0.001) return "< " + stringFromNumber(0.001, 4);
  return stringFromNumber(p, 4);
}

std::string stringFromPNumber(double p) {
  if (p < 0.001) return "p " + stringFromPValue(p);
  return "p = " + stringFromPValue(p);
}

std::string stringForOperatorType(unsigned op) {
  switch (op) {
    case 0:
      return "<";
    case 1:
      return "≤";
    case 2:
      return ">";
    case 3:
      return "≥";
    case 4:
      return "=";
    case 5:
      return "≠";
    case 10:
      return tr("IN");
    case 20:
      return tr("is missing");
    case 21:
      return tr("is not missing");
    case 99:
      return tr("Contains");
    default:
      return "Unknown op";
  }
}

}  // namespace tabulix
