// Chart models: the series an analysis hands to its charts, with their
// ranges and titles, and nothing about how they are drawn.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tabulix::charts {

// How an axis labels its values.
enum class AxisKind { Number, Date, Hidden };

// One axis: its title and the range of values it spans.
struct Axis {
  std::string title;
  double min = 0, max = 1;
  AxisKind kind = AxisKind::Number;
  // Labels without decimals (a histogram whose edges span more than 2 units).
  bool wholeLabels = false;
  // Labels at given positions instead of the computed ticks (one per group).
  std::vector<std::pair<double, std::string>> categoryLabels;
};

// Bars standing on the x axis at their left edges (a histogram).
struct BarSeries {
  std::vector<double> left, heights;
  double width = 1;
};

// Points (a scatter or Q-Q plot).
struct PointSeries {
  std::vector<double> x, y;
};

// A polyline through its points (a fitted segment, a density curve).
struct LineSeries {
  std::vector<double> x, y;
  bool dashed = false;
  std::string name;  // its legend entry; none when empty
};

// A horizontal box plot: the box from q1 to q3 split at the median, whiskers
// to the fences, outliers as points.
struct BoxSeries {
  double lowerFence = 0, q1 = 0, median = 0, q3 = 0, upperFence = 0;
  std::vector<double> outliers;
};

// Vertical bars that float from one value to another, centred on their
// positions on the x axis: box plot parts, stacked segments. A series drawn
// as lines shows a bar as a vertical line (a whisker), or as a short
// horizontal line when it starts where it ends (a whisker tip).
struct RangeBarSeries {
  std::string id;    // what the series is ("bottomBox", a level's stack segment, ...)
  std::string name;  // its legend entry; none when empty
  std::vector<double> position, from, to;
  double width = 0.6;    // in x-axis units
  bool asLines = false;  // lines instead of filled bars
  int colour = -1;       // palette index; -1 for the plain bar colour
};

// A vertical marker at x (an observed statistic).
struct Marker {
  double x = 0;
  std::string label;
};

// What kind of chart a model is.
enum class ChartKind { Bars, Pie, Xy };

// One chart.
struct Chart {
  ChartKind kind = ChartKind::Xy;
  std::string title;
  // Bars and Pie: one value per category.
  std::vector<std::string> categories;
  std::vector<double> values;
  // Xy: axes and series; a box plot is drawn in a band above the bars.
  Axis x, y;
  std::vector<BarSeries> bars;
  std::vector<PointSeries> points;
  std::vector<LineSeries> lines;
  std::vector<RangeBarSeries> rangeBars;
  std::optional<BoxSeries> box;
  std::vector<Marker> markers;
};

}  // namespace tabulix::charts
