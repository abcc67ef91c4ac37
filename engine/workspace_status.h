// What the screens say about the open workspace and the per-user counters of
// their help tips: wording kept apart from the Model, which only holds data.
#pragma once

#include <string>
#include <string_view>

#include "engine/model.h"
#include "engine/preferences.h"

namespace tabulix {

// One line describing the open workspace, in the tablet or the phone form.
std::string statusLine(Model& model, bool tablet = false);

// How often the help tip with this key was shown (0 if never).
int timesSeenHelpKey(Preferences& prefs, std::string_view key);
// Counts one more showing of a help tip.
void incrementTimesSeenHelpKey(Preferences& prefs, std::string_view key);

}  // namespace tabulix
