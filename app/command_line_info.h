// The launcher's command-line options. They are not meant for players: the launcher passes
// them to itself when it restarts after its own update, when it needs administrator rights and
// for the repair run.
//
//   -instantpatch         start the patch run at once, without the countdown
//   -noselfpatch          skip the launcher's own update during the patch run
//   -repair <folder>      run the repair actions on <folder> instead of showing a window
//   -rreg -rrights -rconfig
//                         the repair actions: registry path, folder rights, client settings
//
// Options are case-insensitive and may come in any order; '/' may stand for '-'.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace veldmoor {

class CLauncherAppCommandLineInfo {
public:
    // The most recent option is remembered up to this many characters.
    static constexpr std::size_t kMaxFlagLength = 255;
    // The longest repair folder accepted. A longer one is refused rather than cut: a cut path
    // names another folder, and the repair actions rewrite the rights of the folder they get.
    // A refused path leaves the repair folder empty, so the repair run does nothing.
    static constexpr std::size_t kMaxRepairPathLength = 259;

    // Takes one argument: text without its option prefix, whether it was an option, and
    // whether it is the last argument (not needed by these options).
    void ParseParam(std::wstring_view text, bool isFlag, bool isLast);

    std::wstring lastFlag;
    std::wstring repairPath;
    int instantPatch = 0;
    int noSelfPatch = 0;
    int repairMode = 0;
    int repairRegistry = 0;
    int repairRights = 0;
    int repairConfig = 0;
};

// Feeds every argument after the program name to info.ParseParam, in order. An argument that
// begins with '-' is an option. One that begins with '/' is an option only when it names one of
// the launcher's options, because on this system '/' also begins every absolute path, and a
// repair folder must not be mistaken for an option.
void ParseCommandLine(CLauncherAppCommandLineInfo& info, const std::vector<std::string>& arguments);

}  // namespace veldmoor
