#include "engine/variable_type.h"

#include "engine/translate.h"

namespace tabulix {

std::string variableTypeName(VariableType type) {
  switch (type) {
    case VariableType::Categorical:
      return tr("Categorical");
    case VariableType::Binary:
      return tr("Binary");
    case VariableType::Numeric:
      return tr("Numeric");
    case VariableType::DateTime:
      return tr("Date / Time");
    case VariableType::Unknown:
      break;
  }
  return tr("Unknown");
}

std::string variableTypeKey(int32_t code) {
  switch (static_cast<VariableType>(code)) {
    case VariableType::Categorical:
      return "Categorical";
    case VariableType::Binary:
      return "Binary";
    case VariableType::Numeric:
      return "Numeric";
    case VariableType::DateTime:
      return "DateTime";
    case VariableType::Unknown:
      break;
  }
  return "Unknown";
}

}  // namespace tabulix
