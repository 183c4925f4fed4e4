#include "ui/message_box.h"

#include <wx/sizer.h>
#include <wx/stattext.h>

#include <algorithm>
#include <vector>

#include "ui/skin.h"

namespace veldmoor {

namespace {

// Breaks one paragraph into lines of at most `width` pixels in `text`'s font: at spaces, and a
// word longer than a line (a path) after its last folder separator that fits, else anywhere.
wxString WrapParagraph(const wxWindow& text, const wxString& paragraph, int width) {
    const auto fits = [&](const wxString& line) { return text.GetTextExtent(line).x <= width; };
    wxString wrapped;
    wxString line;
    for (wxString word : wxSplit(paragraph, ' ', '\0')) {
        const wxString longer = line.empty() ? word : line + " " + word;
        if (fits(longer)) {
            line = longer;
            continue;
        }
        if (!line.empty()) {
            wrapped += line + "\n";
            line.clear();
        }
        while (word.length() > 1 && !fits(word)) {
            // The longest start of the word that fits, found by halving.
            std::size_t low = 1;
            std::size_t high = word.length() - 1;
            while (low < high) {
                const std::size_t middle = (low + high + 1) / 2;
                if (fits(word.Left(middle)))
                    low = middle;
                else
                    high = middle - 1;
            }
            std::size_t cut = low;
            const std::size_t separator = word.Left(low).find_last_of("/\\");
            if (separator != wxString::npos && separator > 0)
                cut = separator + 1;
            wrapped += word.Left(cut) + "\n";
            word = word.Mid(cut);
        }
        line = word;
    }
    return wrapped + line;
}

}  // namespace

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
    const int others = sizer->GetMinSize().x - widest;
    const int textWidth = std::max(width - others, GetCharWidth() * 20);
    for (wxStaticText* line : lines) {
        // The launcher's texts carry Windows line ends: a "\r" left at a line's end would be
        // drawn as one more line break, and each gap between paragraphs twice as high.
        wxString text = line->GetLabelText();
        const bool hadReturns = text.Replace("\r", "") > 0;
        if (line->GetBestSize().x > textWidth)
            text = WrapParagraph(*line, text, textWidth);
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
