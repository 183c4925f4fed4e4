#include "tools/publish/signing.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <stdexcept>
#include <tuple>

#include "sync/patch_exception.h"
#include "sync/repository_layout.h"
#include "system/new_file.h"
#include "system/text_encoding.h"
#include "tools/publish/atomic_output.h"

namespace veldmoor {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxKeyFileBytes = 4096;

bool Exists(const std::string& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(PathFromUtf8(path), error));
}

std::string ReadFileUpTo(const std::string& path, std::size_t maxBytes, const std::string& what) {
    std::ifstream in(PathFromUtf8(path), std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read the " + what + " '" + path +
                                 "': check the name and the read rights");
    }
    std::string text(maxBytes + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad()) {
        throw std::runtime_error("reading the " + what + " '" + path + "' failed");
    }
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.size() > maxBytes) {
        throw std::runtime_error("'" + path + "' is larger than any " + what + " (" +
                                 std::to_string(maxBytes) + " bytes); check the name");
    }
    return text;
}

// A file of its own beside `target`, complete on the drive but not yet in place.
std::unique_ptr<NewFile> PrepareFile(const std::string& target, std::string_view text,
                                     bool ownerOnly) {
    Result<std::unique_ptr<NewFile>> created = NewFile::CreateBeside(target);
    if (!created) {
        throw std::runtime_error("cannot write '" + target + "': " + created.Message() +
                                 " (is the folder there and writable?)");
    }
    std::unique_ptr<NewFile> file = std::move(created).Value();
    if (ownerOnly) {
        // Before the key is written, so that it is never readable by others.
        std::error_code failure;
        fs::permissions(PathFromUtf8(file->Path()), fs::perms::owner_read | fs::perms::owner_write,
                        fs::perm_options::replace, failure);
        if (failure) {
            throw std::runtime_error("cannot make '" + file->Path() +
                                     "' readable by its owner only: " + failure.message());
        }
    }
    file->Stream().write(text.data(), static_cast<std::streamsize>(text.size()));
    if (const Status flushed = file->Flush(); !flushed) {
        throw std::runtime_error("writing '" + target + "' failed: " + flushed.Message() +
                                 " (is the disk full?)");
    }
    return file;
}

void PutInPlace(NewFile& file, const std::string& target) {
    if (const Status moved = file.MoveOver(target); !moved) {
        throw std::runtime_error("cannot put '" + target + "' in place: " + moved.Message());
    }
}

void WriteRepositoryFile(const fs::path& path, const std::string& text) {
    std::error_code error;
    fs::create_directories(path.parent_path(), error);
    if (error) {
        throw std::runtime_error("cannot create '" + Utf8FromPath(path.parent_path()) +
                                 "': " + error.message());
    }
    AtomicOutput output(Utf8FromPath(path));
    output.write(text.data(), text.size());
    output.commit();
}

void RefuseExisting(const std::string& path, const std::string& what) {
    if (Exists(path)) {
        throw std::runtime_error("'" + path + "' already exists; nothing was written. Remove it " +
                                 "first if " + what + ", or choose another name.");
    }
}

std::vector<PrivateKey> ReadPrivateKeys(const std::vector<std::string>& files) {
    std::vector<PrivateKey> keys;
    keys.reserve(files.size());
    for (const std::string& file : files) {
        keys.push_back(ReadPrivateKey(file));
    }
    return keys;
}

bool Holds(const std::vector<PublicKey>& keys, const PublicKey& key) {
    return std::find(keys.begin(), keys.end(), key) != keys.end();
}

std::size_t KeysOf(const std::vector<PrivateKey>& signers, const std::vector<PublicKey>& role) {
    std::vector<PublicKey> counted;
    for (const PrivateKey& key : signers) {
        const PublicKey publicKey = publicKeyOf(key);
        if (Holds(role, publicKey) && !Holds(counted, publicKey)) {
            counted.push_back(publicKey);
        }
    }
    return counted.size();
}

// Turns the refusal a client would meet into the maintainer's error.
template <typename Check>
void Require(const std::string& file, const std::string& advice, Check check) {
    try {
        check();
    } catch (const PatchException& e) {
        throw std::runtime_error("'" + file + "': " + e.what() + " " + advice);
    }
}

