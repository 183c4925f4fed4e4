#include "ui/report_texts.h"

#include <cstdint>
#include <cstdio>

#include "sync/signed_metadata.h"
#include "ui/byte_size.h"
#include "ui/fill_in.h"
#include "ui/translate.h"

namespace veldmoor {
namespace {

std::string GenericCaption() {
    return tr("Fehler");
}

std::string GenericText() {
    return tr("Es scheint etwas schief gelaufen zu sein.");
}

// A paragraph that says what exactly happened, after the report's general text.
std::string Details(const std::string& text) {
    return "\n\n" + FillIn(tr("Details: %1"), {text});
}

std::string Hex32(std::uint32_t value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(value));
    return buffer;
}

std::uint32_t ParamOrZero(const PatchException::Params& params, const std::string& name) {
    const auto found = params.find(name);
    return found != params.end() ? found->second : 0;
}

std::string UnknownErrorDetails(int category, int code) {
    return Details(FillIn(tr("Es ist ein unbekannter Fehler aufgetreten. (Nummer: %1-%2)"),
                          {std::to_string(category), std::to_string(code)}));
}

void ApplyTransferCategory(int category, ReportMessage& report) {
    switch (static_cast<FailureCategory>(category)) {
        case FailureCategory::LocalFiles:
            report.caption = tr("Zugriffsfehler");
            report.text =
                tr("Beim Anwenden der neuen Daten ist ein Fehler aufgetreten.\n"
                   "Bitte kontrolliere dass der Launcher kein weiteres Mal läuft und das Spiel "
                   "nicht gestartet ist. Auch keine andere Anwendung (z. B. Axis, TNG, Fiddler, "
                   "VelLoop, ..), die auf die Daten zugreift, darf gestartet sein.\n"
                   "Sollte das nicht helfen, starte ggf. deinen Rechner neu oder prüfe die "
                   "Ordnerberechtigungen mit der Reparaturfunktion.");
            break;
        case FailureCategory::Transfer:
            report.caption = tr("Datenübertragungsfehler");
            report.text =
                tr("Es ist ein Fehler bei der Übertragung der Daten aufgetreten.\n"
                   "Bitte prüfe deine Internetverbindung und versuche es erneut.");
            break;
        case FailureCategory::ServerData:
            report.caption = tr("Metadatenfehler");
            report.text =
                tr("Die empfangenen Daten entsprechen nicht dem erwarteten Format.\n"
                   "Bitte versuche es später erneut.");
            break;
        case FailureCategory::Integrity:
            report.caption = tr("Integritätsfehler");
            report.text =
                tr("Bei der Prüfung der heruntergeladenen Daten wurde eine Inkonsistenz "
                   "festgestellt. Bitte wiederhole den Vorgang.");
            break;
        default:
            break;
    }
}

// Why the engine refused a path or could not make its folder, as a sentence of its own.
std::string RefusalReason(const PatchException::Params& params) {
    switch (static_cast<PathRefusal>(ParamOrZero(params, "Reason"))) {
        case PathRefusal::Empty:
            return tr("Der Pfad ist leer.");
        case PathRefusal::Rooted:
            return tr("Der Pfad beginnt im Hauptverzeichnis eines Laufwerks.");
        case PathRefusal::NulByte:
            return tr("Der Pfad enthält ein Nullzeichen.");
        case PathRefusal::Drive:
            return tr("Der Pfad nennt ein Laufwerk.");
        case PathRefusal::ParentComponent:
            return tr("Der Pfad führt mit '..' aus seinem Ordner hinaus.");
        case PathRefusal::TooDeep:
            return tr("Der Pfad ist tiefer als 32 Ordnerebenen verschachtelt.");
        case PathRefusal::FileInTheWay:
            return tr("An der Stelle eines seiner Ordner liegt eine Datei.");
        case PathRefusal::CannotCreate:
            return tr("Einer seiner Ordner kann nicht angelegt werden.");
        case PathRefusal::FolderName:
            return tr(
                "Der Pfad endet mit einem Trennzeichen und nennt damit einen Ordner, keine "
                "Datei.");
        case PathRefusal::None:
            break;
    }
    return {};
}

std::string TransferDetails(const PatchException& error) {
    const std::string& d = error.detail;
    switch (error.cause()) {
        case Failure::ChunkIndexNotFetched:
            return Details(FillIn(tr("Die Verbindung wurde unterbrochen, als die Metadaten für "
                                     "'%1' empfangen werden sollten."),
                                  {d}));
        case Failure::ServerDataInvalid:
            return Details(FillIn(tr("Die Metadaten für '%1' sind ungültig."), {d}));
        case Failure::FolderNotMade: {
            const std::string reason = RefusalReason(error.params);
            return Details(
                FillIn(tr("Das Verzeichnis für '%1' konnte nicht angelegt werden."), {d}) +
                (reason.empty() ? "" : " " + reason));
        }
        case Failure::TemporaryFileNotOpened:
            return Details(
                FillIn(tr("Die temporäre Datei '%1' kann nicht geschrieben werden."), {d}));
        case Failure::RangesNotFetched:
            return Details(
                FillIn(tr("Die Daten für '%1' können nicht heruntergeladen werden."), {d}));
        case Failure::OldFileNotDeleted:
            return Details(FillIn(tr("Die alte Datei '%1' konnte nicht gelöscht werden."), {d}));
        case Failure::NewFileNotPlaced:
            return Details(FillIn(tr("Die neue Datei '%1' konnte nicht eingesetzt werden."), {d}));
        case Failure::FileListNotFetched:
            return Details(tr("Die Dateiliste konnte nicht abgerufen werden!"));
        case Failure::ChecksumMismatch:
            return Details(FillIn(tr("Die Prüfsumme der Datei '%1' stimmt nicht mit der "
                                     "erwarteten überein.\n(Ist: %2, Erwartet: %3)"),
                                  {d, Hex32(ParamOrZero(error.params, "FileChecksum")),
                                   Hex32(ParamOrZero(error.params, "ExpectedChecksum"))}));
        case Failure::NoSpace:
            return Details(
                FillIn(tr("Auf dem Laufwerk ist nicht genug Platz für '%1'. Es werden %2 "
                          "benötigt. Bitte schaffe Platz auf dem Laufwerk und versuche es erneut."),
                       {d, FormatByteSize(ParamOrZero(error.params, "NeededBytes"))}));
        case Failure::FolderBusy:
            return Details(
                FillIn(tr("Eine andere Aktualisierung des Ordners '%1' läuft bereits. Bitte warte, "
                          "bis sie beendet ist, und versuche es dann erneut."),
                       {d}));
        case Failure::FolderInPlaceOfFile:
            return Details(FillIn(tr("An der Stelle der Datei '%1' liegt ein Ordner. Bitte "
                                     "verschiebe oder lösche ihn und versuche es erneut."),
                                  {d}));
        case Failure::NotVerified:
            return Details(
                d.empty()
                    ? tr("Die Aktualisierung wurde abgelehnt, weil sie nicht verifiziert werden "
                         "konnte. Bitte wende dich an die Betreuer der Welt.")
                    : FillIn(tr("Die Aktualisierung wurde abgelehnt, weil sie nicht verifiziert "
                                "werden konnte (betroffen: '%1'). Bitte wende dich an die "
                                "Betreuer der Welt."),
                             {d}));
        default:
            return UnknownErrorDetails(error.category, error.code);
    }
}

}  // namespace

