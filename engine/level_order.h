// The order in which a variable's levels are shown: the user's order when
// one is stored, else numbers by value, dates in time and texts in natural
// order; tables, charts and level lists all take it from here.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/cell_access.h"

namespace tabulix {

// The order the user gave the variable's levels; empty when none is stored.
std::vector<std::string> storedLevelOrder(const Column& column);
// Stores an order of levels (duplicates dropped); an empty list clears it.
void setStoredLevelOrder(Column& column, const std::vector<std::string>& levels);

// Natural text order: letter case and accents ignored, runs of digits
// compared by their value ("item 2" before "item 10"); texts equal that
// way are ordered by their bytes, so the order is total.
bool naturalLess(std::string_view a, std::string_view b);

// Sorts distinct levels into the variable's order: the stored order first,
// the rest by default (numbers by value, or dates in time for a Date / Time
// variable, then other texts naturally, then the empty text: missing).
void sortLevels(Model& model, const Column& column, std::vector<std::string>& levels);

// The `top` most frequent levels in the variable's order; when there are
// more, the last place goes to "Others" (every other level's count) at the
// end. Cumulative shares run over the levels in this order.
TopFrequencies orderedLevels(Model& model, const Column& column, const FrequencyDict& counts, uint32_t top);

}  // namespace tabulix
