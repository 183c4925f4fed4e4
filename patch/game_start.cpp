#include "patch/game_start.h"

#include "system/path.h"

namespace veldmoor {

RegistryStep ApplyRegistryPath(const PatchContext& profile, LauncherView& view,
                               PatchPlatform& platform, const std::function<void()>& saveProfiles) {
    const std::string wanted = AppendPathComponent(profile.PatchPath.str(), kGameClientFileName);
    const std::optional<std::string> current = platform.ReadExePath();
    if (current && EqualsNoCase(*current, wanted))
        return RegistryStep::Done;

    if (platform.IsElevated() || !platform.RegistryWriteNeedsElevation()) {
        // The game may still start from an older entry; the person learns the entry is wrong.
        if (!platform.WriteExePath(wanted).Ok()) {
            view.Report(RegistryWriteFailed{wanted});
        }
        return RegistryStep::Done;
    }

    if (!view.Ask(RestartElevatedForRegistry{}))
        return RegistryStep::Declined;

    if (saveProfiles)
        saveProfiles();
    platform.RunElevated({"-instantpatch"});
    platform.EndProcess(0);
    return RegistryStep::ProcessEnding;
}

void StartGame(const PatchContext& profile, LauncherView& view, PatchPlatform& platform) {
    const std::string& program = profile.ExecuteAfterPatch.str();
    if (program.empty())
        return;

    const std::string gamePath = profile.PatchPath.str() + kPathSeparator + kGameClientFileName;
    view.Report(GameStarting{EqualsNoCase(program, gamePath)});

    if (platform.StartProgram(program, DirectoryOfPath(program)))
        return;
    view.Report(GameStartFailed{program});
}

std::string DirectoryOfPath(std::string_view path) {
    const std::size_t last = path.find_last_of("/\\");
    if (last == std::string_view::npos)
        return {};
    return std::string(path.substr(0, last));
}

}  // namespace veldmoor
