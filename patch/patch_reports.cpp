#include "patch/patch_reports.h"

#include <cstdint>
#include <cstdio>

#include "patch/byte_size.h"
#include "sync/signed_metadata.h"

namespace veldmoor {
namespace {

constexpr char kGenericCaption[] = "Fehler";
constexpr char kGenericText[] = "Es scheint etwas schief gelaufen zu sein.";

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
    return "\n\nDetails: Es ist ein unbekannter Fehler aufgetreten. (Nummer: " +
           std::to_string(category) + "-" + std::to_string(code) + ")";
}

void ApplyTransferCategory(int category, ReportMessage& report) {
    switch (static_cast<FailureCategory>(category)) {
        case FailureCategory::LocalFiles:
            report.caption = "Zugriffsfehler";
            report.text =
                "Beim Anwenden der neuen Daten ist ein Fehler aufgetreten.\n"
                "Bitte kontrolliere dass der Launcher kein weiteres Mal läuft und das Spiel "
                "nicht gestartet ist. Auch keine andere Anwendung (z. B. Axis, TNG, Fiddler, "
                "VelLoop, ..), die auf die Daten zugreift, darf gestartet sein.\n"
                "Sollte das nicht helfen, starte ggf. deinen Rechner neu oder prüfe die "
                "Ordnerberechtigungen mit der Reparaturfunktion.";
            break;
        case FailureCategory::Transfer:
            report.caption = "Datenübertragungsfehler";
            report.text =
                "Es ist ein Fehler bei der Übertragung der Daten aufgetreten.\n"
                "Bitte prüfe deine Internetverbindung und versuche es erneut.";
            break;
        case FailureCategory::ServerData:
            report.caption = "Metadatenfehler";
            report.text =
                "Die empfangenen Daten entsprechen nicht dem erwarteten Format.\n"
                "Bitte versuche es später erneut.";
            break;
        case FailureCategory::Integrity:
            report.caption = "Integritätsfehler";
            report.text =
                "Bei der Prüfung der heruntergeladenen Daten wurde eine Inkonsistenz "
                "festgestellt. Bitte wiederhole den Vorgang.";
            break;
        default:
            break;
    }
}

// Why the engine refused a path or could not make its folder, as the end of a sentence.
std::string RefusalReason(const PatchException::Params& params) {
    switch (static_cast<PathRefusal>(ParamOrZero(params, "Reason"))) {
        case PathRefusal::Empty:
            return "Der Pfad ist leer.";
        case PathRefusal::Rooted:
            return "Der Pfad beginnt im Hauptverzeichnis eines Laufwerks.";
        case PathRefusal::NulByte:
            return "Der Pfad enthält ein Nullzeichen.";
        case PathRefusal::Drive:
            return "Der Pfad nennt ein Laufwerk.";
        case PathRefusal::ParentComponent:
            return "Der Pfad führt mit '..' aus seinem Ordner hinaus.";
        case PathRefusal::TooDeep:
            return "Der Pfad ist tiefer als 32 Ordnerebenen verschachtelt.";
        case PathRefusal::FileInTheWay:
            return "An der Stelle eines seiner Ordner liegt eine Datei.";
        case PathRefusal::CannotCreate:
            return "Einer seiner Ordner kann nicht angelegt werden.";
        case PathRefusal::FolderName:
            return "Der Pfad endet mit einem Trennzeichen und nennt damit einen Ordner, keine "
                   "Datei.";
        case PathRefusal::None:
            break;
    }
    return {};
}

std::string TransferDetails(const PatchException& error) {
    const std::string& d = error.detail;
    switch (error.cause()) {
        case Failure::ChunkIndexNotFetched:
            return "\n\nDetails: Die Verbindung wurde unterbrochen, als die Metadaten für '" + d +
                   "' empfangen werden sollten.";
        case Failure::ServerDataInvalid:
            return "\n\nDetails: Die Metadaten für '" + d + "' sind ungültig.";
        case Failure::FolderNotMade: {
            const std::string reason = RefusalReason(error.params);
            return "\n\nDetails: Das Verzeichnis für '" + d + "' konnte nicht angelegt werden." +
                   (reason.empty() ? "" : " " + reason);
        }
        case Failure::TemporaryFileNotOpened:
            return "\n\nDetails: Die temporäre Datei '" + d + "' kann nicht geschrieben werden.";
        case Failure::RangesNotFetched:
            return "\n\nDetails: Die Daten für '" + d + "' können nicht heruntergeladen werden.";
        case Failure::OldFileNotDeleted:
            return "\n\nDetails: Die alte Datei '" + d + "' konnte nicht gelöscht werden.";
        case Failure::NewFileNotPlaced:
            return "\n\nDetails: Die neue Datei '" + d + "' konnte nicht eingesetzt werden.";
        case Failure::FileListNotFetched:
            return "\n\nDetails: Die Dateiliste konnte nicht abgerufen werden!";
        case Failure::ChecksumMismatch:
            return "\n\nDetails: Die Prüfsumme der Datei '" + d +
                   "' stimmt nicht mit der erwarteten überein.\n(Ist: " +
                   Hex32(ParamOrZero(error.params, "FileChecksum")) +
                   ", Erwartet: " + Hex32(ParamOrZero(error.params, "ExpectedChecksum")) + ")";
        case Failure::NoSpace:
            return "\n\nDetails: Auf dem Laufwerk ist nicht genug Platz für '" + d +
                   "'. Es werden " + FormatByteSize(ParamOrZero(error.params, "NeededBytes")) +
                   " benötigt. Bitte schaffe Platz auf dem Laufwerk und versuche es erneut.";
        case Failure::FolderBusy:
            return "\n\nDetails: Eine andere Aktualisierung des Ordners '" + d +
                   "' läuft bereits. Bitte warte, bis sie beendet ist, und versuche es dann "
                   "erneut.";
        case Failure::FolderInPlaceOfFile:
            return "\n\nDetails: An der Stelle der Datei '" + d +
                   "' liegt ein Ordner. Bitte verschiebe oder lösche ihn und versuche es erneut.";
        case Failure::NotVerified:
            return "\n\nDetails: Die Aktualisierung wurde abgelehnt, weil sie nicht verifiziert "
                   "werden konnte" +
                   (d.empty() ? std::string() : " (betroffen: '" + d + "')") +
                   ". Bitte wende dich an die Betreuer der Welt.";
        default:
            return UnknownErrorDetails(error.category, error.code);
    }
}

}  // namespace

