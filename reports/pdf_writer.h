// Draws a report layout onto PDF pages (612 x 792 points, origin at the top
// left): every element on the first page, tables continued on new pages.
#pragma once

#include <filesystem>

#include "reports/layout.h"

typedef struct _cairo cairo_t;

namespace tabulix::reports {

// Page size of the reports, in points (US Letter, portrait).
inline constexpr double kPageWidth = 612, kPageHeight = 792;
// A table row never comes closer than this to a page's bottom edge; a
// continued table starts this far below the top of the new page.
inline constexpr double kTableMargin = 20;

// Writes the whole report to a PDF file; false when it could not be written.
bool pdfOfView(const Element& root, const std::filesystem::path& path);
// The same, throwing ExportError with the file and the reason; a failure
// leaves no partial file under the name.
void writePdfOfView(const Element& root, const std::filesystem::path& path);

// Draws a container's children: tables after every other kind, hidden ones skipped.
void drawView(const Element& view, cairo_t* cr);
// Draws one label in its frame.
void drawLabel(const Element& label, cairo_t* cr);
// Draws one text block in its frame.
void drawTextView(const Element& text, cairo_t* cr);
// Draws a table row by row, starting a new page when a row would come
// within kTableMargin of the bottom edge.
void drawTable(const Element& table, cairo_t* cr);
// Draws a chart host's chart in its frame.
void drawGraph(const Element& host, cairo_t* cr);

}  // namespace tabulix::reports
