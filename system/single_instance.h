// How a second start finds the running launcher window of the same user and asks it to come to
// the front. The window's process listens under a name derived from a scope (the folder of the
// launcher's temporary copy), so separate temporary folders, such as tests', never see each
// other's windows: on POSIX a local socket private to the user, on Windows a hidden window of
// the class VelLauncherMainDialog on the user's desktop, found with FindWindowW.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace veldmoor {

class RunningDialogListener {
public:
    // Starts listening under scope. nullptr when another process of this user already listens
    // there or the socket cannot be made; the window then simply cannot be found by others.
    static std::unique_ptr<RunningDialogListener> Listen(const std::string& scope);

    ~RunningDialogListener();
    RunningDialogListener(const RunningDialogListener&) = delete;
    RunningDialogListener& operator=(const RunningDialogListener&) = delete;

    // Waits up to timeout for the next knock; true when one came. Not to be mixed with
    // StartServing.
    bool WaitForKnock(std::chrono::milliseconds timeout);

    // Calls onKnock for every knock, on a thread of the listener's own, until Stop or
    // destruction. The callback must hand the work to the window's thread itself.
    void StartServing(std::function<void()> onKnock);
    // Ends serving and waits for the serving thread; a callback in progress is finished first.
    void Stop();

private:
    struct State;  // the system's listening parts
    explicit RunningDialogListener(std::unique_ptr<State> state);

    std::unique_ptr<State> state_;
};

// Asks a running window of this user under scope to come to the front (on Windows, letting it
// take the foreground). True when one was found and the request delivered; false when none
// listens.
bool KnockOnRunningDialog(const std::string& scope);

}  // namespace veldmoor
