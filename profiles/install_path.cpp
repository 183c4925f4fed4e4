#include "profiles/install_path.h"

#include <filesystem>
#include <system_error>

#include "profiles/repo_migration.h"
#include "system/folders.h"
#include "system/path.h"
#include "system/registry.h"
#include "system/text_encoding.h"

namespace veldmoor {
namespace {

bool IsDirectory(const std::string& path) {
    std::error_code ignored;
    return !path.empty() && std::filesystem::is_directory(PathFromUtf8(path), ignored);
}

// Empty, missing, or an existing installation (client.exe is a file there).
bool IsEmptyOrInstallation(const std::string& folder) {
    std::error_code error;
    if (std::filesystem::is_regular_file(
            PathFromUtf8(AppendPathComponent(folder, kGameClientFileName)), error)) {
        return true;
    }
    if (!std::filesystem::exists(PathFromUtf8(folder), error)) {
        return !error;
    }
    std::filesystem::directory_iterator entries(PathFromUtf8(folder), error);
    return !error && entries == std::filesystem::directory_iterator();
}

// The installation folder the registry records, when it is an existing folder that fits.
std::optional<std::string> RegistryInstallFolder() {
    const std::optional<std::string> exePath = ReadExePath();
    if (!exePath) {
        return std::nullopt;
    }
    const std::string folder = DirectoryOf(*exePath);
    if (folder.empty() || folder.size() > kInstallFolderMaxLength || !IsDirectory(folder)) {
        return std::nullopt;
    }
    return folder;
}

}  // namespace

std::optional<std::string> BrowseForTargetFolder(InstallFolderQuestions& questions, BrowseMode mode,
                                                 const std::string& startFolder) {
    const std::string start = IsDirectory(startFolder) ? startFolder : SuggestedGamesFolder();
    for (;;) {
        const std::optional<std::string> chosen = questions.PickFolder(start);
        if (!chosen || chosen->empty()) {
            return std::nullopt;
        }
        const std::string& path = *chosen;
        FolderDecision decision = FolderDecision::Take;
        if (path.size() > kInstallFolderMaxLength) {
            questions.FolderTooLong(path, kInstallFolderMaxLength);
            decision =
                mode == BrowseMode::MainDialog ? FolderDecision::PickAgain : FolderDecision::GiveUp;
        } else if (path == CurrentDirectory()) {
            decision = questions.TakeLauncherFolder(path, mode);
        } else if (!IsEmptyOrInstallation(path)) {
            decision = questions.TakeFolderNotEmpty(path, mode);
        }
        if (decision == FolderDecision::Take) {
            return path;
        }
        // The editor offers no second pick, whatever the answer claims.
        if (decision == FolderDecision::GiveUp || mode == BrowseMode::Editor) {
            return std::nullopt;
        }
    }
}

bool AcquireInstallPath(InstallFolderQuestions& questions, PatchContext& profile,
                        bool offerRegistry) {
    std::optional<std::string> folder;
    bool asked = false;
    if (offerRegistry) {
        if (const std::optional<std::string> found = RegistryInstallFolder()) {
            asked = true;
            if (questions.UseRegistryInstallation(*found)) {
                folder = found;
            }
        }
    }
    if (!asked) {
        questions.ChooseFolderNext();
    }
    if (!folder) {
        folder = BrowseForTargetFolder(questions, BrowseMode::MainDialog);
        if (!folder) {
            return false;
        }
        std::error_code error;
        if (!std::filesystem::is_directory(PathFromUtf8(*folder), error) &&
            !std::filesystem::create_directory(PathFromUtf8(*folder), error)) {
            questions.FolderNotCreated();
            return false;
        }
    }
    profile.PatchPath = *folder;
    profile.ExecuteAfterPatch = AppendPathComponent(*folder, kGameClientFileName);
    return true;
}

bool CheckInstallPath(InstallFolderQuestions& questions, PatchContextList& list,
                      std::size_t index) {
    const PatchContext* profile = list.At(index);
    if (profile == nullptr) {
        return false;
    }
    if (IsDirectory(profile->PatchPath)) {
        return true;
    }
    const std::size_t defaultIndex = EnsureDefaultProfile(list);
    // EnsureDefaultProfile may have appended and moved the records: look the profile up again.
    return AcquireInstallPath(questions, *list.At(index), index == defaultIndex);
}

}  // namespace veldmoor
