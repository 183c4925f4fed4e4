#include "app/command_line_info.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace veldmoor {
namespace {

CLauncherAppCommandLineInfo Parse(const std::vector<std::string>& arguments) {
    CLauncherAppCommandLineInfo info;
    ParseCommandLine(info, arguments);
    return info;
}

TEST(CommandLine, NoArgumentsLeavesEveryFlagCleared) {
    const CLauncherAppCommandLineInfo info = Parse({});
    EXPECT_EQ(info.instantPatch, 0);
    EXPECT_EQ(info.noSelfPatch, 0);
    EXPECT_EQ(info.repairMode, 0);
    EXPECT_EQ(info.repairRegistry, 0);
    EXPECT_EQ(info.repairRights, 0);
    EXPECT_EQ(info.repairConfig, 0);
    EXPECT_TRUE(info.repairPath.empty());
    EXPECT_TRUE(info.lastFlag.empty());
}

TEST(CommandLine, EachOptionSetsOnlyItsOwnField) {
    const CLauncherAppCommandLineInfo patch = Parse({"-instantpatch"});
    EXPECT_EQ(patch.instantPatch, 1);
    EXPECT_EQ(patch.noSelfPatch + patch.repairMode + patch.repairRegistry + patch.repairRights +
                  patch.repairConfig,
              0);
    const CLauncherAppCommandLineInfo all =
        Parse({"-rconfig", "-noselfpatch", "-rrights", "-rreg", "-instantpatch"});
    EXPECT_EQ(all.noSelfPatch, 1);
    EXPECT_EQ(all.repairRegistry, 1);
    EXPECT_EQ(all.repairRights, 1);
    EXPECT_EQ(all.repairConfig, 1);
    EXPECT_EQ(all.instantPatch, 1);
    // Repair actions without -repair: the flags are set, the repair mode is not.
    EXPECT_EQ(all.repairMode, 0);
    EXPECT_EQ(all.lastFlag, L"instantpatch");
}

TEST(CommandLine, OptionsIgnoreCaseAndAcceptTheSlashPrefix) {
    EXPECT_EQ(Parse({"/instantpatch"}).instantPatch, 1);
    EXPECT_EQ(Parse({"-INSTANTPATCH"}).instantPatch, 1);
    EXPECT_EQ(Parse({"/InstantPatch"}).instantPatch, 1);
    EXPECT_EQ(Parse({"/REPAIR", "/games/veldmoor"}).repairPath, L"/games/veldmoor");
}

TEST(CommandLine, RepairTakesTheFollowingArgumentAsItsFolder) {
    const CLauncherAppCommandLineInfo info = Parse({"-repair", "/games/Veldmoor UO", "-rrights"});
    EXPECT_EQ(info.repairMode, 1);
    EXPECT_EQ(info.repairRights, 1);
    EXPECT_EQ(info.repairPath, L"/games/Veldmoor UO");
}

TEST(CommandLine, AnAbsolutePathIsNotMistakenForAnOption) {
    // '/' begins every absolute path here; only the launcher's own option names count as options.
    const CLauncherAppCommandLineInfo info = Parse({"-repair", "/rreg"});
    EXPECT_EQ(info.repairRegistry, 1);
    EXPECT_TRUE(info.repairPath.empty());
    const CLauncherAppCommandLineInfo path = Parse({"-repair", "/home/player/uo", "-rconfig"});
    EXPECT_EQ(path.repairPath, L"/home/player/uo");
    EXPECT_EQ(path.lastFlag, L"rconfig");
}

TEST(CommandLine, RepairWithoutFolderLeavesTheFolderEmpty) {
    const CLauncherAppCommandLineInfo info = Parse({"-repair"});
    EXPECT_EQ(info.repairMode, 1);
    EXPECT_TRUE(info.repairPath.empty());
}

TEST(CommandLine, TheLastOfSeveralFoldersAfterRepairWins) {
    EXPECT_EQ(Parse({"-repair", "first", "second"}).repairPath, L"second");
}

TEST(CommandLine, AFolderAfterAnotherOptionIsNotTheRepairFolder) {
    const CLauncherAppCommandLineInfo info = Parse({"-repair", "-rreg", "C:/Games"});
    EXPECT_EQ(info.repairMode, 1);
    EXPECT_EQ(info.repairRegistry, 1);
    EXPECT_TRUE(info.repairPath.empty());
}

TEST(CommandLine, AnUnknownOptionOnlyBecomesTheLastFlag) {
    const CLauncherAppCommandLineInfo info = Parse({"-repair", "-verbose", "folder"});
    EXPECT_EQ(info.lastFlag, L"verbose");
    EXPECT_TRUE(info.repairPath.empty());
    EXPECT_EQ(info.instantPatch + info.noSelfPatch + info.repairRegistry, 0);
}

TEST(CommandLine, AnOptionNeedsTheWholeName) {
    const CLauncherAppCommandLineInfo info = Parse({"-instant", "-repairs", "-rreg2"});
    EXPECT_EQ(info.instantPatch, 0);
    EXPECT_EQ(info.repairMode, 0);
    EXPECT_EQ(info.repairRegistry, 0);
}

TEST(CommandLine, RepairFolderOfTheLongestAcceptedLengthIsKept) {
    const std::string longest(CLauncherAppCommandLineInfo::kMaxRepairPathLength, 'a');
    EXPECT_EQ(Parse({"-repair", longest}).repairPath.size(),
              CLauncherAppCommandLineInfo::kMaxRepairPathLength);
}

TEST(CommandLine, TooLongRepairFolderIsRefusedNotCut) {
    const std::string tooLong(CLauncherAppCommandLineInfo::kMaxRepairPathLength + 1, 'a');
    EXPECT_TRUE(Parse({"-repair", tooLong}).repairPath.empty());
    // A refused folder also replaces an earlier one: the caller's last word was the long folder.
    EXPECT_TRUE(Parse({"-repair", "/games/uo", tooLong}).repairPath.empty());
}

TEST(CommandLine, LengthsCountCharactersNotBytes) {
    // 259 umlauts are 518 bytes but 259 characters.
    std::string umlauts;
    for (std::size_t i = 0; i < CLauncherAppCommandLineInfo::kMaxRepairPathLength; ++i) {
        umlauts += "ü";
    }
    const CLauncherAppCommandLineInfo info = Parse({"-repair", umlauts});
    EXPECT_EQ(info.repairPath,
              std::wstring(CLauncherAppCommandLineInfo::kMaxRepairPathLength, L'\u00FC'));
}

TEST(CommandLine, LastFlagKeepsAtMost255Characters) {
    const std::string longOption = "-" + std::string(300, 'x');
    EXPECT_EQ(Parse({longOption}).lastFlag, std::wstring(255, L'x'));
}

TEST(CommandLine, AnEmptyArgumentAfterRepairIsAnEmptyFolder) {
    EXPECT_TRUE(Parse({"-repair", "/games", ""}).repairPath.empty());
}

TEST(CommandLine, ParseParamDirectlyFollowsTheOptionRules) {
    CLauncherAppCommandLineInfo info;
    info.ParseParam(L"folder", false, false);
    EXPECT_TRUE(info.repairPath.empty());
    info.ParseParam(L"Repair", true, false);
    info.ParseParam(L"folder", false, true);
    EXPECT_EQ(info.repairMode, 1);
    EXPECT_EQ(info.repairPath, L"folder");
}

}  // namespace
}  // namespace veldmoor
