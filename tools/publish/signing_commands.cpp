#include "tools/publish/signing_commands.h"

#include <charconv>
#include <chrono>
#include <iostream>
#include <vector>

namespace veldmoor {
namespace {

constexpr std::int64_t kMaxDays = 36500;

std::int64_t Now() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::optional<std::int64_t> ParseNumber(const std::string& text, std::int64_t min,
                                        std::int64_t max) {
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end || value < min || value > max) {
        return std::nullopt;
    }
    return value;
}

// What a signing command prints when it failed; its exit code.
int Failed(const char* command, const Status& failure) {
    std::cerr << "veldmoor-publish " << command << ": " << failure.Message() << "\n";
    return 1;
}

int WrongUse(const std::string& message) {
    std::cerr << "veldmoor-publish: " << message << "\n"
              << "Run veldmoor-publish --help for the signing commands.\n";
    return 2;
}

// The value of the option at argv[i], advancing i; empty with a message when it is missing.
std::optional<std::string> ValueOf(int argc, char** argv, int& i) {
    if (i + 1 >= argc) {
        WrongUse(std::string(argv[i]) + " needs a value");
        return std::nullopt;
    }
    return std::string(argv[++i]);
}

std::optional<std::int64_t> NumberOf(int argc, char** argv, int& i, std::int64_t min,
                                     std::int64_t max) {
    const std::string option = argv[i];
    const auto text = ValueOf(argc, argv, i);
    if (!text) {
        return std::nullopt;
    }
    const auto value = ParseNumber(*text, min, max);
    if (!value) {
        WrongUse(option + " needs a whole number from " + std::to_string(min) + " to " +
                 std::to_string(max) + ", not '" + *text + "'");
    }
    return value;
}

int RunKeygen(int argc, char** argv) {
    std::vector<std::string> names;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            PrintSigningUsage(std::cout);
            return 0;
        }
        if (!arg.empty() && arg[0] == '-') {
            return WrongUse("keygen: unknown option " + arg);
        }
        names.push_back(arg);
    }
    if (names.size() != 1) {
        return WrongUse("keygen needs exactly one NAME (it writes NAME.key and NAME.pub)");
    }
    const Result<PublicKey> key = WriteKeyPair(names[0]);
    if (!key) {
        return Failed("keygen", key.Error());
    }
    std::cout << "Wrote " << names[0] << ".key (the private key: readable by you only; keep it "
              << "out of every published folder) and " << names[0] << ".pub (public key "
              << toHex(key.Value()) << ").\n";
    return 0;
}

int RunRoot(int argc, char** argv) {
    RootRequest request;
    std::vector<std::string> positional;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        std::vector<std::string>* files = nullptr;
        if (arg == "--help" || arg == "-h") {
            PrintSigningUsage(std::cout);
            return 0;
        }
        if (arg == "--root-key") {
            files = &request.rootKeyFiles;
        } else if (arg == "--old-root-key") {
            files = &request.oldRootKeyFiles;
        } else if (arg == "--signing-key") {
            files = &request.signingKeyFiles;
        } else if (arg == "--previous") {
            const auto value = ValueOf(argc, argv, i);
            if (!value) {
                return 2;
            }
            request.previousRootFile = *value;
        } else if (arg == "--threshold" || arg == "--signing-threshold") {
            const auto value = NumberOf(argc, argv, i, 1, 1000);
            if (!value) {
                return 2;
            }
            (arg == "--threshold" ? request.rootThreshold : request.signingThreshold) =
                static_cast<std::uint32_t>(*value);
        } else if (arg == "--expires") {
            const auto value = NumberOf(argc, argv, i, 1, kMaxDays);
            if (!value) {
                return 2;
            }
            request.expiresDays = *value;
        } else if (!arg.empty() && arg[0] == '-') {
            return WrongUse("root: unknown option " + arg);
        } else {
            positional.push_back(arg);
        }
        if (files != nullptr) {
            const auto value = ValueOf(argc, argv, i);
            if (!value) {
                return 2;
            }
            files->push_back(*value);
        }
    }
    if (positional.size() != 1) {
        return WrongUse("root needs exactly one OUT file to write");
    }
    if (request.rootKeyFiles.empty() || request.signingKeyFiles.empty()) {
        return WrongUse(
            "root needs at least one --root-key (a .key) and one --signing-key "
            "(a .pub)");
    }
    if (request.rootThreshold > request.rootKeyFiles.size() ||
        request.signingThreshold > request.signingKeyFiles.size()) {
        return WrongUse("a threshold cannot exceed the number of keys given for its role");
    }
    request.outputFile = positional[0];
    const Result<RootDocument> root = WriteRootFile(request, Now());
    if (!root) {
        return Failed("root", root.Error());
    }
    std::cout << "Wrote root version " << root->version << " to " << request.outputFile << ": "
              << root->rootKeys.size() << " root keys (threshold " << root->rootThreshold << "), "
              << root->signingKeys.size() << " signing keys (threshold " << root->signingThreshold
              << "), valid for " << request.expiresDays << " days.\n";
    return 0;
}

}  // namespace

bool IsSigningCommand(const std::string& command) {
    return command == "keygen" || command == "root";
}

