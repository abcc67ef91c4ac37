// Category labels of a chart read back from its PDF: neighbours never touch,
// whatever the axis's margins, and no label is set smaller than 8 points.
#include <cairo-pdf.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "charts/renderer.h"
#include "tests/pdf_words.h"

using namespace tabulix;
namespace tt = tabulix::testing;

namespace {

// Box-plot-like axis: categories 0..n-1 on a range wider than them.
std::vector<tt::Word> labelWords(const std::vector<std::string>& labels, const std::string& marker) {
  charts::Chart c;
  c.x.min = -0.6;
  c.x.max = static_cast<double>(labels.size()) - 0.4;
  c.y.min = 0;
  c.y.max = 1;
  for (size_t k = 0; k < labels.size(); ++k)
    c.x.categoryLabels.push_back({static_cast<double>(k), labels[k]});
  const auto pdf =
      std::filesystem::temp_directory_path() / ("chart_labels_" + std::to_string(::getpid()) + ".pdf");
  {
    auto fonts = charts::lockFonts();
    cairo_surface_t* surface = cairo_pdf_surface_create(pdf.c_str(), 360, 260);
    cairo_t* cr = cairo_create(surface);
    charts::drawChart(c, cr, 360, 260, charts::ChartDetail::Full);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
  }
  std::vector<tt::Word> out;
  for (const tt::Word& w : tt::pdfWords(pdf))
    if (w.text.find(marker) != std::string::npos) out.push_back(w);
  std::filesystem::remove(pdf);
  return out;
}

}  // namespace

TEST(ChartLabels, NeighboursKeepAGapAndTheirSize) {
  for (size_t n : {2u, 3u, 6u}) {
    std::vector<std::string> labels;
    for (size_t k = 0; k < n; ++k) labels.push_back("Ozone|DayType=Level" + std::to_string(k));
    const std::vector<tt::Word> words = labelWords(labels, "Level");
    ASSERT_FALSE(words.empty()) << n;
    for (const tt::Word& a : words) {
      EXPECT_GE(a.yMax - a.yMin, 8 * 0.9) << n << " categories: " << a.text << " set too small";
      for (const tt::Word& b : words) {
        if (&a == &b || a.xMin > b.xMin) continue;
        const bool sameRow = a.yMin < b.yMax && b.yMin < a.yMax;
        if (sameRow) {
          EXPECT_GE(b.xMin - a.xMax, 3) << n << " categories: " << a.text << " touches " << b.text;
        }
      }
    }
  }
}
