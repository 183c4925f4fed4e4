// The test program, or one of its helpers when VELDMOOR_HELPER names a task.
// windows.h (through the helper's header) comes first: shellapi.h builds on it.
#include "tests/system_win32/helper_process.h"

#include <gtest/gtest.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "system/text_encoding.h"

int main(int argc, char** argv) {
    std::vector<wchar_t> task(256);
    const DWORD length = ::GetEnvironmentVariableW(veldmoor::test::kHelperVariable, task.data(),
                                                   static_cast<DWORD>(task.size()));
    if (length > 0 && length < task.size()) {
        int count = 0;
        wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
        std::vector<std::string> arguments;
        for (int i = 1; i < count; ++i) {
            arguments.push_back(veldmoor::NarrowText(wide[i]));
        }
        ::LocalFree(wide);
        // The helper's own helpers would otherwise run its task again.
        ::SetEnvironmentVariableW(veldmoor::test::kHelperVariable, nullptr);
        return veldmoor::test::RunHelperTask(
            veldmoor::NarrowText(std::wstring_view(task.data(), length)), arguments);
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
