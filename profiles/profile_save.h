// Saving the profile store where a player can be told: a store that cannot be written would
// otherwise lose their profiles and settings at the next start without a word. The notice is
// a value; the window layer words it (ui/profile_questions.h).
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "profiles/patch_context_list.h"
#include "system/result.h"

namespace veldmoor {

class ProfileSaveNotice {
public:
    virtual ~ProfileSaveNotice() = default;
    // The store `file` could not be written; `reason` is the failure's own message.
    virtual void ProfilesNotSaved(const std::string& file, const std::string& reason) = 0;
};

// Saves `list`; when that fails, tells `notice` which file could not be written and why.
// True when saved.
bool SaveProfilesOrTell(PatchContextList& list, ProfileSaveNotice& notice);

// The list's one-time import of the contexts file (PatchContextList::ImportContexts); a new
// store that cannot be written is told through `notice` like any other failed save.
std::optional<std::size_t> ImportContextsOrTell(PatchContextList& list, ProfileSaveNotice& notice);

}  // namespace veldmoor
