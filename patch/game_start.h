// The last steps of a patch run: the game's registry entry and the start of the game or of the
// profile's own program.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "patch/launcher_view.h"
#include "patch/patch_platform.h"
#include "profiles/patch_context.h"
#include "system/product.h"

namespace veldmoor {

enum class RegistryStep {
    Done,           // the entry is right or has been written
    Declined,       // the person did not want to restart with administrator rights
    ProcessEnding,  // the launcher restarted elevated; the run ends without another step
};

// Makes ExePath name the client of the profile's installation; a failed write is told to the
// person. Where the write needs administrator rights and the launcher has none, it asks, saves
// the profiles (saveProfiles) and restarts the launcher elevated with -instantpatch.
RegistryStep ApplyRegistryPath(const PatchContext& profile, LauncherView& view,
                               PatchPlatform& platform, const std::function<void()>& saveProfiles);

// Starts the profile's ExecuteAfterPatch (nothing when it is empty) in its own folder; a failure
// is shown to the person.
void StartGame(const PatchContext& profile, LauncherView& view, PatchPlatform& platform);

// Text before the last '/' or '\'; empty when there is none.
std::string DirectoryOfPath(std::string_view path);

}  // namespace veldmoor
