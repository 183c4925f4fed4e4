#include "system/folder_entries.h"

#include <string_view>

#include "system/path.h"
#include "system/text_encoding.h"
#include "system/win32/win32_support.h"

namespace veldmoor {

std::vector<std::string> FolderEntryNames(const std::string& folder) {
    std::vector<std::string> names;
    const std::wstring pattern =
        win32::SystemPath(AppendPathComponent(folder.empty() ? std::string(".") : folder, "*"));
    WIN32_FIND_DATAW entry{};
    const HANDLE search = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry,
                                             FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        const std::wstring_view name = entry.cFileName;
        if (name != L"." && name != L"..") {
            names.push_back(NarrowText(name));
        }
    } while (::FindNextFileW(search, &entry) != 0);
    ::FindClose(search);
    return names;
}

}  // namespace veldmoor
