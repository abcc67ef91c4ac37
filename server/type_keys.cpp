#include "server/type_keys.h"

#include "engine/variable_type.h"

namespace tabulix::server {

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

}  // namespace tabulix::server
