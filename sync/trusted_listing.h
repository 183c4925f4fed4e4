// The trust checks of one run against a signed repository (sync/signed_metadata.h): which root
// the client starts from, the verification of the root chain, the manifest and the file list,
// and the trusted state kept between runs. RepoSync fetches the documents; this decides.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "sync/repo_sync.h"
#include "sync/signed_metadata.h"

namespace veldmoor {

class TrustedListing {
public:
    TrustedListing(RepoSync::Trust trust, const std::string& repoAddress);

    // Reads the anchor and the stored state and takes the newer root. Called before anything is
    // fetched, so that a broken state is refused before the network is used. Throws
    // PatchException (StateUnreadable, or the anchor's own refusal).
    void loadState();
    // The repository paths of the root versions the manifest's text names beyond the trusted
    // one, in order; none when the text is not a manifest (verify refuses it then).
    std::vector<std::string> rootPathsToFetch(const std::string& manifestText) const;
    // Walks the root chain through `newerRoots` (the texts of rootPathsToFetch), verifies the
    // manifest and checks the list against it. Throws PatchException.
    void verify(const std::string& manifestText, const std::vector<std::string>& newerRoots,
                const std::vector<RemoteFile>& list);

    // After verify: the manifest, and the entry of one repository path (null when unlisted).
    const Manifest& manifest() const { return manifest_; }
    const ManifestEntry* entryFor(const std::string& repoPath) const;

    // Writes the newest root and the manifest version, in one atomic step, when they changed.
    // Called only once every check of the run has passed. Throws PatchException
    // (StateUnreadable) when it cannot be written.
    void storeState() const;

private:
    std::int64_t now() const;

    RepoSync::Trust trust_;
    std::string statePath_;
    RootDocument trusted_;  // the newer of the anchor and the stored root
    TrustState stored_;     // as read; manifestVersion 0 when there was none
    RootDocument newest_;   // the newest root after the walk
    Manifest manifest_;
    std::unordered_map<std::string, const ManifestEntry*> byPath_;
};

// Most root versions one run walks: a client far behind a repository that rotated its keys
// this often is better reinstalled with a current anchor, and a hostile manifest naming a root
// version far ahead must not make the client fetch without end.
inline constexpr std::uint64_t kMaxRootsPerRun = 256;

}  // namespace veldmoor
