// CMessageBox: the launcher's message box. The toolkit's own box on GTK shows no icon and puts
// its buttons in the order "Nein | Abbrechen | Ja"; this one shows the icon of its kind and the
// buttons as the players' platform orders them, at the right: "Ja | Nein | Abbrechen",
// "OK | Abbrechen". Its text is wrapped so that the box is never wider than the launcher's
// window, paragraphs kept as paragraphs and long paths broken after a folder separator.
#pragma once

#include <wx/msgdlg.h>
// After wx/msgdlg.h, which it needs.
#include <wx/generic/msgdlgg.h>

namespace veldmoor {

class CMessageBox : public wxGenericMessageDialog {
public:
    CMessageBox(wxWindow* parent, const wxString& message, const wxString& caption, long style);

    // Builds the contents with the labels set so far; ShowModal does it when it was not done.
    void Prepare();
    int ShowModal() override;

private:
    // Wraps the lines the toolkit made so the whole box is at most `width` wide.
    void WrapTextsTo(int width);

    bool prepared = false;
};

}  // namespace veldmoor
