// Numbers as plain decimal text, the form files and stored cells carry.
#pragma once

#include <string>

namespace tabulix {

// A number as plain decimal text: the shortest digits that read back as the
// same double, without grouping, in exponent form only below 1e-7 or from
// 1e21 on (as JavaScript writes numbers), with the given decimal separator.
std::string plainDecimalText(double v, char decimalSeparator = '.');

}  // namespace tabulix
