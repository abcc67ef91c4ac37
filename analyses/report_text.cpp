#include "analyses/report_text.h"

#include <cmath>

#include "engine/translate.h"

namespace tabulix {

std::string fillFormat(std::string format, std::initializer_list<std::string> values) {
  size_t at = 0;
  for (const auto& v : values) {
    at = format.find("%@", at);
    if (at == std::string::npos) break;
    format.replace(at, 2, v);
    at += v.size();
  }
  for (size_t p = format.find("%%"); p != std::string::npos; p = format.find("%%", p + 1)) format.erase(p, 1);
  return format;
}

std::string significanceMark(double p) {
  // Comparisons written so that NaN gets no mark.
  if (p <= 0.001) return " ***";
  if (p <= 0.01) return " **";
  if (p <= 0.05) return " *";
  return "";
}

std::string wholePercent(double share) {
  if (!std::isfinite(share)) return "";
  return std::to_string(static_cast<long long>(std::llround(share * 100))) + "%";
}

}  // namespace tabulix
