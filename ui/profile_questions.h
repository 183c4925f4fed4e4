// The profile store's questions (profiles/install_path.h, profiles/profile_save.h) worded for
// the person and shown through a Prompt: by the main dialog, the profile editor and start-up.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "profiles/install_path.h"
#include "profiles/patch_context_list.h"
#include "profiles/profile_save.h"
#include "system/prompt.h"

namespace veldmoor {

class PromptInstallFolderQuestions : public InstallFolderQuestions {
public:
    explicit PromptInstallFolderQuestions(Prompt& prompt) : prompt_(prompt) {}

    // Yes/No, no icon; true on Yes.
    bool UseRegistryInstallation(const std::string& folder) override;
    // OK, no icon, the product's name as caption.
    void ChooseFolderNext() override;
    std::optional<std::string> PickFolder(const std::string& startFolder) override;
    // An error box with OK.
    void FolderTooLong(const std::string& path, std::size_t maxLength) override;
    // Yes (take), No (pick again) and Cancel in the main dialog; Yes and No (give up) in the
    // editor. An information icon.
    FolderDecision TakeLauncherFolder(const std::string& path, BrowseMode mode) override;
    FolderDecision TakeFolderNotEmpty(const std::string& path, BrowseMode mode) override;
    // An error box with OK.
    void FolderNotCreated() override;

private:
    Prompt& prompt_;
};

class PromptProfileSaveNotice : public ProfileSaveNotice {
public:
    explicit PromptProfileSaveNotice(Prompt& prompt) : prompt_(prompt) {}

    // A warning box with OK: the file, the reason and what to try.
    void ProfilesNotSaved(const std::string& file, const std::string& reason) override;

private:
    Prompt& prompt_;
};

// The profile store's steps with their questions shown through prompt.
std::optional<std::string> BrowseForTargetFolder(Prompt& prompt, BrowseMode mode,
                                                 const std::string& startFolder = {});
bool AcquireInstallPath(Prompt& prompt, PatchContext& profile, bool offerRegistry);
bool CheckInstallPath(Prompt& prompt, PatchContextList& list, std::size_t index);
bool SaveProfilesOrTell(PatchContextList& list, Prompt& prompt);
std::optional<std::size_t> ImportContextsOrTell(PatchContextList& list, Prompt& prompt);
std::optional<std::size_t> PrepareProfilesAtStartup(PatchContextList& list, Prompt& prompt);

}  // namespace veldmoor
