#include "reports/layout.h"

namespace tabulix::reports {

Element label(std::string text, Rect frame, double fontSize, TextAlign align, bool bold) {
  Element e;
  e.kind = ElementKind::Label;
  e.text = std::move(text);
  e.frame = frame;
  e.fontSize = fontSize;
  e.align = align;
  e.bold = bold;
  return e;
}

Element textBlock(std::string text, Rect frame, double fontSize) {
  Element e;
  e.kind = ElementKind::TextBlock;
  e.text = std::move(text);
  e.frame = frame;
  e.fontSize = fontSize;
  return e;
}

Element chartHost(charts::Chart chart, Rect frame) {
  Element e;
  e.kind = ElementKind::ChartHost;
  e.chart = std::move(chart);
  e.frame = frame;
  return e;
}

Element container(Rect frame, std::vector<Element> children) {
  Element e;
  e.kind = ElementKind::Container;
  e.frame = frame;
  e.children = std::move(children);
  return e;
}

Element table(const std::vector<std::vector<std::string>>& rows, const TableColumns& grid, double x,
              double y) {
  Element t;
  t.kind = ElementKind::Table;
  double width = 0;
  for (size_t c = 0; c < grid.columnX.size(); ++c)
    width = std::max(width, grid.columnX[c] + grid.columnWidth[c]);
  t.frame = {x, y, width, grid.rowHeight * static_cast<double>(rows.size())};
  for (size_t r = 0; r < rows.size(); ++r) {
    Element row = container({0, 0, width, grid.rowHeight});
    for (size_t c = 0; c < rows[r].size() && c < grid.columnX.size(); ++c) {
      TextAlign a = c < grid.align.size() ? grid.align[c] : TextAlign::Left;
      row.children.push_back(label(rows[r][c], {grid.columnX[c], 0, grid.columnWidth[c], grid.rowHeight},
                                   grid.fontSize, a, r == 0 && grid.headerBold));
    }
    t.rowHeights.push_back(grid.rowHeight);
    t.children.push_back(std::move(row));
  }
  return t;
}

nlohmann::json toJson(const Element& e) {
  static const char* kinds[] = {"label", "text", "table", "chart", "container", "other"};
  nlohmann::json j = {{"kind", kinds[static_cast<int>(e.kind)]},
                      {"frame", {e.frame.x, e.frame.y, e.frame.w, e.frame.h}}};
  if (e.hidden) j["hidden"] = true;
  if (!e.text.empty()) j["text"] = e.text;
  if (e.kind == ElementKind::Label || e.kind == ElementKind::TextBlock) {
    if (e.bold) j["bold"] = true;
    if (e.align != TextAlign::Left) j["align"] = e.align == TextAlign::Right ? "right" : "centre";
  }
  if (!e.role.empty()) j["role"] = e.role;
  if (!e.term.empty()) j["term"] = e.term;
  if (e.chart) j["title"] = e.chart->title;
  if (!e.children.empty()) {
    j["children"] = nlohmann::json::array();
    for (const Element& c : e.children) j["children"].push_back(toJson(c));
  }
  return j;
}

}  // namespace tabulix::reports
