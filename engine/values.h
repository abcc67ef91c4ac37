// Reading numbers and dates from cell texts by the open workspace's rules.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "engine/model.h"

namespace tabulix {

// The number a text reads as under the workspace's decimal separator, or none.
std::optional<double> decimalNumberForString(Model& model, std::string_view text);
// The first date found in the text, as seconds since 1970-01-01 00:00 UTC, or none.
std::optional<double> dateForString(Model& model, std::string_view text);

// The decimal separator of the device locale's number format ("." or ",").
std::string deviceDecimalSeparator();

}  // namespace tabulix
