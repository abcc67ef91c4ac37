#include "reports/pdf_writer.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <string>

#include "charts/renderer.h"
#include "engine/number_format.h"
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

PangoLayout* textLayout(cairo_t* cr, const Element& e) {
  PangoLayout* layout = pango_cairo_create_layout(cr);
  PangoFontDescription* font = pango_font_description_from_string("DejaVu Sans");
  pango_font_description_set_absolute_size(font, e.fontSize.value_or(12) * PANGO_SCALE);
  if (e.bold) pango_font_description_set_weight(font, PANGO_WEIGHT_BOLD);
  pango_layout_set_font_description(layout, font);
  pango_font_description_free(font);
  pango_layout_set_text(layout, e.text.c_str(), static_cast<int>(e.text.size()));
  return layout;
}

// The height of one line of the element's font.
double lineHeight(cairo_t* cr, const Element& e) {
  Element probe = e;
  probe.text = "Hg";
  PangoLayout* layout = textLayout(cr, probe);
  int w = 0, h = 0;
  pango_layout_get_pixel_size(layout, &w, &h);
  g_object_unref(layout);
  return h;
}

// Draws text in the rectangle (0, 0, w, h): a text block wrapped at the
// width from the top; a label on as many lines as its height holds (one,
// usually), ellipsized past the last and centred vertically.
void drawText(cairo_t* cr, const Element& e, bool wrap) {
  auto fonts = charts::lockFonts();
  PangoLayout* layout = textLayout(cr, e);
  // Right-aligned figures keep off the next column's text.
  const double inset = e.align == TextAlign::Right ? std::min(3.0, e.frame.w / 4) : 0;
  pango_layout_set_width(layout, static_cast<int>((e.frame.w - inset) * PANGO_SCALE));
  pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
  if (!wrap) {
    const int lines = std::max(1, static_cast<int>(e.frame.h / lineHeight(cr, e)));
    const bool breaks = e.text.find('\n') != std::string::npos;
    pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
    // A negative height counts lines; text with its own line breaks keeps them.
    if (!breaks) pango_layout_set_height(layout, -lines);
    if (lines > 1 && !breaks) pango_layout_set_wrap(layout, PANGO_WRAP_WORD);
  }
  pango_layout_set_alignment(layout, e.align == TextAlign::Right    ? PANGO_ALIGN_RIGHT
                                     : e.align == TextAlign::Centre ? PANGO_ALIGN_CENTER
                                                                    : PANGO_ALIGN_LEFT);
  int w = 0, h = 0;
  pango_layout_get_pixel_size(layout, &w, &h);
  double top = wrap ? 0 : std::max(0.0, (e.frame.h - h) / 2);
  cairo_save(cr);
  cairo_rectangle(cr, 0, 0, e.frame.w, std::max(e.frame.h, static_cast<double>(h)));
  cairo_clip(cr);
  setColor(cr, e.textColor);
  cairo_move_to(cr, 0, top);
  pango_cairo_show_layout(cr, layout);
  cairo_restore(cr);
  g_object_unref(layout);
}

// The width of the widest line of a text, unwrapped.
double naturalWidth(cairo_t* cr, const Element& e) {
  PangoLayout* layout = textLayout(cr, e);
  PangoRectangle ink, logical;
  pango_layout_get_pixel_extents(layout, &ink, &logical);
  g_object_unref(layout);
  return logical.width;
}

// The narrowest width at which a header's words fit on two lines.
double twoLineWidth(cairo_t* cr, const Element& e) {
  const double full = naturalWidth(cr, e);
  double widest = 0;
  size_t start = 0;
  while (start <= e.text.size()) {
    size_t space = e.text.find(' ', start);
    Element word = e;
    word.text = e.text.substr(start, space == std::string::npos ? std::string::npos : space - start);
    widest = std::max(widest, naturalWidth(cr, word));
    if (space == std::string::npos) break;
    start = space + 1;
  }
  PangoLayout* layout = textLayout(cr, e);
  pango_layout_set_wrap(layout, PANGO_WRAP_WORD);
  double w = std::max(widest, std::ceil(full / 2));
  for (; w < full; w += 2) {
    pango_layout_set_width(layout, static_cast<int>(w * PANGO_SCALE));
    if (pango_layout_get_line_count(layout) <= 2) break;
  }
  g_object_unref(layout);
  return std::min(w, full);
}

