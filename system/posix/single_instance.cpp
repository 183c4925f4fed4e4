#include "system/single_instance.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <thread>

namespace veldmoor {
namespace {

constexpr std::string_view kKnock = "raise\n";
// A knocking process writes its request at once; a peer that sends nothing is not waited for long.
constexpr int kReadTimeoutMs = 1000;

// The socket lives in the abstract namespace: it vanishes with its process, so a crashed window
// leaves nothing behind that would make later starts believe it still runs. The user id keeps
// users apart and the scope's hash keeps temporary folders apart.
sockaddr_un AddressFor(const std::string& scope, socklen_t& length) {
    std::uint64_t hash = 14695981039346656037ULL;  // FNV-1a
    for (const char c : scope) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ULL;
    }
    std::array<char, 64> name{};
    const int written =
        std::snprintf(name.data(), name.size(), "veldmoor-launcher-%u-%016llx",
                      static_cast<unsigned>(getuid()), static_cast<unsigned long long>(hash));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // sun_path[0] stays '\0': the abstract namespace.
    std::memcpy(address.sun_path + 1, name.data(), static_cast<std::size_t>(written));
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + written);
    return address;
}

int RetryOnInterrupt(const std::function<int()>& call) {
    int result = 0;
    do {
        result = call();
    } while (result < 0 && errno == EINTR);
    return result;
}

}  // namespace

struct RunningDialogListener::State {
    State(int socket, int wakeUp) : socket(socket), wakeUp(wakeUp) {}
    ~State() {
        close(socket);
        close(wakeUp);
    }
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    // One accepted connection: true when it was a knock from this user.
    bool AcceptKnock() const;

    int socket;
    int wakeUp;
    std::thread serving;
};

std::unique_ptr<RunningDialogListener> RunningDialogListener::Listen(const std::string& scope) {
    const int listening = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listening < 0) {
        return nullptr;
    }
    socklen_t length = 0;
    const sockaddr_un address = AddressFor(scope, length);
    if (bind(listening, reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
        listen(listening, 8) != 0) {
        close(listening);
        return nullptr;
    }
    const int wakeUp = eventfd(0, EFD_CLOEXEC);
    if (wakeUp < 0) {
        close(listening);
        return nullptr;
    }
    return std::unique_ptr<RunningDialogListener>(
        new RunningDialogListener(std::make_unique<State>(listening, wakeUp)));
}

RunningDialogListener::RunningDialogListener(std::unique_ptr<State> state)
    : state_(std::move(state)) {}

RunningDialogListener::~RunningDialogListener() {
    Stop();
}

bool RunningDialogListener::State::AcceptKnock() const {
    const int peer =
        RetryOnInterrupt([this] { return accept4(socket, nullptr, nullptr, SOCK_CLOEXEC); });
    if (peer < 0) {
        return false;
    }
    // Only the same user may raise the window.
    ucred credentials{};
    socklen_t size = sizeof(credentials);
    bool knocked = getsockopt(peer, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0 &&
                   credentials.uid == getuid();
    if (knocked) {
        std::array<char, 16> request{};
        pollfd readable{peer, POLLIN, 0};
        ssize_t received = 0;
        if (RetryOnInterrupt([&] { return poll(&readable, 1, kReadTimeoutMs); }) > 0) {
            received = recv(peer, request.data(), request.size(), 0);
        }
        knocked = received > 0 &&
                  std::string_view(request.data(), static_cast<std::size_t>(received)) == kKnock;
    }
    close(peer);
    return knocked;
}

bool RunningDialogListener::WaitForKnock(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd incoming{state_->socket, POLLIN, 0};
        const int ready = RetryOnInterrupt([&] {
            return poll(&incoming, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
        });
        if (ready <= 0) {
            return false;
        }
        if (state_->AcceptKnock()) {
            return true;
        }
    }
}

void RunningDialogListener::StartServing(std::function<void()> onKnock) {
    Stop();
    State& state = *state_;
    state.serving = std::thread([&state, onKnock = std::move(onKnock)] {
        for (;;) {
            std::array<pollfd, 2> waitFor{pollfd{state.socket, POLLIN, 0},
                                          pollfd{state.wakeUp, POLLIN, 0}};
            if (RetryOnInterrupt([&] { return poll(waitFor.data(), waitFor.size(), -1); }) < 0) {
                return;
            }
            if ((waitFor[1].revents & POLLIN) != 0) {
                return;
            }
            if ((waitFor[0].revents & POLLIN) != 0 && state.AcceptKnock()) {
                onKnock();
            }
        }
    });
}

void RunningDialogListener::Stop() {
    if (!state_->serving.joinable()) {
        return;
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(state_->wakeUp, &one, sizeof(one));
    state_->serving.join();
    std::uint64_t drained = 0;
    [[maybe_unused]] const ssize_t read = ::read(state_->wakeUp, &drained, sizeof(drained));
}

bool KnockOnRunningDialog(const std::string& scope) {
    const int knocking = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (knocking < 0) {
        return false;
    }
    socklen_t length = 0;
    const sockaddr_un address = AddressFor(scope, length);
    const bool delivered =
        RetryOnInterrupt([&] {
            return connect(knocking, reinterpret_cast<const sockaddr*>(&address), length);
        }) == 0 &&
        send(knocking, kKnock.data(), kKnock.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(kKnock.size());
    close(knocking);
    return delivered;
}

}  // namespace veldmoor
