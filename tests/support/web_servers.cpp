#include "tests/support/web_servers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <httplib.h>
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

#include "tests/support/nginx_server.h"
#include "tests/support/process_runner.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace veldmoor::test {
namespace {

namespace fs = std::filesystem;

// The one access-log line format every harness writes: method "uri" "range" status bytes.
constexpr const char* kLogLine = R"re(^(\S+) "([^"]*)" "([^"]*)" (\d+) (\d+)$)re";

// A server process started in the foreground and stopped by its id.
class Daemon {
public:
    Daemon() = default;
    Daemon(const Daemon&) = delete;
    Daemon& operator=(const Daemon&) = delete;
    ~Daemon() { stop(); }

    // Starts `args` and waits (at most 20 s) until `port` accepts. False when the process ends
    // first or the port never opens; it is then stopped.
    // Its output goes to `outputPath`.
    bool start(std::vector<std::string> args, int port, const std::string& outputPath) {
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputPath.c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0600);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        pid_t pid = 0;
        const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            return false;
        }
        pid_ = pid;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = 0;
                return false;
            }
            httplib::Client client("127.0.0.1", port);
            client.set_connection_timeout(0, 200000);
            if (client.Get("/")) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        stop();
        return false;
    }

    void stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int status = 0;
            ::waitpid(pid_, &status, 0);
            pid_ = 0;
        }
    }

private:
    pid_t pid_ = 0;
};

// Lets a server that drops root reach the served tree and its prefix.
void OpenForOthers(const std::string& path) {
    for (fs::path p = path; !p.empty() && p != p.root_path(); p = p.parent_path()) {
        fs::permissions(p, fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
        if (p.parent_path() == fs::temp_directory_path()) {
            break;
        }
    }
}

void OpenTreeForOthers(const std::string& root) {
    OpenForOthers(root);
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        fs::permissions(entry.path(), fs::perms::others_read | fs::perms::others_exec,
                        fs::perm_options::add);
    }
}

// Starts a configured server on a fresh port, retrying when the port was taken meanwhile.
// The server's own output goes to `prefix`/output.log; `errorLog` is quoted when it fails.
template <typename Configure>
int StartOnFreePort(Daemon& daemon, const std::string& prefix, const std::string& errorLog,
                    Configure configure) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        const int port = FreeLoopbackPort();
        if (daemon.start(configure(port), port, prefix + "/output.log")) {
            return port;
        }
    }
    throw std::runtime_error("server did not start:\n" + ReadTestFile(errorLog) +
                             ReadTestFile(prefix + "/output.log"));
}

class Lighttpd : public WebServer {
public:
    explicit Lighttpd(const std::string& root) {
        const std::string p = prefix_.path();
        port_ = StartOnFreePort(daemon_, p, p + "/error.log", [&](int port) {
            WriteTestFile(p + "/lighttpd.conf",
                          "server.document-root = \"" + root + "\"\n" +
                              "server.port = " + std::to_string(port) + "\n" +
                              "server.bind = \"127.0.0.1\"\n"
                              "server.pid-file = \"" +
                              p + "/lighttpd.pid\"\n" + "server.errorlog = \"" + p +
                              "/error.log\"\n" +
                              "server.modules = (\"mod_accesslog\")\n"
                              "accesslog.filename = \"" +
                              p + "/access.log\"\n" +
                              "accesslog.format = \"%m \\\"%U\\\" \\\"%{Range}i\\\" %s %O\"\n"
                              "mimetype.assign = (\"\" => \"application/octet-stream\")\n");
            return std::vector<std::string>{"/usr/sbin/lighttpd", "-D", "-f", p + "/lighttpd.conf"};
        });
    }
    std::string address(const std::string& folder) const override {
        return "http://127.0.0.1:" + std::to_string(port_) + "/" +
               (folder.empty() ? "" : folder + "/");
    }

protected:
    std::string readLog() const override { return ReadTestFile(prefix_ / "access.log"); }

private:
    TempDir prefix_{"veldmoor-lighttpd"};
    Daemon daemon_;
    int port_ = 0;
};