bool isText(const Element& e) { return e.kind == ElementKind::Label || e.kind == ElementKind::TextBlock; }

// Room a cell keeps besides its text, so neighbouring texts never touch.
constexpr double kCellPadding = 8;

// Fits one table; returns how much taller and wider it became.
std::pair<double, double> fitTable(Element& table, cairo_t* cr) {
  // Columns by position in the row: every row of our tables holds its cells
  // in the same order.
  size_t columns = 0;
  for (const Element& row : table.children) columns = std::max(columns, row.children.size());
  std::vector<double> x(columns, 0), width(columns, 0), need(columns, 0);
  std::vector<bool> seen(columns, false);
  // A column's place is its first cell's; a cell wider than that spans the
  // columns to its right (a note across the figures) and sets no width.
  for (const Element& row : table.children)
    for (size_t j = 0; j < row.children.size(); ++j) {
      const Element& cell = row.children[j];
      if (!seen[j]) x[j] = cell.frame.x, width[j] = cell.frame.w, seen[j] = true;
    }
  auto spans = [&](const Element& cell, size_t j) { return cell.frame.w > width[j] + 0.5; };
  for (size_t r = 0; r < table.children.size(); ++r)
    for (size_t j = 0; j < table.children[r].children.size(); ++j) {
      const Element& cell = table.children[r].children[j];
      if (!isText(cell) || cell.hidden || cell.text.empty() || spans(cell, j)) continue;
      const bool header = r == 0 && table.children.size() > 1;
      const double w = header ? twoLineWidth(cr, cell) : naturalWidth(cr, cell);
      need[j] = std::max(need[j], w + kCellPadding);
    }
  // Each column grows to its need; the columns to its right move along.
  std::vector<size_t> order(columns);
  for (size_t j = 0; j < columns; ++j) order[j] = j;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return x[a] < x[b]; });
  std::vector<double> newX(columns), newWidth(columns);
  double shift = 0;
  for (size_t j : order) {
    newX[j] = x[j] + shift;
    newWidth[j] = std::max(width[j], need[j]);
    shift += newWidth[j] - width[j];
  }
  double grownHeight = 0, tableWidth = 0;
  for (size_t r = 0; r < table.children.size(); ++r) {
    Element& row = table.children[r];
    double h = r < table.rowHeights.size() ? table.rowHeights[r] : row.frame.h;
    double rowNeed = h;
    for (size_t j = 0; j < row.children.size(); ++j) {
      Element& cell = row.children[j];
      const bool spanning = spans(cell, j);
      cell.frame.x = newX[j];
      cell.frame.w = spanning ? cell.frame.w + newWidth[j] - width[j] : newWidth[j];
      tableWidth = std::max(tableWidth, newX[j] + newWidth[j]);
      if (!isText(cell) || cell.text.empty()) continue;
      PangoLayout* layout = textLayout(cr, cell);
      // Measured a little narrower than drawn (the right inset and some
      // rounding of glyph positions), so a text that only just fits on one
      // line gets a row that also holds it on two.
      pango_layout_set_width(layout, static_cast<int>((cell.frame.w - 5) * PANGO_SCALE));
      pango_layout_set_wrap(layout, PANGO_WRAP_WORD);
      int lw = 0, lh = 0;
      pango_layout_get_pixel_size(layout, &lw, &lh);
      g_object_unref(layout);
      rowNeed = std::max(rowNeed, lh + 2.0);
    }
    if (rowNeed > h) {
      grownHeight += rowNeed - h;
      for (Element& cell : row.children) cell.frame.h = rowNeed;
      row.frame.h = rowNeed;
      if (r < table.rowHeights.size()) table.rowHeights[r] = rowNeed;
    }
    row.frame.w = std::max(row.frame.w, tableWidth);
  }
  double y = 0;
  for (size_t r = 0; r < table.children.size(); ++r) {
    // Rows placed one under another keep doing so.
    if (table.children[r].frame.y != 0) table.children[r].frame.y = y;
    y += r < table.rowHeights.size() ? table.rowHeights[r] : table.children[r].frame.h;
  }
  const double grownWidth = std::max(0.0, tableWidth - table.frame.w);
  table.frame.w = std::max(table.frame.w, tableWidth);
  table.frame.h += grownHeight;
  return {grownHeight, grownWidth};
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

