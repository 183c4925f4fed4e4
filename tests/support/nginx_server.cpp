#include "tests/support/nginx_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/support/process_runner.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace veldmoor::test {

int FreeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof(address);
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    return port;
}

struct NginxPrefix {
    TempDir folder{"veldmoor-nginx"};
};

namespace {

bool Accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool connected =
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return connected;
}

// The documented server block with its listen and root lines pointed at the test's port and
// folder, inside a main configuration that keeps everything in the prefix.
std::string MakeConfig(const std::string& prefix, const std::string& root, int port,
                       NginxTransport transport) {
    std::string block = ReadTestFile(SourceFolder() + "/docs/nginx-repository.conf");
    if (block.empty()) {
        throw std::runtime_error("docs/nginx-repository.conf is missing or empty");
    }
    const std::string listen = transport == NginxTransport::Https2
                                   ? "listen 127.0.0.1:" + std::to_string(port) +
                                         " ssl http2; ssl_certificate " + prefix +
                                         "/cert.pem; ssl_certificate_key " + prefix + "/key.pem;"
                                   : "listen 127.0.0.1:" + std::to_string(port) + ";";
    block = std::regex_replace(block, std::regex(R"(listen [^;]*;)"), listen);
    block = std::regex_replace(block, std::regex(R"(root [^;]*;)"), "root " + root + ";");
    std::ostringstream conf;
    conf << "worker_processes 1;\n"
         << "user root root;\n"  // ignored (with a warning) unless started by root
         << "pid " << prefix << "/nginx.pid;\n"
         << "error_log " << prefix << "/error.log warn;\n"
         << "events { worker_connections 64; }\n"
         << "http {\n"
         << "  log_format veldmoor '$request_method \"$request_uri\" \"$http_range\" $status "
            "$bytes_sent $sent_http_content_encoding $server_protocol $connection';\n"
         << "  access_log " << prefix << "/access.log veldmoor;\n"
         << "  client_body_temp_path " << prefix << "/client_body;\n"
         << "  proxy_temp_path " << prefix << "/proxy;\n"
         << "  fastcgi_temp_path " << prefix << "/fastcgi;\n"
         << "  uwsgi_temp_path " << prefix << "/uwsgi;\n"
         << "  scgi_temp_path " << prefix << "/scgi;\n"
         << block << "\n}\n";
    return conf.str();
}

}  // namespace

bool NginxServer::Available() {
    return ::access(kProgram, X_OK) == 0;
}

namespace {

// A certificate for 127.0.0.1 that is its own authority, valid for a day.
void MakeCertificate(const std::string& prefix) {
    const ProgramResult made =
        RunProgram("/usr/bin/openssl",
                   {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                    "-nodes", "-keyout", prefix + "/key.pem", "-out", prefix + "/cert.pem", "-days",
                    "1", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"},
                   std::chrono::seconds(60));
    if (made.exitCode != 0) {
        throw std::runtime_error("openssl could not make a certificate:\n" + made.output);
    }
}

}  // namespace

NginxServer::NginxServer(const std::string& root, NginxTransport transport)
    : prefix_(std::make_unique<NginxPrefix>()), transport_(transport) {
    const std::string prefix = prefix_->folder.path();
    if (transport_ == NginxTransport::Https2) {
        MakeCertificate(prefix);
    }
    // nginx's workers may run as another user: let them into the prefix and the served tree.
    std::filesystem::permissions(prefix, std::filesystem::perms::all,
                                 std::filesystem::perm_options::add);
    std::string lastError;
    for (int attempt = 0; attempt < 5; ++attempt) {
        port_ = FreeLoopbackPort();
        const std::string confPath = prefix + "/nginx.conf";
        WriteTestFile(confPath, MakeConfig(prefix, root, port_, transport_));
        std::vector<std::string> args{kProgram,     "-p", prefix + "/",          "-c",
                                      confPath,     "-e", prefix + "/error.log", "-g",
                                      "daemon off;"};
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        pid_t pid = 0;
        if (posix_spawn(&pid, kProgram, nullptr, nullptr, argv.data(), environ) != 0) {
            throw std::runtime_error(std::string("cannot start ") + kProgram);
        }
        pid_ = pid;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        int status = 0;
        bool exited = false;
        while (std::chrono::steady_clock::now() < deadline) {
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                exited = true;
                break;
            }
            if (Accepts(port_)) {
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!exited) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
        }
        pid_ = 0;
        lastError = ReadTestFile(prefix + "/error.log");
    }
    throw std::runtime_error("nginx did not start:\n" + lastError);
}

NginxServer::~NginxServer() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);  // fast shutdown of the master we started, which ends its worker
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
}

std::string NginxServer::caFile() const {
    return prefix_->folder / "cert.pem";
}

std::string NginxServer::address(const std::string& folder) const {
    return std::string(transport_ == NginxTransport::Https2 ? "https" : "http") +
           "://127.0.0.1:" + std::to_string(port_) + "/" + (folder.empty() ? "" : folder + "/");
}

std::vector<NginxRequest> NginxServer::requests() const {
    static const std::regex kLine(
        R"re(^(\S+) "([^"]*)" "([^"]*)" (\d+) (\d+) (\S+) (\S+) (\d+)$)re");
    // nginx writes a request's log line after the answer has gone out, so a client that has
    // just received it may be a moment ahead of the log.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::vector<NginxRequest> entries;
    std::istringstream log(ReadTestFile(prefix_->folder / "access.log"));
    std::string line;
    while (std::getline(log, line)) {
        std::smatch m;
        if (std::regex_match(line, m, kLine)) {
            entries.push_back({m[1].str(), m[2].str(), m[3].str(), std::stoi(m[4].str()),
                               std::stoull(m[5].str()), m[6].str(), m[7].str(),
                               std::stoull(m[8].str())});
        }
    }
    return entries;
}

void NginxServer::clearRequests() {
    WriteTestFile(prefix_->folder / "access.log", "");
}

}  // namespace veldmoor::test
