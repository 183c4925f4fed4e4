// Saving the profile store where a player can be told: a store that cannot be written would
// otherwise lose their profiles and settings at the next start without a word.
#pragma once

#include "profiles/patch_context_list.h"
#include "system/prompt.h"

namespace veldmoor {

// Saves `list`; when that fails, tells the player through `prompt` which file could not be
// written, why, and what to try. True when saved.
bool SaveProfilesOrTell(PatchContextList& list, Prompt& prompt);

}  // namespace veldmoor
