#include "app/startup_messages.h"

namespace veldmoor {

std::string StartupErrorCaption() {
    return StartupText("Fehler");
}

std::string NoDisplayText() {
    return StartupText(
        "Das Fenster des Launchers kann nicht geöffnet werden: keine Anzeige verfügbar.");
}

std::string StartupErrorText(StartupError error) {
    switch (error) {
        case StartupError::Renamed:
            return StartupText("Der Launcher darf nicht umbenannt werden! (Code: 666)");
        case StartupError::WorkingDirectoryInTemp:
            return StartupText(
                "Der Launcher wird mit einem nicht unterstütztem Arbeitsverzeichnis "
                "ausgeführt. Bitte prüfe die Verknüpfung mit dem du den Launcher ausführst "
                "oder erstelle diese neu. (Code: 11)");
        case StartupError::TempFolderNotWritable:
            return StartupText("Schreiben temporärer Daten fehlgeschlagen. (Code: 1)");
        case StartupError::StillRunning:
            return StartupText(
                "Fehler! Stelle sicher dass der Launcher nicht bereits läuft. (Code: 2)");
        case StartupError::TempCopyNotWritable:
            return StartupText("Schreiben temporärer Daten fehlgeschlagen. (Code: 3)");
        case StartupError::CopyDoesNotStart:
            return StartupText("Der Launcher kann nicht ausgeführt werden! (Code: 4)");
    }
    return {};
}

}  // namespace veldmoor
