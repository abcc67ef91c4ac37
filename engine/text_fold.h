// Text comparison that ignores letter case and diacritics, for searches.
#pragma once

#include <string>
#include <string_view>

namespace tabulix {

// The text with its case folded and its diacritics removed, for comparisons.
std::string foldForSearch(std::string_view text);
// True when `text` contains `search`, ignoring case and diacritics; an empty
// search matches every text.
bool containsIgnoringCaseAndDiacritics(std::string_view text, std::string_view search);

}  // namespace tabulix
