// A variable as the commands print it: its attributes and cached statistics.
#pragma once

#include <nlohmann/json.hpp>

#include "engine/records.h"

namespace tabulix::cli {

// The column's attributes that are present, with its type's name.
nlohmann::json variableJson(const Column& column);

}  // namespace tabulix::cli
