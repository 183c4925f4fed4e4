// The profile store's part of start-up: load (or import once), fall back to the default
// profile with an installation folder, then bring stored addresses up to date.
#pragma once

#include <cstddef>
#include <optional>

#include "profiles/install_path.h"
#include "profiles/patch_context_list.h"
#include "profiles/profile_save.h"

namespace veldmoor {

// Runs the start-up sequence on an empty list and returns the index to select.
//  1. ImportContexts, else Load. A store that cannot be written is told through `notice`,
//     here or below, once.
//  2. Nothing selected (no file, a malformed file, no profile): the default profile is added,
//     AcquireInstallPath runs for it with the registry offer, and the list is saved; index 0.
//     When the person cancels there, none is returned and nothing is saved: the launcher
//     ends (exit code 0).
//  3. MigrateRepoPaths and EnsureDefaultProfile, neither of which saves.
// The caller fills its selector, selects the index and checks that profile's folder
// (CheckInstallPath) when it becomes current.
std::optional<std::size_t> PrepareProfilesAtStartup(PatchContextList& list,
                                                    InstallFolderQuestions& questions,
                                                    ProfileSaveNotice& notice);

}  // namespace veldmoor
