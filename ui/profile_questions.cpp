#include "ui/profile_questions.h"

#include "profiles/startup_profiles.h"
#include "system/product.h"
#include "ui/fill_in.h"
#include "ui/translate.h"

namespace veldmoor {
namespace {

// A question about a folder the person was warned about.
FolderDecision AskToTake(Prompt& prompt, BrowseMode mode, const std::string& text,
                         const std::string& caption) {
    const PromptButtons buttons =
        mode == BrowseMode::MainDialog ? PromptButtons::YesNoCancel : PromptButtons::YesNo;
    switch (prompt.ShowMessage(text, caption, buttons, PromptIcon::Information)) {
        case PromptAnswer::Yes:
            return FolderDecision::Take;
        case PromptAnswer::No:
            return mode == BrowseMode::MainDialog ? FolderDecision::PickAgain
                                                  : FolderDecision::GiveUp;
        default:
            return FolderDecision::GiveUp;
    }
}

}  // namespace

bool PromptInstallFolderQuestions::UseRegistryInstallation(const std::string& folder) {
    return prompt_.ShowMessage(FillIn(tr("Es wurde eine UO Installation gefunden unter: "
                                         "%1\r\n\r\nSoll diese genutzt werden? Wenn nicht dann "
                                         "muss ein Ordner angegeben werden!"),
                                      {folder}),
                               "", PromptButtons::YesNo, PromptIcon::None) == PromptAnswer::Yes;
}

void PromptInstallFolderQuestions::ChooseFolderNext() {
    prompt_.ShowMessage(tr("Gib einen Ordner an, in den das Spiel installiert werden soll."),
                        kProductName, PromptButtons::Ok, PromptIcon::None);
}

std::optional<std::string> PromptInstallFolderQuestions::PickFolder(
    const std::string& startFolder) {
    return prompt_.PickFolder(
        tr("Ordner für die Spielinstallation wählen (ein neuer Ordner kann angelegt werden)"),
        startFolder);
}

void PromptInstallFolderQuestions::FolderTooLong(const std::string& path, std::size_t maxLength) {
    prompt_.ShowMessage(FillIn(tr("Der von dir ausgewählte Zielpfad ist zu lang (höchstens %1 "
                                  "Zeichen):\r\n\r\n%2\r\n\r\nBitte wähle einen kürzeren Pfad."),
                               {std::to_string(maxLength), path}),
                        "", PromptButtons::Ok, PromptIcon::Error);
}

FolderDecision PromptInstallFolderQuestions::TakeLauncherFolder(const std::string& path,
                                                                BrowseMode mode) {
    return AskToTake(prompt_, mode,
                     FillIn(tr("Der von dir ausgewählte Zielpfad ist der Launcher-Pfad. Wir "
                               "empfehlen für das Spiel einen anderen Pfad zu verwenden, da es "
                               "sonst zu Problemen kommen kann.\r\n\r\n%1\r\n\r\nMöchtest du das "
                               "Spiel dennoch in diesen Zielpfad installieren?"),
                            {path}),
                     tr("Zielpfad ist Launcherpfad"));
}

FolderDecision PromptInstallFolderQuestions::TakeFolderNotEmpty(const std::string& path,
                                                                BrowseMode mode) {
    return AskToTake(prompt_, mode,
                     FillIn(tr("Der von dir ausgewählte Zielpfad ist nicht leer!\r\n\r\n%1\r\n\r\n"
                               "Möchtest du das Spiel dennoch in diesen Zielpfad installieren?"),
                            {path}),
                     tr("Zielpfad nicht leer"));
}

void PromptInstallFolderQuestions::FolderNotCreated() {
    prompt_.ShowMessage(tr("Fehler! Der Ordner konnte nicht erstellt werden!"), "",
                        PromptButtons::Ok, PromptIcon::Error);
}

void PromptProfileSaveNotice::ProfilesNotSaved(const std::string& file, const std::string& reason) {
    prompt_.ShowMessage(
        FillIn(tr("Die Profile konnten nicht in '%1' gespeichert werden:\r\n%2\r\n\r\nPrüfe, ob "
                  "der Ordner beschreibbar ist und genug freier Speicherplatz vorhanden ist. Bis "
                  "dahin gelten deine Änderungen nur bis zum Beenden des Launchers."),
               {file, reason}),
        kProductName, PromptButtons::Ok, PromptIcon::Warning);
}

std::optional<std::string> BrowseForTargetFolder(Prompt& prompt, BrowseMode mode,
                                                 const std::string& startFolder) {
    PromptInstallFolderQuestions questions(prompt);
    return BrowseForTargetFolder(questions, mode, startFolder);
}

bool AcquireInstallPath(Prompt& prompt, PatchContext& profile, bool offerRegistry) {
    PromptInstallFolderQuestions questions(prompt);
    return AcquireInstallPath(questions, profile, offerRegistry);
}

bool CheckInstallPath(Prompt& prompt, PatchContextList& list, std::size_t index) {
    PromptInstallFolderQuestions questions(prompt);
    return CheckInstallPath(questions, list, index);
}

bool SaveProfilesOrTell(PatchContextList& list, Prompt& prompt) {
    PromptProfileSaveNotice notice(prompt);
    return SaveProfilesOrTell(list, notice);
}

std::optional<std::size_t> ImportContextsOrTell(PatchContextList& list, Prompt& prompt) {
    PromptProfileSaveNotice notice(prompt);
    return ImportContextsOrTell(list, notice);
}

std::optional<std::size_t> PrepareProfilesAtStartup(PatchContextList& list, Prompt& prompt) {
    PromptInstallFolderQuestions questions(prompt);
    PromptProfileSaveNotice notice(prompt);
    return PrepareProfilesAtStartup(list, questions, notice);
}

}  // namespace veldmoor
