#include "engine/values.h"

#include <unicode/dcfmtsym.h>
#include <unicode/unistr.h>

#include "engine/date_detector.h"
#include "engine/number_format.h"
#include "engine/number_reading.h"

namespace tabulix {

const NumberReaders& Model::numberReaders() {
  if (!readers_) {
    // Without a recorded separator the readers follow the device locale.
    OptText sep = currentStore() ? metadataValueForKey("decimalSeparator") : std::nullopt;
    readers_ = std::make_shared<NumberReaders>(sep ? *sep : deviceDecimalSeparator());
  }
  return *readers_;
}

const DateDetector& Model::detectDate() {
  if (!detector_) {
    detector_ = std::make_shared<DateDetector>();
    // The order of day, month and year the workspace's file was read in, so
    // that edits read new dates the same way; the locale's without one.
    OptText order = currentStore() ? metadataValueForKey("dateOrder") : std::nullopt;
    if (order) {
      if (auto o = DateDetector::orderNamed(*order)) detector_->setNumericOrder(*o);
    }
  }
  return *detector_;
}

std::string deviceDecimalSeparator() {
  UErrorCode status = U_ZERO_ERROR;
  icu::DecimalFormatSymbols symbols(icu::Locale(deviceLocaleName().c_str()), status);
  if (U_FAILURE(status)) return ".";
  std::string out;
  symbols.getConstSymbol(icu::DecimalFormatSymbols::kDecimalSeparatorSymbol).toUTF8String(out);
  return out == "," ? "," : ".";
}

std::optional<double> decimalNumberForString(Model& model, std::string_view text) {
  return model.numberReaders().decimalNumberForString(text);
}

std::optional<double> dateForString(Model& model, std::string_view text) {
  return model.detectDate().dateForString(text);
}

}  // namespace tabulix
