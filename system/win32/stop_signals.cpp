#include "system/stop_signals.h"

#include <atomic>

#include "system/win32/win32_support.h"

namespace veldmoor {
namespace {

// The POSIX numbers of the matching signals, so the exit status reads the same on both systems.
constexpr int kInterrupt = 2;   // Ctrl+C
constexpr int kTerminate = 15;  // Ctrl+Break, the console window closed, log-off, shut-down

std::atomic<int> g_received{0};

BOOL WINAPI OnConsoleEvent(DWORD event) {
    const int number = event == CTRL_C_EVENT ? kInterrupt : kTerminate;
    int none = 0;
    // The first request is the program's to handle; a second goes on to the system's handler,
    // which ends the program at once.
    return g_received.compare_exchange_strong(none, number) ? TRUE : FALSE;
}

}  // namespace

void CatchStopSignals() {
    ::SetConsoleCtrlHandler(&OnConsoleEvent, TRUE);
}

bool StopSignalReceived() {
    return g_received.load() != 0;
}

int StopSignalExitStatus() {
    const int number = g_received.load();
    return number != 0 ? 128 + number : 1;
}

}  // namespace veldmoor
