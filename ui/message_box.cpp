#include "ui/message_box.h"

#include <wx/sizer.h>

namespace veldmoor {

CMessageBox::CMessageBox(wxWindow* parent, const wxString& message, const wxString& caption,
                         long style)
    : wxGenericMessageDialog(parent, message, caption, style | wxCENTRE) {}

void CMessageBox::Prepare() {
    if (prepared)
        return;
    prepared = true;
    // The toolkit's box takes "no icon" for an unknown icon; it is left out while building and
    // kept in the style for everyone who asks.
    const long style = GetMessageDialogStyle();
    if ((style & wxICON_NONE) != 0)
        SetMessageDialogStyle(style & ~wxICON_NONE);
    DoCreateMsgdialog();
    SetMessageDialogStyle(style);
    // The toolkit's button row follows GTK's order; each button is moved to the row's end in
    // the platform's order instead.
    wxSizer* row = nullptr;
    for (const int id : {wxID_YES, wxID_OK, wxID_NO, wxID_CANCEL}) {
        wxWindow* button = FindWindow(id);
        if (button == nullptr || button->GetContainingSizer() == nullptr)
            continue;
        if (row == nullptr)
            row = button->GetContainingSizer();
        if (button->GetContainingSizer() != row)
            continue;
        row->Detach(button);
        row->Add(button, 0, wxLEFT, FromDIP(6));
    }
    Layout();
}

int CMessageBox::ShowModal() {
    Prepare();
    // The base class would build the contents a second time.
    return wxDialog::ShowModal();  // NOLINT(bugprone-parent-virtual-call)
}

}  // namespace veldmoor
