#include "ui/about_dlg.h"

#include <wx/button.h>
#include <wx/hyperlink.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include <chrono>

#include "ui/dialog_units.h"
#include "ui/fill_in.h"
#include "ui/launcher_dlg.h"
#include "ui/skin.h"
#include "ui/translate.h"

namespace veldmoor {

std::string AboutVersionLine() {
    return FillIn(tr("Launcher, Version %1"), {LauncherVersionText().substr(1)});
}

std::string AboutNoticeLine() {
    const std::chrono::year_month_day today{
        std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now())};
    return FillIn(tr("Veldmoor-Team, (c) %1"), {std::to_string(static_cast<int>(today.year()))});
}

CAboutDlg::CAboutDlg(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, wxString::FromUTF8(tr("Info")), wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE) {
    SetFont(DialogFont());
    // Laid out by sizers, so the texts and the button fit inside the client area whatever the
    // font and the window manager's frame.
    const DialogUnits du;
    auto* picture = new CPNGPicture();
    picture->Create(this, wxID_ANY, wxDefaultPosition, 128, wxSize(du.Y(20), du.Y(20)));
    auto* texts = new wxBoxSizer(wxVERTICAL);
    texts->Add(new wxStaticText(this, kIdAboutVersion, wxString::FromUTF8(AboutVersionLine())));
    texts->Add(new wxStaticText(this, kIdAboutNotice, wxString::FromUTF8(AboutNoticeLine())), 0,
               wxTOP, du.Y(4));
    // The link shows the world's address as text only; it has no target of its own.
    auto* link =
        new wxHyperlinkCtrl(this, kIdAboutLink, "www.veldmoor.example", wxString(),
                            wxDefaultPosition, wxDefaultSize, wxHL_ALIGN_LEFT | wxBORDER_NONE);
    link->Bind(wxEVT_HYPERLINK, [](wxHyperlinkEvent&) {});
    texts->Add(link, 0, wxTOP, du.Y(2));
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    row->Add(picture, 0, wxALIGN_TOP);
    row->Add(texts, 1, wxLEFT, du.X(8));
    auto* ok = new wxButton(this, wxID_OK, "OK");
    ok->SetDefault();
    auto* top = new wxBoxSizer(wxVERTICAL);
    top->Add(row, 1, wxEXPAND | wxALL, du.X(10));
    top->Add(ok, 0, wxALIGN_RIGHT | wxLEFT | wxRIGHT | wxBOTTOM, du.X(7));
    SetSizerAndFit(top);
}

}  // namespace veldmoor
