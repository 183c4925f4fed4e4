#include "ui/news_view.h"

#include <wx/sizer.h>
#include <wx/utils.h>
#include <wx/webview.h>

#include "system/path.h"
#include "system/platform.h"
#include "ui/wx_prompt.h"

namespace veldmoor {

NewsNavigation ClassifyNewsNavigation(const std::string& target, const std::string& newsPage) {
    if (EqualsNoCase(target, newsPage))
        return NewsNavigation::Allow;
    if (StartsWithNoCase(target, "res://ieframe.dll/"))
        return NewsNavigation::HideView;
    return NewsNavigation::OpenExternally;
}

bool IsNewsViewAvailable() {
    // A web view whose engine cannot start would put up wx's error box over the window and hold
    // up the automatic update; the placeholder text takes its place instead.
    return wxWebView::IsBackendAvailable(wxWebViewBackendDefault) && SystemHtmlEngineStarts();
}

bool CCustomHtmlView::Create(wxWindow* parent, wxWindowID id, const wxRect& rect,
                             const std::string& newsPageAddress) {
    newsPage = newsPageAddress;
    if (!wxPanel::Create(parent, id, rect.GetPosition(), rect.GetSize(), wxBORDER_NONE))
        return false;
    web = wxWebView::New(this, wxID_ANY, wxString(), wxDefaultPosition, rect.GetSize(),
                         wxWebViewBackendDefault, wxBORDER_NONE);
    if (web == nullptr)
        return false;
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(web, 1, wxEXPAND);
    SetSizer(sizer);
    // No context menu, no developer tools: the page is a picture of the news, not a browser.
    web->EnableContextMenu(false);
    web->EnableAccessToDevTools(false);
    web->Bind(wxEVT_WEBVIEW_NAVIGATING, &CCustomHtmlView::OnNavigating, this);
    web->Bind(wxEVT_WEBVIEW_ERROR, &CCustomHtmlView::OnError, this);
    web->Bind(wxEVT_WEBVIEW_NEWWINDOW, &CCustomHtmlView::OnNewWindow, this);
    // Right clicks never reach the page.
    web->Bind(wxEVT_RIGHT_DOWN, [](wxMouseEvent&) {});
    web->Bind(wxEVT_RIGHT_UP, [](wxMouseEvent&) {});
    if (!openExternally)
        openExternally = [](const std::string& address) {
            wxLaunchDefaultBrowser(FromUtf8(address));
        };
    return true;
}

void CCustomHtmlView::NavigateToNewsPage() {
    if (web != nullptr)
        web->LoadURL(FromUtf8(newsPage));
}

bool CCustomHtmlView::Show(bool show) {
    // Once an error page was about to be shown, nothing shows the view again.
    const bool visible = show && !hiddenForGood;
    // The web engine draws into a window of its own, which must be hidden with the view.
    if (web != nullptr)
        web->Show(visible);
    return wxPanel::Show(visible);
}

void CCustomHtmlView::HideForGood() {
    const bool first = !hiddenForGood;
    hiddenForGood = true;
    Show(false);
    if (GetParent() != nullptr)
        GetParent()->Refresh();
    if (first && onUnavailable)
        onUnavailable();
}

void CCustomHtmlView::OnNavigating(wxWebViewEvent& event) {
    const std::string target = ToUtf8(event.GetURL());
    switch (ClassifyNewsNavigation(target, newsPage)) {
        case NewsNavigation::Allow:
            event.Skip();
            return;
        case NewsNavigation::HideView:
            event.Veto();
            HideForGood();
            return;
        case NewsNavigation::OpenExternally:
            event.Veto();
            // Pages loaded by the browser for itself (a blank page) are simply refused.
            if (target != "about:blank" && !target.empty())
                openExternally(target);
            return;
    }
}

void CCustomHtmlView::OnNewWindow(wxWebViewEvent& event) {
    const std::string target = ToUtf8(event.GetURL());
    if (!target.empty())
        openExternally(target);
}

void CCustomHtmlView::OnError(wxWebViewEvent& event) {
    // Our own veto of a link reports a cancelled navigation; that is no error of the page.
    if (event.GetInt() == wxWEBVIEW_NAV_ERR_USER_CANCELLED)
        return;
    HideForGood();
}

}  // namespace veldmoor
