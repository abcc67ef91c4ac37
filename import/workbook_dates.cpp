#include "import/workbook_dates.h"

#include <unicode/dtptngen.h>
#include <unicode/smpdtfmt.h>

#include <cmath>
#include <map>
#include <mutex>

namespace tabulix {

struct WorkbookDateWriter::Formats {
  std::string locale;
  std::unique_ptr<icu::SimpleDateFormat> date, dateTime;
  icu::UnicodeString buffer;
};

namespace {

// The locale's arrangement of the fields of `skeleton` (as a template such as
// "MM/dd/yyyy" is turned into the locale's own pattern). Finding it is slow,
// so each locale's formats are made once and copied for every writer.
std::unique_ptr<icu::SimpleDateFormat> makeFormat(const icu::Locale& locale, const char* skeleton,
                                                  const char* fallback) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::DateTimePatternGenerator> gen(
      icu::DateTimePatternGenerator::createInstance(locale, status));
  icu::UnicodeString pattern(fallback);
  if (U_SUCCESS(status) && gen) {
    icu::UnicodeString best = gen->getBestPattern(icu::UnicodeString(skeleton), status);
    if (U_SUCCESS(status) && !best.isEmpty()) pattern = best;
  }
  status = U_ZERO_ERROR;
  auto fmt = std::make_unique<icu::SimpleDateFormat>(pattern, locale, status);
  if (U_FAILURE(status)) {
    status = U_ZERO_ERROR;
    fmt =
        std::make_unique<icu::SimpleDateFormat>(icu::UnicodeString(fallback), icu::Locale::getRoot(), status);
  }
  return fmt;
}

std::unique_ptr<icu::SimpleDateFormat> formatFor(const std::string& localeName, bool withTime) {
  static std::mutex mutex;
  static std::map<std::pair<std::string, bool>, std::unique_ptr<icu::SimpleDateFormat>> made;
  std::lock_guard lock(mutex);
  auto& slot = made[{localeName, withTime}];
  if (!slot) {
    icu::Locale locale(localeName.c_str());
    slot = withTime ? makeFormat(locale, "MMddyyyyHHmm", "MM/dd/yyyy HH:mm")
                    : makeFormat(locale, "MMddyyyy", "MM/dd/yyyy");
  }
  std::unique_ptr<icu::SimpleDateFormat> copy(slot->clone());
  // The device's zone now, whatever it was when the first copy was made.
  copy->adoptTimeZone(icu::TimeZone::createDefault());
  return copy;
}

}  // namespace

WorkbookDateWriter::WorkbookDateWriter(const std::string& localeName)
    : formats_(std::make_unique<Formats>()) {
  formats_->locale = localeName;
}

WorkbookDateWriter::~WorkbookDateWriter() = default;

bool WorkbookDateWriter::format(double days, std::string& out) {
  if (!std::isfinite(days) || std::fabs(days) > 1e7) return false;
  if (auto it = written_.find(days); it != written_.end()) {
    out = it->second;
    return true;
  }
  double seconds = epoch_ + days * 24 * 60 * 60;
  bool whole = days == std::round(days);
  // Made on first use: most sheets of most workbooks hold no dates.
  auto& slot = whole ? formats_->date : formats_->dateTime;
  if (!slot) slot = formatFor(formats_->locale, !whole);
  icu::SimpleDateFormat& f = *slot;
  formats_->buffer.remove();
  f.format(seconds * 1000.0, formats_->buffer);
  out.clear();
  formats_->buffer.toUTF8String(out);
  if (written_.size() >= 65536) written_.clear();
  written_.emplace(days, out);
  return true;
}

}  // namespace tabulix
