// The reports of a failed patch run: the transfer report for the engine's failure
// (PatchException) and the cleanup question for the cleanup list's (OperationsProcessorException),
// and the other message boxes a run shows. The Compose functions are pure so their captions and
// texts can be checked byte for byte; the Report functions show them.
#pragma once

#include <string>

#include "patch/operations_exception.h"
#include "sync/patch_exception.h"
#include "system/prompt.h"

namespace veldmoor {

struct ReportMessage {
    std::string caption;
    std::string text;  // paragraphs separated by "\n" or "\r\n", as the message box shows them
};

// Caption by category (0-3), then one "Details" paragraph by code; unknown numbers fall back
// to the generic caption and the "unknown error (Nummer: category-code)" paragraph.
ReportMessage ComposeTransferReport(const PatchException& error);
ReportMessage ComposeCleanupReport(const OperationsProcessorException& error);

// Anything a run did not foresee; `what` is the exception's own text.
ReportMessage ComposeUnexpectedFailure(const std::string& what);
// The folder rights: the question whether to correct them, and that correcting them failed.
ReportMessage ComposeRightsQuestion(const std::string& folder);
ReportMessage ComposeRightsRepairFailed();
// The registry entry: the question whether to restart elevated, and that writing it failed.
ReportMessage ComposeRegistryQuestion();
ReportMessage ComposeRegistryWriteFailed(const std::string& clientPath);
// The game or the profile's own program did not start.
ReportMessage ComposeGameStartFailed(const std::string& program);

// Shows the transfer report (error icon, OK) and returns once it is closed.
// A null prompt (no one to ask) shows nothing.
void ReportTransferError(Prompt* prompt, const PatchException& error);

// Asks whether to go on without the cleanup (error icon, Yes/No); true exactly on Yes.
// A null prompt shows nothing and answers false, which ends the run.
bool ReportCleanupError(Prompt* prompt, const OperationsProcessorException& error);

}  // namespace veldmoor
