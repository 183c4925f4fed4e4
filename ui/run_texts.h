// The words of a patch run's status log and of the auto-start check box, made from the run's
// events (patch/run_events.h). Status texts carry their own "\r\n" where the log shows one.
#pragma once

#include <cstddef>
#include <string>

#include "patch/operations_processor.h"
#include "patch/run_events.h"

namespace veldmoor {

// "Automatisch starten (5)" while the countdown runs; without a number once it is over.
std::string AutoStartCaption();
std::string AutoStartCaption(int secondsLeft);

// The first line of a step ("Aktualisiere den Launcher ..") and the line before its file list.
std::string StepHeading(RunStep step);
std::string FileListLine();

// "Ermittle herunterzuladene Daten für 'a.mul' ..\r\n"
std::string FileExaminedText(const std::string& repoPath);
// "'a.mul' wird aktualisiert ..\r\n" or "'a.mul' wird heruntergeladen ..\r\n"
std::string FileFetchedText(const FileFetched& file);
// "Verbindung unterbrochen, neuer Versuch in 2 s (1. Wiederholung) ..."
std::string RetryLine(const ConnectionRetry& retry);
// A line of the cleanup: its heading, an entry being removed, a path refused.
std::string CleanupLine(const CleanupNote& note);
// The verify run's last line: "12 Dateien geprüft, 1 repariert".
std::string VerifySummary(std::size_t examined, std::size_t repaired);

std::string NoProfileLine();
std::string PausedLine();
std::string ResumedLine();
std::string GameStartingLine(bool isGame);
// "Launcher-Update erfolgreich!\r\n" and "Der Launcher wird jetzt neugestartet.\r\n"
std::string LauncherUpdatedText();
std::string LauncherRestartText();
// Whole texts with their blank line before: "\r\nAbbruch.\r\n" and the stop button's.
std::string AbortedText();
std::string StoppedByPlayerText();

}  // namespace veldmoor
