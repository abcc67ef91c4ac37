// The Browse grid: the header of columns in `num` order and the first cells
// of the workspace in row order, exactly as stored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <vector>

#include "engine/model.h"

namespace tabulix::server {

// The most cells the grid shows.
inline constexpr size_t kGridCellLimit = 10000;

// The grid as JSON: "columns" [{num, name, type}] in ascending num; "rows"
// [{num, cells}] in ascending row number, each cell's text at the index of
// its column (null where the row has no cell, or where the cell limit cut the
// last row); "cellCount" shown, "rowCount" and "columnCount" of the whole
// workspace, and "truncated" when cells were left out. `onlyRows`, when given,
// restricts the grid to those row numbers (a filter).
nlohmann::json browseGrid(Model& model, size_t cellLimit = kGridCellLimit,
                          const std::vector<int32_t>* onlyRows = nullptr);

}  // namespace tabulix::server
