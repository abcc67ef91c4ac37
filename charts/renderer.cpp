#include "charts/renderer.h"

#include <cairo-svg.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <atomic>
#include <cmath>

#include "charts/ticks.h"

namespace tabulix::charts {

namespace {

struct Rgb {
  double r, g, b;
};
constexpr Rgb kInk{0.13, 0.16, 0.2};
constexpr Rgb kMuted{0.42, 0.46, 0.5};
constexpr Rgb kGrid{0.88, 0.9, 0.92};
constexpr Rgb kBar{0.16, 0.5, 0.6};
constexpr Rgb kPoint{0.1, 0.36, 0.62};
constexpr Rgb kLine{0.85, 0.33, 0.1};
constexpr Rgb kPalette[] = {{0.16, 0.5, 0.6}, {0.9, 0.55, 0.1},  {0.35, 0.6, 0.3},  {0.7, 0.3, 0.35},
                            {0.45, 0.4, 0.7}, {0.55, 0.45, 0.3}, {0.85, 0.45, 0.6}, {0.5, 0.5, 0.5},
                            {0.65, 0.7, 0.2}, {0.2, 0.65, 0.75}, {0.6, 0.6, 0.6}};

void setColor(cairo_t* cr, Rgb c, double alpha = 1) { cairo_set_source_rgba(cr, c.r, c.g, c.b, alpha); }

enum class Align { Left, Centre, Right };

// Draws text with its reference point at (x, y): horizontally by `align`,
// vertically centred.
void text(cairo_t* cr, const std::string& s, double x, double y, double size, Align align, Rgb color,
          bool bold = false, double maxWidth = 0) {
  PangoLayout* layout = pango_cairo_create_layout(cr);
  PangoFontDescription* font = pango_font_description_from_string("DejaVu Sans");
  pango_font_description_set_absolute_size(font, size * PANGO_SCALE);
  if (bold) pango_font_description_set_weight(font, PANGO_WEIGHT_BOLD);
  pango_layout_set_font_description(layout, font);
  pango_layout_set_text(layout, s.c_str(), static_cast<int>(s.size()));
  if (maxWidth > 0) {
    pango_layout_set_width(layout, static_cast<int>(maxWidth * PANGO_SCALE));
    pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
  }
  int w = 0, h = 0;
  pango_layout_get_pixel_size(layout, &w, &h);
  double left = align == Align::Left ? x : align == Align::Centre ? x - w / 2.0 : x - w;
  setColor(cr, color);
  cairo_move_to(cr, left, y - h / 2.0);
  pango_cairo_show_layout(cr, layout);
  pango_font_description_free(font);
  g_object_unref(layout);
}

void title(cairo_t* cr, const Chart& chart, double width) {
  if (!chart.title.empty()) text(cr, chart.title, width / 2, 12, 12, Align::Centre, kInk, true, width - 8);
}

// The plot area inside the chart's rectangle and the mapping into it.
struct Frame {
  double left, top, right, bottom;
  double xmin, xmax, ymin, ymax;
  double px(double x) const { return left + (x - xmin) / (xmax - xmin) * (right - left); }
  double py(double y) const { return bottom - (y - ymin) / (ymax - ymin) * (bottom - top); }
};

void drawAxes(cairo_t* cr, const Chart& chart, const Frame& f, double width, double height) {
  cairo_set_line_width(cr, 1);
  auto ticksOf = [](const Axis& axis, double lo, double hi, int count) {
    if (axis.categoryLabels.empty()) return axisTicks(lo, hi, count, axis.kind, axis.wholeLabels);
    std::vector<Tick> out;
    for (const auto& [at, label] : axis.categoryLabels) out.push_back({at, label});
    return out;
  };
  if (chart.y.kind != AxisKind::Hidden) {
    for (const Tick& t : ticksOf(chart.y, f.ymin, f.ymax, 5)) {
      double y = f.py(t.value);
      setColor(cr, kGrid);
      cairo_move_to(cr, f.left, y);
      cairo_line_to(cr, f.right, y);
      cairo_stroke(cr);
      text(cr, t.label, f.left - 4, y, 9, Align::Right, kMuted);
    }
  }
  int xTicks = std::max(2, static_cast<int>((f.right - f.left) / 70));
  for (const Tick& t : ticksOf(chart.x, f.xmin, f.xmax, xTicks)) {
    double x = f.px(t.value);
    setColor(cr, kMuted);
    cairo_move_to(cr, x, f.bottom);
    cairo_line_to(cr, x, f.bottom + 4);
    cairo_stroke(cr);
    text(cr, t.label, x, f.bottom + 12, 9, Align::Centre, kMuted);
  }
  setColor(cr, kMuted);
  cairo_move_to(cr, f.left, f.top);
  cairo_line_to(cr, f.left, f.bottom);
  cairo_line_to(cr, f.right, f.bottom);
  cairo_stroke(cr);
  if (!chart.x.title.empty())
    text(cr, chart.x.title, (f.left + f.right) / 2, height - 8, 10, Align::Centre, kInk);
  if (!chart.y.title.empty()) {
    // The vertical axis title reads upwards.
    cairo_save(cr);
    cairo_translate(cr, 10, (f.top + f.bottom) / 2);
    cairo_rotate(cr, -M_PI / 2);
    text(cr, chart.y.title, 0, 0, 10, Align::Centre, kInk);
    cairo_restore(cr);
  }
  (void)width;
}

void drawXy(cairo_t* cr, const Chart& chart, double width, double height) {
  const bool boxBand = chart.box.has_value() && !chart.bars.empty();
  // Named stacked series get a legend column right of the plot.
  const bool legend = std::any_of(chart.rangeBars.begin(), chart.rangeBars.end(),
                                  [](const RangeBarSeries& s) { return !s.name.empty(); });
  Frame f{chart.y.title.empty() ? 44.0 : 56.0,
          26,
          width - (legend ? std::min(110.0, width * 0.28) : 14.0),
          height - (chart.x.title.empty() ? 24.0 : 38.0),
          chart.x.min,
          chart.x.max,
          chart.y.min,
          chart.y.max};
  if (!(f.xmax > f.xmin)) {
    f.xmin -= 0.5;
    f.xmax += 0.5;
  }
  if (!(f.ymax > f.ymin)) {
    f.ymin -= 0.5;
    f.ymax += 0.5;
  }
  double boxTop = f.top, boxBottom = f.top;
  if (boxBand) {
    // The box plot sits in a band of its own above the histogram.
    boxBottom = f.top + std::min(40.0, (f.bottom - f.top) * 0.22);
    f.top = boxBottom + 6;
  }
  drawAxes(cr, chart, f, width, height);
  cairo_save(cr);
  cairo_rectangle(cr, f.left, boxTop - 2, f.right - f.left, f.bottom - boxTop + 2);
  cairo_clip(cr);
  for (const BarSeries& s : chart.bars)
    for (size_t i = 0; i < s.left.size() && i < s.heights.size(); ++i) {
      double x0 = f.px(s.left[i]), x1 = f.px(s.left[i] + s.width);
      double y0 = f.py(0), y1 = f.py(s.heights[i]);
      cairo_rectangle(cr, x0, y1, x1 - x0, y0 - y1);
      setColor(cr, kBar, 0.85);
      cairo_fill_preserve(cr);
      setColor(cr, {1, 1, 1});
      cairo_set_line_width(cr, 1);
      cairo_stroke(cr);
    }
  for (const RangeBarSeries& s : chart.rangeBars) {
    const Rgb colour = s.colour >= 0 ? kPalette[static_cast<size_t>(s.colour) % std::size(kPalette)] : kBar;
    for (size_t i = 0; i < s.position.size() && i < s.from.size() && i < s.to.size(); ++i) {
      const double x0 = f.px(s.position[i] - s.width / 2), x1 = f.px(s.position[i] + s.width / 2);
      const double y0 = f.py(s.from[i]), y1 = f.py(s.to[i]);
      if (s.asLines) {
        setColor(cr, kInk);
        cairo_set_line_width(cr, 1.5);
        if (s.from[i] == s.to[i]) {
          cairo_move_to(cr, x0, y0);
          cairo_line_to(cr, x1, y0);
        } else {
          const double mid = (x0 + x1) / 2;
          cairo_move_to(cr, mid, y0);
          cairo_line_to(cr, mid, y1);
        }
        cairo_stroke(cr);
        continue;
      }
      cairo_rectangle(cr, x0, std::min(y0, y1), x1 - x0, std::abs(y0 - y1));
      setColor(cr, colour, 0.85);
      cairo_fill_preserve(cr);
      setColor(cr, s.colour >= 0 ? Rgb{1, 1, 1} : kInk);
      cairo_set_line_width(cr, 1);
      cairo_stroke(cr);
    }
  }
  for (const LineSeries& s : chart.lines) {
    if (s.x.size() < 2) continue;
    setColor(cr, kLine);
    cairo_set_line_width(cr, 2);
    if (s.dashed) {
      const double dash[] = {5, 4};
      cairo_set_dash(cr, dash, 2, 0);
    }
    cairo_move_to(cr, f.px(s.x[0]), f.py(s.y[0]));
    for (size_t i = 1; i < s.x.size() && i < s.y.size(); ++i) cairo_line_to(cr, f.px(s.x[i]), f.py(s.y[i]));
    cairo_stroke(cr);
    cairo_set_dash(cr, nullptr, 0, 0);
  }
  for (const PointSeries& s : chart.points) {
    // One path for all the dots. A dot that would land within a fraction of
    // a point of the last one drawn adds nothing visible: 100,000 sorted Q-Q
    // points become a few thousand dots, and the PDF and SVG stay small.
    double lastX = -1e9, lastY = -1e9;
    for (size_t i = 0; i < s.x.size() && i < s.y.size(); ++i) {
      double x = f.px(s.x[i]), y = f.py(s.y[i]);
      if (std::fabs(x - lastX) < 0.6 && std::fabs(y - lastY) < 0.6) continue;
      lastX = x;
      lastY = y;
      cairo_new_sub_path(cr);
      cairo_arc(cr, x, y, 2.6, 0, 2 * M_PI);
    }
    setColor(cr, kPoint, 0.75);
    cairo_fill(cr);
  }
  if (chart.box) {
    const BoxSeries& b = *chart.box;
    double top = boxBand ? boxTop + 4 : f.top + (f.bottom - f.top) * 0.3;
    double bottom = boxBand ? boxBottom - 4 : f.bottom - (f.bottom - f.top) * 0.3;
    double mid = (top + bottom) / 2;
    cairo_set_line_width(cr, 1.5);
    setColor(cr, kInk);
    // Whiskers with their tips.
    for (auto [from, to] : {std::pair{b.q1, b.lowerFence}, std::pair{b.q3, b.upperFence}}) {
      cairo_move_to(cr, f.px(from), mid);
      cairo_line_to(cr, f.px(to), mid);
      cairo_move_to(cr, f.px(to), top + (bottom - top) * 0.25);
      cairo_line_to(cr, f.px(to), bottom - (bottom - top) * 0.25);
    }
    cairo_stroke(cr);
    for (auto [from, to] : {std::pair{b.q1, b.median}, std::pair{b.median, b.q3}}) {
      cairo_rectangle(cr, f.px(from), top, f.px(to) - f.px(from), bottom - top);
      setColor(cr, kBar, 0.35);
      cairo_fill_preserve(cr);
      setColor(cr, kInk);
      cairo_stroke(cr);
    }
    for (double o : b.outliers) {
      cairo_arc(cr, f.px(o), mid, 2.8, 0, 2 * M_PI);
      setColor(cr, kLine);
      cairo_stroke(cr);
    }
  }
  for (const Marker& m : chart.markers) {
    setColor(cr, kLine);
    cairo_set_line_width(cr, 1.5);
    cairo_move_to(cr, f.px(m.x), f.top);
    cairo_line_to(cr, f.px(m.x), f.bottom);
    cairo_stroke(cr);
    if (!m.label.empty()) text(cr, m.label, f.px(m.x) + 3, f.top + 8, 9, Align::Left, kLine);
  }
  cairo_restore(cr);
  double ly = f.top + 6;
  for (const RangeBarSeries& s : chart.rangeBars) {
    if (s.name.empty()) continue;
    const Rgb colour = s.colour >= 0 ? kPalette[static_cast<size_t>(s.colour) % std::size(kPalette)] : kBar;
    cairo_rectangle(cr, f.right + 8, ly - 4, 8, 8);
    setColor(cr, colour, 0.85);
    cairo_fill(cr);
    text(cr, s.name, f.right + 20, ly, 9, Align::Left, kInk, false, width - f.right - 22);
    ly += 13;
  }
}

void drawBars(cairo_t* cr, const Chart& chart, double width, double height) {
  double top = 0;
  for (double v : chart.values) top = std::max(top, v);
  Frame f{44,         26,
          width - 14, height - 40,
          0,          static_cast<double>(std::max<size_t>(1, chart.values.size())),
          0,          top > 0 ? top * 1.05 : 1};
  Chart axes = chart;
  axes.x.kind = AxisKind::Hidden;
  drawAxes(cr, axes, f, width, height);
  size_t n = chart.values.size();
  double slot = (f.right - f.left) / std::max<size_t>(1, n);
  for (size_t i = 0; i < n; ++i) {
    double x0 = f.left + slot * (i + 0.15), w = slot * 0.7;
    double y1 = f.py(chart.values[i]);
    cairo_rectangle(cr, x0, y1, w, f.bottom - y1);
    setColor(cr, kPalette[i % std::size(kPalette)]);
    cairo_fill(cr);
    if (i < chart.categories.size())
      text(cr, chart.categories[i], x0 + w / 2, f.bottom + 12, 9, Align::Centre, kMuted, false, slot - 2);
  }
}

void drawPie(cairo_t* cr, const Chart& chart, double width, double height) {
  double total = 0;
  for (double v : chart.values) total += std::max(0.0, v);
  double legendWidth = std::min(width * 0.4, 150.0);
  double r = std::max(10.0, std::min((width - legendWidth) / 2 - 12, (height - 34) / 2 - 4));
  double cx = 8 + r + 4, cy = 26 + (height - 26) / 2;
  double angle = -M_PI / 2;
  for (size_t i = 0; i < chart.values.size(); ++i) {
    double share = total > 0 ? std::max(0.0, chart.values[i]) / total : 0;
    double next = angle + share * 2 * M_PI;
    cairo_move_to(cr, cx, cy);
    cairo_arc(cr, cx, cy, r, angle, next);
    cairo_close_path(cr);
    setColor(cr, kPalette[i % std::size(kPalette)]);
    cairo_fill_preserve(cr);
    setColor(cr, {1, 1, 1});
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    angle = next;
    // Legend: a swatch and the level.
    double ly = 34 + i * 16;
    if (ly < height - 8 && i < chart.categories.size()) {
      double lx = width - legendWidth;
      cairo_rectangle(cr, lx, ly - 5, 10, 10);
      setColor(cr, kPalette[i % std::size(kPalette)]);
      cairo_fill(cr);
      text(cr, chart.categories[i], lx + 14, ly, 9, Align::Left, kInk, false, legendWidth - 16);
    }
  }
}

cairo_status_t appendToString(void* closure, const unsigned char* data, unsigned int length) {
  static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

cairo_status_t appendToBytes(void* closure, const unsigned char* data, unsigned int length) {
  auto* v = static_cast<std::vector<uint8_t>*>(closure);
  v->insert(v->end(), data, data + length);
  return CAIRO_STATUS_SUCCESS;
}

}  // namespace

std::unique_lock<std::recursive_mutex> lockFonts() {
  static std::recursive_mutex fonts;
  std::unique_lock lock(fonts);
  // pango loads fontconfig's configuration on a thread of its own when it
  // finds none, while the caller goes on using fontconfig; loading it here
  // first leaves that thread nothing to write.
  static const bool configured = FcInit();
  (void)configured;
  return lock;
}

void drawChart(const Chart& chart, cairo_t* cr, double width, double height) {
  auto fonts = lockFonts();
  cairo_save(cr);
  cairo_rectangle(cr, 0, 0, width, height);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_fill(cr);
  title(cr, chart, width);
  switch (chart.kind) {
    case ChartKind::Bars:
      drawBars(cr, chart, width, height);
      break;
    case ChartKind::Pie:
      drawPie(cr, chart, width, height);
      break;
    case ChartKind::Xy:
      drawXy(cr, chart, width, height);
      break;
  }
  cairo_restore(cr);
}

std::string toSvg(const Chart& chart, double width, double height) {
  std::string svg;
  {
    // Finishing the surface writes the glyphs: still under the lock.
    auto fonts = lockFonts();
    cairo_surface_t* surface = cairo_svg_surface_create_for_stream(appendToString, &svg, width, height);
    cairo_t* cr = cairo_create(surface);
    drawChart(chart, cr, width, height);
    cairo_destroy(cr);
    cairo_surface_finish(surface);
    cairo_surface_destroy(surface);
  }
  // cairo names its glyphs and clip paths "glyph0-1", "clip1", ... in every
  // document; several charts inlined in one page would share (and draw with)
  // the first one's definitions. Give each document ids of its own.
  static std::atomic<uint64_t> documents{0};
  std::string prefix = "c";  // appended, not "c" + ...: gcc 12 warns wrongly (-Wrestrict) on that
  prefix += std::to_string(++documents);
  prefix += '-';
  std::string out;
  out.reserve(svg.size() + svg.size() / 16);
  for (size_t i = 0; i < svg.size();) {
    if (svg.compare(i, 4, "id=\"") == 0) {
      out += "id=\"" + prefix;
      i += 4;
    } else if (svg.compare(i, 2, "#g") == 0 || svg.compare(i, 2, "#c") == 0 || svg.compare(i, 2, "#s") == 0 ||
               svg.compare(i, 2, "#i") == 0 || svg.compare(i, 2, "#m") == 0 || svg.compare(i, 2, "#p") == 0) {
      out += "#" + prefix;
      i += 1;
    } else {
      out += svg[i++];
    }
  }
  return out;
}

std::vector<uint8_t> toPng(const Chart& chart, int width, int height) {
  std::vector<uint8_t> out;
  auto fonts = lockFonts();
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  cairo_t* cr = cairo_create(surface);
  drawChart(chart, cr, width, height);
  cairo_destroy(cr);
  cairo_surface_write_to_png_stream(surface, appendToBytes, &out);
  cairo_surface_destroy(surface);
  return out;
}

}  // namespace tabulix::charts
