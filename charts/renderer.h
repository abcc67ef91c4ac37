// Draws chart models through cairo: into any cairo context (the PDF
// reports), and to SVG (the screen) and PNG.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "charts/chart.h"

typedef struct _cairo cairo_t;

namespace tabulix::charts {

// How a chart's point clouds are drawn: Bounded draws one dot per device-pixel
// cell and a dense cloud as one image (what the screen and the PDF get);
// Full draws every dot as a vector disc; Raster always uses the image.
enum class ChartDetail { Bounded, Full, Raster };

// Held while anything lays out text or writes fonts into a document (pango,
// fontconfig and cairo's font subsets share caches that are not safe to use
// from several threads at once: charts are drawn on job threads). Reentrant;
// toSvg, toPng and drawChart take it themselves, a caller that draws more
// text into the same cairo document holds it until the surface is finished.
std::unique_lock<std::recursive_mutex> lockFonts();

// Draws the chart into the rectangle (0, 0, width, height) of the context.
void drawChart(const Chart& chart, cairo_t* cr, double width, double height,
               ChartDetail detail = ChartDetail::Bounded);
// The chart as an SVG document of the given size in points.
std::string toSvg(const Chart& chart, double width, double height);
// The chart as PNG bytes at the given size in pixels.
std::vector<uint8_t> toPng(const Chart& chart, int width, int height);

}  // namespace tabulix::charts
