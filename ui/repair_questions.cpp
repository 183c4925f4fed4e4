#include "ui/repair_questions.h"

#include "ui/fill_in.h"
#include "ui/report_texts.h"
#include "ui/translate.h"

namespace veldmoor {

void PromptRepairQuestions::RegistryNotWritten(const std::string& clientPath) {
    const ReportMessage report = ComposeRegistryWriteFailed(clientPath);
    prompt_.ShowMessage(report.text, report.caption, PromptButtons::Ok, PromptIcon::Warning);
}

bool PromptRepairQuestions::RetrySettingsRemoval(const std::string& fileName) {
    const std::string text =
        fileName.empty()
            ? tr("Die Einstellungen konnten nicht entfernt werden.\r\n\r\nSchließe den Client "
                 "und alle Anwendungen die ggf. darauf zugreifen.")
            : FillIn(tr("Die Datei '%1' konnten nicht entfernt werden.\r\n\r\nSchließe den "
                        "Client und alle Anwendungen die ggf. darauf zugreifen."),
                     {fileName});
    return prompt_.ShowMessage(text, tr("Fehler"), PromptButtons::RetryCancel,
                               PromptIcon::Warning) == PromptAnswer::Retry;
}

bool RunRepairActions(const RepairRequest& request, RepairOperations& operations, Prompt& prompt) {
    PromptRepairQuestions questions(prompt);
    return RunRepairActions(request, operations, static_cast<RepairQuestions&>(questions));
}

void RemoveClientSettings(const std::string& folder, Prompt& prompt) {
    PromptRepairQuestions questions(prompt);
    RemoveClientSettings(folder, static_cast<RepairQuestions&>(questions));
}

}  // namespace veldmoor
