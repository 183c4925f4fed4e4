#include "ui/run_presenter.h"

#include <cmath>
#include <variant>

#include "ui/byte_size.h"
#include "ui/progress_texts.h"
#include "ui/report_texts.h"
#include "ui/run_texts.h"

namespace veldmoor {

namespace {

constexpr int kRange = RunScreen::kProgressRange;

void ShowFailure(RunScreen& screen, const ReportMessage& report, PromptIcon icon) {
    screen.ShowMessage(report.text, report.caption, PromptButtons::Ok, icon);
}

bool AskYesNo(RunScreen& screen, const ReportMessage& report, PromptIcon icon) {
    return screen.ShowMessage(report.text, report.caption, PromptButtons::YesNo, icon) ==
           PromptAnswer::Yes;
}

}  // namespace

int ProgressPosition(std::uint64_t current, std::uint64_t total) {
    if (total == 0 || current >= total)
        return kRange;
    return static_cast<int>(static_cast<double>(current) * kRange / static_cast<double>(total));
}

void RunPresenter::ShowTimeLeft() {
    screen_.SetTimeLeftText(bytesKnown_ && rateKnown_ ? TimeLeftText(done_, total_, bytesPerSecond_)
                                                      : std::string());
}

// ---- the run's course

template <>
void RunPresenter::Show(const RunStarted&) {
    screen_.ClearStatusText();
    screen_.EnableProfileSelector(false);
}

template <>
void RunPresenter::Show(const CountdownTick& tick) {
    screen_.SetAutoStartCaption(AutoStartCaption(tick.secondsLeft));
}

template <>
void RunPresenter::Show(const CountdownOver&) {
    screen_.SetAutoStartCaption(AutoStartCaption());
}

template <>
void RunPresenter::Show(const PatchingStarted&) {
    screen_.EnterPatchingLayout();
    screen_.ShowRunControls(RunControls::Running);
}

template <>
void RunPresenter::Show(const StepStarted& step) {
    screen_.AppendStatusLine(StepHeading(step.step));
}

template <>
void RunPresenter::Show(const FileListRequested& request) {
    // The same line; the launcher's step has always ended it as a line of its own.
    if (request.step == RunStep::Launcher)
        screen_.AppendStatusLine(FileListLine());
    else
        screen_.AppendStatusText(FileListLine() + "\r\n");
}

template <>
void RunPresenter::Show(const StepFinished&) {
    screen_.AppendStatusText("\r\n");
}

template <>
void RunPresenter::Show(const TransfersDone&) {
    screen_.ShowRunControls(RunControls::Hidden);
}

template <>
void RunPresenter::Show(const NoProfileSelected&) {
    screen_.AppendStatusLine(NoProfileLine());
}

template <>
void RunPresenter::Show(const LauncherUpdated&) {
    screen_.ShowRunControls(RunControls::Hidden);
    screen_.AppendStatusText(LauncherUpdatedText());
    screen_.AppendStatusText(LauncherRestartText());
    screen_.SetProgressPosition(kRange);
}

template <>
void RunPresenter::Show(const VerifyFinished& verified) {
    screen_.AppendStatusLine(VerifySummary(verified.examined, verified.repaired));
    screen_.LeavePatchingLayout();
}

template <>
void RunPresenter::Show(const GameStarting& starting) {
    screen_.AppendStatusLine(GameStartingLine(starting.isGame));
}

template <>
void RunPresenter::Show(const RunFinishing&) {
    screen_.SetProgressPosition(kRange);
}

template <>
void RunPresenter::Show(const RunEnded&) {
    screen_.EndDialog(0);
}

template <>
void RunPresenter::Show(const RunAborted&) {
    screen_.LeavePatchingLayout();
    screen_.AppendStatusText(AbortedText());
}

template <>
void RunPresenter::Show(const RunStoppedByPlayer&) {
    screen_.LeavePatchingLayout();
    screen_.AppendStatusText(StoppedByPlayerText());
}

template <>
void RunPresenter::Show(const RunPaused&) {
    screen_.ShowTransferTexts(false);  // no speed and no time left while nothing comes
    screen_.ShowRunControls(RunControls::Paused);
    screen_.AppendStatusLine(PausedLine());
}

template <>
void RunPresenter::Show(const RunResumed&) {
    screen_.ShowRunControls(RunControls::Running);
    screen_.AppendStatusLine(ResumedLine());
}

// ---- files and bytes

template <>
void RunPresenter::Show(const ListProgress& list) {
    if (list.count == 0)
        return;
    screen_.SetProgressPosition(static_cast<int>(
        std::trunc(static_cast<double>(list.index) * kRange / static_cast<double>(list.count))));
}

template <>
void RunPresenter::Show(const FileExamined& file) {
    screen_.AppendStatusText(FileExaminedText(file.repoPath));
}

template <>
void RunPresenter::Show(const TransfersStarted& started) {
    bytesKnown_ = rateKnown_ = false;
    screen_.SetProgressPosition(
        started.carried == 0 ? 0 : ProgressPosition(started.carried, started.total));
    screen_.SetSizeText("");
    screen_.SetSpeedText("");
    ShowTimeLeft();
    screen_.ShowTransferTexts(true);
}

template <>
void RunPresenter::Show(const TransferProgressed& progress) {
    done_ = progress.done;
    total_ = progress.total;
    bytesKnown_ = true;
    screen_.SetProgressPosition(ProgressPosition(progress.done, progress.total));
    screen_.SetSizeText(FormatByteSize(progress.done) + "/" + FormatByteSize(progress.total));
    ShowTimeLeft();
}

template <>
void RunPresenter::Show(const TransferRate& rate) {
    bytesPerSecond_ = rate.bytesPerSecond;
    rateKnown_ = true;
    screen_.SetSpeedText(FormatByteSize(rate.bytesPerSecond) + "/s");
    ShowTimeLeft();
}

template <>
void RunPresenter::Show(const FileFetched& file) {
    screen_.AppendStatusText(FileFetchedText(file));
}

template <>
void RunPresenter::Show(const TransfersEnded&) {
    screen_.ShowTransferTexts(false);
}

template <>
void RunPresenter::Show(const ConnectionRetry& retry) {
    screen_.AppendStatusLine(RetryLine(retry));
}

// ---- the cleanup list

template <>
void RunPresenter::Show(const CleanupStarted& started) {
    screen_.AppendStatusLine(CleanupLine(started));
}

template <>
void RunPresenter::Show(const EntryRemoving& entry) {
    screen_.AppendStatusLine(CleanupLine(entry));
}

template <>
void RunPresenter::Show(const EntryRefused& entry) {
    screen_.AppendStatusLine(CleanupLine(entry));
}

template <>
void RunPresenter::Show(const CleanupFinished&) {
    screen_.AppendStatusBreak();
}

// ---- failures

template <>
void RunPresenter::Show(const TransferFailed& failure) {
    screen_.SetProgressPosition(0);
    screen_.ShowTransferTexts(false);
    ReportTransferError(&screen_, failure.error);
}

template <>
void RunPresenter::Show(const UnexpectedFailure& failure) {
    screen_.SetProgressPosition(0);
    screen_.ShowTransferTexts(false);
    ShowFailure(screen_, ComposeUnexpectedFailure(failure.what), PromptIcon::Error);
}

template <>
void RunPresenter::Show(const RightsRepairFailed&) {
    ShowFailure(screen_, ComposeRightsRepairFailed(), PromptIcon::Error);
}

template <>
void RunPresenter::Show(const RegistryWriteFailed& failure) {
    ShowFailure(screen_, ComposeRegistryWriteFailed(failure.clientPath), PromptIcon::Warning);
}

template <>
void RunPresenter::Show(const GameStartFailed& failure) {
    ShowFailure(screen_, ComposeGameStartFailed(failure.program), PromptIcon::Error);
}

// ---- the entry points, after every event's specialisation

void RunPresenter::Report(const RunEvent& event) {
    std::visit([this](const auto& shown) { Show(shown); }, event);
}

bool RunPresenter::Ask(const RunQuestion& question) {
    if (const auto* rights = std::get_if<RepairFolderRights>(&question))
        return AskYesNo(screen_, ComposeRightsQuestion(rights->folder), PromptIcon::Error);
    if (const auto* cleanup = std::get_if<SkipFailedCleanup>(&question))
        return ReportCleanupError(&screen_, cleanup->error);
    return AskYesNo(screen_, ComposeRegistryQuestion(), PromptIcon::Information);
}

}  // namespace veldmoor
