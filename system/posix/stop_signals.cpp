#include "system/stop_signals.h"

#include <signal.h>

#include <atomic>

namespace veldmoor {
namespace {

std::atomic<int> g_received{0};

extern "C" void OnStopSignal(int number) {
    g_received.store(number);
}

}  // namespace

void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = &OnStopSignal;
    sigemptyset(&action.sa_mask);
    // The handler runs once; the default action is back for a second request, so a program
    // that does not stop quickly can still be ended from the keyboard.
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGXFSZ, &ignore, nullptr);
}

bool StopSignalReceived() {
    return g_received.load() != 0;
}

int StopSignalExitStatus() {
    const int number = g_received.load();
    return number != 0 ? 128 + number : 1;
}

}  // namespace veldmoor
