#include "sync/trusted_listing.h"

#include <chrono>
#include <fstream>
#include <iterator>
#include <optional>
#include <utility>

#include "sync/file_list.h"
#include "sync/patch_file.h"
#include "system/atomic_file.h"
#include "system/file_ops.h"
#include "system/path.h"
#include "system/text_encoding.h"

namespace veldmoor {
namespace {

// The state is small (a root and a number); anything larger is not one.
constexpr std::size_t kMaxStateBytes = kMaxRootBytes + 256;

constexpr char kRemoveOnlyIfTrusted[] =
    "It protects this installation against old or forged updates: remove it only if you trust "
    "this machine, and the next run starts again from the root the program was given.";

[[noreturn]] void refuseState(const std::string& path, const std::string& what,
                              const std::string& advice = kRemoveOnlyIfTrusted) {
    refuseUnverified(TrustCheck::StateUnreadable, path,
                     "The trusted state '" + path + "' " + what + ". " + advice);
}

constexpr char kNotStored[] =
    "The files are in place, but the versions they were checked against are not remembered; "
    "make its folder writable and run again.";

// The file's bytes; nullopt when there is no file. A file that cannot be read, or too large
// to be a state, is refused.
std::optional<std::string> readState(const std::string& path) {
    const PathKind kind = KindOf(path);
    if (kind == PathKind::Missing) {
        return std::nullopt;
    }
    std::ifstream in(PathFromUtf8(path), std::ios::binary);
    if (kind != PathKind::File || !in.is_open()) {
        refuseState(path, "cannot be read");
    }
    std::string text;
    char block[4096];
    while (in.read(block, sizeof block) || in.gcount() > 0) {
        text.append(block, static_cast<std::size_t>(in.gcount()));
        if (text.size() > kMaxStateBytes) {
            refuseState(path, "is larger than a trusted state can be");
        }
    }
    return text;
}

}  // namespace

TrustedListing::TrustedListing(RepoSync::Trust trust, const std::string& repoAddress)
    : trust_(std::move(trust)),
      statePath_(AppendPathComponent(trust_.stateFolder, trustStateFileName(repoAddress))) {}

std::int64_t TrustedListing::now() const {
    if (trust_.now) {
        return trust_.now();
    }
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void TrustedListing::loadState() {
    trusted_ = parseRoot(trust_.anchorRoot);
    verifySelfSignedRoot(trusted_);
    const std::optional<std::string> text = readState(statePath_);
    if (!text) {
        return;
    }
    const std::optional<TrustState> state = parseTrustState(*text);
    if (!state) {
        refuseState(statePath_, "is not in the form this program writes");
    }
    stored_ = *state;
    RootDocument storedRoot;
    try {
        storedRoot = parseRoot(stored_.rootText, statePath_);
        verifySelfSignedRoot(storedRoot);
    } catch (const PatchException& e) {
        refuseState(statePath_,
                    std::string("holds a root that does not check out (") + e.what() + ")");
    }
    // A program built with a newer root than the one stored starts from its own.
    if (storedRoot.version > trusted_.version) {
        trusted_ = std::move(storedRoot);
    }
}

std::vector<std::string> TrustedListing::rootPathsToFetch(const std::string& manifestText) const {
    std::uint64_t named = 0;
    try {
        named = parseManifest(manifestText).rootVersion;
    } catch (const PatchException&) {
        return {};
    }
    if (named > trusted_.version && named - trusted_.version > kMaxRootsPerRun) {
        refuseUnverified(TrustCheck::ChainBroken, kManifestPath,
                         "The manifest names root version " + std::to_string(named) +
                             ", more than " + std::to_string(kMaxRootsPerRun) +
                             " versions beyond the trusted root version " +
                             std::to_string(trusted_.version) + ".");
    }
    std::vector<std::string> paths;
    for (std::uint64_t version = trusted_.version + 1; version <= named; ++version) {
        paths.push_back(rootPathFor(version));
    }
    return paths;
}

void TrustedListing::verify(const std::string& manifestText,
                            const std::vector<std::string>& newerRoots,
                            const std::vector<RemoteFile>& list) {
    const std::int64_t at = now();
    newest_ = walkRootChain(trusted_, newerRoots, at);
    manifest_ = verifyManifest(manifestText, newest_, stored_.manifestVersion, at);
    checkListAgainstManifest(list, manifest_);
    byPath_.clear();
    for (const ManifestEntry& entry : manifest_.files) {
        byPath_.emplace(entry.path, &entry);
    }
}

const ManifestEntry* TrustedListing::entryFor(const std::string& repoPath) const {
    const auto found = byPath_.find(repoPath);
    return found == byPath_.end() ? nullptr : found->second;
}

void TrustedListing::storeState() const {
    const TrustState state{newest_.text, manifest_.version};
    if (state.rootText == stored_.rootText && state.manifestVersion == stored_.manifestVersion) {
        return;  // nothing new: the file is not written on every run
    }
    const ParentFolders folders = makeParentFolders(statePath_);
    if (!folders.ok()) {
        refuseState(statePath_,
                    "cannot be written: its folder cannot be made (" +
                        describePathRefusal(folders.refusal) +
                        (folders.systemError.empty() ? "" : ", ") + folders.systemError + ")",
                    kNotStored);
    }
    if (const Status written = ReplaceFileAtomically(statePath_, formatTrustState(state));
        !written) {
        refuseState(statePath_, "cannot be written: " + written.Message(), kNotStored);
    }
}

}  // namespace veldmoor
