#include "analyses/report_text.h"

#include <cmath>

#include "engine/translate.h"

namespace tabulix {

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
