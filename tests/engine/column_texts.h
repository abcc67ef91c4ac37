// The texts of one column's stored cells in row order, "<nil>" for a cell
// without text: what the store tests compare after reopening or a failure.
#pragma once

#include <string>
#include <vector>

#include "engine/model.h"

namespace tabulix::testing {

inline std::vector<std::string> columnTexts(Model& m, int32_t colNum) {
  CellFetch f;
  f.colNum = colNum;
  f.sort = {{CellKey::RowNum, true}};
  std::vector<std::string> out;
  for (auto& c : m.context().fetchCells(f)) out.push_back(c.data.value_or("<nil>"));
  return out;
}

}  // namespace tabulix::testing
