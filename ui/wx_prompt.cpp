#include "ui/wx_prompt.h"

#include <wx/dirdlg.h>
#include <wx/msgdlg.h>

#include "ui/message_box.h"
#include "ui/translate.h"

namespace veldmoor {

namespace {

long StyleFor(PromptButtons buttons, PromptIcon icon) {
    long style = 0;
    switch (buttons) {
        case PromptButtons::Ok:
            style |= wxOK;
            break;
        case PromptButtons::OkCancel:
            style |= wxOK | wxCANCEL;
            break;
        case PromptButtons::YesNo:
            style |= wxYES_NO;
            break;
        case PromptButtons::YesNoCancel:
            style |= wxYES_NO | wxCANCEL;
            break;
        case PromptButtons::RetryCancel:
            // wx has no Retry button of its own: Yes is relabelled below.
            style |= wxYES_NO;
            break;
    }
    switch (icon) {
        case PromptIcon::None:
            style |= wxICON_NONE;
            break;
        case PromptIcon::Error:
            style |= wxICON_ERROR;
            break;
        case PromptIcon::Warning:
            style |= wxICON_WARNING;
            break;
        case PromptIcon::Question:
            style |= wxICON_QUESTION;
            break;
        case PromptIcon::Information:
            style |= wxICON_INFORMATION;
            break;
    }
    return style;
}

PromptAnswer AnswerFor(int result, PromptButtons buttons) {
    if (buttons == PromptButtons::RetryCancel)
        return result == wxID_YES ? PromptAnswer::Retry : PromptAnswer::Cancel;
    switch (result) {
        case wxID_OK:
            return PromptAnswer::Ok;
        case wxID_YES:
            return PromptAnswer::Yes;
        case wxID_NO:
            return PromptAnswer::No;
        default:
            // Closing the box without a button counts as its most cautious answer.
            if (buttons == PromptButtons::YesNo)
                return PromptAnswer::No;
            if (buttons == PromptButtons::Ok)
                return PromptAnswer::Ok;
            return PromptAnswer::Cancel;
    }
}

}  // namespace

PromptAnswer ShowMessageBox(wxWindow* owner, const std::string& text, const std::string& caption,
                            PromptButtons buttons, PromptIcon icon) {
    CMessageBox box(owner, FromUtf8(text), FromUtf8(caption), StyleFor(buttons, icon));
    if (buttons == PromptButtons::RetryCancel)
        box.SetYesNoLabels(wxString::FromUTF8(tr("Wiederholen")),
                           wxString::FromUTF8(tr("Abbrechen")));
    else if (buttons == PromptButtons::YesNo || buttons == PromptButtons::YesNoCancel)
        box.SetYesNoCancelLabels(wxString::FromUTF8(tr("Ja")), wxString::FromUTF8(tr("Nein")),
                                 wxString::FromUTF8(tr("Abbrechen")));
    else if (buttons == PromptButtons::OkCancel)
        box.SetOKCancelLabels(wxString::FromUTF8("OK"), wxString::FromUTF8(tr("Abbrechen")));
    const int result = box.ShowModal();
    // Parts of the owner that the box covered are drawn again, the news page too: at once,
    // and once more after the box's window is surely gone from the screen.
    if (owner != nullptr) {
        owner->Refresh();
        owner->CallAfter([owner] { owner->Refresh(); });
    }
    return AnswerFor(result, buttons);
}

PromptAnswer WxPrompt::ShowMessage(const std::string& text, const std::string& caption,
                                   PromptButtons buttons, PromptIcon icon) {
    return ShowMessageBox(owner, text, caption, buttons, icon);
}

std::optional<std::string> WxPrompt::PickFolder(const std::string& title,
                                                const std::string& initialFolder) {
    // Not wxDD_DIR_MUST_EXIST: the person may make the folder the game goes into.
    wxDirDialog picker(owner, FromUtf8(title), FromUtf8(initialFolder),
                       wxDD_DEFAULT_STYLE | wxDD_NEW_DIR_BUTTON);
    if (picker.ShowModal() != wxID_OK)
        return std::nullopt;
    return ToUtf8(picker.GetPath());
}

}  // namespace veldmoor