class Apache : public WebServer {
public:
    explicit Apache(const std::string& root) {
        const std::string p = prefix_.path();
        // httpd serves as www-data once started by root.
        OpenTreeForOthers(root);
        OpenForOthers(p);
        port_ = StartOnFreePort(daemon_, p, p + "/error.log", [&](int port) {
            const std::string modules = "/usr/lib/apache2/modules/";
            WriteTestFile(p + "/httpd.conf",
                          "ServerRoot \"" + p + "\"\nServerName 127.0.0.1\nListen 127.0.0.1:" +
                              std::to_string(port) + "\nLoadModule mpm_event_module " + modules +
                              "mod_mpm_event.so\nLoadModule authz_core_module " + modules +
                              "mod_authz_core.so\n" +
                              (::geteuid() == 0 ? "User www-data\nGroup www-data\n" : "") +
                              "PidFile " + p + "/httpd.pid\nErrorLog " + p +
                              "/error.log\nDefaultRuntimeDir " + p + "\nMutex file:" + p +
                              " default\nDocumentRoot \"" + root + "\"\n<Directory \"" + root +
                              "\">\n  Require all granted\n</Directory>\n" +
                              "LogFormat \"%m \\\"%U\\\" \\\"%{Range}i\\\" %>s %O\" veldmoor\n" +
                              "CustomLog " + p + "/access.log veldmoor\n");
            return std::vector<std::string>{"/usr/sbin/apache2", "-f", p + "/httpd.conf",
                                            "-DFOREGROUND"};
        });
    }
    std::string address(const std::string& folder) const override {
        return "http://127.0.0.1:" + std::to_string(port_) + "/" +
               (folder.empty() ? "" : folder + "/");
    }

protected:
    std::string readLog() const override { return ReadTestFile(prefix_ / "access.log"); }

private:
    TempDir prefix_{"veldmoor-httpd"};
    Daemon daemon_;
    int port_ = 0;
};

class VarnishBeforeNginx : public WebServer {
public:
    explicit VarnishBeforeNginx(const std::string& root) : nginx_(root) {
        const std::string p = prefix_.path();
        port_ = StartOnFreePort(daemon_, p, p + "/output.log", [&](int port) {
            return std::vector<std::string>{
                "/usr/sbin/varnishd", "-F", "-j", "none", "-a", "127.0.0.1:" + std::to_string(port),
                "-b", "127.0.0.1:" + std::to_string(nginx_.port()), "-n", p + "/varnish", "-s",
                "malloc,64m", "-P", p + "/varnishd.pid",
                // Nothing is kept: a republished file must not be answered from the cache.
                "-t", "0", "-p", "default_grace=0", "-p", "default_keep=0"};
        });
    }
    std::string address(const std::string& folder) const override {
        return "http://127.0.0.1:" + std::to_string(port_) + "/" +
               (folder.empty() ? "" : folder + "/");
    }

protected:
    // The cache's own log of what it sent to clients, read from its shared memory.
    std::string readLog() const override {
        return RunProgram(
                   "/usr/bin/varnishncsa",
                   {"-n", prefix_ / "varnish", "-d", "-c", "-F", "%m \"%U\" \"%{Range}i\" %s %O"},
                   std::chrono::seconds(30))
            .output;
    }

private:
    NginxServer nginx_;
    TempDir prefix_{"veldmoor-varnish"};
    Daemon daemon_;
    int port_ = 0;
};

}  // namespace

std::vector<LoggedRequest> WebServer::loggedSoFar() {
    // Some servers write their log a moment after the answer (lighttpd about once a second):
    // a request of a mark path, logged after everything before it, shows when all are in.
    const std::string mark = "/veldmoor-log-mark-" + std::to_string(++marks_);
    {
        const std::string base = address();
        const auto hostEnd = base.find('/', 7);
        httplib::Client client(base.substr(0, hostEnd));
        client.Get(mark);
    }
    static const std::regex kLine(kLogLine);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    for (;;) {
        std::vector<LoggedRequest> entries;
        bool marked = false;
        std::istringstream log(readLog());
        std::string line;
        while (std::getline(log, line)) {
            std::smatch m;
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            if (!std::regex_match(line, m, kLine)) {
                continue;
            }
            entries.push_back({m[1].str(), m[2].str(), m[3].str() == "-" ? "" : m[3].str(),
                               std::stoi(m[4].str()), std::stoull(m[5].str())});
            marked = marked || m[2].str() == mark;
        }
        if (marked || std::chrono::steady_clock::now() > deadline) {
            return entries;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

std::vector<LoggedRequest> WebServer::requests() {
    std::vector<LoggedRequest> all = loggedSoFar();
    std::vector<LoggedRequest> since;
    for (std::size_t i = seen_; i < all.size(); ++i) {
        if (!all[i].uri.starts_with("/veldmoor-log-mark-")) {
            since.push_back(all[i]);
        }
    }
    return since;
}

void WebServer::clearRequests() {
    seen_ = loggedSoFar().size();
}

const char* NameOf(WebServerKind kind) {
    switch (kind) {
        case WebServerKind::Lighttpd:
            return "lighttpd";
        case WebServerKind::Apache:
            return "apache";
        case WebServerKind::VarnishBeforeNginx:
            return "varnish_before_nginx";
    }
    return "?";
}

std::unique_ptr<WebServer> StartWebServer(WebServerKind kind, const std::string& root) {
    switch (kind) {
        case WebServerKind::Lighttpd:
            return std::make_unique<Lighttpd>(root);
        case WebServerKind::Apache:
            return std::make_unique<Apache>(root);
        case WebServerKind::VarnishBeforeNginx:
            return std::make_unique<VarnishBeforeNginx>(root);
    }
    throw std::runtime_error("unknown server kind");
}

}  // namespace veldmoor::test
