#include "system/private_directory.h"

// windows.h comes first: the other Windows headers build on it.
#include "system/win32/win32_support.h"

#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <vector>

namespace veldmoor {
namespace {

struct LocalFreer {
    void operator()(void* memory) const { ::LocalFree(memory); }
};

}  // namespace

bool EnsurePrivateDirectory(const std::string& folder) {
    if (folder.empty()) {
        return false;
    }
    const std::vector<unsigned char> user = win32::CurrentUserSid();
    if (user.empty()) {
        return false;
    }
    const std::wstring path = win32::SystemPath(folder);
    if (::CreateDirectoryW(path.c_str(), nullptr) == 0 &&
        ::GetLastError() != ERROR_ALREADY_EXISTS) {
        return false;
    }
    // The folder itself, never what a link or junction planted at its name leads to.
    const win32::Handle handle(::CreateFileW(
        path.c_str(), READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    if (!handle.Valid() || ::GetFileInformationByHandle(handle.Get(), &information) == 0 ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return false;
    }
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(handle.Get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                          nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    const std::unique_ptr<void, LocalFreer> descriptorOwner(descriptor);
    if (owner == nullptr || ::EqualSid(owner, const_cast<unsigned char*>(user.data())) == 0) {
        return false;
    }
    // This user, the system and the administrators only, not inherited from the shared folder.
    wchar_t* userText = nullptr;
    if (::ConvertSidToStringSidW(const_cast<unsigned char*>(user.data()), &userText) == 0) {
        return false;
    }
    const std::wstring sddl =
        L"D:P(A;OICI;FA;;;" + std::wstring(userText) + L")(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
    ::LocalFree(userText);
    PSECURITY_DESCRIPTOR wanted = nullptr;
    if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                               &wanted, nullptr) == 0) {
        return false;
    }
    const std::unique_ptr<void, LocalFreer> wantedOwner(wanted);
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL list = nullptr;
    ::GetSecurityDescriptorDacl(wanted, &present, &list, &defaulted);
    return ::SetSecurityInfo(handle.Get(), SE_FILE_OBJECT,
                             DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                             nullptr, nullptr, list, nullptr) == ERROR_SUCCESS;
}

}  // namespace veldmoor
