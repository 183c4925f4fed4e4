// veldmoor-sync: brings one local folder up to date with one repository from a terminal, with
// the same engine the launcher uses (list, prepare, patch). Exit status 0 only on success.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "sync/http.h"
#include "sync/patch_exception.h"
#include "sync/repo_sync.h"
#include "sync/resume_data.h"
#include "sync/signed_metadata.h"
#include "system/command_line.h"
#include "system/file_ops.h"
#include "system/folders.h"
#include "system/stop_signals.h"
#include "system/terminal.h"
#include "system/text_encoding.h"
#include "ui/byte_size.h"
#include "ui/report_texts.h"
#include "ui/run_texts.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string DefaultStateFolderText() {
    const std::string folder = veldmoor::UserDataFolder();
    return folder.empty() ? std::string("none found: give --state") : folder;
}

void PrintUsage(std::ostream& out) {
    out << "Usage: veldmoor-sync [options] FOLDER REPOSITORY_ADDRESS\n"
           "\n"
           "Brings FOLDER up to date with the repository at REPOSITORY_ADDRESS (for example\n"
           "http://127.0.0.1:8080/game/): fetches the file list, examines every file whose\n"
           "time differs from the listed one, downloads only the blocks the local copy lacks,\n"
           "verifies each rebuilt file and sets its time. Files not in the list are left alone.\n"
           "\n"
           "Options:\n"
           "  --ca-file FILE  trust the certificates in FILE (PEM) for https in place of the\n"
           "             system's, for a world that signs its own; verification stays on (the\n"
           "             launcher reads VELDMOOR_CA_FILE)\n"
           "  --connections N  at most N requests on the wire at once (1 to 64). Without it a\n"
           "             run begins with 6 and, against a server that answers over HTTP/1.1,\n"
           "             opens up to 32 (the launcher reads VELDMOOR_CONNECTIONS and\n"
           "             VELDMOOR_HTTP1_CONNECTIONS)\n"
           "  --dry-run  examine and print what would be fetched; change nothing\n"
           "  --limit-rate RATE  download at most RATE bytes a second (k and M suffixes, as\n"
           "             500k or 2M; the launcher reads VELDMOOR_LIMIT_RATE)\n"
           "  --quiet    print only failures\n"
           "  --state DIR  keep the trusted state of signed repositories (the newest root and\n"
           "             manifest version accepted, one file per address) in DIR; by default in\n"
           "             the user's data folder (" +
               DefaultStateFolderText() +
               ")\n"
               "  --trust ROOT  verify the repository against the root file ROOT (made with\n"
               "             veldmoor-publish root): the root chain and the signed manifest are\n"
               "             checked before anything is examined, every file put in place must "
               "have\n"
               "             the manifest's size and SHA-256, and an unsigned, old, expired or\n"
               "             altered update is refused. Without it the repository is not "
               "verified.\n"
               "  --verify   examine every listed file by content, whatever its time (with "
               "--trust\n"
               "             by SHA-256, else by the chunk index), and heal the files that "
               "differ,\n"
               "             fetching only their differing blocks\n"
               "  --help     show this text\n"
               "\n"
               "Ctrl+C (SIGINT) or SIGTERM stops the run at its next safe point: the file being\n"
               "rebuilt keeps its old version; what had come of a large one is kept beside it as\n"
               "NAME.resume (named when the run stops), so the next run need not fetch it again.\n"
               "\n"
               "Exit status: 0 when the folder is up to date, 1 when the run failed, 2 on wrong "
               "use,\n"
               "128 + the signal's number when stopped by a signal.\n";
}

