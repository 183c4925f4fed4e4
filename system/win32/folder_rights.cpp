#include "system/folder_rights.h"

// windows.h comes first: the other Windows headers build on it.
#include "system/win32/win32_support.h"

#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <string_view>
#include <vector>

#include "system/path.h"
#include "system/product.h"
#include "system/text_encoding.h"

namespace veldmoor {
namespace {

// The installation folder's own list: everyone may read and run, the users may change (not
// the rights themselves), administrators and the system may do everything; each entry passes
// to files and folders below. The list is not protected, so the folder also inherits.
constexpr wchar_t kFolderList[] =
    L"D:(A;OICI;0x1200a9;;;WD)(A;OICI;0x1301bf;;;BU)(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";
// Everything below holds no entry of its own and only inherits.
constexpr wchar_t kInheritOnlyList[] = L"D:";

struct LocalFreer {
    void operator()(void* memory) const { ::LocalFree(memory); }
};
using LocalMemory = std::unique_ptr<void, LocalFreer>;

bool IsDotEntry(std::wstring_view name) {
    return name == L"." || name == L"..";
}

// A full path with a drive ("C:\...") or a share ("\\server\share\..."), below the root, with
// no "." or ".." steps: the rights of nothing else are ever rewritten.
bool IsAcceptablePath(std::string_view folder) {
    std::size_t start = 0;
    if (folder.size() >= 3 && folder[1] == ':' && (folder[2] == '\\' || folder[2] == '/')) {
        start = 3;
    } else if (folder.starts_with("\\\\") && !folder.starts_with("\\\\?\\")) {
        start = 2;
    } else {
        return false;
    }
    bool hasName = false;
    while (start < folder.size()) {
        std::size_t end = folder.find_first_of("\\/", start);
        if (end == std::string_view::npos) {
            end = folder.size();
        }
        const std::string_view part = folder.substr(start, end - start);
        if (part == "." || part == "..") {
            return false;
        }
        hasName |= !part.empty();
        start = end + 1;
    }
    return hasName;
}

class Search {
public:
    explicit Search(const std::string& folder)
        : handle_(::FindFirstFileExW(win32::SystemPath(AppendPathComponent(folder, "*")).c_str(),
                                     FindExInfoBasic, &entry_, FindExSearchNameMatch, nullptr, 0)) {
    }
    ~Search() {
        if (Valid()) {
            ::FindClose(handle_);
        }
    }
    Search(const Search&) = delete;
    Search& operator=(const Search&) = delete;

    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    const WIN32_FIND_DATAW& Entry() const { return entry_; }
    bool Next() { return ::FindNextFileW(handle_, &entry_) != 0; }

private:
    WIN32_FIND_DATAW entry_{};
    HANDLE handle_;
};

bool LooksLikeGameFolder(const std::string& folder) {
    Search search(folder);
    if (!search.Valid()) {
        return false;
    }
    bool empty = true;
    do {
        const std::wstring_view name = search.Entry().cFileName;
        if (IsDotEntry(name)) {
            continue;
        }
        if (EqualsNoCase(NarrowText(name), kGameClientFileName)) {
            return true;
        }
        empty = false;
    } while (search.Next());
    return empty;
}

PACL ListOf(PSECURITY_DESCRIPTOR descriptor) {
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL list = nullptr;
    ::GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted);
    return list;
}

// The user of the desktop shell (else of this process): the owner given to an entry whose list
// cannot be changed otherwise, such as files an elevated run left behind.
std::vector<unsigned char> OwnerSid() {
    const win32::Handle shell = win32::ShellToken(TOKEN_QUERY);
    std::vector<unsigned char> sid =
        shell.Valid() ? win32::TokenUserSid(shell.Get()) : std::vector<unsigned char>();
    return sid.empty() ? win32::CurrentUserSid() : sid;
}

class RightsWriter {
public:
    bool Prepare() {
        PSECURITY_DESCRIPTOR folder = nullptr;
        PSECURITY_DESCRIPTOR below = nullptr;
        if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(kFolderList, SDDL_REVISION_1,
                                                                   &folder, nullptr) == 0 ||
            ::ConvertStringSecurityDescriptorToSecurityDescriptorW(
                kInheritOnlyList, SDDL_REVISION_1, &below, nullptr) == 0) {
            ::LocalFree(folder);
            return false;
        }
        folderList_.reset(folder);
        inheritOnly_.reset(below);
        return true;
    }

    bool ApplyToTop(const std::string& path) { return Apply(path, ListOf(folderList_.get())); }

