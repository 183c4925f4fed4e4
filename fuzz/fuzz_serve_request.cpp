// Raw requests to the repository server on loopback, as anyone who reaches the port could send
// them. The request syntax is the HTTP library's; what the server adds on top (the path
// rules, ranges, compression) must neither crash nor serve a byte from outside its root.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "fuzz/fuzz_check.h"
#include "tools/serve/repo_server.h"

using namespace veldmoor;
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kSecret = "VELDMOOR-OUTSIDE-THE-ROOT";
std::unique_ptr<RepoServer> g_server;
int g_port = 0;
std::string g_base;

void StopAndRemove() {
    g_server.reset();
    std::error_code ignored;
    fs::remove_all(g_base, ignored);
}

void Write(const fs::path& path, std::string_view text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Thousands of connections a second use up the loopback ports, each held in TIME_WAIT for a
// minute after the request's end is signalled: the client then waits for a port to come free
// (a TIME_WAIT lasts 60 s), which only slows the run down.
int Connect() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(g_port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int attempt = 0; attempt < 7000; ++attempt) {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        FUZZ_CHECK(fd >= 0);
        timeval timeout{5, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        const linger reset{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
            return fd;
        close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    FUZZ_CHECK(!"the server took no connection for 70 s");
    return -1;
}

std::string Exchange(std::string_view request) {
    const int fd = Connect();
    std::size_t sent = 0;
    while (sent < request.size()) {
        const ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += static_cast<std::size_t>(n);
    }
    shutdown(fd, SHUT_WR);
    std::string answer;
    char block[16384];
    for (;;) {
        const ssize_t n = recv(fd, block, sizeof block, 0);
        if (n <= 0)
            break;
        answer.append(block, static_cast<std::size_t>(n));
    }
    close(fd);
    return answer;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char folder[] = "/tmp/veldmoor-fuzz-XXXXXX";
    if (mkdtemp(folder) == nullptr)
        std::abort();
    const fs::path base = folder;
    const fs::path root = base / "repo";
    fs::create_directories(root / "transfer" / "data");
    Write(root / "filelist.php", "[\n{ path: \"data/a.bin\", time: \"1500000000\" }\n]\n");
    std::string content;
    for (int i = 0; i < 3000; ++i)
        content += static_cast<char>('a' + i % 26);
    Write(root / "transfer" / "data" / "a.bin", content);
    Write(root / "transfer" / "data" / "a.bin.chunks", std::string(24, '\x01'));
    Write(base / "secret.txt", kSecret);
    Write(base / "repo.txt", kSecret);
    RepoServerOptions options;
    options.root = root.string();
    g_server = std::make_unique<RepoServer>(options);
    const Result<int> port = g_server->start();
    if (!port) {
        std::fprintf(stderr, "the repository server did not start: %s\n", port.Message().c_str());
        std::abort();
    }
    g_port = port.Value();
    g_base = base.string();
    std::atexit(StopAndRemove);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string answer =
        Exchange(std::string_view(reinterpret_cast<const char*>(data), size));
    FUZZ_CHECK(answer.find(kSecret) == std::string::npos);
    g_server->takeRequests();  // keeps the log from growing over millions of runs
    return 0;
}
