#include "tests/ui/ui_test_support.h"

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/init.h>
#include <wx/msgdlg.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <thread>

#include "ui/translate.h"

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

// The windows are tested as players see them: framed and placed by a window manager. When the
// display has none (a bare Xvfb), openbox is started on it for the run and ended afterwards.
class PrivateWindowManager {
public:
    PrivateWindowManager() {
        if (std::getenv("DISPLAY") == nullptr || WindowManagerRuns())
            return;
        // A display that xvfb-run has only just started may turn openbox away at first: it is
        // started again until it holds the display or the deadline passes.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!WindowManagerRuns() && std::chrono::steady_clock::now() < deadline) {
            if (pid_ <= 0 && !Start())
                return;
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_)
                pid_ = -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (!WindowManagerRuns())
            std::fprintf(stderr, "ui_tests: openbox did not take the display within 20 s\n");
    }
    ~PrivateWindowManager() {
        if (pid_ <= 0)
            return;
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
    PrivateWindowManager(const PrivateWindowManager&) = delete;
    PrivateWindowManager& operator=(const PrivateWindowManager&) = delete;

private:
    bool Start() {
        char program[] = "openbox";
        char* arguments[] = {program, nullptr};
        if (posix_spawnp(&pid_, program, nullptr, nullptr, arguments, environ) != 0) {
            std::fprintf(stderr, "ui_tests: openbox could not be started; is it installed?\n");
            pid_ = -1;
            return false;
        }
        return true;
    }

    pid_t pid_ = -1;
};

}  // namespace

bool WindowManagerRuns() {
    // A window manager announces itself on the root window; xprop prints "not found" otherwise.
    std::unique_ptr<FILE, int (*)(FILE*)> output(
        popen("xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null", "r"), pclose);
    if (!output)
        return false;
    char line[256] = {};
    const bool read = std::fgets(line, sizeof line, output.get()) != nullptr;
    return read && std::strstr(line, "window id") != nullptr;
}

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
        if (inspectBox)
            inspectBox(dialog);
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
    // The tests compare the window's German texts, whatever this machine's language; the
    // screenshots of the English window ask for it (scripts/screenshot-ui.sh).
    setenv("VELDMOOR_LANGUAGE", "de", 0);
    veldmoor::UseLanguage(veldmoor::PlayersLanguage());
    // One temporary folder for the whole run: the window writes its fonts there, and the toolkit
    // keeps using those files until the process ends.
    char folder[] = "/tmp/veldmoor-ui-tests-XXXXXX";
    if (mkdtemp(folder) != nullptr)
        setenv("TMPDIR", folder, 1);
    const veldmoor::uitest::PrivateWindowManager windowManager;
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
