#include "charts/ticks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "engine/number_format.h"

namespace tabulix::charts {

namespace {

// Date steps in seconds: hours, days, weeks, months and years, roughly.
constexpr double kDateSteps[] = {3600,
                                 3 * 3600,
                                 6 * 3600,
                                 12 * 3600,
                                 86400,
                                 2 * 86400,
                                 7 * 86400,
                                 14 * 86400,
                                 30.4375 * 86400,
                                 91.3125 * 86400,
                                 182.625 * 86400,
                                 365.25 * 86400,
                                 2 * 365.25 * 86400,
                                 5 * 365.25 * 86400,
                                 10 * 365.25 * 86400};

std::string numberLabel(double v, double step, bool whole) {
  int decimals = whole ? 0 : std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9)));
  // Round to the step's decimals, then write in the locale's form.
  double scale = std::pow(10.0, decimals);
  double rounded = std::round(v * scale) / scale;
  if (rounded == 0) rounded = 0;  // no "-0"
  int digits =
      1 + decimals + std::max(0, static_cast<int>(std::floor(std::log10(std::fabs(rounded) + 1e-300))));
  return stringFromNumber(rounded, static_cast<unsigned>(std::clamp(digits, 1, 15)));
}

}  // namespace

double tickStep(double min, double max, int maxTicks, AxisKind kind) {
  double span = max - min;
  if (!(span > 0) || !std::isfinite(span) || maxTicks < 1) return 0;
  if (kind == AxisKind::Date && span >= 3 * 3600)
    for (double s : kDateSteps)
      if (span / s <= maxTicks) return s;
  double raw = span / maxTicks;
  double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0})
    if (m * power >= raw * (1 - 1e-12)) return m * power;
  return 10 * power;
}

std::vector<Tick> axisTicks(double min, double max, int maxTicks, AxisKind kind, bool wholeLabels) {
  std::vector<Tick> out;
  double step = tickStep(min, max, maxTicks, kind);
  if (!(step > 0) || kind == AxisKind::Hidden) return out;
  // Labels without decimals need whole steps, or neighbours would read alike.
  if (wholeLabels && kind == AxisKind::Number && step < 1) step = 1;
  double first = std::ceil(min / step - 1e-9) * step;
  for (int i = 0; i <= maxTicks + 1; ++i) {
    double v = first + i * step;
    if (v > max + step * 1e-9) break;
    if (std::fabs(v) < step * 1e-9) v = 0;
    out.push_back(
        {v, kind == AxisKind::Date ? stringFromDateNumber(v, max - min) : numberLabel(v, step, wholeLabels)});
  }
  return out;
}

}  // namespace tabulix::charts
