#include "tests/system_win32/helper_process.h"

#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "system/text_encoding.h"

namespace veldmoor::test {
namespace {

std::wstring Quoted(const std::string& argument) {
    // The helpers' arguments hold no quotes of their own, only blanks.
    return L"\"" + WidenText(argument) + L"\"";
}

void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW entry{};
    const HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            const std::wstring path = folder + L"\\" + name;
            ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
                RemoveTree(path);
            } else if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                ::RemoveDirectoryW(path.c_str());
            } else {
                ::DeleteFileW(path.c_str());
            }
        } while (::FindNextFileW(search, &entry) != 0);
        ::FindClose(search);
    }
    ::RemoveDirectoryW(folder.c_str());
}

}  // namespace

ScopedVariable::ScopedVariable(const wchar_t* name, const std::string& value) : name_(name) {
    std::vector<wchar_t> old(32768);
    const DWORD length =
        ::GetEnvironmentVariableW(name, old.data(), static_cast<DWORD>(old.size()));
    had_ = length > 0;
    old_.assign(old.data(), length);
    ::SetEnvironmentVariableW(name, WidenText(value).c_str());
}

ScopedVariable::~ScopedVariable() {
    ::SetEnvironmentVariableW(name_.c_str(), had_ ? old_.c_str() : nullptr);
}

HelperProcess::HelperProcess(const std::string& task, const std::vector<std::string>& arguments,
                             DWORD creationFlags) {
    const ScopedVariable helper(kHelperVariable, task);
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE writeEnd = nullptr;
    if (::CreatePipe(&output_pipe_, &writeEnd, &inheritable, 0) == 0) {
        return;
    }
    ::SetHandleInformation(output_pipe_, HANDLE_FLAG_INHERIT, 0);
    std::wstring line = Quoted(TestProgram());
    for (const std::string& argument : arguments) {
        line += L" " + Quoted(argument);
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION started{};
    const std::wstring program = WidenText(TestProgram());
    if (::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, creationFlags,
                         nullptr, nullptr, &startup, &started) != 0) {
        ::CloseHandle(started.hThread);
        process_ = started.hProcess;
        id_ = started.dwProcessId;
    }
    ::CloseHandle(writeEnd);
}

HelperProcess::~HelperProcess() {
    Kill();
    if (process_ != nullptr) {
        ::CloseHandle(process_);
    }
    if (output_pipe_ != nullptr) {
        ::CloseHandle(output_pipe_);
    }
}

bool HelperProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (output_.find(text) == std::string::npos) {
        DWORD available = 0;
        if (::PeekNamedPipe(output_pipe_, nullptr, 0, nullptr, &available, nullptr) == 0) {
            return false;  // the helper ended and its output is read
        }
        if (available > 0) {
            std::string block(available, '\0');
            DWORD got = 0;
            if (::ReadFile(output_pipe_, block.data(), available, &got, nullptr) == 0) {
                return false;
            }
            output_.append(block.data(), got);
            continue;
        }
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

int HelperProcess::WaitForExit(std::chrono::milliseconds deadline) {
    if (process_ == nullptr ||
        ::WaitForSingleObject(process_, static_cast<DWORD>(deadline.count())) != WAIT_OBJECT_0) {
        return -1;
    }
    WaitForOutput("\x01", std::chrono::milliseconds(0));  // collects what is left
    DWORD code = 0;
    ::GetExitCodeProcess(process_, &code);
    return static_cast<int>(code);
}

void HelperProcess::Kill() {
    if (process_ != nullptr && ::WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
        ::TerminateProcess(process_, 99);
        ::WaitForSingleObject(process_, 10000);
    }
}

std::string TestProgram() {
    std::vector<wchar_t> path(32768);
    const DWORD length =
        ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    return NarrowText(std::wstring_view(path.data(), length));
}

TempFolder::TempFolder() {
    std::vector<wchar_t> temporary(MAX_PATH + 1);
    const DWORD length = ::GetTempPathW(static_cast<DWORD>(temporary.size()), temporary.data());
    std::random_device random;
    for (;;) {
        path_ = NarrowText(std::wstring_view(temporary.data(), length)) + "veldmoor-w32-" +
                std::to_string(random());
        if (::CreateDirectoryW(WidenText(path_).c_str(), nullptr) != 0) {
            return;
        }
    }
}

TempFolder::~TempFolder() {
    RemoveTree(WidenText(path_));
}

void WriteFile(const std::string& path, const std::string& bytes) {
    const HANDLE file = ::CreateFileW(WidenText(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
    ASSERT_EQ(written, bytes.size()) << path;
}

std::string ReadFile(const std::string& path) {
    const HANDLE file =
        ::CreateFileW(WidenText(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return "<missing>";
    }
    std::string bytes;
    char block[4096];
    DWORD got = 0;
    while (::ReadFile(file, block, sizeof block, &got, nullptr) != 0 && got > 0) {
        bytes.append(block, got);
    }
    ::CloseHandle(file);
    return bytes;
}

}  // namespace veldmoor::test
