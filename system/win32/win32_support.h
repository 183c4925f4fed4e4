// What the Windows implementation shares: text and paths at the Win32 calls, error texts, owned
// handles, file times and command lines. Only files of this folder include it.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace veldmoor::win32 {

// The wide form of a UTF-8 path for a Win32 call. A path too long for the classic limit is made
// absolute and given the \\?\ prefix, under which the calls take up to 32767 characters.
std::wstring SystemPath(const std::string& path);

// The system's description of an error code, in UTF-8, with the code itself.
std::string ErrorText(DWORD code);

// An environment variable's value in UTF-8; empty when it is not set.
std::string EnvironmentValue(const wchar_t* name);

// A kernel handle that is closed when the object goes.
class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() { Reset(); }
    Handle(Handle&& other) noexcept : handle_(other.Release()) {}
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    HANDLE Get() const { return handle_; }
    bool Valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Release() {
        HANDLE handle = handle_;
        handle_ = nullptr;
        return handle;
    }
    void Reset(HANDLE handle = nullptr) {
        if (Valid()) {
            ::CloseHandle(handle_);
        }
        handle_ = handle;
    }

private:
    HANDLE handle_ = nullptr;
};

// Whole seconds since 1970 (rounded towards minus infinity) and back.
std::int64_t SecondsFromFileTime(const FILETIME& time);
FILETIME FileTimeFromSeconds(std::int64_t secondsSince1970);

// A command line that the C runtime's argument parsing (CommandLineToArgvW) splits back into
// exactly program and arguments, blanks, quotes and backslashes included.
std::wstring CommandLineOf(const std::string& program, const std::vector<std::string>& arguments);

// The process id of the desktop shell (the owner of the shell's window); 0 when there is none.
DWORD ShellProcessId();

// The desktop shell's token opened with access; empty without a shell or the right to open it.
Handle ShellToken(DWORD access);

// The user SID of a token, copied; empty when it cannot be read.
std::vector<unsigned char> TokenUserSid(HANDLE token);

// The user SID of this process.
std::vector<unsigned char> CurrentUserSid();

// Enables one privilege this process's token holds; one it does not hold stays missing.
void EnablePrivilege(const wchar_t* name);

}  // namespace veldmoor::win32