ReportMessage ComposeTransferReport(const PatchException& error) {
    ReportMessage report{GenericCaption(), GenericText()};
    ApplyTransferCategory(error.category, report);
    report.text += TransferDetails(error);
    return report;
}

ReportMessage ComposeCleanupReport(const OperationsProcessorException& error) {
    ReportMessage report{GenericCaption(), GenericText()};
    if (error.category == 0) {
        report.caption = tr("Fehler beim Aufräumen");
        report.text =
            tr("Es ist ein Fehler beim Löschen von alten ungenutzten Daten aufgetreten. Möchtest "
               "du ohne Säuberung fortfahren?");
    }
    switch (static_cast<CleanupFailure>(error.code)) {
        case CleanupFailure::FileNotDeleted:
            report.text +=
                Details(FillIn(tr("Die Datei '%1' konnte nicht gelöscht werden."), {error.detail}));
            break;
        case CleanupFailure::FolderNotRemoved:
            report.text += Details(
                FillIn(tr("Das Verzeichnis '%1' konnte nicht gelöscht werden."), {error.detail}));
            break;
        default:
            report.text += UnknownErrorDetails(error.category, error.code);
    }
    return report;
}

ReportMessage ComposeUnexpectedFailure(const std::string& what) {
    return {GenericCaption(), GenericText() + Details(what)};
}

