#include "charts/renderer.h"

#include <cairo-svg.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>
#include <pango/pangocairo.h>
#include <zlib.h>

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
constexpr double kDotRadius = 2.6;
// A phone's screen shows an SVG point as up to 3 device pixels; print at 300 dpi.
constexpr double kScreenPixelsPerPoint = 3;
constexpr double kPrintPixelsPerPoint = 300.0 / 72;
// Above this many distinct dots a cloud is drawn as one image.
constexpr size_t kMaxVectorDots = 4000;
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
  int w = 0, h = 0;
  if (maxWidth > 0) {
    // A text a little too wide is set smaller (down to 70 %, never below 8
    // units: the page sizes charts so that 8 units read as 11 px) before it is cut.
    pango_layout_get_pixel_size(layout, &w, &h);
    if (w > maxWidth) {
      const double smaller = std::max(std::max(0.7, maxWidth / w) * size, std::min(size, 8.0));
      pango_font_description_set_absolute_size(font, smaller * PANGO_SCALE);
      pango_layout_set_font_description(layout, font);
    }
    pango_layout_set_width(layout, static_cast<int>(maxWidth * PANGO_SCALE));
    pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
  }
  pango_layout_get_pixel_size(layout, &w, &h);
  double left = align == Align::Left ? x : align == Align::Centre ? x - w / 2.0 : x - w;
  setColor(cr, color);
  cairo_move_to(cr, left, y - h / 2.0);
  pango_cairo_show_layout(cr, layout);
  pango_font_description_free(font);
  g_object_unref(layout);
}

