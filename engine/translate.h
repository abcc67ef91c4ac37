// Lookup of user-visible texts by their English wording.
#pragma once

#include <string>
#include <string_view>

namespace tabulix {

// The text shown to the user for an English text: its translation in the
// current language, or the English text itself when there is none.
std::string tr(std::string_view english);

}  // namespace tabulix
