// Setting the order of a variable's levels, stored at once like a rename.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/model.h"

namespace tabulix {

// Stores the order of the levels of variable `colNum` (an empty list returns
// it to the default order) and saves. Throws EditError naming the variable
// when there is none, when the save fails, and (when `check`) naming the
// first listed text that is not one of its levels.
void setLevelOrder(Model& model, int32_t colNum, const std::vector<std::string>& levels, bool check = true);

// Splits a comma-separated list; "\," is a comma inside an item and "\\"
// a backslash. An empty text is an empty list.
std::vector<std::string> splitCommaList(const std::string& text);

}  // namespace tabulix
