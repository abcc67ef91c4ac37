// The report layout: a tree of laid-out elements (text labels, text blocks,
// tables, chart hosts, plain containers), each with a frame in its parent's
// coordinates. Analyses build it; the PDF writer draws it and the web screen
// renders it.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "charts/chart.h"

namespace tabulix::reports {

// A rectangle: origin at the top left, y downwards, in points.
struct Rect {
  double x = 0, y = 0, w = 0, h = 0;
};

// An affine transform (a, b, c, d, tx, ty) as in PDF and cairo.
struct Affine {
  double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;
};

// An RGBA colour, components from 0 to 1.
struct Color {
  double r = 0, g = 0, b = 0, a = 1;
};

// The kinds of elements; the writer draws the first five and skips others.
enum class ElementKind { Label, TextBlock, Table, ChartHost, Container, Other };

// Horizontal alignment of text.
enum class TextAlign { Left, Centre, Right };

// One element of the layout.
struct Element {
  ElementKind kind = ElementKind::Container;
  Rect frame;
  bool hidden = false;
  Affine transform;
  std::optional<Color> background;
  Color border{0, 0, 0, 0};
  double borderWidth = 0;
  // Labels and text blocks: the text, its font size and weight, colour and
  // alignment. A text block without a font draws nothing.
  std::string text;
  std::optional<double> fontSize = 12;
  bool bold = false;
  Color textColor{0.1, 0.12, 0.15, 1};
  TextAlign align = TextAlign::Left;
  // What the text is, for the screen: "title", "heading", "figure", "note";
  // `term` names the glossary entry a figure's label explains.
  std::string role;
  std::string term;
  // Tables: each row's height; children[i] is row i's cell, whose children
  // are the row's content.
  std::vector<double> rowHeights;
  // Chart hosts: the chart, if any.
  std::optional<charts::Chart> chart;
  std::vector<Element> children;
};

// A one-line text label.
Element label(std::string text, Rect frame, double fontSize = 12, TextAlign align = TextAlign::Left,
              bool bold = false);
// A multi-line text block.
Element textBlock(std::string text, Rect frame, double fontSize = 12);
// A chart host showing the chart.
Element chartHost(charts::Chart chart, Rect frame);
// A plain container with children.
Element container(Rect frame, std::vector<Element> children = {});

// A table from rows of texts: each row one container holding one label per
// column at the given x positions and widths.
struct TableColumns {
  std::vector<double> columnX, columnWidth;
  std::vector<TextAlign> align;
  double rowHeight = 15;
  double fontSize = 10;
  bool headerBold = true;  // the first row is the header
};
Element table(const std::vector<std::vector<std::string>>& rows, const TableColumns& grid, double x,
              double y);

// The layout as JSON for the web screen, charts left out (they are drawn as SVG).
nlohmann::json toJson(const Element& root);

}  // namespace tabulix::reports
