#include "engine/translate.h"

namespace tabulix {

// Only English ships for now: every text is its own translation. The lookup
// stays the single place that a translation table will plug into.
std::string tr(std::string_view english) { return std::string(english); }

namespace {

// Fills the placeholders from the texts in [value, end).
template <typename It>
std::string fillFrom(std::string_view format, It value, It end) {
  std::string out;
  out.reserve(format.size() + 16);
  size_t i = 0;
  while (i < format.size()) {
    const size_t at = format.find('%', i);
    if (at == std::string_view::npos || at + 1 >= format.size()) break;
    const char kind = format[at + 1];
    if (value != end && (kind == '@' || kind == 'u' || kind == 'd')) {
      out.append(format, i, at - i);
      out.append(*value++);
    } else if (kind == '%') {
      out.append(format, i, at + 1 - i);
    } else {
      out.append(format, i, at + 2 - i);
    }
    i = at + 2;
  }
  if (i < format.size()) out.append(format, i);
  return out;
}

}  // namespace

std::string fillPlaceholders(std::string_view format, std::initializer_list<std::string_view> values) {
  return fillFrom(format, values.begin(), values.end());
}

std::string fillPlaceholders(std::string_view format, const std::vector<std::string>& values) {
  return fillFrom(format, values.begin(), values.end());
}

}  // namespace tabulix
