#include "system/folders.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <vector>

#include "system/path.h"
#include "system/process_launch.h"

namespace veldmoor {
namespace {

std::string EnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

std::string WithoutTrailingSeparators(std::string path) {
    while (path.size() > 1 && path.back() == kPathSeparator) {
        path.pop_back();
    }
    return path;
}

// Reads XDG_DOCUMENTS_DIR="$HOME/..." from user-dirs.dirs in configHome, the file xdg-user-dirs
// maintains.
std::string DocumentsFromUserDirs(std::string configHome, const std::string& home) {
    if (configHome.empty()) {
        if (home.empty()) {
            return {};
        }
        configHome = AppendPathComponent(home, ".config");
    }
    std::ifstream file(AppendPathComponent(configHome, "user-dirs.dirs"));
    constexpr std::string_view kKey = "XDG_DOCUMENTS_DIR=";
    std::string line;
    while (std::getline(file, line)) {
        if (line.rfind(kKey, 0) != 0) {
            continue;
        }
        std::string value = line.substr(kKey.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        constexpr std::string_view kHome = "$HOME";
        if (value.rfind(kHome, 0) == 0) {
            if (home.empty()) {
                return {};
            }
            value.replace(0, kHome.size(), home);
        }
        // A value that names the home folder itself means "no Documents folder configured".
        if (value.empty() || value.front() != '/' ||
            WithoutTrailingSeparators(value) == WithoutTrailingSeparators(home)) {
            return {};
        }
        return WithoutTrailingSeparators(value);
    }
    return {};
}

}  // namespace

std::string TemporaryDirectory() {
    std::string folder = EnvironmentValue("TMPDIR");
    if (folder.empty()) {
        folder = "/tmp";
    }
    if (folder.back() != kPathSeparator) {
        folder.push_back(kPathSeparator);
    }
    return folder;
}

std::string UserTemporaryFolder(const std::string& prefix) {
    return AppendPathComponent(TemporaryDirectory(), prefix + "-" + std::to_string(getuid()));
}

std::string CurrentDirectory() {
    std::vector<char> buffer(4096);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) {
            return {};
        }
        buffer.resize(buffer.size() * 2);
    }
    return std::string(buffer.data());
}

bool ChangeCurrentFolder(const std::string& folder) {
    return !folder.empty() && chdir(folder.c_str()) == 0;
}

std::string DocumentsFolder() {
    std::string overridden = EnvironmentValue("VELDMOOR_DOCUMENTS_DIR");
    if (!overridden.empty()) {
        return WithoutTrailingSeparators(overridden);
    }
    std::string fromEnvironment = EnvironmentValue("XDG_DOCUMENTS_DIR");
    if (!fromEnvironment.empty()) {
        return WithoutTrailingSeparators(fromEnvironment);
    }
    const std::string home = EnvironmentValue("HOME");
    std::string fromUserDirs = DocumentsFromUserDirs(EnvironmentValue("XDG_CONFIG_HOME"), home);
    if (!fromUserDirs.empty()) {
        return fromUserDirs;
    }
    if (home.empty()) {
        return {};
    }
    return AppendPathComponent(WithoutTrailingSeparators(home), "Documents");
}

std::string DocumentsFolderOfHome(const std::string& home) {
    if (home.empty()) {
        return {};
    }
    std::string fromUserDirs = DocumentsFromUserDirs({}, home);
    if (!fromUserDirs.empty()) {
        return fromUserDirs;
    }
    return AppendPathComponent(WithoutTrailingSeparators(home), "Documents");
}

std::string DesktopUserDocumentsFolder() {
    if (std::getenv("VELDMOOR_DOCUMENTS_DIR") == nullptr) {
        const std::optional<DesktopUser> user = FindDesktopUser();
        if (user && user->uid != geteuid() && !user->home.empty()) {
            return DocumentsFolderOfHome(user->home);
        }
    }
    return DocumentsFolder();
}

std::string SuggestedGamesFolder() {
    const std::string home = WithoutTrailingSeparators(EnvironmentValue("HOME"));
    if (home.empty()) {
        return {};
    }
    const std::string games = AppendPathComponent(home, "Games");
    std::error_code ignored;
    return std::filesystem::is_directory(games, ignored) ? games : home;
}

std::string UserDataFolder() {
    std::string dataHome = WithoutTrailingSeparators(EnvironmentValue("XDG_DATA_HOME"));
    // A relative value is invalid by the XDG rules and is ignored.
    if (dataHome.empty() || dataHome.front() != '/') {
        const std::string home = WithoutTrailingSeparators(EnvironmentValue("HOME"));
        if (home.empty()) {
            return {};
        }
        dataHome = AppendPathComponent(AppendPathComponent(home, ".local"), "share");
    }
    return AppendPathComponent(dataHome, "veldmoor-launcher");
}

std::string ProgramFilePath() {
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) {
            return {};
        }
        if (static_cast<std::size_t>(length) < buffer.size()) {
            return std::string(buffer.data(), static_cast<std::size_t>(length));
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::string LauncherFolder() {
    return DirectoryOf(ProgramFilePath());
}

}  // namespace veldmoor
