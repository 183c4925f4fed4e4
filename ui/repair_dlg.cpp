#include "ui/repair_dlg.h"

#include <wx/sizer.h>
#include <wx/stattext.h>

#include <chrono>
#include <utility>

#include "ui/dialog_units.h"
#include "ui/repair_questions.h"
#include "ui/tab_order.h"
#include "ui/text_wrap.h"
#include "ui/translate.h"
#include "ui/wx_prompt.h"

namespace veldmoor {

std::vector<std::string> ElevatedRepairArguments(const std::string& folder, bool registry,
                                                 bool rights, bool settings) {
    std::vector<std::string> arguments{"-repair", folder};
    if (registry)
        arguments.emplace_back("-rreg");
    if (rights)
        arguments.emplace_back("-rrights");
    if (settings)
        arguments.emplace_back("-rconfig");
    return arguments;
}

CRepairDlg::CRepairDlg(wxWindow* parent, std::string folder, RepairOperations& repairOperations,
                       PatchPlatform& patchPlatform)
    : wxDialog(parent, wxID_ANY, wxString::FromUTF8(tr("Reparaturoptionen")), wxDefaultPosition,
               wxDefaultSize, wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER),
      patchPath(std::move(folder)),
      operations(repairOperations),
      platform(patchPlatform) {
    SetFont(DialogFont());
    // Laid out by sizers, so every text of the present font fits and the buttons stay whole.
    const DialogUnits du;
    const int margin = du.X(7);
    auto* top = new wxBoxSizer(wxVERTICAL);
    auto* intro = new wxStaticText(
        this, wxID_ANY,
        wxString::FromUTF8(
            tr("Nachfolgend findest du Aktionen die dir helfen können, wenn dein Spiel, "
               "Patchvorgang oder Peripherie nicht mehr ordnungsgemäß funktioniert. Dabei wird "
               "versucht bekannte typische Fehler zu beheben. Sollte nichts davon helfen, nutze "
               "Wiki oder Forum.")));
    intro->Wrap(du.X(288));
    top->Add(intro, 0, wxALL, margin);

    struct Option {
        int boxId;
        int pictureId;
        int pngId;
        const char* text;
    };
    const Option options[] = {
        {kIdRepairRegistry, kIdImgReg, 166,
         German(
             "Windows-Registrierungseinträge setzen\n(Dies ist beispielsweise für Fiddler, Axis, "
             "etc. erforderlich, kann aber auch Fehler im regulären Betrieb des Spiels "
             "korrigieren.)")},
        {kIdRepairRights, kIdImgUac, 168,
         German("Windows-Berechtigungen auf dem Installationspfad korrigieren\n(Hiermit können vor "
                "allem Probleme beim Patchen behoben werden.)")},
        {kIdRepairSettings, kIdImgSettings, 167,
         German(
             "Einstellungen zurücksetzen\n(Hierbei werden all deine Einstellungen und Makros die "
             "auf deinem Rechner gespeichert sind für alle Charaktere auf den Standard "
             "zurückgesetzt.)")},
        {kIdVerifyGameFiles, kIdImgVerify, 166,
         German(
             "Spieldateien prüfen\n(Alle Dateien des Spiels werden anhand ihres Inhalts geprüft; "
             "beschädigte oder veränderte Dateien werden neu geladen.)")},
    };
    wxCheckBox** boxes[] = {&registryBox, &rightsBox, &settingsBox, &verifyBox};
    for (int i = 0; i < 4; ++i) {
        const Option& option = options[i];
        auto* picture = new CPNGPicture();
        // Sized with the text, drawn at the display's resolution.
        const int side = du.Y(26);
        picture->Create(this, option.pictureId, wxDefaultPosition, option.pngId,
                        wxSize(side, side));
        // A multi-line check box: its own label carries the text, so the toolkit draws the
        // focus mark around it and a click on the text ticks the box.
        auto* box = new wxCheckBox(this, option.boxId, wxString());
        box->SetLabel(WrapToWidth(*box, wxString::FromUTF8(tr(option.text)), du.X(243)));
        box->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent& event) { OnBoxClicked(event.GetId()); });
        *boxes[i] = box;
        auto* row = new wxBoxSizer(wxHORIZONTAL);
        row->Add(picture, 0, wxALIGN_TOP);
        row->Add(box, 1, wxALIGN_TOP | wxLEFT, du.X(4));
        top->Add(row, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, margin);
    }

    proceedButton = new wxButton(this, wxID_OK, wxString::FromUTF8(tr("Fortfahren")));
    proceedButton->SetDefault();
    proceedButton->Disable();
    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    buttons->AddStretchSpacer();
    buttons->Add(proceedButton);
    buttons->Add(new wxButton(this, wxID_CANCEL, wxString::FromUTF8(tr("Abbrechen"))), 0, wxLEFT,
                 du.X(4));
    top->AddStretchSpacer();
    top->Add(buttons, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, margin);
    SetSizerAndFit(top);
    OrderTabStopsByReading(*this);
    // Wrapped texts take their final size only once shown, and the window with them: it is
    // centred on its owner again then, as it was before.
    Bind(wxEVT_SHOW, [this](wxShowEvent& event) {
        if (event.IsShown() && GetParent() != nullptr)
            CallAfter([this] { CentreOnParent(); });
        event.Skip();
    });
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnProceed(); }, wxID_OK);
}