ReportMessage ComposeTransferReport(const PatchException& error) {
    ReportMessage report{kGenericCaption, kGenericText};
    ApplyTransferCategory(error.category, report);
    report.text += TransferDetails(error);
    return report;
}

ReportMessage ComposeCleanupReport(const OperationsProcessorException& error) {
    ReportMessage report{kGenericCaption, kGenericText};
    if (error.category == 0) {
        report.caption = "Fehler beim Aufräumen";
        report.text =
            "Es ist ein Fehler beim Löschen von alten ungenutzten Daten aufgetreten. Möchtest "
            "du ohne Säuberung fortfahren?";
    }
    switch (static_cast<CleanupFailure>(error.code)) {
        case CleanupFailure::FileNotDeleted:
            report.text +=
                "\n\nDetails: Die Datei '" + error.detail + "' konnte nicht gelöscht werden.";
            break;
        case CleanupFailure::FolderNotRemoved:
            report.text +=
                "\n\nDetails: Das Verzeichnis '" + error.detail + "' konnte nicht gelöscht werden.";
            break;
        default:
            report.text += UnknownErrorDetails(error.category, error.code);
    }
    return report;
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

std::string ComposeVerifySummary(std::size_t examined, std::size_t repaired) {
    return std::to_string(examined) + (examined == 1 ? " Datei" : " Dateien") + " geprüft, " +
           std::to_string(repaired) + " repariert";
}

}  // namespace veldmoor
