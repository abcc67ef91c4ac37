// Tick positions and labels of a chart axis: a pure function of the range.
#pragma once

#include <string>
#include <vector>

#include "charts/chart.h"

namespace tabulix::charts {

// One tick: its value and its label.
struct Tick {
  double value;
  std::string label;
};

// The step between ticks: 1, 2 or 5 times a power of ten (for dates, a
// calendar-like step in seconds), the smallest giving at most maxTicks
// ticks over [min, max].
double tickStep(double min, double max, int maxTicks, AxisKind kind = AxisKind::Number);

// Ticks at the multiples of the step within [min, max], labelled with as
// many decimals as the step needs (none when `wholeLabels`), or as dates.
// An empty, reversed or non-finite range gives no tick.
std::vector<Tick> axisTicks(double min, double max, int maxTicks, AxisKind kind = AxisKind::Number,
                            bool wholeLabels = false);

}  // namespace tabulix::charts
