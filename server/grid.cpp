#include "server/grid.h"

#include <algorithm>
#include <unordered_map>

#include "engine/variable_type.h"
#include "engine/workspace_data.h"

namespace tabulix::server {

nlohmann::json browseGrid(Model& model, size_t cellLimit, const std::vector<int32_t>* onlyRows) {
  nlohmann::json out;
  std::vector<Column*> cols = columns(model);
  std::sort(cols.begin(), cols.end(), [](const Column* a, const Column* b) { return a->num < b->num; });
  std::unordered_map<int32_t, size_t> indexOfNum;
  nlohmann::json header = nlohmann::json::array();
  for (size_t i = 0; i < cols.size(); ++i) {
    indexOfNum[cols[i]->num.value_or(-1)] = i;
    header.push_back({{"num", cols[i]->num.value_or(-1)},
                      {"name", cols[i]->name.value_or("")},
                      {"type", variableTypeKey(cols[i]->type.value_or(0))}});
  }
  out["columns"] = std::move(header);
  out["columnCount"] = cols.size();

  size_t rowCount = countRows(model);
  out["rowCount"] = rowCount;

  // Fetching every cell of a large workspace only to keep the first 10000
  // would read all of it: ask for just enough leading rows to fill the limit
  // (each row holds at most one cell per column), and for more rows only
  // when some of them turn out to lack cells.
  auto fetchRows = [&](const std::vector<int32_t>& slice) {
    CellFetch fetch;
    fetch.rowNums = &slice;
    fetch.sort = {{CellKey::RowNum, true}, {CellKey::ColNum, true}};
    fetch.fetchLimit = cellLimit + 1;  // one more tells that the limit cut cells off
    return model.context().fetchCells(fetch);
  };
  size_t perRow = std::max<size_t>(1, cols.size());
  size_t take = std::max<size_t>(1, (cellLimit + perRow - 1) / perRow);
  std::vector<Cell> cells;
  bool done = false;
  if (!onlyRows) {
    // Rows are numbered 1, 2, … as they are added, so the first rows can be
    // asked for by number without loading every row record. Whatever the
    // numbering, the cells of rows 1…K come before all others in row order;
    // once they exceed the limit they are the answer.
    for (;; take *= 2) {
      std::vector<int32_t> slice(std::min(take, rowCount));
      for (size_t i = 0; i < slice.size(); ++i) slice[i] = static_cast<int32_t>(i + 1);
      cells = fetchRows(slice);
      if (cells.size() > cellLimit) {
        done = true;
        break;
      }
      if (slice.size() == rowCount) break;
    }
  }
  if (!done) {
    // A filter, or a workspace small enough (or numbered unusually): the
    // exact row numbers.
    std::vector<int32_t> candidates;
    if (onlyRows) {
      candidates = *onlyRows;
      std::sort(candidates.begin(), candidates.end());
    } else {
      for (Row* r : rows(model))
        if (r->num) candidates.push_back(*r->num);
    }
    for (take = std::max<size_t>(1, (cellLimit + perRow - 1) / perRow);; take *= 2) {
      size_t n = std::min(take, candidates.size());
      cells = fetchRows({candidates.begin(), candidates.begin() + static_cast<std::ptrdiff_t>(n)});
      if (cells.size() > cellLimit || n == candidates.size()) break;
    }
  }
  bool more = cells.size() > cellLimit;
  if (cells.size() > cellLimit) cells.resize(cellLimit);
  out["cellCount"] = cells.size();

  nlohmann::json rowsJson = nlohmann::json::array();
  nlohmann::json current;
  int32_t currentNum = 0;
  bool open = false;
  for (const Cell& c : cells) {
    int32_t r = c.rowNum.value_or(0);
    if (!open || r != currentNum) {
      if (open) rowsJson.push_back(std::move(current));
      current = {{"num", r}, {"cells", nlohmann::json(std::vector<std::nullptr_t>(cols.size(), nullptr))}};
      currentNum = r;
      open = true;
    }
    auto it = indexOfNum.find(c.colNum.value_or(-1));
    if (it != indexOfNum.end())
      current["cells"][it->second] = c.data ? nlohmann::json(*c.data) : nlohmann::json("");
  }
  if (open) rowsJson.push_back(std::move(current));
  out["rows"] = std::move(rowsJson);
  out["truncated"] = more;
  return out;
}

}  // namespace tabulix::server
