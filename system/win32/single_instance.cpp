#include "system/single_instance.h"

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <thread>

#include "system/text_encoding.h"
#include "system/win32/win32_support.h"

namespace veldmoor {
namespace {

// The class by which a second start finds the running window.
constexpr wchar_t kWindowClass[] = L"VelLauncherMainDialog";
// The answer of a window that took the knock, so that a stranger's window of the same class
// and title cannot pass for one.
constexpr LRESULT kKnockTaken = 0x56454C44;  // "VELD"
constexpr UINT kKnockTimeoutMs = 1000;

// The window's title and the exclusive name are derived from the scope, so that temporary
// folders (tests') never see each other's windows.
std::wstring ScopeName(const std::string& scope) {
    std::uint64_t hash = 14695981039346656037ULL;  // FNV-1a
    for (const char c : scope) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ULL;
    }
    wchar_t text[64];
    std::swprintf(text, sizeof text / sizeof text[0], L"veldmoor-launcher-%016llx",
                  static_cast<unsigned long long>(hash));
    return text;
}

UINT KnockMessage() {
    static const UINT message = ::RegisterWindowMessageW(L"VeldmoorLauncherKnock");
    return message;
}

}  // namespace

struct RunningDialogListener::State {
    win32::Handle exclusive;  // held while this listener lives: a second one is refused
    std::wstring title;
    std::thread windowThread;
    HWND window = nullptr;

    std::mutex mutex;
    std::condition_variable changed;
    bool windowReady = false;
    int knocks = 0;
    std::function<void()> onKnock;
    std::mutex serving;  // held while onKnock runs, so Stop can wait for it

    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) {
            const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lParam);
            ::SetWindowLongPtrW(window, GWLP_USERDATA,
                                reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
        }
        auto* state = reinterpret_cast<State*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
        if (state != nullptr && message == KnockMessage()) {
            state->Knocked();
            return kKnockTaken;
        }
        if (message == WM_DESTROY) {
            ::PostQuitMessage(0);
            return 0;
        }
        return ::DefWindowProcW(window, message, wParam, lParam);
    }

    void Knocked() {
        std::unique_lock<std::mutex> lock(mutex);
        if (onKnock) {
            const std::function<void()> callback = onKnock;
            const std::lock_guard<std::mutex> running(serving);
            lock.unlock();
            callback();
            return;
        }
        ++knocks;
        changed.notify_all();
    }

    // The window lives on a thread of its own, whose message loop takes the knocks.
    void RunWindow() {
        const HINSTANCE instance = ::GetModuleHandleW(nullptr);
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = &Procedure;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = kWindowClass;
        ::RegisterClassExW(&windowClass);  // a class already registered serves as well
        // A hidden top-level window: FindWindowW does not see message-only ones.
        HWND created = ::CreateWindowExW(WS_EX_TOOLWINDOW, kWindowClass, title.c_str(), WS_POPUP, 0,
                                         0, 0, 0, nullptr, nullptr, instance, this);
        {
            const std::lock_guard<std::mutex> lock(mutex);
            window = created;
            windowReady = true;
        }
        changed.notify_all();
        if (created == nullptr) {
            return;
        }
        MSG message{};
        while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
};

std::unique_ptr<RunningDialogListener> RunningDialogListener::Listen(const std::string& scope) {
    auto state = std::make_unique<State>();
    state->title = ScopeName(scope);
    const std::wstring exclusiveName = L"Local\\" + state->title;
    state->exclusive.Reset(::CreateMutexW(nullptr, FALSE, exclusiveName.c_str()));
    if (!state->exclusive.Valid() || ::GetLastError() == ERROR_ALREADY_EXISTS) {
        return nullptr;
    }
    State& shared = *state;
    shared.windowThread = std::thread([&shared] { shared.RunWindow(); });
    std::unique_lock<std::mutex> lock(shared.mutex);
    shared.changed.wait(lock, [&shared] { return shared.windowReady; });
    const bool made = shared.window != nullptr;
    lock.unlock();
    if (!made) {
        shared.windowThread.join();
        return nullptr;
    }
    return std::unique_ptr<RunningDialogListener>(new RunningDialogListener(std::move(state)));
}

RunningDialogListener::RunningDialogListener(std::unique_ptr<State> state)
    : state_(std::move(state)) {}

RunningDialogListener::~RunningDialogListener() {
    Stop();
    ::PostMessageW(state_->window, WM_CLOSE, 0, 0);
    state_->windowThread.join();
}

bool RunningDialogListener::WaitForKnock(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(state_->mutex);
    if (!state_->changed.wait_for(lock, timeout, [this] { return state_->knocks > 0; })) {
        return false;
    }
    --state_->knocks;
    return true;
}

void RunningDialogListener::StartServing(std::function<void()> onKnock) {
    Stop();
    const std::lock_guard<std::mutex> lock(state_->mutex);
    state_->onKnock = std::move(onKnock);
}

void RunningDialogListener::Stop() {
    {
        const std::lock_guard<std::mutex> lock(state_->mutex);
        state_->onKnock = nullptr;
    }
    // A callback in progress is finished first.
    const std::lock_guard<std::mutex> finished(state_->serving);
}

bool KnockOnRunningDialog(const std::string& scope) {
    const HWND window = ::FindWindowW(kWindowClass, ScopeName(scope).c_str());
    if (window == nullptr) {
        return false;
    }
    // The process a person just started may hand the foreground on; the running window may
    // then come to the front when it answers.
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    ::AllowSetForegroundWindow(owner);
    DWORD_PTR answer = 0;
    return ::SendMessageTimeoutW(window, KnockMessage(), 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK,
                                 kKnockTimeoutMs, &answer) != 0 &&
           static_cast<LRESULT>(answer) == kKnockTaken;
}

}  // namespace veldmoor
