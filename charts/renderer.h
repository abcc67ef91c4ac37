// Draws chart models through cairo: into any cairo context (the PDF
// reports), and to SVG (the screen) and PNG.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "charts/chart.h"

typedef struct _cairo cairo_t;

namespace tabulix::charts {

// How a chart's point clouds are drawn: Bounded draws one dot per device-pixel
// cell and a dense cloud as one image (what the screen and the PDF get);
// Full draws every dot as a vector disc; Raster always uses the image.
enum class ChartDetail { Bounded, Full, Raster };

// Draws the chart into the rectangle (0, 0, width, height) of the context.
void drawChart(const Chart& chart, cairo_t* cr, double width, double height,
               ChartDetail detail = ChartDetail::Bounded);
// The chart as an SVG document of the given size in points.
std::string toSvg(const Chart& chart, double width, double height);
// The chart as PNG bytes at the given size in pixels.
std::vector<uint8_t> toPng(const Chart& chart, int width, int height);

}  // namespace tabulix::charts
