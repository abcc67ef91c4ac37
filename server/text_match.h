// Name search that ignores case and diacritics ("contains[cd]").
#pragma once

#include "engine/text_fold.h"

namespace tabulix::server {

using tabulix::containsIgnoringCaseAndDiacritics;
using tabulix::foldForSearch;

}  // namespace tabulix::server