void drawView(const Element& view, cairo_t* cr) {
  for (const Element& child : view.children) {
    const Element* c = &child;
    if (c->hidden) continue;
    switch (c->kind) {
      case ElementKind::Label:
        placeLeaf(*c, cr, [&] { drawLabel(*c, cr); });
        break;
      case ElementKind::TextBlock:
        placeLeaf(*c, cr, [&] { drawTextView(*c, cr); });
        break;
      case ElementKind::ChartHost:
        placeLeaf(*c, cr, [&] { drawGraph(*c, cr); });
        break;
      case ElementKind::Table:
      case ElementKind::Container:
        strokeBorder(*c, cr, c->frame.x, c->frame.y);
        if (c->background) {
          cairo_rectangle(cr, c->frame.x, c->frame.y, c->frame.w, c->frame.h);
          setColor(cr, *c->background);
          cairo_fill(cr);
        }
        cairo_save(cr);
        cairo_translate(cr, c->frame.x, c->frame.y);
        if (c->kind == ElementKind::Table) {
          // A table inside a row is drawn whole, its rows one under another.
          for (size_t r = 0; r < c->children.size(); ++r) {
            drawView(c->children[r], cr);
            cairo_translate(cr, 0, r < c->rowHeights.size() ? c->rowHeights[r] : c->children[r].frame.h);
          }
        } else {
          drawView(*c, cr);
        }
        cairo_restore(cr);
        break;
      case ElementKind::Other:
        break;  // neither it nor its children are drawn
    }
  }
}

namespace {

// How much taller a text's wrapped lines are than its frame: a long
// variable name wraps onto more lines than the layout reserved, and the
// next element would be drawn over its last line (a label, cut short).
double textOverflow(const Element& e, cairo_t* cr) {
  if (!e.fontSize || e.text.empty() || e.frame.w <= 0) return 0;
  auto fonts = charts::lockFonts();
  PangoLayout* layout = textLayout(cr, e);
  pango_layout_set_width(layout, static_cast<int>(e.frame.w * PANGO_SCALE));
  pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
  int w = 0, h = 0;
  pango_layout_get_pixel_size(layout, &w, &h);
  g_object_unref(layout);
  return std::max(0.0, h - e.frame.h);
}

}  // namespace

void fitContent(Element& root, cairo_t* cr) {
  for (size_t i = 0; i < root.children.size(); ++i) {
    Element& child = root.children[i];
    if (child.hidden || child.kind == ElementKind::Other) continue;
    if (isText(child)) {
      const Rect before = child.frame;
      const double taller = textOverflow(child, cr);
      if (taller <= 0) continue;
      child.frame.h += taller;
      for (size_t k = 0; k < root.children.size(); ++k)
        if (k != i && root.children[k].frame.y >= before.y + before.h - 0.5)
          root.children[k].frame.y += taller;
      root.frame.h += taller;
      continue;
    }
    if (child.kind != ElementKind::Table) {
      if (child.kind == ElementKind::Container) fitContent(child, cr);
      continue;
    }
    const Rect before = child.frame;
    auto [taller, wider] = fitTable(child, cr);
    // What lay below the table moves down with its bottom, what lay beside
    // it to the right moves right.
    for (size_t k = 0; k < root.children.size(); ++k) {
      if (k == i) continue;
      Rect& f = root.children[k].frame;
      if (taller > 0 && f.y >= before.y + before.h - 0.5)
        f.y += taller;
      else if (wider > 0 && f.x >= before.x + before.w - 0.5 && f.y < before.y + before.h &&
               f.y + f.h > before.y)
        f.x += wider;
    }
    root.frame.h += taller;
  }
}

