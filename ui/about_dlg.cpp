#include "ui/about_dlg.h"

#include <wx/button.h>
#include <wx/hyperlink.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include <ctime>

#include "ui/dialog_units.h"
#include "ui/launcher_dlg.h"
#include "ui/skin.h"

namespace veldmoor {

std::string AboutVersionLine() {
    return "Launcher, Version " + LauncherVersionText().substr(1);
}

std::string AboutNoticeLine() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    return "Veldmoor-Team, (c) " + std::to_string(utc.tm_year + 1900);
}

CAboutDlg::CAboutDlg(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, "Info", wxDefaultPosition, DialogUnits().Size(170, 77),
               wxDEFAULT_DIALOG_STYLE) {
    SetFont(DialogFont());
    const DialogUnits du;
    wxImage picture;
    LoadPngResource(128, picture, du.Size(20, 20));
    if (picture.IsOk())
        new wxStaticBitmap(this, wxID_ANY, wxBitmap(picture), du.Point(14, 14));
    new wxStaticText(this, kIdAboutVersion, wxString::FromUTF8(AboutVersionLine()),
                     du.Point(42, 14), du.Size(114, 8), wxST_NO_AUTORESIZE);
    new wxStaticText(this, kIdAboutNotice, wxString::FromUTF8(AboutNoticeLine()), du.Point(42, 26),
                     du.Size(114, 8), wxST_NO_AUTORESIZE);
    // The link shows the world's address as text only; it has no target of its own.
    auto* link =
        new wxHyperlinkCtrl(this, kIdAboutLink, "www.veldmoor.example", wxString(),
                            du.Point(41, 36), du.Size(60, 12), wxHL_ALIGN_LEFT | wxBORDER_NONE);
    link->Bind(wxEVT_HYPERLINK, [](wxHyperlinkEvent&) {});
    auto* ok = new wxButton(this, wxID_OK, "OK", du.Point(113, 57), du.Size(50, 14));
    ok->SetDefault();
}

}  // namespace veldmoor
