#include "system/repair.h"

#include <ctime>
#include <filesystem>
#include <system_error>

#include "system/folders.h"
#include "system/path.h"
#include "system/product.h"
#include "system/text_encoding.h"

namespace veldmoor {
namespace {

// The client's files in the installation that the settings repair removes.
constexpr const char* kClientFilesToRemove[] = {kGameSettingsFileName};

bool Exists(const std::string& path) {
    std::error_code error;
    return std::filesystem::symlink_status(PathFromUtf8(path), error).type() !=
           std::filesystem::file_type::not_found;
}

bool IsDirectory(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_directory(PathFromUtf8(path), error);
}

// Deletes one file. A folder of that name is not the client's file and is left alone.
bool DeleteClientFile(const std::string& path) {
    std::error_code error;
    if (std::filesystem::symlink_status(PathFromUtf8(path), error).type() ==
        std::filesystem::file_type::directory) {
        return false;
    }
    return std::filesystem::remove(PathFromUtf8(path), error) || !Exists(path);
}

}  // namespace

std::string ClientSettingsFolder() {
    const std::string documents = DesktopUserDocumentsFolder();
    if (documents.empty()) {
        return {};
    }
    return AppendPathComponent(AppendPathComponent(documents, "Veldmoor"), "Einstellungen");
}

std::string SettingsBackupName(const std::string& settingsFolder, long long secondsSince1970) {
    const std::string name = settingsFolder + "_" + std::to_string(secondsSince1970);
    std::string candidate = name;
    for (int suffix = 2; Exists(candidate); ++suffix) {
        candidate = name + "_" + std::to_string(suffix);
    }
    return candidate;
}

void RemoveClientSettings(const std::string& folder, RepairQuestions& questions) {
    const std::string settings = ClientSettingsFolder();
    if (settings.empty() || !IsDirectory(settings)) {
        return;
    }
    const std::string backup =
        SettingsBackupName(settings, static_cast<long long>(std::time(nullptr)));
    for (;;) {
        std::error_code error;
        std::filesystem::rename(PathFromUtf8(settings), PathFromUtf8(backup), error);
        if (!error) {
            break;
        }
        if (!questions.RetrySettingsRemoval({})) {
            return;
        }
    }

    for (const char* name : kClientFilesToRemove) {
        const std::string path = AppendPathComponent(folder, name);
        while (Exists(path) && !DeleteClientFile(path)) {
            if (!questions.RetrySettingsRemoval(name)) {
                return;
            }
        }
    }
}

bool RunRepairActions(const RepairRequest& request, RepairOperations& operations,
                      RepairQuestions& questions) {
    const std::string client = AppendPathComponent(request.folder, kGameClientFileName);
    const auto registryNotWritten = [&] {
        questions.RegistryNotWritten(client);
        return false;
    };
    if (request.folder.empty() || !IsDirectory(request.folder) ||
        !operations.HasFolderAccess(request.folder)) {
        return request.registry ? registryNotWritten() : true;
    }
    bool done = true;
    if (request.registry && !operations.WriteExePath(client).Ok()) {
        done = registryNotWritten();
    }
    if (request.rights) {
        operations.ResetFolderRights(request.folder);
    }
    if (request.settings) {
        RemoveClientSettings(request.folder, questions);
    }
    return done;
}

}  // namespace veldmoor
