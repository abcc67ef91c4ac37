// How the command line names a variable: "#N" is the variable numbered N
// (`num` in `tabulix variables`), any other text its exact name. A name two
// variables share is refused, naming their numbers, so that every command
// means the same variable by the same text.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "engine/model.h"

namespace tabulix::cli {

// A variable reference that names no variable, or more than one.
struct VariableRefError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The refusal of a name that several variables share, naming their numbers.
std::string sharedNameMessage(const std::string& option, const std::string& name,
                              const std::vector<int32_t>& nums);

// True when the text has the form "#N" (N decimal digits).
bool isNumberReference(const std::string& ref);

// The variable a reference names; `option` starts the message of the
// VariableRefError thrown when it names none or several.
Column* variableNamed(Model& model, const std::string& ref, const std::string& option);

// The same, or nullptr when it names none (an ambiguous name still throws).
Column* findVariable(Model& model, const std::string& ref, const std::string& option);

}  // namespace tabulix::cli
