#include "tests/ui/window_manager.h"

#include "ui/skin.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "tests/ui/ui_test_support.h"

extern char** environ;  // NOLINT(readability-redundant-declaration)

namespace veldmoor::uitest {
namespace {

// Starts program with arguments; its id, or -1.
pid_t Start(const std::vector<std::string>& commandLine) {
    std::vector<std::string> copy = commandLine;
    std::vector<char*> argv;
    for (std::string& argument : copy)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t child = -1;
    const int failed = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return failed == 0 ? child : -1;
}

// Runs a short program to its end while the window's events go on being processed (the window
// manager waits for the window to answer); its exit code, or -1.
int RunWhilePumping(const std::vector<std::string>& commandLine) {
    const pid_t child = Start(commandLine);
    if (child < 0)
        return -1;
    int status = 0;
    bool ended = false;
    PumpUntil(
        [&] {
            ended = waitpid(child, &status, WNOHANG) == child;
            return ended;
        },
        std::chrono::seconds(20));
    if (!ended) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

bool EnsureWindowManager() {
    // The binary's own window manager may still be taking the display.
    if (PumpUntil([] { return WindowManagerRuns(); }, std::chrono::seconds(20)))
        return true;
    ADD_FAILURE() << "no window manager came up on DISPLAY=" << std::getenv("DISPLAY")
                  << " (is openbox installed? scripts/setup.sh installs it)";
    return false;
}

bool Activate(wxTopLevelWindow& window) {
    // A title of its own finds the window among every other on the display.
    static int count = 0;
    const wxString title = window.GetTitle();
    std::ostringstream unique;
    unique << "veldmoor-keyboard-test-" << getpid() << "-" << ++count;
    window.SetTitle(unique.str());
    window.Raise();
    const int code = RunWhilePumping(
        {"xdotool", "search", "--sync", "--name", unique.str(), "windowactivate", "--sync"});
    window.SetTitle(title);
    return code == 0 && PumpUntil([&] { return window.IsActive(); }, std::chrono::seconds(10));
}

bool PressKeys(const std::string& keys) {
    std::vector<std::string> commandLine = {"xdotool", "key", "--delay", "20"};
    std::istringstream names(keys);
    for (std::string name; names >> name;)
        commandLine.push_back(name);
    return RunWhilePumping(commandLine) == 0;
}

wxImage CaptureFromScreen(const wxWindow& window, const std::string& folder) {
    // The screen is in device pixels, the window's place in logical ones.
    const double scale = DisplayScale();
    const wxRect logical = window.GetScreenRect();
    const wxRect rect(static_cast<int>(logical.x * scale), static_cast<int>(logical.y * scale),
                      static_cast<int>(logical.width * scale),
                      static_cast<int>(logical.height * scale));
    const std::string file = folder + "/capture.png";
    std::ostringstream crop;
    crop << rect.width << "x" << rect.height << "+" << rect.x << "+" << rect.y;
    wxImage image;
    if (RunWhilePumping({"import", "-window", "root", "-crop", crop.str(), "+repage", file}) == 0)
        image.LoadFile(wxString::FromUTF8(file), wxBITMAP_TYPE_PNG);
    std::remove(file.c_str());
    return image;
}

bool HasKeyboardFocus(const wxWindow& control) {
    // The toolkit's window knows only its outer widget; the keyboard may be on an inner one (the
    // button of a drop-down list, the box of a check box with its text on the left).
    auto* top = GTK_WINDOW(wxGetTopLevelParent(const_cast<wxWindow*>(&control))->GetHandle());
    GtkWidget* focus = top != nullptr ? gtk_window_get_focus(top) : nullptr;
    auto* widget = static_cast<GtkWidget*>(control.GetHandle());
    return focus != nullptr && widget != nullptr &&
           (focus == widget || gtk_widget_is_ancestor(focus, widget));
}

}  // namespace veldmoor::uitest
