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

}  // namespace tabulix
