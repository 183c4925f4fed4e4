// veldmoor-serve: serves a published repository folder over HTTP on loopback, for the demo,
// local trials and tests. A production world serves the same folder with nginx
// (docs/nginx-repository.conf).
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <thread>

#include "system/command_line.h"
#include "system/text_encoding.h"
#include "tools/serve/repo_server.h"

namespace {

volatile std::sig_atomic_t gStopSignal = 0;

void OnSignal(int /*signal*/) {
    gStopSignal = 1;
}

void PrintUsage(std::ostream& out) {
    out << "Usage: veldmoor-serve [options] REPO_ROOT\n"
           "\n"
           "Serves the repository folder REPO_ROOT (as written by veldmoor-publish) over HTTP:\n"
           "filelist.php, transfer/<path> and transfer/<path>.chunks, with single and\n"
           "multipart byte ranges and gzip for whole answers. Runs until Ctrl+C.\n"
           "A launcher's repository address is then http://HOST:PORT/ (or a sub-folder of it).\n"
           "\n"
           "Options:\n"
           "  --host ADDRESS    address to listen on (default 127.0.0.1, loopback only)\n"
           "  --port N          port to listen on (default 8080; 0 picks a free one)\n"
           "  --port-file FILE  write the port number to FILE once listening\n"
           "  --no-gzip         never compress answers\n"
           "  --log             print one line per request (method, path, range, status, bytes)\n"
           "  --help            show this text\n";
}

bool ParsePort(const std::string& text, int& port) {
    try {
        std::size_t used = 0;
        port = std::stoi(text, &used);
        return used == text.size() && port >= 0 && port <= 65535;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

static int RunServer(int argc, char** argv) {
    veldmoor::RepoServerOptions options;
    options.port = 8080;
    std::string portFile;
    bool log = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char* name) -> std::string {
            if (i + 1 >= argc) {
                throw std::invalid_argument(std::string(name) + " needs a value");
            }
            return argv[++i];
        };
        try {
            if (arg == "--help" || arg == "-h") {
                PrintUsage(std::cout);
                return 0;
            } else if (arg == "--host") {
                options.host = value("--host");
            } else if (arg == "--port") {
                if (!ParsePort(value("--port"), options.port)) {
                    throw std::invalid_argument("--port needs a number from 0 to 65535");
                }
            } else if (arg == "--port-file") {
                portFile = value("--port-file");
            } else if (arg == "--log") {
                log = true;
            } else if (arg == "--no-gzip") {
                options.gzip = false;
            } else if (!arg.empty() && arg[0] == '-') {
                throw std::invalid_argument("unknown option " + arg);
            } else if (options.root.empty()) {
                options.root = arg;
            } else {
                throw std::invalid_argument("only one REPO_ROOT may be given");
            }
        } catch (const std::invalid_argument& e) {
            std::cerr << "veldmoor-serve: " << e.what() << "\n";
            PrintUsage(std::cerr);
            return 2;
        }
    }
    if (options.root.empty()) {
        std::cerr << "veldmoor-serve: missing REPO_ROOT\n";
        PrintUsage(std::cerr);
        return 2;
    }

    veldmoor::RepoServer server(options);
    if (const veldmoor::Result<int> started = server.start(); !started) {
        std::cerr << "veldmoor-serve: " << started.Message() << "\n";
        return 1;
    }
    if (!portFile.empty()) {
        std::ofstream out(veldmoor::PathFromUtf8(portFile), std::ios::trunc);
        out << server.port() << "\n";
        if (!out) {
            std::cerr << "veldmoor-serve: cannot write the port to '" << portFile << "'\n";
            return 1;
        }
    }
    std::cout << "veldmoor-serve: serving " << options.root << " at " << server.baseUrl()
              << "/ (Ctrl+C stops)" << std::endl;

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    while (gStopSignal == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        for (const auto& r : server.takeRequests()) {
            if (log) {
                std::cout << r.method << " " << r.target << (r.range.empty() ? "" : " " + r.range)
                          << " -> " << r.status << ", " << r.bodyBytes << " bytes"
                          << (r.gzip ? " (gzip)" : "") << std::endl;
            }
        }
    }
    server.stop();
    return 0;
}

int main(int argc, char** argv) {
    try {
        veldmoor::Utf8Arguments arguments(argc, argv);
        return RunServer(arguments.Count(), arguments.Values());
    } catch (const std::exception& e) {
        std::cerr << "veldmoor-serve: " << e.what() << "\n";
        return 1;
    }
}
