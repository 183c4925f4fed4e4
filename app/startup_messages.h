// The messages start-up shows before any window exists: caption "Fehler", the error icon, and
// the code at the end of the text. After each the process ends with exit code 0.
#pragma once

#include <string_view>

namespace veldmoor {

inline constexpr std::string_view kStartupErrorCaption = "Fehler";

// The user-interface process found no display to open its window on (written to standard error).
inline constexpr std::string_view kNoDisplayText =
    "Das Fenster des Launchers kann nicht geöffnet werden: keine Anzeige verfügbar.";

enum class StartupError {
    Renamed,                 // 666: the program file does not carry the launcher's name
    WorkingDirectoryInTemp,  // 11: started with a working directory inside the temporary folder
    TempFolderNotWritable,   // 1: the folder for the temporary copy cannot be made
    StillRunning,            // 2: an earlier copy does not end
    TempCopyNotWritable,     // 3: the program file cannot be copied
    CopyDoesNotStart,        // 4: the copy cannot be started
};

constexpr std::string_view StartupErrorText(StartupError error) {
    switch (error) {
        case StartupError::Renamed:
            return "Der Launcher darf nicht umbenannt werden! (Code: 666)";
        case StartupError::WorkingDirectoryInTemp:
            return "Der Launcher wird mit einem nicht unterstütztem Arbeitsverzeichnis "
                   "ausgeführt. Bitte prüfe die Verknüpfung mit dem du den Launcher ausführst "
                   "oder erstelle diese neu. (Code: 11)";
        case StartupError::TempFolderNotWritable:
            return "Schreiben temporärer Daten fehlgeschlagen. (Code: 1)";
        case StartupError::StillRunning:
            return "Fehler! Stelle sicher dass der Launcher nicht bereits läuft. (Code: 2)";
        case StartupError::TempCopyNotWritable:
            return "Schreiben temporärer Daten fehlgeschlagen. (Code: 3)";
        case StartupError::CopyDoesNotStart:
            return "Der Launcher kann nicht ausgeführt werden! (Code: 4)";
    }
    return {};
}

}  // namespace veldmoor
