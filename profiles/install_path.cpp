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

constexpr char kRegistryOfferText[] =
    "Es wurde eine UO Installation gefunden unter: %s\r\n\r\nSoll diese genutzt werden? Wenn "
    "nicht dann muss ein Ordner angegeben werden!";
constexpr char kChooseFolderText[] =
    "Gib einen Ordner an, in den das Spiel installiert werden soll.";
constexpr char kCreateFailedText[] = "Fehler! Der Ordner konnte nicht erstellt werden!";
constexpr char kLauncherFolderText[] =
    "Der von dir ausgewählte Zielpfad ist der Launcher-Pfad. Wir empfehlen für das Spiel "
    "einen anderen Pfad zu verwenden, da es sonst zu Problemen kommen kann.\r\n\r\n%s\r\n\r\n"
    "Möchtest du das Spiel dennoch in diesen Zielpfad installieren?";
constexpr char kLauncherFolderCaption[] = "Zielpfad ist Launcherpfad";
constexpr char kNotEmptyText[] =
    "Der von dir ausgewählte Zielpfad ist nicht leer!\r\n\r\n%s\r\n\r\nMöchtest du das Spiel "
    "dennoch in diesen Zielpfad installieren?";
constexpr char kNotEmptyCaption[] = "Zielpfad nicht leer";
constexpr char kTooLongText[] =
    "Der von dir ausgewählte Zielpfad ist zu lang (höchstens %n Zeichen):\r\n\r\n%s\r\n\r\n"
    "Bitte wähle einen kürzeren Pfad.";

// Puts value in place of the first placeholder (%s or %n) of a message template.
std::string Fill(std::string_view text, std::string_view placeholder, std::string_view value) {
    std::string out(text);
    const std::size_t at = out.find(placeholder);
    if (at != std::string::npos) {
        out.replace(at, placeholder.size(), value);
    }
    return out;
}

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

enum class Decision { Accept, Retry, GiveUp };

// Asks whether to take a folder despite a warning.
Decision Confirm(Prompt& prompt, BrowseMode mode, const std::string& text, const char* caption) {
    const PromptButtons buttons =
        mode == BrowseMode::MainDialog ? PromptButtons::YesNoCancel : PromptButtons::YesNo;
    switch (prompt.ShowMessage(text, caption, buttons, PromptIcon::Information)) {
        case PromptAnswer::Yes:
            return Decision::Accept;
        case PromptAnswer::No:
            return mode == BrowseMode::MainDialog ? Decision::Retry : Decision::GiveUp;
        default:
            return Decision::GiveUp;
    }
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

std::optional<std::string> BrowseForTargetFolder(Prompt& prompt, BrowseMode mode,
                                                 const std::string& startFolder) {
    const std::string start = IsDirectory(startFolder) ? startFolder : SuggestedGamesFolder();
    for (;;) {
        const std::optional<std::string> chosen = prompt.PickFolder(kPickInstallFolderTitle, start);
        if (!chosen || chosen->empty()) {
            return std::nullopt;
        }
        const std::string& path = *chosen;
        if (path.size() > kInstallFolderMaxLength) {
            prompt.ShowMessage(
                Fill(Fill(kTooLongText, "%n", std::to_string(kInstallFolderMaxLength)), "%s", path),
                "", PromptButtons::Ok, PromptIcon::Error);
            if (mode == BrowseMode::MainDialog) {
                continue;
            }
            return std::nullopt;
        }
        if (path == CurrentDirectory()) {
            const Decision decision = Confirm(prompt, mode, Fill(kLauncherFolderText, "%s", path),
                                              kLauncherFolderCaption);
            if (decision == Decision::Accept) {
                return path;
            }
            if (decision == Decision::Retry) {
                continue;
            }
            return std::nullopt;
        }
        if (IsEmptyOrInstallation(path)) {
            return path;
        }
        const Decision decision =
            Confirm(prompt, mode, Fill(kNotEmptyText, "%s", path), kNotEmptyCaption);
        if (decision == Decision::Accept) {
            return path;
        }
        if (decision == Decision::Retry) {
            continue;
        }
        return std::nullopt;
    }
}

bool AcquireInstallPath(Prompt& prompt, PatchContext& profile, bool offerRegistry) {
    std::optional<std::string> folder;
    bool asked = false;
    if (offerRegistry) {
        if (const std::optional<std::string> found = RegistryInstallFolder()) {
            asked = true;
            if (prompt.ShowMessage(Fill(kRegistryOfferText, "%s", *found), "", PromptButtons::YesNo,
                                   PromptIcon::None) == PromptAnswer::Yes) {
                folder = found;
            }
        }
    }
    if (!asked) {
        prompt.ShowMessage(kChooseFolderText, kProductName, PromptButtons::Ok, PromptIcon::None);
    }
    if (!folder) {
        folder = BrowseForTargetFolder(prompt, BrowseMode::MainDialog);
        if (!folder) {
            return false;
        }
        std::error_code error;
        if (!std::filesystem::is_directory(PathFromUtf8(*folder), error) &&
            !std::filesystem::create_directory(PathFromUtf8(*folder), error)) {
            prompt.ShowMessage(kCreateFailedText, "", PromptButtons::Ok, PromptIcon::Error);
            return false;
        }
    }
    profile.PatchPath = *folder;
    profile.ExecuteAfterPatch = AppendPathComponent(*folder, kGameClientFileName);
    return true;
}

bool CheckInstallPath(Prompt& prompt, PatchContextList& list, std::size_t index) {
    const PatchContext* profile = list.At(index);
    if (profile == nullptr) {
        return false;
    }
    if (IsDirectory(profile->PatchPath)) {
        return true;
    }
    const std::size_t defaultIndex = EnsureDefaultProfile(list);
    // EnsureDefaultProfile may have appended and moved the records: look the profile up again.
    return AcquireInstallPath(prompt, *list.At(index), index == defaultIndex);
}

}  // namespace veldmoor
