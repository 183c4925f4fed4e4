// veldmoor-publish: turns a folder of game files into a repository that any static web server
// can serve to the launcher. Run it again after changing the folder; it updates only what
// changed.
#include <cstdint>
#include <iostream>
#include <stdexcept>
#include <string>

#include "system/command_line.h"
#include "system/stop_signals.h"
#include "tools/publish/chunk_index_writer.h"
#include "tools/publish/repository_publisher.h"
#include "tools/publish/signing_commands.h"

namespace {

void PrintUsage(std::ostream& out) {
    out << "Usage: veldmoor-publish [options] SOURCE_DIR REPO_DIR\n"
           "       veldmoor-publish keygen NAME\n"
           "       veldmoor-publish root --root-key R.key --signing-key S.pub [...] OUT\n"
           "\n"
           "Publishes every file below SOURCE_DIR into the repository folder REPO_DIR:\n"
           "  REPO_DIR/filelist.php            the file list with each file's time\n"
           "  REPO_DIR/filelist.sums           each file's size and CRC-32, beside the list\n"
           "  REPO_DIR/transfer/<path>         the file, fetched by byte ranges\n"
           "  REPO_DIR/transfer/<path>.chunks  its chunk index (from 64 KiB also gzipped, as\n"
           "                                   .chunks.gz, for the web server to hand out)\n"
           "Serve REPO_DIR with nginx (docs/nginx-repository.conf) or veldmoor-serve; its URL is\n"
           "the repository address of the launcher's profile.\n"
           "\n"
           "Files whose content is unchanged keep their listed time and are not rewritten;\n"
           "changed files are copied and indexed again; files gone from SOURCE_DIR are removed.\n"
           "Whatever the launcher would refuse stops the run before anything is written: names\n"
           "the repository cannot carry (double quotes, line breaks, \"..\" as a name,\n"
           "backslashes, characters Windows forbids, names equal but for case, a name another\n"
           "file is rebuilt or resumed in, such as X.tmp or X.resume beside X, in any case),\n"
           "paths nested too deep, indexes or a file list larger than the launcher reads,\n"
           "times outside 1970-2038, files or folders that cannot be read, and symbolic links\n"
           "other than links to files inside SOURCE_DIR.\n"
           "\n"
           "Block size: 1024 bytes for files under 256 KiB, 2048 under 8 MiB, 4096 above.\n"
           "\n"
           "Ctrl+C (SIGINT) or SIGTERM stops the run between two blocks: what it had half\n"
           "written is removed, and it says what stayed. The exit status is then 128 + the\n"
           "signal's number. The next run removes what an abruptly ended one left.\n"
           "\n"
           "Options:\n"
           "  --block-size N  use N bytes (16 to 16777216) for every file\n"
           "  --quiet         print only errors\n"
           "  --key S.key     sign the repository with this signing key (with --root)\n"
           "  --root ROOT     the root file naming the signing keys (with --key)\n"
           "  --expires DAYS  the signed manifest expires after DAYS days (default 30)\n"
           "  --help          show this text\n"
           "\n";
    veldmoor::PrintSigningUsage(out);
}

const char* ActionName(veldmoor::PublishAction action) {
    switch (action) {
        case veldmoor::PublishAction::Added:
            return "added";
        case veldmoor::PublishAction::Changed:
            return "changed";
        case veldmoor::PublishAction::Reindexed:
            return "re-indexed";
        case veldmoor::PublishAction::Removed:
            return "removed";
        case veldmoor::PublishAction::Unchanged:
            break;
    }
    return "unchanged";
}

}  // namespace

static int RunPublish(int argc, char** argv) {
    veldmoor::PublishOptions options;
    veldmoor::PublishSigningOptions signing;
    bool quiet = false;
    std::string positional[2];
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            PrintUsage(std::cout);
            return 0;
        }
        if (arg == "--quiet" || arg == "-q") {
            quiet = true;
        } else if (arg == "--block-size") {
            std::uint64_t size = 0;
            try {
                std::size_t used = 0;
                const std::string text = i + 1 < argc ? argv[++i] : "";
                size = std::stoull(text, &used);
                if (used != text.size()) {
                    size = 0;
                }
            } catch (const std::exception&) {
                size = 0;
            }
            if (size < 16 || size > (16u << 20)) {
                std::cerr << "veldmoor-publish: --block-size needs a number from 16 to "
                             "16777216\n";
                return 2;
            }
            options.forcedBlockSize = static_cast<std::uint32_t>(size);
        } else if (const auto taken = signing.take(argc, argv, i);
                   taken != veldmoor::PublishSigningOptions::Taken::No) {
            if (taken == veldmoor::PublishSigningOptions::Taken::WrongUse) {
                return 2;
            }
        } else if (!arg.empty() && arg[0] == '-') {
            std::cerr << "veldmoor-publish: unknown option " << arg << "\n";
            PrintUsage(std::cerr);
            return 2;
        } else if (count < 2) {
            positional[count++] = arg;
        } else {
            std::cerr << "veldmoor-publish: too many arguments\n";
            PrintUsage(std::cerr);
            return 2;
        }
    }
    if (count != 2) {
        std::cerr << "veldmoor-publish: SOURCE_DIR and REPO_DIR are required\n";
        PrintUsage(std::cerr);
        return 2;
    }
    if (!signing.complete(std::cerr)) {
        return 2;
    }
    options.sourceDir = positional[0];
    options.repoDir = positional[1];
    if (!quiet) {
        options.progress = [](std::size_t index, std::size_t total, const std::string& path,
                              veldmoor::PublishAction action) {
            if (action != veldmoor::PublishAction::Unchanged) {
                std::cout << "[" << index << "/" << total << "] " << ActionName(action) << " "
                          << path << std::endl;
            }
        };
    }
    veldmoor::CatchStopSignals();
    options.stopRequested = &veldmoor::StopSignalReceived;
    if (const veldmoor::Status prepared = signing.prepare(options); !prepared) {
        std::cerr << "veldmoor-publish: " << prepared.Message() << "\n";
        return 1;
    }
    const veldmoor::Result<veldmoor::PublishSummary> published =
        veldmoor::PublishRepository(options);
    if (!published && published.Cause() == veldmoor::Fault::Stopped) {
        std::cerr << "veldmoor-publish: " << published.Message() << ".\n";
        return veldmoor::StopSignalExitStatus();
    }
    if (!published) {
        std::cerr << "veldmoor-publish: " << published.Message() << "\n";
        return 1;
    }
    if (!quiet) {
        const veldmoor::PublishSummary& summary = published.Value();
        for (const auto& leftover : summary.leftoversRemoved) {
            std::cout << "removed " << leftover << ", left by an interrupted publish\n";
        }
        std::cout << "Published " << summary.files << " files to " << options.repoDir << ": "
                  << summary.added << " added, " << summary.changed << " changed, "
                  << summary.reindexed << " re-indexed, " << summary.removed << " removed, "
                  << summary.unchanged << " unchanged ("
                  << (summary.fileListWritten ? "file list updated" : "file list unchanged")
                  << ").\n";
        signing.report(std::cout);
    }
    return 0;
}

int main(int argc, char** argv) {
    try {
        veldmoor::Utf8Arguments arguments(argc, argv);
        if (arguments.Count() > 1 && veldmoor::IsSigningCommand(arguments.Values()[1])) {
            return veldmoor::RunSigningCommand(arguments.Count(), arguments.Values());
        }
        return RunPublish(arguments.Count(), arguments.Values());
    } catch (const std::exception& e) {
        std::cerr << "veldmoor-publish: " << e.what() << "\n";
        return 1;
    }
}
