// The news view: which navigations stay, which go to the user's browser, and that an error
// hides the view for good; against a real web engine and a page served on loopback.
#include <gtest/gtest.h>
#include <httplib.h>
#include <wx/frame.h>
#include <wx/webview.h>

#include <atomic>
#include <thread>

#include "tests/ui/ui_test_support.h"
#include "ui/news_view.h"

namespace veldmoor {
namespace {

TEST(NewsNavigationRule, OnlyTheNewsPageStaysAndErrorPagesHideTheView) {
    const std::string page = "https://www.veldmoor.example/html/launcher.php";
    EXPECT_EQ(ClassifyNewsNavigation(page, page), NewsNavigation::Allow);
    EXPECT_EQ(ClassifyNewsNavigation("HTTPS://WWW.Veldmoor.example/HTML/launcher.PHP", page),
              NewsNavigation::Allow);
    EXPECT_EQ(ClassifyNewsNavigation("res://ieframe.dll/navcancl.htm", page),
              NewsNavigation::HideView);
    EXPECT_EQ(ClassifyNewsNavigation("RES://IEFRAME.DLL/dnserror.htm", page),
              NewsNavigation::HideView);
    EXPECT_EQ(ClassifyNewsNavigation("https://www.veldmoor.example/html/forum.php", page),
              NewsNavigation::OpenExternally);
    EXPECT_EQ(ClassifyNewsNavigation(page + "?x=1", page), NewsNavigation::OpenExternally);
}

class NewsViewTest : public ::testing::Test {
protected:
    NewsViewTest() {
        server_.Get("/html/launcher.php", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(
                "<html><body><a id='forum' href='/html/forum.php'>Forum</a><script>"
                "setTimeout(function() { document.getElementById('forum').click(); }, 200);"
                "</script></body></html>",
                "text/html");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        frame_ = new wxFrame(nullptr, wxID_ANY, "News", wxDefaultPosition, wxSize(500, 300));
        frame_->Show();
    }
    ~NewsViewTest() override {
        frame_->Destroy();
        uitest::Pump(std::chrono::milliseconds(200));
        server_.stop();
        thread_.join();
    }
    std::string Base() const { return "http://127.0.0.1:" + std::to_string(port_); }

    CCustomHtmlView* Open(const std::string& page) {
        auto* view = new CCustomHtmlView();
        view->SetExternalOpener([this](const std::string& address) { opened_.push_back(address); });
        EXPECT_TRUE(view->Create(frame_, 1024, wxRect(0, 0, 480, 260), page));
        view->WebView()->Bind(wxEVT_WEBVIEW_LOADED, [this](wxWebViewEvent& event) {
            ++loaded_;
            event.Skip();
        });
        view->NavigateToNewsPage();
        return view;
    }

    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    wxFrame* frame_ = nullptr;
    std::vector<std::string> opened_;
    int loaded_ = 0;
};

TEST_F(NewsViewTest, ALinkOpensInTheBrowserAndTheViewStaysOnTheNewsPage) {
    ASSERT_TRUE(IsNewsViewAvailable());
    CCustomHtmlView* view = Open(Base() + "/html/launcher.php");
    ASSERT_TRUE(uitest::PumpUntil([&] { return loaded_ > 0; }));
    // The page follows its own link shortly after loading.
    ASSERT_TRUE(uitest::PumpUntil([&] { return !opened_.empty(); }));
    uitest::Pump(std::chrono::milliseconds(300));
    EXPECT_EQ(opened_, std::vector<std::string>{Base() + "/html/forum.php"});
    EXPECT_EQ(std::string(view->WebView()->GetCurrentURL().utf8_str()),
              Base() + "/html/launcher.php");
    EXPECT_TRUE(view->IsShown());
}

TEST_F(NewsViewTest, AnErrorOfTheEngineHidesTheViewForGoodButAVetoedLinkDoesNot) {
    // The engine reports a page it could not load with an error event; here it is raised the
    // way the engine raises it, so the test does not depend on how fast a refusal arrives.
    CCustomHtmlView* view = Open(Base() + "/html/launcher.php");
    auto raise = [&](wxWebViewNavigationError kind) {
        wxWebViewEvent error(wxEVT_WEBVIEW_ERROR, view->WebView()->GetId(),
                             "http://127.0.0.1:1/html/launcher.php", "");
        error.SetInt(kind);
        error.SetEventObject(view->WebView());
        view->WebView()->HandleWindowEvent(error);
    };
    raise(wxWEBVIEW_NAV_ERR_USER_CANCELLED);
    EXPECT_FALSE(view->IsHiddenForGood());
    EXPECT_TRUE(view->IsShown());
    raise(wxWEBVIEW_NAV_ERR_CONNECTION);
    EXPECT_TRUE(view->IsHiddenForGood());
    EXPECT_FALSE(view->IsShown());
    view->Show();
    EXPECT_FALSE(view->IsShown());
    EXPECT_TRUE(opened_.empty());
}

}  // namespace
}  // namespace veldmoor
