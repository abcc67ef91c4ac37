#include "engine/translate.h"

namespace tabulix {

// Only English ships for now: every text is its own translation. The lookup
// stays the single place that a translation table will plug into.
std::string tr(std::string_view english) { return std::string(english); }

}  // namespace tabulix
