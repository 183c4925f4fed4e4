#include "app/launcher_app.h"

#include <filesystem>
#include <system_error>
#include <utility>

#include "app/launcher_dialog_entry.h"
#include "app/repair_run.h"
#include "app/stderr_prompt.h"
#include "app/ui_probe.h"
#include "system/detached_process.h"
#include "system/folders.h"
#include "system/launcher_file.h"
#include "system/path.h"
#include "system/private_directory.h"
#include "system/process_list.h"
#include "system/single_instance.h"
#include "system/text_encoding.h"

namespace veldmoor {
namespace {

constexpr std::string_view kTempCopyFolderName = "VeldmoorLauncher";
// How long a start waits for an earlier copy to end before it looks for that copy's window,
// and then how much longer when no window answers (the copy is shutting down).
constexpr std::chrono::milliseconds kFirstWait{1000};
constexpr std::chrono::milliseconds kShutdownWait{10000};

bool CopyProgramFile(const std::string& from, const std::string& to) {
    std::error_code error;
    if (!std::filesystem::copy_file(PathFromUtf8(from), PathFromUtf8(to),
                                    std::filesystem::copy_options::overwrite_existing, error)) {
        return false;
    }
    // An earlier copy may have lost its execute permission; the copy must be startable.
    std::filesystem::permissions(PathFromUtf8(to), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, error);
    return !error;
}

// The temporary folder as the system resolves it: the running copy's program path and the
// working directory are always resolved, so a TMPDIR named through a symbolic link would match
// neither, and the copy would take itself for an earlier copy that does not end.
std::string ResolvedTemporaryDirectory() {
    const std::string folder = TemporaryDirectory();
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::canonical(PathFromUtf8(folder), error);
    return error ? folder : AppendPathComponent(Utf8FromPath(resolved), "");
}

}  // namespace

std::string TempCopyFolder() {
    return AppendPathComponent(TemporaryDirectory(), kTempCopyFolderName);
}

std::string TempCopyPath() {
    return AppendPathComponent(TempCopyFolder(), kLauncherFileName);
}

bool IsRunningFromTempCopy() {
    return StartsWithNoCase(ProgramFilePath(), ResolvedTemporaryDirectory());
}

bool WaitForRunningCopy(const std::string& imagePath, std::chrono::milliseconds timeout) {
    for (const RunningProcess& process : ListRunningProcesses()) {
        if (IsSameProgramFile(process.imagePath, imagePath) &&
            !WaitForProcessExit(process.id, timeout)) {
            return false;
        }
    }
    return true;
}

CLauncherApp::CLauncherApp(std::vector<std::string> arguments, PromptFactory makePrompt,
                           RepairOperationsFactory makeRepairOperations)
    : arguments_(std::move(arguments)),
      makePrompt_(std::move(makePrompt)),
      makeRepairOperations_(std::move(makeRepairOperations)) {}

Prompt& CLauncherApp::MessagePrompt() {
    if (!prompt_ && makePrompt_) {
        prompt_ = makePrompt_();
    }
    if (!prompt_) {
        prompt_ = std::make_unique<StderrPrompt>();
    }
    return *prompt_;
}

void CLauncherApp::ShowStartupError(StartupError error) {
    MessagePrompt().ShowMessage(StartupErrorText(error), StartupErrorCaption(), PromptButtons::Ok,
                                PromptIcon::Error);
}

bool CLauncherApp::InitInstance() {
    ParseCommandLine(commandLine_, arguments_);

    if (!EqualsNoCase(FileNameOf(ProgramFilePath()), kLauncherFileName)) {
        ShowStartupError(StartupError::Renamed);
        return false;
    }

    if (commandLine_.repairMode != 0) {
        const std::unique_ptr<RepairOperations> operations =
            makeRepairOperations_ ? makeRepairOperations_() : nullptr;
        if (operations) {
            RunRepairActions(commandLine_, *operations, MessagePrompt());
        }
        return false;
    }

    // The comparison includes the temporary folder's trailing separator: the temporary folder
    // itself is an acceptable working directory, anything below it is not.
    const std::string currentDirectory = CurrentDirectory();
    if (StartsWithNoCase(currentDirectory, ResolvedTemporaryDirectory())) {
        ShowStartupError(StartupError::WorkingDirectoryInTemp);
        return false;
    }

    if (IsRunningFromTempCopy()) {
        RunUserInterface();
    } else {
        Relocate(currentDirectory);
    }
    return false;
}

void CLauncherApp::Relocate(const std::string& currentDirectory) {
    const std::string folder = TempCopyFolder();
    if (!EnsurePrivateDirectory(folder)) {
        ShowStartupError(StartupError::TempFolderNotWritable);
        return;
    }

    const std::string copyPath = TempCopyPath();
    if (!WaitForRunningCopy(copyPath, kFirstWait)) {
        if (KnockOnRunningDialog(folder)) {
            return;
        }
        if (!WaitForRunningCopy(copyPath, kShutdownWait)) {
            ShowStartupError(StartupError::StillRunning);
            return;
        }
    }

    if (!CopyProgramFile(ProgramFilePath(), copyPath)) {
        ShowStartupError(StartupError::TempCopyNotWritable);
        return;
    }

    if (!StartDetachedProcess(copyPath, arguments_, currentDirectory)) {
        ShowStartupError(StartupError::CopyDoesNotStart);
    }
}

void CLauncherApp::RunUserInterface() {
    // Listening before the window exists means a second start during the dialog's set-up waits
    // in the socket's queue and is served once the dialog serves knocks.
    const std::unique_ptr<RunningDialogListener> secondStart =
        RunningDialogListener::Listen(TempCopyFolder());
    if (RunUiProbeIfRequested(arguments_, secondStart.get())) {
        return;
    }
    // Without a display the window cannot open; say so rather than end without a word.
    if (makePrompt_ == nullptr || (prompt_ = makePrompt_()) == nullptr) {
        StderrPrompt().ShowMessage(NoDisplayText(), StartupErrorCaption(), PromptButtons::Ok,
                                   PromptIcon::Error);
        return;
    }
    RunLauncherDialog(LauncherDialogStart{commandLine_, secondStart.get()});
}

}  // namespace veldmoor