void CRepairDlg::UpdateProceed() {
    proceedButton->Enable(registryBox->GetValue() || rightsBox->GetValue() ||
                          settingsBox->GetValue() || verifyBox->GetValue());
}

void CRepairDlg::OnBoxClicked(int id) {
    if (id == kIdRepairRights && rightsBox->GetValue()) {
        const std::string warning =
            tr("Mit anwenden dieser Option werden die Zugriffsberechtigungen auf dem "
               "eingestellten Installationspfad des aktuell ausgewählten Profils neu gesetzt:") +
            "\r\n\r\n" + patchPath + "\r\n\r\n" +
            tr("Setze nur fort, wenn es sich dabei wirklich um deinen Spielordner handelt, da "
               "diese Operation auf ein anderes Verzeichnis unvorhersehbare Folgen haben kann.");
        if (ShowMessageBox(this, warning, tr("Achtung"), PromptButtons::OkCancel,
                           PromptIcon::Warning) != PromptAnswer::Ok)
            rightsBox->SetValue(false);
    }
    UpdateProceed();
}

void CRepairDlg::OnProceed() {
    const bool registry = registryBox->GetValue();
    const bool rights = rightsBox->GetValue();
    const bool settings = settingsBox->GetValue();
    const bool verify = verifyBox->GetValue();
    if (!registry && !rights && !settings && !verify)
        return;
    WxPrompt ownerless(nullptr);
    const bool elevatedRegistry = registry && platform.RegistryWriteNeedsElevation();
    if ((elevatedRegistry || rights) && !platform.IsElevated()) {
        // The elevated launcher does the work; the window waits for it, as long as it takes.
        platform.RunElevatedAndWait(
            ElevatedRepairArguments(patchPath, elevatedRegistry, rights, settings),
            std::chrono::hours(24 * 365));
    } else if (elevatedRegistry || rights || settings) {
        RepairRequest request;
        request.folder = patchPath;
        request.registry = elevatedRegistry;
        request.rights = rights;
        request.settings = settings;
        if (!RunRepairActions(request, operations, ownerless))
            return;
    }
    if (registry && !elevatedRegistry) {
        // The person's own registry, written here after any rights repair gave access to the
        // folder. A failure was told and keeps the dialog open: no report of success.
        RepairRequest request;
        request.folder = patchPath;
        request.registry = true;
        if (!RunRepairActions(request, operations, ownerless))
            return;
    }
    // The check of the game files runs after the dialog and tells its own outcome.
    verifyChosen = verify;
    if (!verify) {
        ShowMessageBox(this, tr("Reparaturoperationen abgeschlossen."), tr("Abgeschlossen"),
                       PromptButtons::Ok, PromptIcon::Information);
    }
    Finish(wxID_OK);
}

void CRepairDlg::Finish(int result) {
    // Shown without ShowModal (tests), the dialog is hidden with the same result.
    if (IsModal()) {
        EndModal(result);
    } else {
        SetReturnCode(result);
        Hide();
    }
}

}  // namespace veldmoor
