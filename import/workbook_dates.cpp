#include "import/workbook_dates.h"

#include <unicode/dtptngen.h>
#include <unicode/smpdtfmt.h>

#include <cmath>

namespace tabulix {

struct WorkbookDateWriter::Formats {
  std::unique_ptr<icu::SimpleDateFormat> date, dateTime;
  icu::UnicodeString buffer;
};

namespace {

// The locale's arrangement of the fields of `skeleton` (as a template such as
// "MM/dd/yyyy" is turned into the locale's own pattern).
std::unique_ptr<icu::SimpleDateFormat> formatFor(const icu::Locale& locale, const char* skeleton,
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

}  // namespace

WorkbookDateWriter::WorkbookDateWriter(const std::string& localeName)
    : formats_(std::make_unique<Formats>()) {
  icu::Locale locale(localeName.c_str());
  formats_->date = formatFor(locale, "MMddyyyy", "MM/dd/yyyy");
  formats_->dateTime = formatFor(locale, "MMddyyyyHHmm", "MM/dd/yyyy HH:mm");
}

WorkbookDateWriter::~WorkbookDateWriter() = default;

bool WorkbookDateWriter::format(double days, std::string& out) {
  if (!std::isfinite(days) || std::fabs(days) > 1e7) return false;
  double seconds = epoch_ + days * 24 * 60 * 60;
  icu::SimpleDateFormat& f = days == std::round(days) ? *formats_->date : *formats_->dateTime;
  formats_->buffer.remove();
  f.format(seconds * 1000.0, formats_->buffer);
  out.clear();
  formats_->buffer.toUTF8String(out);
  return true;
}

}  // namespace tabulix
