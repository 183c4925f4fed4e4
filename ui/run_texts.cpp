#include "ui/run_texts.h"

#include <variant>

#include "ui/fill_in.h"
#include "ui/translate.h"

namespace veldmoor {

namespace {

constexpr char kLineEnd[] = "\r\n";

template <class... Handlers>
struct Overloaded : Handlers... {
    using Handlers::operator()...;
};
template <class... Handlers>
Overloaded(Handlers...) -> Overloaded<Handlers...>;

}  // namespace

std::string AutoStartCaption() {
    return tr("Automatisch starten");
}

std::string AutoStartCaption(int secondsLeft) {
    return FillIn(tr("Automatisch starten (%1)"), {std::to_string(secondsLeft)});
}

std::string StepHeading(RunStep step) {
    switch (step) {
        case RunStep::Launcher:
            return tr("Aktualisiere den Launcher ..");
        case RunStep::Verify:
            return tr("Prüfe die Spieldateien ..");
        case RunStep::Client:
            break;
    }
    return tr("Aktualisiere den Client ..");
}

std::string FileListLine() {
    return tr("Rufe Dateiliste ab ..");
}

std::string FileExaminedText(const std::string& repoPath) {
    return FillIn(tr("Ermittle herunterzuladene Daten für '%1' .."), {repoPath}) + kLineEnd;
}

std::string FileFetchedText(const FileFetched& file) {
    return FillIn(file.replacesExisting ? tr("'%1' wird aktualisiert ..")
                                        : tr("'%1' wird heruntergeladen .."),
                  {file.repoPath}) +
           kLineEnd;
}

std::string RetryLine(const ConnectionRetry& retry) {
    // Whole seconds, rounded up: a pause of 500 ms still reads "1 s".
    return FillIn(tr("Verbindung unterbrochen, neuer Versuch in %1 s (%2. Wiederholung) ..."),
                  {std::to_string((retry.pauseMs + 999) / 1000), std::to_string(retry.attempt)});
}

std::string CleanupLine(const CleanupNote& note) {
    return std::visit(Overloaded{[](const CleanupStarted& started) {
                                     return started.target == CleanupTarget::Launcher
                                                ? tr("Launcherdaten werden aufgeräumt ..")
                                                : tr("Spieldaten werden aufgeräumt ..");
                                 },
                                 [](const EntryRemoving& entry) {
                                     return FillIn(tr("Entferne '%1' .."), {entry.shownPath});
                                 },
                                 [](const EntryRefused& entry) {
                                     return FillIn(
                                         tr("Unzulässiger Pfad '%1' wird übersprungen .."),
                                         {entry.listedPath});
                                 }},
                      note);
}

std::string VerifySummary(std::size_t examined, std::size_t repaired) {
    return FillIn(examined == 1 ? tr("%1 Datei geprüft, %2 repariert")
                                : tr("%1 Dateien geprüft, %2 repariert"),
                  {std::to_string(examined), std::to_string(repaired)});
}

std::string NoProfileLine() {
    return tr("Es ist kein Profil ausgewählt.");
}

std::string PausedLine() {
    return tr("Pausiert. Die bisher geladenen Daten bleiben erhalten.");
}

std::string ResumedLine() {
    return tr("Wird fortgesetzt ..");
}

std::string GameStartingLine(bool isGame) {
    return isGame ? tr("Spiel wird gestartet ..") : tr("Individuelle Anwendung wird gestartet ..");
}

std::string LauncherUpdatedText() {
    return tr("Launcher-Update erfolgreich!") + kLineEnd;
}

std::string LauncherRestartText() {
    return tr("Der Launcher wird jetzt neugestartet.") + kLineEnd;
}

std::string AbortedText() {
    return kLineEnd + tr("Abbruch.") + kLineEnd;
}

std::string StoppedByPlayerText() {
    return kLineEnd + tr("Gestoppt. Der nächste Start setzt fort, wo dieser aufgehört hat.") +
           kLineEnd;
}

}  // namespace veldmoor
