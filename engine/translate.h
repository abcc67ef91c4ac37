// Lookup of user-visible texts by their English wording, and the filling of
// their placeholders.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace tabulix {

// The text shown to the user for an English text: its translation in the
// current language, or the English text itself when there is none.
std::string tr(std::string_view english);

// A translated format with its placeholders "%@", "%u" and "%d" replaced, in
// order, by the given texts, and "%%" by "%"; placeholders beyond the texts
// stay as written.
std::string fillPlaceholders(std::string_view format, std::initializer_list<std::string_view> values);
// The same with the texts in a list.
std::string fillPlaceholders(std::string_view format, const std::vector<std::string>& values);

}  // namespace tabulix
