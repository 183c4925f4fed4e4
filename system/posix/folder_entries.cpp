#include "system/folder_entries.h"

#include <dirent.h>

#include <memory>
#include <string_view>

namespace veldmoor {

std::vector<std::string> FolderEntryNames(const std::string& folder) {
    std::vector<std::string> names;
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.empty() ? "." : folder.c_str()),
                                                  closedir);
    if (!dir)
        return names;
    while (const dirent* entry = readdir(dir.get())) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..")
            names.emplace_back(name);
    }
    return names;
}

}  // namespace veldmoor
