#include "tests/ui/ui_test_support.h"

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/init.h>
#include <wx/msgdlg.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

namespace veldmoor::uitest {

namespace {

wxGUIEventLoop* TestLoop() {
    static wxGUIEventLoop* loop = new wxGUIEventLoop();
    return loop;
}

void PumpOnce() {
    wxEventLoopBase* active = wxEventLoopBase::GetActive();
    if (active == nullptr) {
        wxEventLoopActivator activate(TestLoop());
        while (TestLoop()->Pending())
            TestLoop()->Dispatch();
        wxTheApp->ProcessPendingEvents();
        TestLoop()->ProcessIdle();
    } else {
        while (active->Pending())
            active->Dispatch();
        wxTheApp->ProcessPendingEvents();
    }
}

// A failed toolkit assertion would open a modal box and hang a headless run: it fails the
// test instead.
void FailOnAssert(const wxString& file, int line, const wxString& function,
                  const wxString& condition, const wxString& message) {
    ADD_FAILURE() << "wx assertion failed at " << file.utf8_str() << ":" << line << " in "
                  << function.utf8_str() << ": " << condition.utf8_str() << " "
                  << message.utf8_str();
}

}  // namespace

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        PumpOnce();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void Pump(std::chrono::milliseconds duration) {
    const auto until = std::chrono::steady_clock::now() + duration;
    PumpUntil([&] { return std::chrono::steady_clock::now() > until; }, duration * 2);
}

ScriptedBoxes::ScriptedBoxes() {
    Register();
}

ScriptedBoxes::~ScriptedBoxes() {
    Unregister();
}

int ScriptedBoxes::Enter(wxDialog* dialog) {
    if (auto* box = dynamic_cast<wxMessageDialogBase*>(dialog)) {
        boxes.push_back({std::string(box->GetTitle().utf8_str()),
                         std::string(box->GetMessage().utf8_str()), box->GetMessageDialogStyle()});
        if (answers.empty()) {
            ++unexpected;
            return wxID_CANCEL;
        }
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    }
    return handle ? handle(dialog) : wxID_NONE;
}

void ScriptedBoxes::Exit(wxDialog*) {}

}  // namespace veldmoor::uitest

int main(int argc, char** argv) {
    bool listing = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--gtest_list_tests", 18) == 0)
            listing = true;
    }
    ::testing::InitGoogleTest(&argc, argv);
    if (listing)
        return RUN_ALL_TESTS();
    wxSetAssertHandler(veldmoor::uitest::FailOnAssert);
    // One temporary folder for the whole run: the window writes its fonts there, and the toolkit
    // keeps using those files until the process ends.
    char folder[] = "/tmp/veldmoor-ui-tests-XXXXXX";
    if (mkdtemp(folder) != nullptr)
        setenv("TMPDIR", folder, 1);
    // Opening the display now and then fails at once while other test processes start and end
    // their own connections to the same X server; a second try a moment later gets through.
    bool started = false;
    for (int attempt = 0; attempt < 5 && !started; ++attempt) {
        if (attempt > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
        wxApp::SetInstance(new wxApp());  // a failed start deletes the instance
        started = wxEntryStart(argc, argv);
    }
    if (!started) {
        std::fprintf(stderr, "ui_tests: no display (run under xvfb-run)\n");
        return 1;
    }
    wxTheApp->CallOnInit();
    wxSetAssertHandler(veldmoor::uitest::FailOnAssert);
    const int result = RUN_ALL_TESTS();
    wxEntryCleanup();
    std::error_code error;
    std::filesystem::remove_all(folder, error);
    return result;
}