// Text from the server (paths above all) made harmless for a terminal: control characters,
// DEL and the C1 controls in their UTF-8 form are shown as \xNN escapes instead of being
// obeyed, so a listed name cannot move the cursor, recolour or retitle the terminal. Line
// ends stay where `keepLineEnds` says the text's own layout needs them.
std::string Printable(const std::string& text, bool keepLineEnds = false) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    const auto escape = [&out](unsigned char c) {
        out += "\\x";
        out += kHex[c >> 4];
        out += kHex[c & 15];
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\n' && keepLineEnds) {
            out += '\n';
        } else if (c < 0x20 || c == 0x7F) {
            escape(c);
        } else if (c == 0xC2 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            escape(c);
            escape(static_cast<unsigned char>(text[++i]));
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string Size(std::uint64_t bytes) {
    return veldmoor::FormatByteSize(bytes);
}

// The live line: bytes so far of the whole run, speed and time left.
class ProgressLine {
public:
    ProgressLine(bool live, std::uint64_t total) : live_(live), total_(total) {}

    void update(const std::string& path, std::uint64_t done) {
        if (!live_) {
            return;
        }
        const auto now = Clock::now();
        if (now - lastDraw_ < std::chrono::milliseconds(100) && done < total_) {
            return;
        }
        lastDraw_ = now;
        const double seconds = std::chrono::duration<double>(now - start_).count();
        const double speed = seconds > 0 ? static_cast<double>(done) / seconds : 0;
        std::string line = Size(done) + " of " + Size(total_);
        if (speed > 0) {
            line += "  " + Size(static_cast<std::uint64_t>(speed)) + "/s";
            const double left = static_cast<double>(total_ - std::min(done, total_)) / speed;
            line += "  " + std::to_string(std::llround(left)) + " s left";
        }
        line += "  " + Printable(path);
        if (line.size() > 100) {
            line = line.substr(0, 97) + "...";
        }
        std::cout << "\r" << line
                  << std::string(width_ > line.size() ? width_ - line.size() : 0, ' ')
                  << std::flush;
        width_ = line.size();
    }

    void finish() {
        if (live_ && width_ > 0) {
            std::cout << "\r" << std::string(width_, ' ') << "\r" << std::flush;
        }
    }

private:
    bool live_;
    std::uint64_t total_;
    Clock::time_point start_ = Clock::now();
    Clock::time_point lastDraw_{};
    std::size_t width_ = 0;
};

struct Arguments {
    std::string folder;
    std::string address;
    bool dryRun = false;
    bool quiet = false;
    bool verify = false;
    std::string trustRoot;    // the root file given with --trust; empty when none
    std::string stateFolder;  // --state, or the user's data folder
    std::string anchor;       // the root file's bytes
    veldmoor::HttpSettings http = veldmoor::HttpSettings::fromEnvironment();
};

bool ParseConnections(const std::string& text, std::size_t& connections) {
    if (text.empty() || text.size() > 3 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    const auto count = static_cast<std::size_t>(std::stoul(text));
    if (count < 1 || count > veldmoor::kMaxHttpConnections) {
        return false;
    }
    connections = count;
    return true;
}

// What a stopped run leaves for the next: the resume data of listed files, each with its size.
std::string KeptForResume(const std::vector<veldmoor::RemoteFile>& files) {
    std::string kept;
    for (const auto& file : files) {
        const std::string resume = veldmoor::resumePathOf(file.localPath);
        if (veldmoor::PathExists(resume)) {
            kept += "\n  " + Printable(resume) + " (" +
                    Size(static_cast<std::uint64_t>(veldmoor::FileSize(resume))) + ")";
        }
    }
    return kept;
}

// `files`: the listed files, once the list has come.
int Run(const Arguments& args, std::vector<veldmoor::RemoteFile>& files) {
    const auto started = Clock::now();
    veldmoor::RepoSync sync(args.folder, args.address);
    // Ctrl+C or SIGTERM stop the run at its next safe point, which removes the file being
    // rebuilt and leaves its old version in place.
    sync.setStopRequest(&veldmoor::StopSignalReceived);
    veldmoor::HttpSettings http = args.http;
    http.onRetry = [](const veldmoor::RetryNotice& retry) {
        std::cerr << "\n"
                  << veldmoor::RetryLine(veldmoor::ConnectionRetry{retry.attempt, retry.pauseMs})
                  << "\n";
    };
    sync.setHttpSettings(http);
    sync.setFetchWhilePlanning(!args.dryRun);
    sync.setVerifyContent(args.verify);
    if (!args.trustRoot.empty()) {
        sync.setTrust({args.anchor, args.stateFolder, {}});
    } else if (!args.quiet) {
        std::cerr << "veldmoor-sync: the repository is not verified (no --trust ROOT given): its "
                     "files are checked only against the chunk indexes the same server sends.\n";
    }
    files = sync.listFiles();

    struct Examined {
        const veldmoor::RemoteFile* file;
        std::uint64_t download;
    };
    // Files are named as examined in list order, but only once their indexes have come.
    std::vector<Examined> examined;
    std::size_t named = 0;
    const auto onCheck = [&](const std::string& repoPath) {
        while (named < files.size() && files[named].repoPath != repoPath) {
            ++named;
        }
        if (named < files.size()) {
            examined.push_back({&files[named++], 0});
        }
    };
    for (const auto& file : files) {
        sync.prepareFile(file, onCheck);
    }
    const std::uint64_t total = sync.totalDownloadBytes();
    const std::vector<std::uint64_t> planned = sync.plannedDownloadBytes();
    for (std::size_t i = 0; i < examined.size() && i < planned.size(); ++i) {
        examined[i].download = planned[i];
    }

    if (args.dryRun) {
        for (const auto& e : examined) {
            std::cout << (e.download > 0 ? "would fetch " + Size(e.download) + " of "
                                         : std::string("would only update ")) +
                             Printable(e.file->repoPath)
                      << "\n";
        }
        std::cout << "Dry run: " << files.size() << " files listed, " << examined.size()
                  << " examined, " << Size(total) << " to download. Nothing was changed.\n";
        return 0;
    }

    ProgressLine line(!args.quiet && veldmoor::StandardOutputIsTerminal(), total);
    std::set<std::string> rebuilt;
    std::uint64_t finishedBytes = 0;
    std::string currentPath;
    std::uint64_t currentWritten = 0;
    sync.patchPreparedFiles([&](const std::string& path, unsigned int written, unsigned int) {
        if (path != currentPath) {
            finishedBytes += currentWritten;
            currentPath = path;
            currentWritten = 0;
        }
        currentWritten = written;
        rebuilt.insert(path);
        line.update(path, finishedBytes + currentWritten);
    });
    line.finish();
    const std::uint64_t downloaded = finishedBytes + currentWritten;

    std::uint64_t examinedBytes = 0;
    for (const auto& e : examined) {
        examinedBytes += static_cast<std::uint64_t>(
            std::max<std::int64_t>(veldmoor::FileSize(e.file->localPath), 0));
    }
    const std::uint64_t local = examinedBytes - std::min(examinedBytes, downloaded);
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    if (!args.quiet && args.verify) {
        std::cout << "Verified by content ("
                  << (sync.verifiedManifest() ? "SHA-256" : "chunk index") << "): " << files.size()
                  << " files examined, " << examined.size() << " found different";
        for (const auto& e : examined) {
            std::cout << (&e == &examined.front() ? ": " : ", ") << Printable(e.file->repoPath);
        }
        std::cout << "; " << rebuilt.size() << " healed.\n";
    }
    if (!args.quiet) {
        std::cout << "Up to date: " << files.size() << " files listed, " << examined.size()
                  << " examined, " << rebuilt.size() << " rebuilt; " << downloaded
                  << " bytes downloaded (" << Size(downloaded) << "), " << local
                  << " bytes taken from local copies (" << Size(local) << ") in "
                  << static_cast<long long>(seconds * 1000) << " ms.\n";
    }
    return 0;
}

}  // namespace

static int RunSync(int argc, char** argv) {
    Arguments args;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            PrintUsage(std::cout);
            return 0;
        }
        if (arg == "--dry-run" || arg == "-n") {
            args.dryRun = true;
        } else if (arg == "--quiet" || arg == "-q") {
            args.quiet = true;
        } else if (arg == "--verify") {
            args.verify = true;
        } else if (arg == "--trust" || arg == "--state") {
            if (i + 1 >= argc || std::string(argv[i + 1]).empty()) {
                std::cerr << "veldmoor-sync: " << arg << " needs "
                          << (arg == "--trust" ? "the path of a root file" : "a folder") << "\n";
                return 2;
            }
            (arg == "--trust" ? args.trustRoot : args.stateFolder) = argv[++i];
        } else if (arg == "--connections" || arg.starts_with("--connections=")) {
            std::string count = arg.size() > 13 ? arg.substr(14) : "";
            if (arg.size() == 13 && i + 1 < argc) {
                count = argv[++i];
            }
            if (!ParseConnections(count, args.http.connections)) {
                std::cerr << "veldmoor-sync: --connections needs a number from 1 to "
                          << veldmoor::kMaxHttpConnections << ", not '" << count << "'\n";
                return 2;
            }
            // A number the user gives is a ceiling: the pool must not grow past it over HTTP/1.1.
            args.http.http1Connections = args.http.connections;
        } else if (arg == "--ca-file" || arg.starts_with("--ca-file=")) {
            std::string file = arg.size() > 9 ? arg.substr(10) : "";
            if (arg.size() == 9 && i + 1 < argc) {
                file = argv[++i];
            }
            if (file.empty()) {
                std::cerr << "veldmoor-sync: --ca-file needs the path of a certificate file\n";
                return 2;
            }
            args.http.caFile = file;
        } else if (arg == "--limit-rate" || arg.starts_with("--limit-rate=")) {
            std::string rate = arg.size() > 12 ? arg.substr(13) : "";
            if (arg.size() == 12 && i + 1 < argc) {
                rate = argv[++i];
            }
            if (!veldmoor::parseByteRate(rate, args.http.maxReceiveBytesPerSecond)) {
                std::cerr << "veldmoor-sync: --limit-rate needs a rate such as 500k or 2M, not '"
                          << rate << "'\n";
                return 2;
            }
        } else if (!arg.empty() && arg[0] == '-') {
            std::cerr << "veldmoor-sync: unknown option " << arg << "\n";
            PrintUsage(std::cerr);
            return 2;
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2) {
        std::cerr << "veldmoor-sync: FOLDER and REPOSITORY_ADDRESS are required\n";
        PrintUsage(std::cerr);
        return 2;
    }
    args.folder = positional[0];
    args.address = positional[1];
    if (veldmoor::PathExists(args.folder) && !veldmoor::IsDirectory(args.folder)) {
        std::cerr << "veldmoor-sync: '" << args.folder << "' exists and is not a folder\n";
        return 2;
    }
    if (!args.trustRoot.empty()) {
        std::ifstream root(veldmoor::PathFromUtf8(args.trustRoot), std::ios::binary);
        args.anchor.assign(std::istreambuf_iterator<char>(root), std::istreambuf_iterator<char>());
        if (!root.is_open() || args.anchor.empty()) {
            std::cerr << "veldmoor-sync: the root file '" << args.trustRoot << "' cannot be read\n";
            return 2;
        }
        if (args.stateFolder.empty()) {
            args.stateFolder = veldmoor::UserDataFolder();
        }
        if (args.stateFolder.empty()) {
            std::cerr << "veldmoor-sync: no data folder for the trusted state (neither "
                         "XDG_DATA_HOME nor HOME is set); name one with --state DIR\n";
            return 2;
        }
    }
    veldmoor::CatchStopSignals();
    std::vector<veldmoor::RemoteFile> files;
    try {
        return Run(args, files);
    } catch (const veldmoor::PatchException& e) {
        std::cout << std::endl;
        const auto report = veldmoor::ComposeTransferReport(e);
        std::cerr << Printable(report.caption) << "\n\n"
                  << Printable(report.text, true) << "\n\n"
                  << "Diagnostic: " << Printable(e.what()) << " (category " << e.category
                  << ", code " << e.code << (e.detail.empty() ? "" : ", " + Printable(e.detail))
                  << ")\n";
    } catch (const veldmoor::SyncCancelled&) {
        std::cout << std::endl;
        const std::string kept = KeptForResume(files);
        std::cerr << "veldmoor-sync: stopped as asked; every file is either complete or as it "
                     "was"
                  << (kept.empty() ? ", and nothing half written is left.\n"
                                   : ". Kept to resume from next time:" + kept + "\n");
        return veldmoor::StopSignalExitStatus();
    } catch (const std::exception& e) {
        std::cerr << "veldmoor-sync: the run failed: " << e.what() << "\n";
    }
    return 1;
}

int main(int argc, char** argv) {
    try {
        veldmoor::Utf8Arguments arguments(argc, argv);
        return RunSync(arguments.Count(), arguments.Values());
    } catch (const std::exception& e) {
        std::cerr << "veldmoor-sync: " << e.what() << "\n";
        return 1;
    }
}
