// The type code of a variable (Column.type) and its display name.
#pragma once

#include <cstdint>
#include <string>

namespace tabulix {

// The type of a variable as stored in Column.type.
enum class VariableType : int32_t { Unknown = 0, Categorical = 1, Binary = 2, Numeric = 3, DateTime = 4 };

// The translated display name of a type: "Categorical", "Binary", "Numeric", "Date / Time" or "Unknown".
std::string variableTypeName(VariableType type);

// The name pages know a type by, whatever its stored code: "Categorical",
// "Binary", "Numeric", "DateTime", or "Unknown" for any other code.
std::string variableTypeKey(int32_t code);

}  // namespace tabulix
