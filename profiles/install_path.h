// Finding a game installation folder for a profile: the game's own registry entry is offered
// first, else the person picks a folder, which is checked so the game does not land in the
// launcher's folder or in a folder already holding other files. Every question goes through
// the Prompt; nothing here opens a window.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "profiles/patch_context.h"
#include "profiles/patch_context_list.h"
#include "system/product.h"
#include "system/prompt.h"

namespace veldmoor {

// Longest installation folder a profile can hold: the folder plus the separator and
// "client.exe" must fit the 259 characters of ExecuteAfterPatch, or the program to start
// would be cut to a wrong path.
inline constexpr std::size_t kInstallFolderMaxLength =
    kProfilePathLimit - 1 - (sizeof kGameClientFileName - 1);

// MainDialog: Yes/No/Cancel questions, No picks again. Editor: Yes/No questions, No gives up.
enum class BrowseMode { MainDialog, Editor };

// The folder picker's title.
inline constexpr char kPickInstallFolderTitle[] =
    "Ordner für die Spielinstallation wählen (ein neuer Ordner kann angelegt werden)";

// Lets the person pick (or make) a folder, starting at `startFolder` when that is an existing
// folder (the profile's present installation) and else at the platform's games or home folder,
// and checks it: the launcher's own folder (the current
// directory) and a folder that is neither empty nor an installation (holding client.exe) are
// only taken when the person confirms. A folder too long for a profile is refused with a
// message. None when the person cancels or gives up.
std::optional<std::string> BrowseForTargetFolder(Prompt& prompt, BrowseMode mode,
                                                 const std::string& startFolder = {});

// Sets the profile's PatchPath and ExecuteAfterPatch (folder + client.exe) from the registry's
// installation (when offerRegistry and the person agrees) or from a picked folder, which is
// created (one level) when missing. False when the person cancels or the folder cannot be
// created; the profile is then unchanged. Does not save the list.
bool AcquireInstallPath(Prompt& prompt, PatchContext& profile, bool offerRegistry);

// Whether the profile at index may become the current one: true when its PatchPath is an
// existing folder, else the result of AcquireInstallPath (offering the registry's installation
// only to the default profile). May append the default profile; index stays valid.
bool CheckInstallPath(Prompt& prompt, PatchContextList& list, std::size_t index);

}  // namespace veldmoor