// The width of a text set at the size, unwrapped.
double textWidth(cairo_t* cr, const std::string& s, double size) {
  PangoLayout* layout = pango_cairo_create_layout(cr);
  PangoFontDescription* font = pango_font_description_from_string("DejaVu Sans");
  pango_font_description_set_absolute_size(font, size * PANGO_SCALE);
  pango_layout_set_font_description(layout, font);
  pango_layout_set_text(layout, s.c_str(), static_cast<int>(s.size()));
  int w = 0, h = 0;
  pango_layout_get_pixel_size(layout, &w, &h);
  pango_font_description_free(font);
  g_object_unref(layout);
  return w;
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
  const std::vector<Tick> xs = ticksOf(chart.x, f.xmin, f.xmax, xTicks);
  // Category labels share the axis: each keeps to its slot.
  // Its width is the distance between neighbouring labels: the axis may
  // reach past the first and last category (a box plot's margins).
  double slot = 0;
  if (!chart.x.categoryLabels.empty() && !xs.empty()) {
    slot = f.right - f.left;
    for (size_t i = 1; i < xs.size(); ++i)
      slot = std::min(slot, std::fabs(f.px(xs[i].value) - f.px(xs[i - 1].value)));
    slot -= 2;
  }
  // Labels wider than their slot alternate between two rows, each then
  // having two slots' width; neighbours keep a gap of a word space or more,
  // so that "a | g = x" and "a | g = y" never read as one label.
  constexpr double kGap = 6;
  bool stagger = false;
  if (slot > 0)
    for (const Tick& t : xs) stagger = stagger || textWidth(cr, t.label, 9) > slot - kGap;
  for (size_t i = 0; i < xs.size(); ++i) {
    const Tick& t = xs[i];
    double x = f.px(t.value);
    setColor(cr, kMuted);
    cairo_move_to(cr, x, f.bottom);
    cairo_line_to(cr, x, f.bottom + (stagger && i % 2 ? 14 : 4));
    cairo_stroke(cr);
    if (stagger)
      text(cr, t.label, x, f.bottom + (i % 2 ? 20 : 10), 8, Align::Centre, kMuted, false, 2 * slot - kGap);
    else
      text(cr, t.label, x, f.bottom + 12, 9, Align::Centre, kMuted, false, slot - kGap);
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

// Device pixels per point of the surface a chart is drawn on: the image's
// own scale for PNG, a phone's screen for SVG, print for PDF.
double devicePixelsPerPoint(cairo_t* cr) {
  cairo_surface_t* target = cairo_get_target(cr);
  switch (cairo_surface_get_type(target)) {
    case CAIRO_SURFACE_TYPE_SVG:
      return kScreenPixelsPerPoint;
    case CAIRO_SURFACE_TYPE_PDF:
    case CAIRO_SURFACE_TYPE_PS:
      return kPrintPixelsPerPoint;
    default: {
      double dx = 1, dy = 0;
      cairo_user_to_device_distance(cr, &dx, &dy);
      return std::max(1.0, std::hypot(dx, dy));
    }
  }
}

// Adds one disc per point to the path, skipping a point whose device-pixel
// cell already holds one: within one fill the discs are a union, so a disc at
// most a pixel from a drawn one changes nothing but its edge pixels. Returns
// how many discs were added; stops once more than `limit` were.
size_t addDots(cairo_t* cr, const PointSeries& s, const Frame& f, double pixelsPerPoint, bool allDots,
               size_t limit = SIZE_MAX) {
  const size_t n = std::min(s.x.size(), s.y.size());
  const double width = f.right - f.left + 2 * kDotRadius, height = f.bottom - f.top + 2 * kDotRadius;
  const auto columns = static_cast<size_t>(std::ceil(width * pixelsPerPoint)) + 1;
  const auto rows = static_cast<size_t>(std::ceil(height * pixelsPerPoint)) + 1;
  std::vector<bool> taken(allDots ? 0 : columns * rows);
  size_t added = 0;
  for (size_t i = 0; i < n; ++i) {
    const double x = f.px(s.x[i]), y = f.py(s.y[i]);
    if (!std::isfinite(x) || !std::isfinite(y)) continue;
    if (!allDots) {
      const double cx = (x - f.left + kDotRadius) * pixelsPerPoint,
                   cy = (y - f.top + kDotRadius) * pixelsPerPoint;
      // Dots wholly outside the plot are clipped away anyway.
      if (cx < 0 || cy < 0 || cx >= static_cast<double>(columns) || cy >= static_cast<double>(rows)) continue;
      const size_t cell = static_cast<size_t>(cy) * columns + static_cast<size_t>(cx);
      if (taken[cell]) continue;
      taken[cell] = true;
    }
    cairo_new_sub_path(cr);
    cairo_arc(cr, x, y, kDotRadius, 0, 2 * M_PI);
    if (++added > limit) break;
  }
  return added;
}

// Appends a PNG chunk: its length, type and data, and the CRC of type and data.
void pngChunk(std::vector<uint8_t>& out, const char* type, const uint8_t* data, size_t size) {
  const auto be32 = [&](uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
  };
  be32(static_cast<uint32_t>(size));
  const size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data, data + size);
  be32(static_cast<uint32_t>(crc32(0, out.data() + start, static_cast<uInt>(size + 4))));
}

// An 8-bit palette PNG of a w × h coverage mask: palette entry m is the
// premultiplied pixel[m] made straight again (its colour and alpha), so the
// PNG decodes to the same pixels to a unit of rounding. Empty on failure.
std::vector<uint8_t> palettePng(const std::vector<uint8_t>& mask, int w, int h,
                                const uint32_t (&pixel)[256]) {
  std::vector<uint8_t> rows;
  rows.reserve(static_cast<size_t>(w + 1) * static_cast<size_t>(h));
  for (int y = 0; y < h; ++y) {
    rows.push_back(0);  // filter: none
    const uint8_t* in = &mask[static_cast<size_t>(y) * static_cast<size_t>(w)];
    rows.insert(rows.end(), in, in + w);
  }
  uLongf packed = compressBound(static_cast<uLong>(rows.size()));
  std::vector<uint8_t> idat(packed);
  // Level 1: the rows are mostly zeros, which every level packs alike.
  if (compress2(idat.data(), &packed, rows.data(), static_cast<uLong>(rows.size()), 1) != Z_OK) return {};
  std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  uint8_t header[13] = {};
  for (int i = 0; i < 4; ++i) {
    header[i] = static_cast<uint8_t>(static_cast<uint32_t>(w) >> (24 - 8 * i));
    header[4 + i] = static_cast<uint8_t>(static_cast<uint32_t>(h) >> (24 - 8 * i));
  }
  header[8] = 8;  // bits per index
  header[9] = 3;  // palette
  pngChunk(out, "IHDR", header, sizeof header);
  uint8_t palette[256 * 3], alpha[256];
  for (int m = 0; m < 256; ++m) {
    const uint32_t a = pixel[m] >> 24;
    for (int c = 0; c < 3; ++c) {
      const uint32_t premultiplied = (pixel[m] >> (16 - 8 * c)) & 0xff;
      palette[3 * m + c] =
          static_cast<uint8_t>(a == 0 ? 0 : std::min<uint32_t>(255, (premultiplied * 255 + a / 2) / a));
    }
    alpha[m] = static_cast<uint8_t>(a);
  }
  pngChunk(out, "PLTE", palette, sizeof palette);
  pngChunk(out, "tRNS", alpha, sizeof alpha);
  pngChunk(out, "IDAT", idat.data(), packed);
  pngChunk(out, "IEND", nullptr, 0);
  return out;
}

// The cloud as an image of the plot area at `scale` pixels per point: each
// disc's coverage (its radius minus the pixel centre's distance, clamped to a
// pixel) is stamped from kernels at eighth-pixel offsets and merged as the
// larger of the two, the union of the discs a single cairo fill draws (two
// discs on one spot cover it once), at a cost linear in the dots instead of
// a tessellation of all their outlines; the byte maximum vectorises.
cairo_surface_t* stampDots(const PointSeries& s, const Frame& f, double scale) {
  const int w = static_cast<int>(std::ceil((f.right - f.left) * scale)) + 1;
  const int h = static_cast<int>(std::ceil((f.bottom - f.top) * scale)) + 1;
  const double radius = kDotRadius * scale;
  const int reach = static_cast<int>(std::ceil(radius + 1));
  const int side = 2 * reach + 1;
  constexpr int kSteps = 8;
  std::vector<uint8_t> kernels(static_cast<size_t>(kSteps * kSteps * side * side));
  for (int oy = 0; oy < kSteps; ++oy)
    for (int ox = 0; ox < kSteps; ++ox)
      for (int ky = 0; ky < side; ++ky)
        for (int kx = 0; kx < side; ++kx) {
          // The centre sits at (reach + ox/8, reach + oy/8) inside the kernel.
          const double dx = kx + 0.5 - (reach + static_cast<double>(ox) / kSteps);
          const double dy = ky + 0.5 - (reach + static_cast<double>(oy) / kSteps);
          const double cover = std::clamp(radius - std::hypot(dx, dy) + 0.5, 0.0, 1.0);
          kernels[static_cast<size_t>(((oy * kSteps + ox) * side + ky) * side + kx)] =
              static_cast<uint8_t>(std::lround(cover * 255));
        }
  std::vector<uint8_t> mask(static_cast<size_t>(w) * static_cast<size_t>(h));
  const size_t n = std::min(s.x.size(), s.y.size());
  for (size_t i = 0; i < n; ++i) {
    const double x = (f.px(s.x[i]) - f.left) * scale, y = (f.py(s.y[i]) - f.top) * scale;
    if (!(x > -reach && y > -reach && x < w + reach && y < h + reach)) continue;
    const double fx = std::floor(x), fy = std::floor(y);
    const int ox = std::min(kSteps - 1, static_cast<int>((x - fx) * kSteps));
    const int oy = std::min(kSteps - 1, static_cast<int>((y - fy) * kSteps));
    const uint8_t* kernel = &kernels[static_cast<size_t>((oy * kSteps + ox) * side * side)];
    const int x0 = static_cast<int>(fx) - reach, y0 = static_cast<int>(fy) - reach;
    for (int ky = std::max(0, -y0); ky < side && y0 + ky < h; ++ky) {
      uint8_t* row = &mask[static_cast<size_t>(y0 + ky) * static_cast<size_t>(w)];
      const uint8_t* k = kernel + ky * side;
      const int from = std::max(0, -x0), to = std::min(side, w - x0);
      uint8_t* out = row + x0;
      for (int kx = from; kx < to; ++kx) out[kx] = std::max(out[kx], k[kx]);
    }
  }
  cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  cairo_surface_flush(image);
  unsigned char* data = cairo_image_surface_get_data(image);
  const int stride = cairo_image_surface_get_stride(image);
  // Premultiplied: the point colour at three quarters of the coverage, one
  // pixel value per coverage byte.
  uint32_t pixel[256];
  for (int m = 0; m < 256; ++m) {
    const double alpha = 0.75 * m / 255;
    const auto channel = [&](double c) { return static_cast<uint32_t>(std::lround(c * alpha * 255)); };
    pixel[m] = channel(1) << 24 | channel(kPoint.r) << 16 | channel(kPoint.g) << 8 | channel(kPoint.b);
  }
  for (int y = 0; y < h; ++y) {
    auto* out = reinterpret_cast<uint32_t*>(data + y * stride);
    const uint8_t* in = &mask[static_cast<size_t>(y) * static_cast<size_t>(w)];
    for (int x = 0; x < w; ++x) out[x] = pixel[in[x]];
  }
  cairo_surface_mark_dirty(image);
  // An SVG embeds an image's PNG when it carries one. cairo's own encoder
  // writes four bytes a pixel at zlib's default level, most of a large
  // scatter's time; the coverage is one byte a pixel of a single colour,
  // which is a palette PNG of a quarter of the data.
  if (std::vector<uint8_t> png = palettePng(mask, w, h, pixel); !png.empty()) {
    auto* bytes = new std::vector<uint8_t>(std::move(png));
    cairo_surface_set_mime_data(
        image, CAIRO_MIME_TYPE_PNG, bytes->data(), bytes->size(),
        [](void* p) { delete static_cast<std::vector<uint8_t>*>(p); }, bytes);
  }
  return image;
}

// Draws a point series. Few dots are vector discs; a cloud of more than
// kMaxVectorDots distinct cells is one image of the plot area at the
// surface's device resolution, so what the screen and the PDF receive is
// bounded by the plot's area rather than by the number of observations.
void drawPoints(cairo_t* cr, const PointSeries& s, const Frame& f, ChartDetail detail) {
  if (detail == ChartDetail::Full) {
    addDots(cr, s, f, 1, true);
    setColor(cr, kPoint, 0.75);
    cairo_fill(cr);
    return;
  }
  const double scale = devicePixelsPerPoint(cr);
  // Counting stops past the bound: a cloud beyond it becomes an image, and
  // its discs' outlines would be thrown away.
  const size_t dots = addDots(cr, s, f, scale, false, kMaxVectorDots);
  const bool raster = detail == ChartDetail::Raster || dots > kMaxVectorDots;
  if (!raster) {
    setColor(cr, kPoint, 0.75);
    cairo_fill(cr);
    return;
  }
  cairo_new_path(cr);
  cairo_surface_t* image = stampDots(s, f, scale);
  cairo_save(cr);
  cairo_translate(cr, f.left, f.top);
  cairo_scale(cr, 1 / scale, 1 / scale);
  cairo_set_source_surface(cr, image, 0, 0);
  cairo_paint(cr);
  cairo_restore(cr);
  cairo_surface_destroy(image);
}

// Adds a line series to the path. With pixelsPerPoint, each run of vertices in
// one device-pixel column becomes its first, lowest, highest and last vertex
// in their order (the M4 reduction): the stroke covers the same pixels, and a
// ROC or a curve through every observation keeps about four vertices per
// column of the plot.
void addPolyline(cairo_t* cr, const LineSeries& s, const Frame& f, double pixelsPerPoint) {
  const size_t n = std::min(s.x.size(), s.y.size());
  cairo_move_to(cr, f.px(s.x[0]), f.py(s.y[0]));
  if (pixelsPerPoint <= 0) {
    for (size_t i = 1; i < n; ++i) cairo_line_to(cr, f.px(s.x[i]), f.py(s.y[i]));
    return;
  }
  size_t first = 0;
  while (first < n) {
    const double column = std::floor(f.px(s.x[first]) * pixelsPerPoint);
    size_t last = first, low = first, high = first;
    while (last + 1 < n && std::floor(f.px(s.x[last + 1]) * pixelsPerPoint) == column) {
      ++last;
      if (f.py(s.y[last]) < f.py(s.y[low])) low = last;
      if (f.py(s.y[last]) > f.py(s.y[high])) high = last;
    }
    size_t keep[] = {first, std::min(low, high), std::max(low, high), last};
    for (size_t k = 0; k < 4; ++k)
      if (keep[k] != 0 && (k == 0 || keep[k] != keep[k - 1]))
        cairo_line_to(cr, f.px(s.x[keep[k]]), f.py(s.y[keep[k]]));
    first = last + 1;
  }
}

void drawXy(cairo_t* cr, const Chart& chart, double width, double height, ChartDetail detail) {
  const bool boxBand = chart.box.has_value() && !chart.bars.empty();
  // Named stacked series get a legend column right of the plot.
  const bool legend = std::any_of(chart.rangeBars.begin(), chart.rangeBars.end(),
                                  [](const RangeBarSeries& s) { return !s.name.empty(); }) ||
                      std::any_of(chart.lines.begin(), chart.lines.end(),
                                  [](const LineSeries& s) { return !s.name.empty(); });
  // The legend column takes its widest entry (within reason), so that names
  // differing at their end ("G = Weekday", "G = Weekend") are not cut alike.
  double legendWidth = 0;
  if (legend) {
    double widest = 0;
    for (const RangeBarSeries& s : chart.rangeBars) widest = std::max(widest, textWidth(cr, s.name, 9));
    for (const LineSeries& s : chart.lines) widest = std::max(widest, textWidth(cr, s.name, 9));
    legendWidth = std::clamp(widest + 24, std::min(110.0, width * 0.28), width * 0.42);
  }
  Frame f{chart.y.title.empty() ? 44.0 : 56.0,
          26,
          width - (legend ? legendWidth : 14.0),
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
    addPolyline(cr, s, f, detail == ChartDetail::Full ? 0 : devicePixelsPerPoint(cr));
    cairo_stroke(cr);
    cairo_set_dash(cr, nullptr, 0, 0);
  }
  for (const PointSeries& s : chart.points) drawPoints(cr, s, f, detail);
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
  // Named curves: a short stroke in the curve's style beside each name.
  for (const LineSeries& s : chart.lines) {
    if (s.name.empty()) continue;
    setColor(cr, kLine);
    cairo_set_line_width(cr, 2);
    if (s.dashed) {
      const double dash[] = {3, 2};
      cairo_set_dash(cr, dash, 2, 0);
    }
    cairo_move_to(cr, f.right + 4, ly);
    cairo_line_to(cr, f.right + 16, ly);
    cairo_stroke(cr);
    cairo_set_dash(cr, nullptr, 0, 0);
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

void drawChart(const Chart& chart, cairo_t* cr, double width, double height, ChartDetail detail) {
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
      drawXy(cr, chart, width, height, detail);
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
