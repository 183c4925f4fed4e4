// The maintainer's side of a signed repository: key pairs, root files, and the signed files a
// publish writes beside filelist.php (sync/signed_metadata.h has their forms). Every failure
// names the file, what went wrong and what to try.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "sync/signed_metadata.h"
#include "system/result.h"
#include "tools/publish/repository_publisher.h"

namespace veldmoor {

inline constexpr std::int64_t kSecondsPerDay = 86400;

// Writes NAME.key (the private key, readable and writable by its owner only) and NAME.pub,
// refusing when either exists. Returns the public key.
Result<PublicKey> WriteKeyPair(const std::string& name);

Result<PrivateKey> ReadPrivateKey(const std::string& path);
Result<PublicKey> ReadPublicKey(const std::string& path);
// A root file in the canonical form (its signatures are not checked here).
Result<RootDocument> ReadRootFile(const std::string& path);

struct RootRequest {
    std::vector<std::string> rootKeyFiles;     // the new root's keys; each also signs
    std::vector<std::string> oldRootKeyFiles;  // sign as keys of the previous root only
    std::vector<std::string> signingKeyFiles;  // public key files
    std::uint32_t rootThreshold = 1;
    std::uint32_t signingThreshold = 1;
    std::int64_t expiresDays = 365;
    std::string previousRootFile;  // empty: version 1
    std::string outputFile;
};
// Writes a signed root file, refusing an existing output. A root that follows a previous one
// must carry the previous root's threshold of signatures as well as its own. Returns the root.
Result<RootDocument> WriteRootFile(const RootRequest& request, std::int64_t now);

struct SigningRequest {
    std::vector<std::string> keyFiles;  // private signing keys, as many as the threshold
    std::string rootFile;
    std::int64_t expiresDays = 30;
};

// Everything a signed publish checks before the repository is touched, and the writing of
// signed/root/<N>.root and signed/manifest once the file list is in place.
class RepositorySigner {
public:
    // Fails when the root is not validly self-signed or has expired, a key is not one of its
    // signing keys or lies inside the source or repository folder, the keys given do not meet
    // the signing threshold, or the root does not follow the newest root of the repository.
    static Result<RepositorySigner> Prepare(const SigningRequest& request,
                                            const std::string& sourceDir,
                                            const std::string& repoDir, std::int64_t now);

    // Writes the root file (when the repository lacks it) and the manifest. Files the
    // publisher did not read take their size and SHA-256 from the previous manifest when it
    // is signed by this root's keys and names them with the same size and time; others are
    // read here.
    Status write(const std::vector<PublishedFile>& files);

    std::uint64_t manifestVersion() const { return manifestVersion_; }
    // Clients refuse the repository once its root has expired, whatever the manifest says.
    bool rootExpiresFirst() const { return root_.expires < expires_; }
    const RootDocument& root() const { return root_; }
    std::size_t filesHashed() const { return filesHashed_; }

private:
    RepositorySigner(std::string repoDir, std::int64_t now, std::int64_t expires)
        : repoDir_(std::move(repoDir)), now_(now), expires_(expires) {}
    // Prepare's checks, in turn: the root and the keys, the root against the repository's
    // roots, then the previous manifest whose hashes may be taken over.
    Status check(const SigningRequest& request, const std::string& sourceDir);
    Status checkRootFollows(const std::string& rootFile, const std::filesystem::path& repo);
    Status readPreviousManifest(const std::filesystem::path& repo);

    std::string repoDir_;
    std::int64_t now_;
    std::int64_t expires_;
    RootDocument root_;
    bool rootIsNew_ = false;
    std::vector<PrivateKey> keys_;
    std::vector<ManifestEntry> previous_;  // of a previous manifest this root's keys signed
    std::uint64_t previousVersion_ = 0;
    std::uint64_t manifestVersion_ = 0;
    std::size_t filesHashed_ = 0;
};

}  // namespace veldmoor
