// Draws a report layout onto PDF pages (612 x 792 points, origin at the top
// left): a header on every page (workspace, title, date), "Page N of M" in
// the footer, tables whose columns are widened to their texts, and every
// element that would cross the bottom of a page moved to the next one
// (tables row by row, with their header row repeated).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "reports/layout.h"

typedef struct _cairo cairo_t;

namespace tabulix::reports {

// Page size of the reports, in points (US Letter, portrait).
inline constexpr double kPageWidth = 612, kPageHeight = 792;
// The band between the header rule and the footer that the layout is drawn
// into; a layout's first element starts at kContentTop on the first page.
inline constexpr double kContentTop = 40, kContentBottom = 756;
// The right edge no element may cross: wider elements are scaled down.
inline constexpr double kRightEdge = kPageWidth - 16;

// What every page carries besides the layout: the header's three texts.
struct PageFurniture {
  std::string workspace;  // the workspace's name, left
  std::string title;      // the analysis's base name, centred
  std::string date;       // the date of the report, right
};

// Writes the whole report to a PDF file; false when it could not be written.
bool pdfOfView(const Element& root, const std::filesystem::path& path, const PageFurniture& furniture = {});
// The same, throwing ExportError with the file and the reason; a failure
// leaves no partial file under the name.
void writePdfOfView(const Element& root, const std::filesystem::path& path,
                    const PageFurniture& furniture = {});

// The furniture of a report made now: the workspace's file name without its
// folder and extension, the title, today's date in the device's short style.
PageFurniture furnitureFor(const std::filesystem::path& workspaceFile, const std::string& title);

// Widens the columns of every table in the tree to their widest text (a
// header may take two lines, a cell as many as its text has) and grows the
// rows to hold their lines, moving what lies below or to the right of a
// grown table; a text block whose wrapped text is taller than its frame
// grows the same way. `cr` measures the texts with the fonts they are drawn in.
void fitContent(Element& root, cairo_t* cr);

// Where one element is drawn: its page (0-based), its top-left corner on
// the page and the scale it is drawn at (below 1 when it is too wide or too
// tall for a page).
struct Placement {
  const Element* element;
  int page;
  double x, y, scale;
  bool rowOfTable;  // a table row: its children are drawn, not the row
};
// Places every visible element of the tree on pages: in reading order (top
// to bottom, then left to right), each moved to the next page when it would
// cross kContentBottom; table rows one by one, a continued table starting
// with its first row again.
std::vector<Placement> pagePlan(const Element& root);

// Draws a container's children in their frames, hidden ones skipped.
void drawView(const Element& view, cairo_t* cr);
// Draws one label in its frame (wrapped onto as many lines as its height holds).
void drawLabel(const Element& label, cairo_t* cr);
// Draws one text block in its frame.
void drawTextView(const Element& text, cairo_t* cr);
// Draws a chart host's chart in its frame.
void drawGraph(const Element& host, cairo_t* cr);

}  // namespace tabulix::reports
