// Texts the table analyses share: "%@" formats, significance marks and
// their legend, and the filter line.
#pragma once

#include <initializer_list>
#include <string>

#include "analyses/coefficients.h"  // significanceLegend

namespace tabulix {

// " *" for 0.01 < p <= 0.05, " **" for 0.001 < p <= 0.01, " ***" for p <= 0.001, else "".
std::string significanceMark(double p);
// A whole-number percentage of a share in the locale's percent style ("37%",
// "37 %" in French, half to even); "" when the share is not a number.
std::string wholePercent(double share);

}  // namespace tabulix
