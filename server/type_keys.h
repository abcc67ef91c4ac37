// How the server names a variable's type to pages: by the type's name, not
// its stored code, so that pages never depend on the numbering.
#pragma once

#include <cstdint>
#include <string>

namespace tabulix::server {

// "Categorical", "Binary", "Numeric", "DateTime", or "Unknown" for any
// other stored code (including none).
std::string variableTypeKey(int32_t code);

}  // namespace tabulix::server
