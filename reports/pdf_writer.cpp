#include "reports/pdf_writer.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <string>

#include "charts/renderer.h"
#include "engine/translate.h"
#include "reports/output_file.h"

namespace tabulix::reports {

namespace {

void setColor(cairo_t* cr, const Color& c) { cairo_set_source_rgba(cr, c.r, c.g, c.b, c.a); }

void fillBackground(const Element& e, cairo_t* cr) {
  if (!e.background) return;
  cairo_rectangle(cr, 0, 0, e.frame.w, e.frame.h);
  setColor(cr, *e.background);
  cairo_fill(cr);
}

void strokeBorder(const Element& e, cairo_t* cr, double x, double y) {
  if (e.borderWidth <= 0 || e.border.a <= 0) return;
  cairo_rectangle(cr, x, y, e.frame.w, e.frame.h);
  setColor(cr, e.border);
  cairo_set_line_width(cr, e.borderWidth);
  cairo_stroke(cr);
}

// Draws text in the rectangle (0, 0, w, h): wrapped at the width, aligned.
void drawText(cairo_t* cr, const Element& e, bool wrap) {
  auto fonts = charts::lockFonts();
  PangoLayout* layout = pango_cairo_create_layout(cr);
  PangoFontDescription* font = pango_font_description_from_string("DejaVu Sans");
  pango_font_description_set_absolute_size(font, e.fontSize.value_or(12) * PANGO_SCALE);
  if (e.bold) pango_font_description_set_weight(font, PANGO_WEIGHT_BOLD);
  pango_layout_set_font_description(layout, font);
  pango_layout_set_text(layout, e.text.c_str(), static_cast<int>(e.text.size()));
  pango_layout_set_width(layout, static_cast<int>(e.frame.w * PANGO_SCALE));
  if (wrap) {
    pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
  } else {
    pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
  }
  pango_layout_set_alignment(layout, e.align == TextAlign::Right    ? PANGO_ALIGN_RIGHT
                                     : e.align == TextAlign::Centre ? PANGO_ALIGN_CENTER
                                                                    : PANGO_ALIGN_LEFT);
  int w = 0, h = 0;
  pango_layout_get_pixel_size(layout, &w, &h);
  // A one-line label is centred vertically in its frame, as labels are.
  double top = wrap ? 0 : std::max(0.0, (e.frame.h - h) / 2);
  cairo_save(cr);
  cairo_rectangle(cr, 0, 0, e.frame.w, std::max(e.frame.h, static_cast<double>(h)));
  cairo_clip(cr);
  setColor(cr, e.textColor);
  cairo_move_to(cr, 0, top);
  pango_cairo_show_layout(cr, layout);
  cairo_restore(cr);
  pango_font_description_free(font);
  g_object_unref(layout);
}

// Places a leaf at its frame's origin (rotated about its centre when its
// transform turns it), draws it at (0, 0), and restores the state.
template <class Draw>
void placeLeaf(const Element& e, cairo_t* cr, Draw draw) {
  cairo_save(cr);
  cairo_translate(cr, e.frame.x, e.frame.y);
  if (e.transform.b != 0) {
    cairo_translate(cr, e.frame.w / 2, e.frame.h / 2);
    cairo_matrix_t m;
    cairo_matrix_init(&m, e.transform.a, e.transform.b, e.transform.c, e.transform.d, e.transform.tx,
                      e.transform.ty);
    cairo_transform(cr, &m);
    cairo_translate(cr, -e.frame.w / 2, -e.frame.h / 2);
  }
  draw();
  cairo_restore(cr);
}

}  // namespace

void drawLabel(const Element& e, cairo_t* cr) {
  fillBackground(e, cr);
  strokeBorder(e, cr, 0, 0);
  drawText(cr, e, false);
}

void drawTextView(const Element& e, cairo_t* cr) {
  fillBackground(e, cr);
  strokeBorder(e, cr, 0, 0);
  if (e.fontSize) drawText(cr, e, true);
}

void drawGraph(const Element& e, cairo_t* cr) {
  // Our charts draw in the page's own orientation (y downwards), so unlike
  // a y-up charting layer they need no flip here.
  if (e.chart) charts::drawChart(*e.chart, cr, e.frame.w, e.frame.h);
}

void drawTable(const Element& table, cairo_t* cr) {
  // The table's own x on the page, kept for the rows continued on later pages.
  cairo_matrix_t start;
  cairo_get_matrix(cr, &start);
  const double pageX = start.x0;
  for (size_t r = 0; r < table.children.size(); ++r) {
    const double h = r < table.rowHeights.size() ? table.rowHeights[r] : table.children[r].frame.h;
    cairo_matrix_t now;
    cairo_get_matrix(cr, &now);
    // now.y0 is the distance from the page's top edge to the row's top.
    if (kPageHeight - now.y0 - h < kTableMargin) {
      cairo_show_page(cr);
      cairo_identity_matrix(cr);
      cairo_translate(cr, pageX, kTableMargin);
    }
    drawView(table.children[r], cr);
    cairo_translate(cr, 0, h);
  }
}

void drawView(const Element& view, cairo_t* cr) {
  std::vector<const Element*> children;
  for (const Element& c : view.children) children.push_back(&c);
  std::stable_partition(children.begin(), children.end(),
                        [](const Element* e) { return e->kind != ElementKind::Table; });
  for (const Element* c : children) {
    if (c->hidden) continue;
    switch (c->kind) {
      case ElementKind::Label:
        placeLeaf(*c, cr, [&] { drawLabel(*c, cr); });
        break;
      case ElementKind::TextBlock:
        placeLeaf(*c, cr, [&] { drawTextView(*c, cr); });
        break;
      case ElementKind::Table:
        placeLeaf(*c, cr, [&] { drawTable(*c, cr); });
        break;
      case ElementKind::ChartHost:
        placeLeaf(*c, cr, [&] { drawGraph(*c, cr); });
        break;
      case ElementKind::Container:
        strokeBorder(*c, cr, c->frame.x, c->frame.y);
        if (c->background) {
          cairo_rectangle(cr, c->frame.x, c->frame.y, c->frame.w, c->frame.h);
          setColor(cr, *c->background);
          cairo_fill(cr);
        }
        cairo_save(cr);
        cairo_translate(cr, c->frame.x, c->frame.y);
        drawView(*c, cr);
        cairo_restore(cr);
        break;
      case ElementKind::Other:
        break;  // neither it nor its children are drawn
    }
  }
}

namespace {
cairo_status_t appendBytes(void* closure, const unsigned char* data, unsigned int length) {
  static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
  return CAIRO_STATUS_SUCCESS;
}
}  // namespace

void writePdfOfView(const Element& root, const std::filesystem::path& path) {
  // Rendered in memory, then written through OutputFile: cairo's own file
  // output would leave a partial file and hide a failed write.
  std::string bytes;
  // Text is laid out and its fonts embedded until the surface is finished.
  auto fonts = charts::lockFonts();
  cairo_surface_t* surface =
      cairo_pdf_surface_create_for_stream(appendBytes, &bytes, kPageWidth, kPageHeight);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    throw ExportError(
        fillPlaceholders(tr("Cannot write %@: %@"), {path.string(), tr("the report could not be drawn")}));
  }
  cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_CREATOR, "Tabulix");
  cairo_t* cr = cairo_create(surface);
  drawView(root, cr);
  cairo_show_page(cr);
  cairo_destroy(cr);
  cairo_surface_finish(surface);
  bool ok = cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(surface);
  fonts.unlock();
  if (!ok)
    throw ExportError(
        fillPlaceholders(tr("Cannot write %@: %@"), {path.string(), tr("the report could not be drawn")}));
  writeOutputFile(path, bytes);
}

bool pdfOfView(const Element& root, const std::filesystem::path& path) {
  try {
    writePdfOfView(root, path);
    return true;
  } catch (const ExportError&) {
    return false;
  }
}

}  // namespace tabulix::reports
