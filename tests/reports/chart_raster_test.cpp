// Point clouds drawn bounded by the plot's area: the image or decimated dots
// must rasterise like every dot drawn as a vector disc.
#include <cairo.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string_view>

#include "charts/renderer.h"

using namespace tabulix;

namespace {

charts::Chart cloud(size_t n, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::normal_distribution<double> z;
  charts::Chart c;
  c.title = "Cloud";
  c.x.min = c.y.min = -4;
  c.x.max = c.y.max = 4;
  charts::PointSeries s;
  for (size_t i = 0; i < n; ++i) {
    const double a = z(rng);
    s.x.push_back(a);
    s.y.push_back(0.6 * a + 0.8 * z(rng));
  }
  c.points.push_back(std::move(s));
  c.lines.push_back({{-4, 4}, {-2.4, 2.4}, false, ""});
  // A ROC-like staircase through as many vertices as dots, most of them
  // within a pixel of the last.
  charts::LineSeries stairs;
  std::bernoulli_distribution up(0.6);
  size_t rights = 0, ups = 0;
  for (size_t i = 0; i < n; ++i) {
    (up(rng) ? ups : rights) += 1;
    stairs.x.push_back(-4 + 8.0 * static_cast<double>(rights) / static_cast<double>(n));
    stairs.y.push_back(-4 + 8.0 * static_cast<double>(ups) / static_cast<double>(n));
  }
  c.lines.push_back(std::move(stairs));
  return c;
}

// The chart drawn at `scale` device pixels per point, as premultiplied ARGB.
std::vector<uint32_t> raster(const charts::Chart& c, double scale, charts::ChartDetail detail, int& w,
                             int& h) {
  w = static_cast<int>(360 * scale);
  h = static_cast<int>(260 * scale);
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  cairo_t* cr = cairo_create(surface);
  cairo_scale(cr, scale, scale);
  charts::drawChart(c, cr, 360, 260, detail);
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  std::vector<uint32_t> out(static_cast<size_t>(w) * static_cast<size_t>(h));
  const int stride = cairo_image_surface_get_stride(surface);
  const unsigned char* data = cairo_image_surface_get_data(surface);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      out[static_cast<size_t>(y * w + x)] = reinterpret_cast<const uint32_t*>(data + y * stride)[x];
  cairo_surface_destroy(surface);
  return out;
}

// Mean and largest difference of two renders over their colour channels (0-255).
std::pair<double, int> difference(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  double sum = 0;
  int worst = 0;
  for (size_t i = 0; i < a.size(); ++i)
    for (int shift = 0; shift < 24; shift += 8) {
      const int d =
          std::abs(static_cast<int>((a[i] >> shift) & 255) - static_cast<int>((b[i] >> shift) & 255));
      sum += d;
      worst = std::max(worst, d);
    }
  return {sum / (3.0 * static_cast<double>(a.size())), worst};
}

}  // namespace

TEST(ChartRaster, BoundedCloudRastersLikeEveryDot) {
  // Every dot as a vector disc costs cairo minutes at 100,000; 12,000 dots
  // already make the dense cloud an image.
  for (size_t n : {300u, 12000u}) {
    const charts::Chart c = cloud(n, n);
    for (double scale : {1.0, 2.5}) {
      int w = 0, h = 0;
      const auto full = raster(c, scale, charts::ChartDetail::Full, w, h);
      for (auto detail : {charts::ChartDetail::Bounded, charts::ChartDetail::Raster}) {
        const auto bounded = raster(c, scale, detail, w, h);
        const auto [mean, worst] = difference(full, bounded);
        SCOPED_TRACE(testing::Message()
                     << n << " dots at " << scale << "x, detail " << static_cast<int>(detail));
        // A dot moves by at most one device pixel's cell: only edge pixels of
        // the cloud differ, and by a fraction of the dot's colour.
        EXPECT_LT(mean, 0.6) << "worst " << worst;
        size_t differing = 0;
        for (size_t i = 0; i < full.size(); ++i) differing += full[i] != bounded[i];
        EXPECT_LT(static_cast<double>(differing), 0.08 * static_cast<double>(full.size()));
        RecordProperty("meanDifference", std::to_string(mean));
        (void)worst;
      }
    }
  }
}

