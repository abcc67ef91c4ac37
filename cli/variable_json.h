// A variable as the commands print it (`tabulix variables` and the commands
// that change variables).
#pragma once

#include <nlohmann/json.hpp>

#include "engine/records.h"

namespace tabulix::cli {

// The variable's number, order, name, type and cached statistics.
nlohmann::json variableJson(const Column& column);

}  // namespace tabulix::cli