ReportMessage ComposeRightsQuestion(const std::string& folder) {
    return {tr("Zugriff verweigert"),
            FillIn(tr("Der Zugriff auf den lokalen Installationspfad wurden verweigert:\r\n\r\n"
                      "%1\r\n\r\nSoll versucht werden Benutzerrechte des Installationsordners "
                      "zu korrigieren?\r\n\r\nAchtung: Dabei werden allen Dateien und "
                      "Unterordnern in diesem Verzeichnis die selben Rechte zugewiesen. Setze "
                      "nur fort, wenn es sich dabei wirklich um deinen Spielordner handelt, da "
                      "diese Operation auf ein anderes Verzeichnis unvorhersehbare Folgen haben "
                      "kann."),
                   {folder})};
}

ReportMessage ComposeRightsRepairFailed() {
    return {tr("Zugriff verweigert"),
            tr("Es ist ein Fehler beim Korrigieren der Zugriffsberechtigungen aufgetreten."
               "\r\n\r\nWeitere Hilfe findest du im Wiki/Forum oder beim technischen "
               "Support.")};
}

ReportMessage ComposeRegistryQuestion() {
    return {"",
            tr("Für das verwendete Profil ist vermerkt, dass die Registrierung angepasst werden "
               "soll.\r\nDafür sind Administratorrechte erforderlich.\r\n\r\nMöchtest du "
               "fortfahren?")};
}

ReportMessage ComposeRegistryWriteFailed(const std::string& clientPath) {
    return {GenericCaption(),
            FillIn(tr("Der Pfad des Spiels konnte nicht in die Registrierung eingetragen werden. "
                      "Das Spiel startet damit womöglich nicht richtig. Starte den Launcher ohne "
                      "Administratorrechte und versuche es mit der Fehlerbehebung "
                      "(Registrierung) erneut:\r\n\r\n%1"),
                   {clientPath})};
}

ReportMessage ComposeGameStartFailed(const std::string& program) {
    return {GenericCaption(),
            FillIn(tr("Der Startprozess ist fehlgeschlagen.\r\n\r\nDie Anwendung an '%1' "
                      "konnte nicht ausgeführt werden."),
                   {program})};
}

void ReportTransferError(Prompt* prompt, const PatchException& error) {
    if (prompt == nullptr) {
        return;
    }
    const ReportMessage report = ComposeTransferReport(error);
    prompt->ShowMessage(report.text, report.caption, PromptButtons::Ok, PromptIcon::Error);
}

bool ReportCleanupError(Prompt* prompt, const OperationsProcessorException& error) {
    if (prompt == nullptr) {
        return false;
    }
    const ReportMessage report = ComposeCleanupReport(error);
    return prompt->ShowMessage(report.text, report.caption, PromptButtons::YesNo,
                               PromptIcon::Error) == PromptAnswer::Yes;
}

}  // namespace veldmoor
