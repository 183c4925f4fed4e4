// The launcher's command line: the input's NUL-separated pieces are the arguments.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_line_info.h"
#include "fuzz/fuzz_check.h"

using namespace veldmoor;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> arguments;
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    while (!rest.empty()) {
        const std::size_t end = rest.find('\0');
        arguments.emplace_back(rest.substr(0, end));
        if (end == std::string_view::npos)
            break;
        rest.remove_prefix(end + 1);
    }
    CLauncherAppCommandLineInfo info;
    ParseCommandLine(info, arguments);
    FUZZ_CHECK(info.lastFlag.size() <= CLauncherAppCommandLineInfo::kMaxFlagLength);
    FUZZ_CHECK(info.repairPath.size() <= CLauncherAppCommandLineInfo::kMaxRepairPathLength);
    for (const int flag : {info.instantPatch, info.noSelfPatch, info.repairMode,
                           info.repairRegistry, info.repairRights, info.repairConfig}) {
        FUZZ_CHECK(flag == 0 || flag == 1);
    }
    // A repair folder is taken only after -repair.
    if (!info.repairPath.empty()) {
        FUZZ_CHECK(info.repairMode == 1);
    }
    return 0;
}