int RunSigningCommand(int argc, char** argv) {
    return std::string(argv[1]) == "keygen" ? RunKeygen(argc, argv) : RunRoot(argc, argv);
}

void PrintSigningUsage(std::ostream& out) {
    out << "Signing (clients given the root refuse anything it does not vouch for):\n"
           "  veldmoor-publish keygen NAME\n"
           "      writes NAME.key (the private key, readable by you only) and NAME.pub;\n"
           "      refuses to overwrite either.\n"
           "  veldmoor-publish root --root-key R.key [--root-key R2.key ...]\n"
           "      --signing-key S.pub [--signing-key S2.pub ...] [--threshold N]\n"
           "      [--signing-threshold N] [--expires DAYS] [--previous OLD_ROOT]\n"
           "      [--old-root-key K.key ...] OUT\n"
           "      writes a signed root file OUT (never over an existing file). The --root-key\n"
           "      keys are the new root's keys and sign it; --threshold (default 1) of them\n"
           "      must sign each later root. The --signing-key keys may sign the manifest;\n"
           "      --signing-threshold (default 1) of them must. --expires defaults to 365.\n"
           "      Without --previous the root is version 1; with it, OLD_ROOT's version + 1,\n"
           "      and OLD_ROOT's threshold of its root keys must sign too: a key of both\n"
           "      roots is given once with --root-key, a key only of the old root with\n"
           "      --old-root-key (it signs but is not listed in the new root).\n"
           "  veldmoor-publish --key S.key --root ROOT [--expires DAYS] SOURCE_DIR REPO_DIR\n"
           "      publishes as without signing, then writes REPO_DIR/signed/root/<N>.root for\n"
           "      ROOT (older roots stay: clients walk them in turn) and REPO_DIR/signed/\n"
           "      manifest, signed by the --key keys (repeat --key for a signing threshold\n"
           "      above 1): each listed file's path, size, SHA-256 and time, valid for DAYS\n"
           "      (default 30) days, and a version above every earlier one. Publish again\n"
           "      before it expires. Refused before anything is written: a ROOT that is not\n"
           "      validly signed or has expired, a key the ROOT does not name as a signing\n"
           "      key, a ROOT older than the repository's newest root or not following it, and\n"
           "      a private key inside SOURCE_DIR or REPO_DIR. --key and --root go together.\n"
           "      Give players ROOT as their trust anchor (veldmoor-sync --trust ROOT).\n"
           "  To replace a root or signing key: make the next root with --previous (the\n"
           "      repository's newest signed/root/<N>.root) and publish with it.\n";
}

PublishSigningOptions::Taken PublishSigningOptions::take(int argc, char** argv, int& i) {
    const std::string arg = argv[i];
    if (arg != "--key" && arg != "--root" && arg != "--expires") {
        return Taken::No;
    }
    if (arg == "--expires") {
        const auto days = NumberOf(argc, argv, i, 1, kMaxDays);
        if (!days) {
            return Taken::WrongUse;
        }
        request_.expiresDays = *days;
        expiresGiven_ = true;
        return Taken::Yes;
    }
    const auto value = ValueOf(argc, argv, i);
    if (!value) {
        return Taken::WrongUse;
    }
    if (arg == "--key") {
        request_.keyFiles.push_back(*value);
    } else if (!request_.rootFile.empty()) {
        WrongUse("--root is given twice; give the one newest root");
        return Taken::WrongUse;
    } else {
        request_.rootFile = *value;
    }
    return Taken::Yes;
}

bool PublishSigningOptions::complete(std::ostream& errors) const {
    if (request_.keyFiles.empty() != request_.rootFile.empty() ||
        (expiresGiven_ && request_.keyFiles.empty())) {
        errors << "veldmoor-publish: signing needs both --key S.key and --root ROOT"
               << (expiresGiven_ ? " (--expires sets the manifest's expiry)" : "") << "\n";
        return false;
    }
    return true;
}

Status PublishSigningOptions::prepare(PublishOptions& options) {
    if (request_.rootFile.empty()) {
        return {};
    }
    Result<RepositorySigner> signer =
        RepositorySigner::Prepare(request_, options.sourceDir, options.repoDir, Now());
    if (!signer) {
        return signer.Error();
    }
    signer_ = std::make_shared<RepositorySigner>(std::move(signer).Value());
    options.listed = [signer = signer_](const std::vector<PublishedFile>& files) {
        return signer->write(files);
    };
    return {};
}

void PublishSigningOptions::report(std::ostream& out) const {
    if (!signer_) {
        return;
    }
    out << "Signed manifest version " << signer_->manifestVersion() << " ("
        << signer_->filesHashed() << " files hashed beyond those copied).\n";
    if (signer_->rootExpiresFirst()) {
        const std::int64_t days = (signer_->root().expires - Now()) / kSecondsPerDay;
        std::cerr << "veldmoor-publish: warning: root version " << signer_->root().version
                  << " in '" << request_.rootFile << "' expires in " << days
                  << " days, before this manifest; clients refuse the repository from then on. "
                     "Make the next root with veldmoor-publish root --previous and publish "
                     "with it before then.\n";
    }
}

}  // namespace veldmoor
