// What the helper copies of the test program do.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include "system/folder_lock.h"
#include "system/folders.h"
#include "system/single_instance.h"
#include "system/stop_signals.h"
#include "system/terminal.h"
#include "system/text_encoding.h"
#include "tests/system_win32/helper_process.h"

namespace veldmoor::test {
namespace {

void Say(const std::string& text) {
    std::fputs((text + "\n").c_str(), stdout);
    std::fflush(stdout);
}

// Writes its arguments and current folder, one to a line, to the file VELDMOOR_HELPER_OUT names.
int Record(const std::vector<std::string>& arguments) {
    std::vector<wchar_t> out(32768);
    const DWORD length = ::GetEnvironmentVariableW(L"VELDMOOR_HELPER_OUT", out.data(),
                                                   static_cast<DWORD>(out.size()));
    if (length == 0) {
        return 2;
    }
    std::string text = "cwd=" + CurrentDirectory() + "\n";
    for (const std::string& argument : arguments) {
        text += "arg=" + argument + "\n";
    }
    // Written beside and renamed, so that the test never reads half of it.
    const std::string target = NarrowText(std::wstring_view(out.data(), length));
    WriteFile(target + ".part", text);
    return ::MoveFileExW(WidenText(target + ".part").c_str(), WidenText(target).c_str(),
                         MOVEFILE_REPLACE_EXISTING) != 0
               ? 0
               : 3;
}

[[noreturn]] void WaitToBeEnded() {
    for (;;) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
}

}  // namespace

int RunHelperTask(const std::string& task, const std::vector<std::string>& arguments) {
    if (task == "record") {
        return Record(arguments);
    }
    if (task == "exit" && !arguments.empty()) {
        return std::atoi(arguments[0].c_str());
    }
    if (task == "sleep") {
        Say("sleeping");
        WaitToBeEnded();
    }
    if (task == "lock" && !arguments.empty()) {
        const Result<std::unique_ptr<FolderLock>> lock = FolderLock::TryLock(arguments[0]);
        if (!lock) {
            Say("refused: " + lock.Message());
            return 1;
        }
        Say("locked");
        WaitToBeEnded();
    }
    if (task == "terminal") {
        Say(StandardOutputIsTerminal() ? "terminal" : "no terminal");
        return 0;
    }
    if (task == "knock" && !arguments.empty()) {
        return KnockOnRunningDialog(arguments[0]) ? 0 : 1;
    }
    if (task == "stop") {
        // Started with a console of its own, which its own Ctrl+C reaches.
        CatchStopSignals();
        const bool twice = !arguments.empty() && arguments[0] == "twice";
        for (int request = 0; request < (twice ? 2 : 1); ++request) {
            if (::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) == 0) {
                return 3;
            }
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
            while (!StopSignalReceived() && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        if (twice) {
            // The second request ends the program from the system's own handler.
            std::this_thread::sleep_for(std::chrono::seconds(30));
            return 4;
        }
        return StopSignalExitStatus();
    }
    Say("unknown task " + task);
    return 100;
}

}  // namespace veldmoor::test
