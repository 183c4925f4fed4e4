#include "ui/message_box.h"

#include <wx/sizer.h>
#include <wx/stattext.h>

#include <algorithm>
#include <vector>

#include "ui/skin.h"
#include "ui/text_wrap.h"

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
    WrapTextsTo(SkinUnits().Pixels(kMainWindowDesignWidth));
}

void CMessageBox::WrapTextsTo(int width) {
    // The toolkit made one text per line of the message (an empty line is a gap of one line's
    // height, which keeps paragraphs apart); whatever is not text (icon, margins) keeps its
    // width, and the texts get the rest.
    std::vector<wxStaticText*> lines;
    int widest = 0;
    for (wxWindow* child : GetChildren()) {
        if (auto* line = dynamic_cast<wxStaticText*>(child)) {
            lines.push_back(line);
            widest = std::max(widest, line->GetBestSize().x);
        }
    }
    wxSizer* sizer = GetSizer();
    if (sizer == nullptr || lines.empty()) {
        Layout();
        return;
    }
    // The window manager's frame comes on top: a character's width is left for it.
    const int others = sizer->GetMinSize().x - widest + GetCharWidth();
    const int textWidth = std::max(width - others, GetCharWidth() * 20);
    for (wxStaticText* line : lines) {
        // The launcher's texts carry Windows line ends: a "\r" left at a line's end would be
        // drawn as one more line break, and each gap between paragraphs twice as high.
        wxString text = line->GetLabelText();
        const bool hadReturns = text.Replace("\r", "") > 0;
        if (line->GetBestSize().x > textWidth)
            text = WrapToWidth(*line, text, textWidth);
        if (hadReturns || text != line->GetLabelText())
            line->SetLabelText(text);
    }
    sizer->SetSizeHints(this);
    Layout();
    Centre();
}

int CMessageBox::ShowModal() {
    Prepare();
    // The base class would build the contents a second time.
    return wxDialog::ShowModal();  // NOLINT(bugprone-parent-virtual-call)
}

}  // namespace veldmoor
