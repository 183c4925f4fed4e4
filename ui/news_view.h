// The news page in the main dialog: an embedded web view that stays on the one news page.
// Links open in the user's browser, the browser's own error pages hide the view instead, and
// the page gets no keyboard input and no context menu.
#pragma once

#include <wx/panel.h>

#include <functional>
#include <string>

#include "ui/translate.h"

class wxWebView;
class wxWebViewEvent;

namespace veldmoor {

// What the news view does with a navigation to `target` when the news page is `newsPage`.
enum class NewsNavigation {
    Allow,          // the news page itself (letter case ignored)
    HideView,       // the browser's own error page: the dialog's background shows instead
    OpenExternally  // anything else: cancelled here, opened in the user's browser
};
NewsNavigation ClassifyNewsNavigation(const std::string& target, const std::string& newsPage);

// True when this system can show web pages in the dialog (the web view backend exists).
bool IsNewsViewAvailable();

// Shown in the news area in place of a news page that could not be loaded.
inline constexpr const char* kNewsUnreachableText = German(
    "Der Server ist gerade nicht erreichbar, daher gibt es hier keine Neuigkeiten. Prüfe deine "
    "Internetverbindung; Patchen und Starten kannst du es trotzdem versuchen.");

class CCustomHtmlView : public wxPanel {
public:
    // Opens `address` with the system's default action (the user's browser); replaced in tests.
    using ExternalOpener = std::function<void(const std::string& address)>;

    CCustomHtmlView() = default;

    // Creates the view over `rect` of `parent` with id `id` and the given news page address.
    bool Create(wxWindow* parent, wxWindowID id, const wxRect& rect, const std::string& newsPage);

    // Navigates to the news page.
    void NavigateToNewsPage();

    void SetExternalOpener(ExternalOpener opener) { openExternally = std::move(opener); }
    // Called once when the page could not be loaded and the view hid itself for good.
    void SetUnavailableHandler(std::function<void()> handler) {
        onUnavailable = std::move(handler);
    }

    // True once an error page was about to be shown: the view stays hidden from then on.
    bool IsHiddenForGood() const { return hiddenForGood; }

    bool Show(bool show = true) override;

    wxWebView* WebView() const { return web; }

private:
    void OnNavigating(wxWebViewEvent& event);
    void OnError(wxWebViewEvent& event);
    void OnNewWindow(wxWebViewEvent& event);
    void HideForGood();

    wxWebView* web = nullptr;
    std::string newsPage;
    bool hiddenForGood = false;
    ExternalOpener openExternally;
    std::function<void()> onUnavailable;
};

}  // namespace veldmoor