TEST(ChartRaster, SvgOfALargeCloudIsBoundedByTheArea) {
  const std::string small = charts::toSvg(cloud(200, 1), 360, 260);
  const std::string big = charts::toSvg(cloud(100000, 2), 360, 260);
  const std::string bigger = charts::toSvg(cloud(400000, 3), 360, 260);
  // Few dots stay vector discs; a cloud becomes one embedded image.
  EXPECT_EQ(small.find("<image"), std::string::npos);
  EXPECT_NE(big.find("<image"), std::string::npos);
  EXPECT_LT(big.size(), 400000u);
  // Four times the observations: about the same size.
  EXPECT_LT(bigger.size(), big.size() * 3 / 2);
}

// The cloud's image travels in the SVG as our own palette PNG: it must
// decode (libpng checks every chunk's CRC and the zlib stream) to the dot
// colour at three quarters of its coverage at most, and cover part of the plot.
TEST(ChartRaster, EmbeddedCloudImageDecodesToTheDotColour) {
  const std::string svg = charts::toSvg(cloud(100000, 2), 360, 260);
  const std::string marker = "data:image/png;base64,";
  const size_t from = svg.find(marker);
  ASSERT_NE(from, std::string::npos);
  std::string bytes;
  uint32_t bits = 0;
  int held = 0;
  for (size_t i = from + marker.size(); i < svg.size() && svg[i] != '"'; ++i) {
    const char c = svg[i];
    const size_t v =
        std::string_view("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/").find(c);
    if (v == std::string_view::npos) continue;  // padding
    bits = bits << 6 | static_cast<uint32_t>(v);
    if ((held += 6) >= 8) bytes += static_cast<char>(bits >> (held -= 8));
  }
  ASSERT_EQ(bytes.compare(1, 3, "PNG"), 0);
  EXPECT_EQ(static_cast<uint8_t>(bytes[25]), 3u) << "a palette PNG";
  std::pair<const std::string*, size_t> reader{&bytes, 0};
  cairo_surface_t* image = cairo_image_surface_create_from_png_stream(
      [](void* closure, unsigned char* out, unsigned int length) {
        auto* r = static_cast<std::pair<const std::string*, size_t>*>(closure);
        if (r->second + length > r->first->size()) return CAIRO_STATUS_READ_ERROR;
        std::memcpy(out, r->first->data() + r->second, length);
        r->second += length;
        return CAIRO_STATUS_SUCCESS;
      },
      &reader);
  ASSERT_EQ(cairo_surface_status(image), CAIRO_STATUS_SUCCESS);
  const int w = cairo_image_surface_get_width(image), h = cairo_image_surface_get_height(image);
  const int stride = cairo_image_surface_get_stride(image);
  const unsigned char* data = cairo_image_surface_get_data(image);
  size_t covered = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint32_t p = reinterpret_cast<const uint32_t*>(data + y * stride)[x];
      const uint32_t a = p >> 24;
      if (a == 0) continue;
      ++covered;
      ASSERT_LE(a, 192u);
      // Straight colour 0.1, 0.36, 0.62 of 255, to the rounding of premultiplying.
      const double r = ((p >> 16) & 255) * 255.0 / a, g = ((p >> 8) & 255) * 255.0 / a,
                   b = (p & 255) * 255.0 / a;
      ASSERT_NEAR(r, 25.5, 255.0 / a + 1) << x << "," << y;
      ASSERT_NEAR(g, 91.8, 255.0 / a + 1) << x << "," << y;
      ASSERT_NEAR(b, 158.1, 255.0 / a + 1) << x << "," << y;
    }
  cairo_surface_destroy(image);
  EXPECT_GT(covered, static_cast<size_t>(w) * static_cast<size_t>(h) / 20);
  EXPECT_LT(covered, static_cast<size_t>(w) * static_cast<size_t>(h));
}