namespace {

// One element to be placed, in page-independent coordinates: the position of
// its top-left corner in the root's frame.
struct Item {
  const Element* element;
  double x, y, scale;
  const Element* table = nullptr;  // a row's table
  size_t row = 0;
};

void collect(const Element& view, double ox, double oy, std::vector<Item>& out) {
  for (const Element& c : view.children) {
    if (c.hidden || c.kind == ElementKind::Other) continue;
    const double x = ox + c.frame.x, y = oy + c.frame.y;
    if (c.kind == ElementKind::Container) {
      // Its frame (border, background) first, then its children on their own.
      if (c.background || (c.borderWidth > 0 && c.border.a > 0)) out.push_back({&c, x, y, 1});
      collect(c, x, y, out);
    } else if (c.kind == ElementKind::Table) {
      // Too wide for the page: the whole table is drawn smaller.
      const double scale =
          x + c.frame.w > kRightEdge && c.frame.w > 0 ? std::max(0.3, (kRightEdge - x) / c.frame.w) : 1.0;
      double ry = y;
      for (size_t r = 0; r < c.children.size(); ++r) {
        out.push_back({&c.children[r], x, ry, scale, &c, r});
        ry += scale * (r < c.rowHeights.size() ? c.rowHeights[r] : c.children[r].frame.h);
      }
    } else {
      double scale = 1;
      if (x + c.frame.w > kRightEdge && c.frame.w > 0) scale = std::max(0.3, (kRightEdge - x) / c.frame.w);
      const double room = kContentBottom - kContentTop;
      if (c.frame.h * scale > room) scale = room / c.frame.h;
      out.push_back({&c, x, y, scale});
    }
  }
}

double heightOf(const Item& item) {
  const Element& e = *item.element;
  if (item.table) {
    const auto& heights = item.table->rowHeights;
    return item.scale * (item.row < heights.size() ? heights[item.row] : e.frame.h);
  }
  return item.scale * e.frame.h;
}

}  // namespace

std::vector<Placement> pagePlan(const Element& root) {
  std::vector<Item> items;
  collect(root, 0, 0, items);
  // Reading order: top to bottom, then left to right; rows of a table stay
  // in their order.
  std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
    if (a.y != b.y) return a.y < b.y;
    return a.x < b.x;
  });
  std::vector<Placement> out;
  if (items.empty()) return out;
  int page = 0;
  // Page y = layout y + shift: the first element starts at the content top.
  double shift = kContentTop - items.front().y;
  for (const Item& item : items) {
    const double h = heightOf(item);
    double top = item.y + shift;
    if (top + h > kContentBottom + 0.01 && top > kContentTop + 0.01) {
      ++page;
      shift = kContentTop - item.y;
      top = kContentTop;
      if (item.table && item.row > 0 && !item.table->children.empty()) {
        // The continued table starts with its first row again.
        const Element& header = item.table->children.front();
        out.push_back({&header, page, item.x, top, item.scale, true});
        const double headerHeight =
            item.scale * (item.table->rowHeights.empty() ? header.frame.h : item.table->rowHeights.front());
        shift += headerHeight;
        top += headerHeight;
      }
    }
    out.push_back({item.element, page, item.x, top, item.scale, item.table != nullptr});
  }
  return out;
}

