// The two German reports of a failed patch run: the transfer report for a PatchException and
// the cleanup question for an OperationsProcessorException. The Compose functions are pure so
// their captions and texts can be checked byte for byte; the Report functions show them.
// Also the status lines of a run that examines the game files by content.
#pragma once

#include <cstddef>
#include <string>

#include "patch/operations_exception.h"
#include "sync/patch_exception.h"
#include "system/prompt.h"

namespace veldmoor {

struct ReportMessage {
    std::string caption;
    std::string text;  // paragraphs separated by "\n", as the message box shows them
};

// Caption by category (0-3), then one "Details" paragraph by code; unknown numbers fall back
// to the generic caption and the "unknown error (Nummer: category-code)" paragraph.
ReportMessage ComposeTransferReport(const PatchException& error);
ReportMessage ComposeCleanupReport(const OperationsProcessorException& error);

// Shows the transfer report (error icon, OK) and returns once it is closed.
// A null prompt (no one to ask) shows nothing.
void ReportTransferError(Prompt* prompt, const PatchException& error);

// Asks whether to go on without the cleanup (error icon, Yes/No); true exactly on Yes.
// A null prompt shows nothing and answers false, which ends the run.
bool ReportCleanupError(Prompt* prompt, const OperationsProcessorException& error);

// The verify run's first status line, and its last: "12 Dateien geprüft, 1 repariert".
inline constexpr char kVerifyHeading[] = "Prüfe die Spieldateien ..";
std::string ComposeVerifySummary(std::size_t examined, std::size_t repaired);

}  // namespace veldmoor
