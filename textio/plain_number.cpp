#include "textio/plain_number.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace tabulix {

std::string plainDecimalText(double v, char separator) {
  if (!std::isfinite(v)) return "";
  if (v == 0) return "0";  // -0 too
  char buf[64];
  double a = std::fabs(v);
  std::string out;
  if (a >= 1e-7 && a < 1e21) {
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
    out.assign(buf, r.ptr);
  } else {
    // to_chars writes at least two exponent digits ("1e-08"); written
    // numbers carry only the digits needed and a sign ("1e-8", "1.5e+21").
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
    std::string s(buf, r.ptr);
    size_t e = s.find('e');
    std::string mantissa = s.substr(0, e);
    char sign = s[e + 1];
    std::string digits = s.substr(e + 2);
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
    out = mantissa + "e" + (sign == '-' ? "-" : "+") + digits;
  }
  if (separator != '.') std::replace(out.begin(), out.end(), '.', separator);
  return out;
}

}  // namespace tabulix