namespace {

void drawPlaced(const Placement& p, cairo_t* cr) {
  const Element& e = *p.element;
  cairo_save(cr);
  cairo_translate(cr, p.x, p.y);
  cairo_scale(cr, p.scale, p.scale);
  if (p.rowOfTable) {
    drawView(e, cr);
  } else if (e.kind == ElementKind::Container) {
    Element frameOnly = e;
    frameOnly.frame.x = frameOnly.frame.y = 0;
    if (frameOnly.background) {
      cairo_rectangle(cr, 0, 0, e.frame.w, e.frame.h);
      setColor(cr, *frameOnly.background);
      cairo_fill(cr);
    }
    strokeBorder(frameOnly, cr, 0, 0);
  } else {
    Element leaf;
    leaf.children.push_back(e);
    leaf.children.back().frame.x = leaf.children.back().frame.y = 0;
    leaf.children.back().children.clear();
    if (e.kind == ElementKind::ChartHost) leaf.children.back().chart = e.chart;
    drawView(leaf, cr);
  }
  cairo_restore(cr);
}

void drawFurniture(const PageFurniture& f, int page, int pages, cairo_t* cr) {
  const Color grey{0.35, 0.38, 0.42, 1};
  auto text = [&](const std::string& t, Rect frame, TextAlign align) {
    if (t.empty()) return;
    Element e = label(t, frame, 8.5, align);
    e.textColor = grey;
    cairo_save(cr);
    cairo_translate(cr, frame.x, frame.y);
    drawLabel(e, cr);
    cairo_restore(cr);
  };
  if (!f.workspace.empty() || !f.title.empty() || !f.date.empty()) {
    // The title on the left, the workspace and the date on the right.
    const double right = 200;
    text(f.title, {20, 12, kPageWidth - 40 - right - 8, 14}, TextAlign::Left);
    std::string where = f.workspace;
    if (!f.date.empty()) where += (where.empty() ? "" : " · ") + f.date;
    text(where, {kPageWidth - 20 - right, 12, right, 14}, TextAlign::Right);
    cairo_set_source_rgba(cr, grey.r, grey.g, grey.b, 0.6);
    cairo_set_line_width(cr, 0.5);
    cairo_move_to(cr, 20, 30);
    cairo_line_to(cr, kPageWidth - 20, 30);
    cairo_stroke(cr);
  }
  text(fillPlaceholders(tr("Page %@ of %@"), {std::to_string(page + 1), std::to_string(pages)}),
       {20, kContentBottom + 12, kPageWidth - 40, 14}, TextAlign::Centre);
}

cairo_status_t appendBytes(void* closure, const unsigned char* data, unsigned int length) {
  static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

}  // namespace

void writePdfOfView(const Element& root, const std::filesystem::path& path, const PageFurniture& furniture) {
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
  if (!furniture.title.empty())
    cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_TITLE, furniture.title.c_str());
  cairo_t* cr = cairo_create(surface);
  // Measured with the surface the texts are drawn on.
  Element laid = root;
  fitContent(laid, cr);
  std::vector<Placement> plan = pagePlan(laid);
  int pages = 1;
  for (const Placement& p : plan) pages = std::max(pages, p.page + 1);
  size_t next = 0;
  for (int page = 0; page < pages; ++page) {
    drawFurniture(furniture, page, pages, cr);
    for (; next < plan.size() && plan[next].page == page; ++next) drawPlaced(plan[next], cr);
    cairo_show_page(cr);
  }
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

bool pdfOfView(const Element& root, const std::filesystem::path& path, const PageFurniture& furniture) {
  try {
    writePdfOfView(root, path, furniture);
    return true;
  } catch (const ExportError&) {
    return false;
  }
}

PageFurniture furnitureFor(const std::filesystem::path& workspaceFile, const std::string& title) {
  const double now = static_cast<double>(std::time(nullptr));
  return {workspaceFile.stem().string(), title, stringFromDateNumber(now)};
}

}  // namespace tabulix::reports
