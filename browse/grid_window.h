// Windows of the Browse grid: a run of the rows a filter keeps, each row's
// cells in column-number order exactly as stored, an editing session's
// unsaved texts shown over them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <vector>

#include "analyses/filters.h"
#include "browse/edit_session.h"
#include "engine/model.h"

namespace tabulix {

// A condition as JSON: {colNum, op, constant?, levels?}.
nlohmann::json whereJson(const WhereClauseObj& where);

// The rows a filter keeps, ascending; every row when there is no condition.
std::vector<int32_t> rowsKept(Model& model, const std::vector<WhereClauseObj>& wheres);

// The grid's window as JSON: "columns" [{num, name, type, where?}] in
// ascending num; "rows" [{num, cells}] for `count` rows of `kept` from index
// `first` (null where a row has no cell); "first", "total" (rows kept),
// "rowCount", "columnCount", "filterDescription" and "rowsShown".
nlohmann::json gridWindow(Model& model, const std::vector<int32_t>& kept, size_t first, size_t count,
                          const std::vector<WhereClauseObj>& wheres, const EditSession* edits = nullptr);

}  // namespace tabulix
