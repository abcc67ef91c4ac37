// Draws chart models through cairo: into any cairo context (the PDF
// reports), and to SVG (the screen) and PNG.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "charts/chart.h"

typedef struct _cairo cairo_t;

namespace tabulix::charts {

// Draws the chart into the rectangle (0, 0, width, height) of the context.
void drawChart(const Chart& chart, cairo_t* cr, double width, double height);
// The chart as an SVG document of the given size in points.
std::string toSvg(const Chart& chart, double width, double height);
// The chart as PNG bytes at the given size in pixels.
std::vector<uint8_t> toPng(const Chart& chart, int width, int height);

}  // namespace tabulix::charts
