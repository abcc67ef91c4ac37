#include "analyses/report_text.h"

#include <cmath>

#include "engine/number_format.h"
#include "engine/translate.h"

namespace tabulix {

std::string significanceMark(double p) {
  // Comparisons written so that NaN gets no mark.
  if (p <= 0.001) return " ***";
  if (p <= 0.01) return " **";
  if (p <= 0.05) return " *";
  return "";
}

std::string wholePercent(double share) { return stringFromPercent(share); }

}  // namespace tabulix
