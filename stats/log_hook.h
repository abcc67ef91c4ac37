// The statistics library's diagnostic lines ("q_gamma() could not converge.",
// "logit converged in iteration 5") reach the program's one log through this
// hook: the library sits below the engine and cannot call its log itself.
#pragma once

#include <string_view>

namespace tabulix {

// A receiver of the library's diagnostic lines.
using StatsLogHook = void (*)(std::string_view line);
// Sets the receiver (the engine's log installs itself at start-up); null drops the lines. Returns the
// previous one.
StatsLogHook setStatsLogHook(StatsLogHook hook);
// Passes one diagnostic line to the receiver, if one is set.
void statsLog(std::string_view line);

}  // namespace tabulix
