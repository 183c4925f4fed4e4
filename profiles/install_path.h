// Finding a game installation folder for a profile: the game's own registry entry is offered
// first, else the person picks a folder, which is checked so the game does not land in the
// launcher's folder or in a folder already holding other files. Nothing here opens a window or
// words a text: what needs the person goes through InstallFolderQuestions, which the window
// layer words (ui/profile_questions.h).
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "profiles/patch_context.h"
#include "profiles/patch_context_list.h"
#include "system/product.h"

namespace veldmoor {

// Longest installation folder a profile can hold: the folder plus the separator and
// "client.exe" must fit the 259 characters of ExecuteAfterPatch, or the program to start
// would be cut to a wrong path.
inline constexpr std::size_t kInstallFolderMaxLength =
    kProfilePathLimit - 1 - (sizeof kGameClientFileName - 1);

// MainDialog: a warned folder may be taken, picked again or given up. Editor: taken or given up.
enum class BrowseMode { MainDialog, Editor };

// What the person decides about a folder they were warned about.
enum class FolderDecision { Take, PickAgain, GiveUp };

// What finding an installation folder tells the person or asks them, as values.
class InstallFolderQuestions {
public:
    virtual ~InstallFolderQuestions() = default;
    // The registry records an installation in `folder`: true to use it.
    virtual bool UseRegistryInstallation(const std::string& folder) = 0;
    // There is no installation to offer: the person is told that a folder is to be picked.
    virtual void ChooseFolderNext() = 0;
    // The folder picker, opening at `startFolder`; none when the person cancels.
    virtual std::optional<std::string> PickFolder(const std::string& startFolder) = 0;
    // `path` is longer than `maxLength` characters and is refused.
    virtual void FolderTooLong(const std::string& path, std::size_t maxLength) = 0;
    // `path` is the launcher's own folder. PickAgain only in BrowseMode::MainDialog.
    virtual FolderDecision TakeLauncherFolder(const std::string& path, BrowseMode mode) = 0;
    // `path` holds files and is no installation. PickAgain only in BrowseMode::MainDialog.
    virtual FolderDecision TakeFolderNotEmpty(const std::string& path, BrowseMode mode) = 0;
    // The picked folder did not exist and could not be created.
    virtual void FolderNotCreated() = 0;
};

// Lets the person pick (or make) a folder, starting at `startFolder` when that is an existing
// folder (the profile's present installation) and else at the platform's games or home folder,
// and checks it: the launcher's own folder (the current
// directory) and a folder that is neither empty nor an installation (holding client.exe) are
// only taken when the person confirms. A folder too long for a profile is refused with a
// message. None when the person cancels or gives up.
std::optional<std::string> BrowseForTargetFolder(InstallFolderQuestions& questions, BrowseMode mode,
                                                 const std::string& startFolder = {});

// Sets the profile's PatchPath and ExecuteAfterPatch (folder + client.exe) from the registry's
// installation (when offerRegistry and the person agrees) or from a picked folder, which is
// created (one level) when missing. False when the person cancels or the folder cannot be
// created; the profile is then unchanged. Does not save the list.
bool AcquireInstallPath(InstallFolderQuestions& questions, PatchContext& profile,
                        bool offerRegistry);

// Whether the profile at index may become the current one: true when its PatchPath is an
// existing folder, else the result of AcquireInstallPath (offering the registry's installation
// only to the default profile). May append the default profile; index stays valid.
bool CheckInstallPath(InstallFolderQuestions& questions, PatchContextList& list, std::size_t index);

}  // namespace veldmoor