    // Every entry below folder, depth first; links and junctions are neither followed nor
    // changed, and a file with a second name (a hard link) is left as it is, as that name may
    // lie outside.
    bool ApplyBelow(const std::string& folder) {
        Search search(folder);
        if (!search.Valid()) {
            return ::GetLastError() == ERROR_FILE_NOT_FOUND;
        }
        do {
            const WIN32_FIND_DATAW& entry = search.Entry();
            const std::wstring_view name = entry.cFileName;
            if (IsDotEntry(name) || (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
                continue;
            }
            const std::string path = AppendPathComponent(folder, NarrowText(name));
            const bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            if (!isFolder && HasSecondName(path)) {
                continue;
            }
            if (!Apply(path, ListOf(inheritOnly_.get())) || (isFolder && !ApplyBelow(path))) {
                return false;
            }
        } while (search.Next());
        return ::GetLastError() == ERROR_NO_MORE_FILES;
    }

private:
    static bool HasSecondName(const std::string& path) {
        const win32::Handle file(
            ::CreateFileW(win32::SystemPath(path).c_str(), FILE_READ_ATTRIBUTES,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        BY_HANDLE_FILE_INFORMATION information{};
        return file.Valid() && ::GetFileInformationByHandle(file.Get(), &information) != 0 &&
               information.nNumberOfLinks > 1;
    }

    bool Apply(const std::string& path, PACL list) {
        std::wstring name = win32::SystemPath(path);
        constexpr SECURITY_INFORMATION kList =
            DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION;
        if (::SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, kList, nullptr, nullptr, list,
                                    nullptr) == ERROR_SUCCESS) {
            return true;
        }
        // An entry whose list this process may not change (owned by someone else) is taken
        // over for the desktop user first, which administrators may do.
        if (!triedOwnership_) {
            triedOwnership_ = true;
            win32::EnablePrivilege(L"SeTakeOwnershipPrivilege");
            win32::EnablePrivilege(L"SeRestorePrivilege");
            owner_ = OwnerSid();
        }
        if (owner_.empty() ||
            ::SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                                    owner_.data(), nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            return false;
        }
        return ::SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, kList, nullptr, nullptr, list,
                                       nullptr) == ERROR_SUCCESS;
    }

    LocalMemory folderList_;
    LocalMemory inheritOnly_;
    bool triedOwnership_ = false;
    std::vector<unsigned char> owner_;
};

}  // namespace

bool HasFolderAccess(const std::string& folder, int desired) {
    const std::wstring path = win32::SystemPath(folder);
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return false;
    }
    constexpr SECURITY_INFORMATION kParts =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD size = 0;
    ::GetFileSecurityW(path.c_str(), kParts, nullptr, 0, &size);
    std::vector<unsigned char> descriptor(size);
    if (size == 0 ||
        ::GetFileSecurityW(path.c_str(), kParts, descriptor.data(), size, &size) == 0) {
        return false;
    }
    HANDLE token = nullptr;
    if (::OpenProcessToken(::GetCurrentProcess(),
                           TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_IMPERSONATE | STANDARD_RIGHTS_READ,
                           &token) == 0) {
        return false;
    }
    const win32::Handle processToken(token);
    HANDLE duplicate = nullptr;
    if (::DuplicateToken(token, SecurityImpersonation, &duplicate) == 0) {
        return false;
    }
    const win32::Handle impersonation(duplicate);
    GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                            FILE_ALL_ACCESS};
    DWORD access = FILE_READ_ATTRIBUTES;
    if ((desired & kFolderRead) != 0) {
        access |= GENERIC_READ;
    }
    if ((desired & kFolderWrite) != 0) {
        access |= GENERIC_WRITE;
    }
    if ((desired & kFolderExecute) != 0) {
        access |= GENERIC_EXECUTE;
    }
    ::MapGenericMask(&access, &mapping);
    PRIVILEGE_SET privileges{};
    DWORD privilegesSize = sizeof privileges;
    DWORD granted = 0;
    BOOL allowed = FALSE;
    return ::AccessCheck(descriptor.data(), impersonation.Get(), access, &mapping, &privileges,
                         &privilegesSize, &granted, &allowed) != 0 &&
           allowed != FALSE;
}

bool ResetFolderRights(const std::string& folder) {
    if (!IsAcceptablePath(folder)) {
        return false;
    }
    const DWORD attributes = ::GetFileAttributesW(win32::SystemPath(folder).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_SYSTEM)) != 0) {
        return false;
    }
    if (!LooksLikeGameFolder(folder)) {
        return false;
    }
    RightsWriter writer;
    return writer.Prepare() && writer.ApplyToTop(folder) && writer.ApplyBelow(folder);
}

}  // namespace veldmoor
