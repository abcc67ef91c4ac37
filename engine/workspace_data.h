// Queries and changes of a workspace's variables, observations and analyses.
#pragma once

#include <cstdint>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/model.h"
#include "engine/variable_type.h"

namespace tabulix {

// All columns sorted by `order`.
std::vector<Column*> columns(Model& model);
// All rows sorted by `num`.
std::vector<Row*> rows(Model& model);
// All analyses, most recently opened first.
std::vector<Analysis*> analyses(Model& model);
// The number of columns (unsaved ones included).
size_t countColumns(Model& model);
// The alert title and text of a workspace that has kMaxVariables variables.
std::pair<std::string, std::string> variableLimitTexts();
// The same as one line, "title: text", for errors the command line prints.
std::string variableLimitMessage();
// The metadata key under which the seed of a random variable is kept.
std::string randomSeedKey(std::string_view variableName);
// The number of rows (unsaved ones included).
size_t countRows(Model& model);
// The columns whose type is in the set, in `order`.
std::vector<Column*> columnsOfTypes(Model& model, const std::set<VariableType>& types);
// The column numbered n, or nullptr; logs when several share the number.
Column* columnNumber(Model& model, uint32_t n);

// The types a variable may be given, from its cached statistics.
std::vector<VariableType> variableTypesForColumn(const Column& column);
// The type chosen automatically from the cached counts.
VariableType guessTypeOfColumn(const Column& column);
// True when the name is not empty and no column has exactly this name.
bool nameIsValid(Model& model, std::string_view name);

// Creates one column per name (num = order = index, type 0) and saves.
void addColumns(Model& model, const std::vector<std::string>& names);
// Creates row `num` with one cell per given column, taking each column's
// text at the index of the column's num ("" past the end). Does not save.
void addRow(Model& model, uint32_t num, std::span<const std::string> data, const std::vector<Column*>& cols);
// The same with the texts in a vector.
inline void addRow(Model& model, uint32_t num, const std::vector<std::string>& data,
                   const std::vector<Column*>& cols) {
  addRow(model, num, std::span<const std::string>(data), cols);
}
// Appends an empty row to every column. Does not save.
void addEmptyRow(Model& model);
// Appends an empty column named "Var%u" after the last. Does not save.
Column* addEmptyColumn(Model& model);
// Removes a column with its cells, closes the gap in `order` and saves.
void removeColumn(Model& model, Column* column);
// Sets a column's type and saves (the cached statistics stay as they are).
void changeColumn(Model& model, Column* column, VariableType type);

}  // namespace tabulix
