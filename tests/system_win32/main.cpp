// The test program, or one of its helpers when VELDMOOR_HELPER names a task.
#include "tests/system_win32/helper_process.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "system/command_line.h"
#include "system/text_encoding.h"

int main(int argc, char** argv) {
    std::vector<wchar_t> task(256);
    const DWORD length = ::GetEnvironmentVariableW(veldmoor::test::kHelperVariable, task.data(),
                                                   static_cast<DWORD>(task.size()));
    if (length > 0 && length < task.size()) {
        // The arguments as the programs read them, so the tests that pass text beyond ASCII to a
        // helper check that reading too.
        std::vector<std::string> arguments = veldmoor::CommandLineArguments(argc, argv);
        if (!arguments.empty()) {
            arguments.erase(arguments.begin());
        }
        // The helper's own helpers would otherwise run its task again.
        ::SetEnvironmentVariableW(veldmoor::test::kHelperVariable, nullptr);
        return veldmoor::test::RunHelperTask(
            veldmoor::NarrowText(std::wstring_view(task.data(), length)), arguments);
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
