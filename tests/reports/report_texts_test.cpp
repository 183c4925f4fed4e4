#include "ui/report_texts.h"

#include <gtest/gtest.h>

#include <type_traits>

#include "tests/support/scripted_prompt.h"

namespace veldmoor {
namespace {

using testing::ScriptedPrompt;

// The category paragraphs, written out here independently of the code under test.
constexpr char kAccessText[] =
    "Beim Anwenden der neuen Daten ist ein Fehler aufgetreten.\nBitte kontrolliere dass der "
    "Launcher kein weiteres Mal läuft und das Spiel nicht gestartet ist. Auch keine andere "
    "Anwendung (z. B. Axis, TNG, Fiddler, VelLoop, ..), die auf die Daten zugreift, darf "
    "gestartet sein.\nSollte das nicht helfen, starte ggf. deinen Rechner neu oder prüfe die "
    "Ordnerberechtigungen mit der Reparaturfunktion.";
constexpr char kTransferText[] =
    "Es ist ein Fehler bei der Übertragung der Daten aufgetreten.\nBitte prüfe deine "
    "Internetverbindung und versuche es erneut.";
constexpr char kMetadataText[] =
    "Die empfangenen Daten entsprechen nicht dem erwarteten Format.\nBitte versuche es spä"
    "ter erneut.";
constexpr char kIntegrityText[] =
    "Bei der Prüfung der heruntergeladenen Daten wurde eine Inkonsistenz festgestellt. Bitte "
    "wiederhole "
    "den Vorgang.";
constexpr char kCleanupText[] =
    "Es ist ein Fehler beim Löschen von alten ungenutzten Daten aufgetreten. Möchtest du ohne "
    "Säuberung fortfahren?";

TEST(ExceptionTypes, AreSiblingsThatNeverCatchEachOther) {
    static_assert(!std::is_base_of_v<PatchException, OperationsProcessorException>);
    static_assert(!std::is_base_of_v<OperationsProcessorException, PatchException>);
    const OperationsProcessorException cleanup(CleanupFailure::FolderNotRemoved, "data/old",
                                               "Can't remove directory.");
    EXPECT_EQ(cleanup.category, 0);
    EXPECT_EQ(cleanup.code, 1);
    EXPECT_EQ(cleanup.detail, "data/old");
    EXPECT_STREQ(cleanup.what(), "Can't remove directory.");
    bool caughtAsPatchException = false;
    try {
        try {
            throw cleanup;
        } catch (const PatchException&) {
            caughtAsPatchException = true;
        }
    } catch (const OperationsProcessorException&) {
    }
    EXPECT_FALSE(caughtAsPatchException);
}

TEST(ComposeTransferReport, FileListFailure) {
    const ReportMessage report = ComposeTransferReport(
        PatchException::fromNumbers(1, 7, "", "Http request failed while getting files!"));
    EXPECT_EQ(report.caption, "Datenübertragungsfehler");
    EXPECT_EQ(report.text, std::string(kTransferText) +
                               "\n\nDetails: Die Dateiliste konnte nicht abgerufen werden!");
}

TEST(ComposeTransferReport, ChecksumFailureShowsBothValuesInHex) {
    const ReportMessage report = ComposeTransferReport(
        PatchException::fromNumbers(3, 8, "data/a.mul", "Checksum check failed",
                                    {{"FileChecksum", 6699}, {"ExpectedChecksum", 4294967295u}}));
    EXPECT_EQ(report.caption, "Integritätsfehler");
    EXPECT_EQ(report.text, std::string(kIntegrityText) +
                               "\n\nDetails: Die Prüfsumme der Datei 'data/a.mul' stimmt nicht mit "
                               "der erwarteten überein.\n(Ist: 0x00001A2B, Erwartet: 0xFFFFFFFF)");
}

TEST(ComposeTransferReport, MissingChecksumParamsReadAsZero) {
    const ReportMessage report = ComposeTransferReport(
        PatchException::fromNumbers(3, 8, "x", "", {{"ExpectedChecksum", 0xABCDEFu}}));
    EXPECT_NE(report.text.find("(Ist: 0x00000000, Erwartet: 0x00ABCDEF)"), std::string::npos)
        << report.text;
}

TEST(ComposeTransferReport, EachCodeHasItsDetailsParagraph) {
    struct Case {
        int category;
        int code;
        const char* detail;
        const char* caption;
        const char* text;
        const char* details;
    };
    const Case cases[] = {
        {1, 0, "a/b.mul", "Datenübertragungsfehler", kTransferText,
         "\n\nDetails: Die Verbindung wurde unterbrochen, als die Metadaten für 'a/b.mul' "
         "empfangen werden sollten."},
        {2, 1, "a/b.mul", "Metadatenfehler", kMetadataText,
         "\n\nDetails: Die Metadaten für 'a/b.mul' sind ungültig."},
        {0, 2, "a/b.mul", "Zugriffsfehler", kAccessText,
         "\n\nDetails: Das Verzeichnis für 'a/b.mul' konnte nicht angelegt werden."},
        {0, 3, "a/b.mul.tmp", "Zugriffsfehler", kAccessText,
         "\n\nDetails: Die temporäre Datei 'a/b.mul.tmp' kann nicht geschrieben werden."},
        {1, 4, "a/b.mul", "Datenübertragungsfehler", kTransferText,
         "\n\nDetails: Die Daten für 'a/b.mul' können nicht heruntergeladen "
         "werden."},
        {0, 5, "a/b.mul", "Zugriffsfehler", kAccessText,
         "\n\nDetails: Die alte Datei 'a/b.mul' konnte nicht gelöscht werden."},
        {0, 6, "a/b.mul", "Zugriffsfehler", kAccessText,
         "\n\nDetails: Die neue Datei 'a/b.mul' konnte nicht eingesetzt werden."},
        {2, 1, "", "Metadatenfehler", kMetadataText,
         "\n\nDetails: Die Metadaten für '' sind ungültig."},
    };
    for (const Case& c : cases) {
        const ReportMessage report = ComposeTransferReport(
            PatchException::fromNumbers(c.category, c.code, c.detail, "diagnostic"));
        EXPECT_EQ(report.caption, c.caption) << c.category << "-" << c.code;
        EXPECT_EQ(report.text, std::string(c.text) + c.details) << c.category << "-" << c.code;
    }
}

TEST(ComposeTransferReport, TheEnginesLaterCodesSayWhatHappened) {
    const auto details = [](const PatchException& error) {
        const ReportMessage report = ComposeTransferReport(error);
        EXPECT_EQ(report.caption, "Zugriffsfehler");
        EXPECT_EQ(report.text.substr(0, std::string(kAccessText).size()), kAccessText);
        return report.text.substr(std::string(kAccessText).size());
    };
    EXPECT_EQ(
        details(PatchException::fromNumbers(0, 9, "data/a.mul", "", {{"NeededBytes", 4u << 20}})),
        "\n\nDetails: Auf dem Laufwerk ist nicht genug Platz für 'data/a.mul'. Es "
        "werden 4.00MB benötigt. Bitte schaffe Platz auf dem Laufwerk und versuche es "
        "erneut.");
    EXPECT_EQ(details(PatchException::fromNumbers(0, 10, "C:/Spiel", "")),
              "\n\nDetails: Eine andere Aktualisierung des Ordners 'C:/Spiel' läuft "
              "bereits. Bitte warte, bis sie beendet ist, und versuche es dann erneut.");
    EXPECT_EQ(details(PatchException::fromNumbers(0, 11, "data/a.mul", "")),
              "\n\nDetails: An der Stelle der Datei 'data/a.mul' liegt ein Ordner. Bitte "
              "verschiebe oder lösche ihn und versuche es erneut.");
    EXPECT_EQ(details(PatchException::fromNumbers(0, 2, "a/../b", "", {{"Reason", 5}})),
              "\n\nDetails: Das Verzeichnis für 'a/../b' konnte nicht angelegt werden. "
              "Der Pfad führt mit '..' aus seinem Ordner hinaus.");
    EXPECT_EQ(details(PatchException::fromNumbers(0, 2, "d/f", "", {{"Reason", 6}})),
              "\n\nDetails: Das Verzeichnis für 'd/f' konnte nicht angelegt werden. Der "
              "Pfad ist tiefer als 32 Ordnerebenen verschachtelt.");
}

TEST(ComposeTransferReport, CaptionAndDetailsAreChosenIndependently) {
    const ReportMessage unknownBoth =
        ComposeTransferReport(PatchException::fromNumbers(9, 99, "x", ""));
    EXPECT_EQ(unknownBoth.caption, "Fehler");
    EXPECT_EQ(unknownBoth.text,
              "Es scheint etwas schief gelaufen zu sein.\n\nDetails: Es ist ein unbekannter "
              "Fehler aufgetreten. (Nummer: 9-99)");

    const ReportMessage unknownCategory =
        ComposeTransferReport(PatchException::fromNumbers(-4, 7, "", ""));
    EXPECT_EQ(unknownCategory.caption, "Fehler");
    EXPECT_EQ(unknownCategory.text,
              "Es scheint etwas schief gelaufen zu sein.\n\nDetails: Die Dateiliste konnte "
              "nicht abgerufen werden!");

    const ReportMessage unknownCode =
        ComposeTransferReport(PatchException::fromNumbers(2, -3, "x", ""));
    EXPECT_EQ(unknownCode.caption, "Metadatenfehler");
    EXPECT_EQ(unknownCode.text,
              std::string(kMetadataText) +
                  "\n\nDetails: Es ist ein unbekannter Fehler aufgetreten. (Nummer: 2--3)");
}

TEST(ComposeCleanupReport, FileAndFolderParagraphs) {
    const ReportMessage file = ComposeCleanupReport(OperationsProcessorException(
        CleanupFailure::FileNotDeleted, "old/a.dll", "Can't remove file."));
    EXPECT_EQ(file.caption, "Fehler beim Aufräumen");
    EXPECT_EQ(file.text, std::string(kCleanupText) +
                             "\n\nDetails: Die Datei 'old/a.dll' konnte nicht gelöscht "
                             "werden.");
    const ReportMessage folder = ComposeCleanupReport(
        OperationsProcessorException(CleanupFailure::FolderNotRemoved, "old/maps", "x"));
    EXPECT_EQ(folder.text, std::string(kCleanupText) +
                               "\n\nDetails: Das Verzeichnis 'old/maps' konnte nicht "
                               "gelöscht werden.");
    const ReportMessage unknown =
        ComposeCleanupReport(OperationsProcessorException(static_cast<CleanupFailure>(5), "", "x"));
    EXPECT_EQ(unknown.text,
              std::string(kCleanupText) +
                  "\n\nDetails: Es ist ein unbekannter Fehler aufgetreten. (Nummer: 0-5)");
}

TEST(ComposeCleanupReport, NonZeroCategoryKeepsTheGenericTexts) {
    OperationsProcessorException error(CleanupFailure::FileNotDeleted, "a", "x");
    error.category = 2;
    const ReportMessage report = ComposeCleanupReport(error);
    EXPECT_EQ(report.caption, "Fehler");
    EXPECT_EQ(report.text,
              "Es scheint etwas schief gelaufen zu sein.\n\nDetails: Die Datei 'a' konnte "
              "nicht gelöscht werden.");
}

TEST(ReportTransferError, ShowsAnErrorBoxWithOk) {
    ScriptedPrompt prompt;
    prompt.Answer(PromptAnswer::Ok);
    const PatchException error =
        PatchException::fromNumbers(0, 5, "art.mul", "Delete failed on 'art.mul'!");
    ReportTransferError(&prompt, error);
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0].caption, "Zugriffsfehler");
    EXPECT_EQ(prompt.messages[0].text, ComposeTransferReport(error).text);
    EXPECT_EQ(prompt.messages[0].buttons, PromptButtons::Ok);
    EXPECT_EQ(prompt.messages[0].icon, PromptIcon::Error);
    ReportTransferError(nullptr, error);  // nobody to ask: nothing happens
}

TEST(ReportCleanupError, ReturnsTrueExactlyOnYes) {
    const OperationsProcessorException error(CleanupFailure::FolderNotRemoved, "old/maps",
                                             "Can't remove directory.");
    for (const auto& [answer, expected] :
         {std::pair{PromptAnswer::Yes, true}, std::pair{PromptAnswer::No, false},
          std::pair{PromptAnswer::Cancel, false}}) {
        ScriptedPrompt prompt;
        prompt.Answer(answer);
        EXPECT_EQ(ReportCleanupError(&prompt, error), expected);
        ASSERT_EQ(prompt.messages.size(), 1u);
        EXPECT_EQ(prompt.messages[0].caption, "Fehler beim Aufräumen");
        EXPECT_EQ(prompt.messages[0].buttons, PromptButtons::YesNo);
        EXPECT_EQ(prompt.messages[0].icon, PromptIcon::Error);
    }
    EXPECT_FALSE(ReportCleanupError(nullptr, error));
}

}  // namespace
}  // namespace veldmoor