bool Inside(const fs::path& file, const fs::path& folder) {
    const fs::path relative = file.lexically_relative(folder);
    return !relative.empty() && *relative.begin() != "..";
}

std::pair<std::uint64_t, Sha256Digest> HashFile(const std::string& path) {
    std::ifstream in(PathFromUtf8(path), std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read '" + path + "' to hash it for the manifest");
    }
    std::vector<char> buffer(1 << 20);
    Sha256Hasher hasher;
    std::uint64_t size = 0;
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const auto got = static_cast<std::size_t>(in.gcount());
        hasher.update(buffer.data(), got);
        size += got;
    }
    if (in.bad()) {
        throw std::runtime_error("reading '" + path + "' for the manifest failed");
    }
    return {size, hasher.finish()};
}

// The newest root version among signed/root/<N>.root, 0 when there is none.
std::uint64_t NewestRootIn(const fs::path& rootFolder) {
    std::uint64_t newest = 0;
    std::error_code error;
    for (fs::directory_iterator it(rootFolder, error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = Utf8FromPath(it->path().filename());
        const std::string number = name.substr(0, name.size() - 5);
        if (name.ends_with(".root") && !number.empty() && number.size() < 20 &&
            number.find_first_not_of("0123456789") == std::string::npos && number[0] != '0') {
            newest = std::max<std::uint64_t>(newest, std::stoull(number));
        }
    }
    return newest;
}

}  // namespace

PublicKey WriteKeyPair(const std::string& name) {
    const std::string privatePath = name + ".key";
    const std::string publicPath = name + ".pub";
    RefuseExisting(privatePath,
                   "you mean to replace that key (its repositories then need a new "
                   "root)");
    RefuseExisting(publicPath, "it belongs to no key you still use");
    const KeyPair pair = generateKeyPair();
    // Both files are complete before either moves: no private key without its public half.
    auto privateFile = PrepareFile(privatePath, formatPrivateKeyFile(pair.privateKey), true);
    auto publicFile = PrepareFile(publicPath, formatPublicKeyFile(pair.publicKey), false);
    PutInPlace(*privateFile, privatePath);
    PutInPlace(*publicFile, publicPath);
    return pair.publicKey;
}

PrivateKey ReadPrivateKey(const std::string& path) {
    const auto key = parsePrivateKeyFile(ReadFileUpTo(path, kMaxKeyFileBytes, "key file"));
    if (!key) {
        throw std::runtime_error("'" + path +
                                 "' is not a private key file (one line "
                                 "'veldmoor-ed25519-private' and 64 hex digits); give the .key "
                                 "file that veldmoor-publish keygen wrote, not the .pub");
    }
    return *key;
}

PublicKey ReadPublicKey(const std::string& path) {
    const auto key = parsePublicKeyFile(ReadFileUpTo(path, kMaxKeyFileBytes, "key file"));
    if (!key) {
        throw std::runtime_error("'" + path +
                                 "' is not a public key file (one line "
                                 "'veldmoor-ed25519-public' and 64 hex digits); give the .pub "
                                 "file that veldmoor-publish keygen wrote");
    }
    return *key;
}

RootDocument ReadRootFile(const std::string& path) {
    const std::string text = ReadFileUpTo(path, kMaxRootBytes, "root file");
    RootDocument root;
    Require(path, "Give a root file written by veldmoor-publish root.",
            [&] { root = parseRoot(text, path); });
    return root;
}

