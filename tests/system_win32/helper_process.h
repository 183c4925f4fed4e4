// Copies of the test program run as helpers: VELDMOOR_HELPER in their environment names the
// task (main.cpp), their arguments its details.
#pragma once

#include <windows.h>

#include <chrono>
#include <string>
#include <vector>

namespace veldmoor::test {

inline constexpr wchar_t kHelperVariable[] = L"VELDMOOR_HELPER";

// Runs the task named in the environment; the exit code. Called by main when the variable is set.
int RunHelperTask(const std::string& task, const std::vector<std::string>& arguments);

// Sets an environment variable for this process and the processes it starts, until the object
// goes.
class ScopedVariable {
public:
    ScopedVariable(const wchar_t* name, const std::string& value);
    ~ScopedVariable();
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    std::wstring name_;
    std::wstring old_;
    bool had_ = false;
};

// A helper started with its standard output on a pipe; ended when the object goes.
class HelperProcess {
public:
    HelperProcess(const std::string& task, const std::vector<std::string>& arguments,
                  DWORD creationFlags = 0);
    ~HelperProcess();
    HelperProcess(const HelperProcess&) = delete;
    HelperProcess& operator=(const HelperProcess&) = delete;

    bool Started() const { return process_ != nullptr; }
    DWORD Id() const { return id_; }
    HANDLE Handle() const { return process_; }
    // Reads the output until it holds `text` or the deadline passes.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds deadline);
    // Waits for the end; the exit code, or -1 when it still runs after the deadline.
    int WaitForExit(std::chrono::milliseconds deadline);
    void Kill();
    const std::string& Output() const { return output_; }

private:
    HANDLE process_ = nullptr;
    HANDLE output_pipe_ = nullptr;
    DWORD id_ = 0;
    std::string output_;
};

// The path of the running test program.
std::string TestProgram();

// A fresh folder under the temporary directory, removed with everything in it when the object
// goes.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);

}  // namespace veldmoor::test
