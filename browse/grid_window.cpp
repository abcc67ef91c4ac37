#include "browse/grid_window.h"

#include <algorithm>
#include <map>
#include <string>

#include "engine/translate.h"
#include "engine/variable_type.h"
#include "engine/workspace_data.h"

namespace tabulix {

nlohmann::json whereJson(const WhereClauseObj& w) {
  nlohmann::json j = {{"colNum", w.colNum}, {"op", w.op}};
  if (w.constant) j["constant"] = *w.constant;
  if (w.levels) j["levels"] = std::vector<std::string>(w.levels->begin(), w.levels->end());
  return j;
}

namespace {

std::string rowsShownText(size_t kept, size_t all) {
  return fillPlaceholders(tr("%u of %u observations"), {std::to_string(kept), std::to_string(all)});
}

}  // namespace

std::vector<int32_t> rowsKept(Model& model, const std::vector<WhereClauseObj>& wheres) {
  if (auto kept = rowsWhere(model, wheres)) return std::move(*kept);
  std::vector<int32_t> all;
  for (Row* r : rows(model))
    if (r->num) all.push_back(*r->num);
  std::sort(all.begin(), all.end());
  return all;
}

nlohmann::json gridWindow(Model& model, const std::vector<int32_t>& kept, size_t first, size_t count,
                          const std::vector<WhereClauseObj>& wheres, const EditSession* edits) {
  std::vector<Column*> cols = columns(model);
  std::sort(cols.begin(), cols.end(), [](const Column* a, const Column* b) { return a->num < b->num; });
  std::map<int64_t, const WhereClauseObj*> whereOf;
  for (const auto& w : wheres) whereOf[w.colNum] = &w;
  nlohmann::json header = nlohmann::json::array();
  std::map<int32_t, size_t> indexOfNum;
  for (size_t i = 0; i < cols.size(); ++i) {
    int32_t num = cols[i]->num.value_or(-1);
    indexOfNum[num] = i;
    nlohmann::json h = {{"num", num},
                        {"name", cols[i]->name.value_or("")},
                        {"type", variableTypeKey(cols[i]->type.value_or(0))}};
    if (auto it = whereOf.find(num); it != whereOf.end()) h["where"] = whereJson(*it->second);
    header.push_back(std::move(h));
  }
  size_t from = std::min(first, kept.size());
  size_t to = std::min(from + count, kept.size());
  std::vector<int32_t> slice(kept.begin() + static_cast<std::ptrdiff_t>(from),
                             kept.begin() + static_cast<std::ptrdiff_t>(to));
  nlohmann::json rowsJson = nlohmann::json::array();
  if (!slice.empty()) {
    // `slice` is ascending (kept is), as the cell fetch requires.
    CellFetch fetch;
    fetch.rowNums = &slice;
    fetch.sort = {{CellKey::RowNum, true}, {CellKey::ColNum, true}};
    std::vector<Cell> cells = model.context().fetchCells(fetch);
    size_t c = 0;
    for (int32_t rowNum : slice) {
      nlohmann::json texts = nlohmann::json::array();
      for (size_t i = 0; i < cols.size(); ++i) texts.push_back(nullptr);
      for (; c < cells.size() && cells[c].rowNum == rowNum; ++c) {
        auto it = indexOfNum.find(cells[c].colNum.value_or(-1));
        if (it != indexOfNum.end()) texts[it->second] = cells[c].data.value_or("");
      }
      if (edits)
        for (size_t i = 0; i < cols.size(); ++i)
          if (const std::string* p = edits->pendingText(cols[i]->num.value_or(-1), rowNum)) texts[i] = *p;
      rowsJson.push_back({{"num", rowNum}, {"cells", std::move(texts)}});
    }
  }
  size_t rowCount = countRows(model);
  return {{"columns", std::move(header)},
          {"rows", std::move(rowsJson)},
          {"first", from},
          {"total", kept.size()},
          {"rowCount", rowCount},
          {"columnCount", cols.size()},
          {"filterDescription", wheres.empty() ? tr("No filter. Tap filter icons in column headers")
                                               : tr("Filters: ") + stringForWheres(model, wheres)},
          {"rowsShown", rowsShownText(kept.size(), rowCount)}};
}

}  // namespace tabulix