RootDocument WriteRootFile(const RootRequest& request, std::int64_t now) {
    RefuseExisting(request.outputFile, "it is an old root you no longer need");
    if (request.rootKeyFiles.empty() || request.signingKeyFiles.empty()) {
        throw std::runtime_error("a root needs at least one --root-key and one --signing-key");
    }
    const std::vector<PrivateKey> rootKeys = ReadPrivateKeys(request.rootKeyFiles);
    std::vector<PrivateKey> signers = rootKeys;
    for (const PrivateKey& key : ReadPrivateKeys(request.oldRootKeyFiles)) {
        signers.push_back(key);
    }
    RootDocument root;
    root.version = 1;
    root.expires = now + request.expiresDays * kSecondsPerDay;
    root.rootThreshold = request.rootThreshold;
    root.signingThreshold = request.signingThreshold;
    for (const PrivateKey& key : rootKeys) {
        root.rootKeys.push_back(publicKeyOf(key));
    }
    for (const std::string& file : request.signingKeyFiles) {
        root.signingKeys.push_back(ReadPublicKey(file));
    }
    std::optional<RootDocument> previous;
    if (!request.previousRootFile.empty()) {
        previous = ReadRootFile(request.previousRootFile);
        Require(request.previousRootFile, "Give the repository's newest valid root.",
                [&] { verifySelfSignedRoot(*previous); });
        root.version = previous->version + 1;
        const std::size_t oldSigners = KeysOf(signers, previous->rootKeys);
        if (oldSigners < previous->rootThreshold) {
            throw std::runtime_error(
                "the new root must also be signed by " + std::to_string(previous->rootThreshold) +
                " root keys of version " + std::to_string(previous->version) + " in '" +
                request.previousRootFile + "', but the keys given hold " +
                std::to_string(oldSigners) +
                " of them; add the old root's private keys with --old-root-key (or --root-key "
                "to keep them)");
        }
    }
    // The root's own checks (thresholds, repeated keys) are the reader's: what it refuses is
    // never written.
    const std::string text = signBody(formatRootBody(root), signers);
    Require(request.outputFile,
            "Nothing was written; give distinct keys and thresholds from 1 "
            "to the number of keys.",
            [&] {
                root = parseRoot(text, request.outputFile);
                verifySelfSignedRoot(root);
                if (previous) {
                    walkRootChain(*previous, {text}, now);
                }
            });
    auto file = PrepareFile(request.outputFile, text, false);
    PutInPlace(*file, request.outputFile);
    return root;
}

RepositorySigner::RepositorySigner(const SigningRequest& request, const std::string& sourceDir,
                                   const std::string& repoDir, std::int64_t now)
    : repoDir_(repoDir), now_(now), expires_(now + request.expiresDays * kSecondsPerDay) {
    root_ = ReadRootFile(request.rootFile);
    Require(request.rootFile, "Make the root with veldmoor-publish root.", [&] {
        verifySelfSignedRoot(root_);
        walkRootChain(root_, {}, now_);
    });

    std::error_code error;
    const fs::path source = fs::weakly_canonical(PathFromUtf8(sourceDir), error);
    const fs::path repo = fs::weakly_canonical(PathFromUtf8(repoDir), error);
    for (const std::string& file : request.keyFiles) {
        const fs::path real = fs::weakly_canonical(PathFromUtf8(file), error);
        if (Inside(real, source) || Inside(real, repo)) {
            throw std::runtime_error("the private key '" + file + "' lies inside the " +
                                     (Inside(real, repo) ? "repository" : "source") +
                                     " folder, from where it could be published; move it out "
                                     "of both folders (and make a new key if it was ever "
                                     "published)");
        }
        const PrivateKey key = ReadPrivateKey(file);
        const PublicKey publicKey = publicKeyOf(key);
        if (!Holds(root_.signingKeys, publicKey)) {
            throw std::runtime_error(
                "the key in '" + file + "' (public key " + toHex(publicKey) +
                ") is not a signing key of root version " + std::to_string(root_.version) +
                " in '" + request.rootFile +
                "'; use a signing key the root names, or make a root naming this key with "
                "veldmoor-publish root --signing-key");
        }
        keys_.push_back(key);
    }
    if (KeysOf(keys_, root_.signingKeys) < root_.signingThreshold) {
        throw std::runtime_error("root version " + std::to_string(root_.version) + " in '" +
                                 request.rootFile + "' needs manifests signed by " +
                                 std::to_string(root_.signingThreshold) +
                                 " signing keys; give that many distinct --key files");
    }

    const fs::path rootFolder = repo / PathFromUtf8(kSignedRootFolder);
    const std::uint64_t newest = NewestRootIn(rootFolder);
    const std::string newestPath = Utf8FromPath(rootFolder / (std::to_string(newest) + ".root"));
    if (newest > root_.version) {
        throw std::runtime_error("the repository already has root version " +
                                 std::to_string(newest) + " ('" + newestPath + "'), newer than '" +
                                 request.rootFile + "' (version " + std::to_string(root_.version) +
                                 "); publish with the newest root, since clients refuse to go "
                                 "back to an older one");
    }
    if (newest != 0 && root_.version > newest + 1) {
        throw std::runtime_error("the repository's newest root is version " +
                                 std::to_string(newest) +
                                 ", and clients walk the roots one "
                                 "version at a time; publish once with root version " +
                                 std::to_string(newest + 1) + " first");
    }
    if (newest == root_.version &&
        ReadFileUpTo(newestPath, kMaxRootBytes, "root file") != root_.text) {
        throw std::runtime_error("the repository's '" + newestPath +
                                 "' is another root of "
                                 "version " +
                                 std::to_string(newest) + " than '" + request.rootFile +
                                 "'; make the new root with --previous '" + newestPath +
                                 "' so that it follows it");
    }
    if (newest + 1 == root_.version && newest != 0) {
        const RootDocument previous = ReadRootFile(newestPath);
        Require(request.rootFile,
                "Make it with veldmoor-publish root --previous '" + newestPath +
                    "' and the old root's keys.",
                [&] { walkRootChain(previous, {root_.text}, now_); });
    }
    rootIsNew_ = newest != root_.version;

    const fs::path manifestPath = repo / PathFromUtf8(kManifestPath);
    if (!fs::exists(manifestPath, error)) {
        return;
    }
    const std::string text =
        ReadFileUpTo(Utf8FromPath(manifestPath), kMaxManifestBytes, "manifest");
    try {
        previousVersion_ = parseManifest(text).version;
        // Sizes and hashes are taken over only from a manifest these keys signed: whoever can
        // change the repository's files must not get them signed by the next publish.
        previous_ = verifyManifest(text, root_, 0, std::numeric_limits<std::int64_t>::min()).files;
    } catch (const PatchException&) {
        previous_.clear();
    }
    if (previousVersion_ == std::numeric_limits<std::uint64_t>::max()) {
        throw std::runtime_error("'" + Utf8FromPath(manifestPath) +
                                 "' has the largest version there is; no later one can follow");
    }
}

void RepositorySigner::write(const std::vector<PublishedFile>& files) {
    std::map<std::string_view, const ManifestEntry*> previous;
    for (const ManifestEntry& entry : previous_) {
        previous.emplace(entry.path, &entry);
    }
    Manifest manifest;
    manifest.version = std::max<std::uint64_t>(
        previousVersion_ + 1, static_cast<std::uint64_t>(std::max<std::int64_t>(now_, 0)));
    manifest.expires = expires_;
    manifest.rootVersion = root_.version;
    manifest.files.reserve(files.size());
    for (const PublishedFile& file : files) {
        ManifestEntry entry{file.path, file.size, {}, file.time};
        const auto old = previous.find(file.path);
        if (file.sha256) {
            entry.sha256 = *file.sha256;
        } else if (old != previous.end() && old->second->size == file.size &&
                   old->second->time == file.time) {
            entry.sha256 = old->second->sha256;
        } else {
            std::tie(entry.size, entry.sha256) = HashFile(file.sourcePath);
            ++filesHashed_;
        }
        manifest.files.push_back(std::move(entry));
    }
    const std::string text = signBody(formatManifestBody(manifest), keys_);
    if (text.size() > kMaxManifestBytes) {
        throw std::runtime_error("the manifest of " + std::to_string(files.size()) +
                                 " files exceeds the " + std::to_string(kMaxManifestBytes) +
                                 " bytes clients read; split the files over repositories");
    }
    const fs::path repo = PathFromUtf8(repoDir_);
    if (rootIsNew_) {
        WriteRepositoryFile(repo / PathFromUtf8(rootPathFor(root_.version)), root_.text);
    }
    WriteRepositoryFile(repo / PathFromUtf8(kManifestPath), text);
    manifestVersion_ = manifest.version;
}

}  // namespace veldmoor
