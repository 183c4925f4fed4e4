#include "tools/publish/signing.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
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

Result<std::string> ReadFileUpTo(const std::string& path, std::size_t maxBytes,
                                 const std::string& what) {
    std::ifstream in(PathFromUtf8(path), std::ios::binary);
    if (!in) {
        return Status::Failed("cannot read the " + what + " '" + path +
                              "': check the name and the read rights");
    }
    std::string text(maxBytes + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad()) {
        return Status::Failed("reading the " + what + " '" + path + "' failed");
    }
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.size() > maxBytes) {
        return Status::Failed("'" + path + "' is larger than any " + what + " (" +
                              std::to_string(maxBytes) + " bytes); check the name");
    }
    return text;
}

// A file of its own beside `target`, complete on the drive but not yet in place.
Result<std::unique_ptr<NewFile>> PrepareFile(const std::string& target, std::string_view text,
                                             bool ownerOnly) {
    Result<std::unique_ptr<NewFile>> created = NewFile::CreateBeside(target);
    if (!created) {
        return Status::Failed("cannot write '" + target + "': " + created.Message() +
                                  " (is the folder there and writable?)",
                              created.Cause());
    }
    std::unique_ptr<NewFile> file = std::move(created).Value();
    if (ownerOnly) {
        // Before the key is written, so that it is never readable by others.
        std::error_code failure;
        fs::permissions(PathFromUtf8(file->Path()), fs::perms::owner_read | fs::perms::owner_write,
                        fs::perm_options::replace, failure);
        if (failure) {
            return Status::Failed("cannot make '" + file->Path() +
                                  "' readable by its owner only: " + failure.message());
        }
    }
    file->Stream().write(text.data(), static_cast<std::streamsize>(text.size()));
    if (const Status flushed = file->Flush(); !flushed) {
        return Status::Failed(
            "writing '" + target + "' failed: " + flushed.Message() + " (is the disk full?)",
            flushed.Cause());
    }
    return file;
}

Status PutInPlace(NewFile& file, const std::string& target) {
    if (const Status moved = file.MoveOver(target); !moved) {
        return Status::Failed("cannot put '" + target + "' in place: " + moved.Message(),
                              moved.Cause());
    }
    return {};
}

Status WriteRepositoryFile(const fs::path& path, const std::string& text) {
    std::error_code error;
    fs::create_directories(path.parent_path(), error);
    if (error) {
        return Status::Failed("cannot create '" + Utf8FromPath(path.parent_path()) +
                              "': " + error.message());
    }
    Result<AtomicOutput> output = AtomicOutput::Create(Utf8FromPath(path));
    if (!output) {
        return output.Error();
    }
    output->write(text.data(), text.size());
    return output->commit();
}

Status RefuseExisting(const std::string& path, const std::string& what) {
    if (Exists(path)) {
        return Status::Failed("'" + path + "' already exists; nothing was written. Remove it " +
                              "first if " + what + ", or choose another name.");
    }
    return {};
}

Result<std::vector<PrivateKey>> ReadPrivateKeys(const std::vector<std::string>& files) {
    std::vector<PrivateKey> keys;
    keys.reserve(files.size());
    for (const std::string& file : files) {
        Result<PrivateKey> key = ReadPrivateKey(file);
        if (!key) {
            return key.Error();
        }
        keys.push_back(key.Value());
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

// Turns the refusal a client would meet, which the engine throws, into the maintainer's error.
template <typename Check>
Status Require(const std::string& file, const std::string& advice, Check check) {
    try {
        check();
    } catch (const PatchException& e) {
        return Status::Failed("'" + file + "': " + e.what() + " " + advice);
    }
    return {};
}

bool Inside(const fs::path& file, const fs::path& folder) {
    const fs::path relative = file.lexically_relative(folder);
    return !relative.empty() && *relative.begin() != "..";
}

Result<std::pair<std::uint64_t, Sha256Digest>> HashFile(const std::string& path) {
    std::ifstream in(PathFromUtf8(path), std::ios::binary);
    if (!in) {
        return Status::Failed("cannot read '" + path + "' to hash it for the manifest");
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
        return Status::Failed("reading '" + path + "' for the manifest failed");
    }
    return std::pair{size, hasher.finish()};
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

Result<PublicKey> WriteKeyPair(const std::string& name) {
    const std::string privatePath = name + ".key";
    const std::string publicPath = name + ".pub";
    if (Status absent = RefuseExisting(privatePath,
                                       "you mean to replace that key (its repositories then need a "
                                       "new root)");
        !absent) {
        return absent;
    }
    if (Status absent = RefuseExisting(publicPath, "it belongs to no key you still use"); !absent) {
        return absent;
    }
    const KeyPair pair = generateKeyPair();
    // Both files are complete before either moves: no private key without its public half.
    Result<std::unique_ptr<NewFile>> privateFile =
        PrepareFile(privatePath, formatPrivateKeyFile(pair.privateKey), true);
    if (!privateFile) {
        return privateFile.Error();
    }
    Result<std::unique_ptr<NewFile>> publicFile =
        PrepareFile(publicPath, formatPublicKeyFile(pair.publicKey), false);
    if (!publicFile) {
        return publicFile.Error();
    }
    if (Status placed = PutInPlace(*privateFile.Value(), privatePath); !placed) {
        return placed;
    }
    if (Status placed = PutInPlace(*publicFile.Value(), publicPath); !placed) {
        return placed;
    }
    return pair.publicKey;
}

Result<PrivateKey> ReadPrivateKey(const std::string& path) {
    const Result<std::string> text = ReadFileUpTo(path, kMaxKeyFileBytes, "key file");
    if (!text) {
        return text.Error();
    }
    const auto key = parsePrivateKeyFile(text.Value());
    if (!key) {
        return Status::Failed("'" + path +
                              "' is not a private key file (one line "
                              "'veldmoor-ed25519-private' and 64 hex digits); give the .key "
                              "file that veldmoor-publish keygen wrote, not the .pub");
    }
    return *key;
}

Result<PublicKey> ReadPublicKey(const std::string& path) {
    const Result<std::string> text = ReadFileUpTo(path, kMaxKeyFileBytes, "key file");
    if (!text) {
        return text.Error();
    }
    const auto key = parsePublicKeyFile(text.Value());
    if (!key) {
        return Status::Failed("'" + path +
                              "' is not a public key file (one line "
                              "'veldmoor-ed25519-public' and 64 hex digits); give the .pub "
                              "file that veldmoor-publish keygen wrote");
    }
    return *key;
}

Result<RootDocument> ReadRootFile(const std::string& path) {
    const Result<std::string> text = ReadFileUpTo(path, kMaxRootBytes, "root file");
    if (!text) {
        return text.Error();
    }
    RootDocument root;
    if (Status parsed = Require(path, "Give a root file written by veldmoor-publish root.",
                                [&] { root = parseRoot(text.Value(), path); });
        !parsed) {
        return parsed;
    }
    return root;
}

Result<RootDocument> WriteRootFile(const RootRequest& request, std::int64_t now) {
    if (Status absent = RefuseExisting(request.outputFile, "it is an old root you no longer need");
        !absent) {
        return absent;
    }
    if (request.rootKeyFiles.empty() || request.signingKeyFiles.empty()) {
        return Status::Failed("a root needs at least one --root-key and one --signing-key");
    }
    const Result<std::vector<PrivateKey>> rootKeys = ReadPrivateKeys(request.rootKeyFiles);
    if (!rootKeys) {
        return rootKeys.Error();
    }
    const Result<std::vector<PrivateKey>> oldRootKeys = ReadPrivateKeys(request.oldRootKeyFiles);
    if (!oldRootKeys) {
        return oldRootKeys.Error();
    }
    std::vector<PrivateKey> signers = rootKeys.Value();
    signers.insert(signers.end(), oldRootKeys->begin(), oldRootKeys->end());
    RootDocument root;
    root.version = 1;
    root.expires = now + request.expiresDays * kSecondsPerDay;
    root.rootThreshold = request.rootThreshold;
    root.signingThreshold = request.signingThreshold;
    for (const PrivateKey& key : rootKeys.Value()) {
        root.rootKeys.push_back(publicKeyOf(key));
    }
    for (const std::string& file : request.signingKeyFiles) {
        const Result<PublicKey> key = ReadPublicKey(file);
        if (!key) {
            return key.Error();
        }
        root.signingKeys.push_back(key.Value());
    }
    std::optional<RootDocument> previous;
    if (!request.previousRootFile.empty()) {
        Result<RootDocument> read = ReadRootFile(request.previousRootFile);
        if (!read) {
            return read.Error();
        }
        previous = std::move(read).Value();
        if (Status valid =
                Require(request.previousRootFile, "Give the repository's newest valid root.",
                        [&] { verifySelfSignedRoot(*previous); });
            !valid) {
            return valid;
        }
        root.version = previous->version + 1;
        const std::size_t oldSigners = KeysOf(signers, previous->rootKeys);
        if (oldSigners < previous->rootThreshold) {
            return Status::Failed(
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
    if (Status valid = Require(request.outputFile,
                               "Nothing was written; give distinct keys and thresholds from 1 "
                               "to the number of keys.",
                               [&] {
                                   root = parseRoot(text, request.outputFile);
                                   verifySelfSignedRoot(root);
                                   if (previous) {
                                       walkRootChain(*previous, {text}, now);
                                   }
                               });
        !valid) {
        return valid;
    }
    Result<std::unique_ptr<NewFile>> file = PrepareFile(request.outputFile, text, false);
    if (!file) {
        return file.Error();
    }
    if (Status placed = PutInPlace(*file.Value(), request.outputFile); !placed) {
        return placed;
    }
    return root;
}

Result<RepositorySigner> RepositorySigner::Prepare(const SigningRequest& request,
                                                   const std::string& sourceDir,
                                                   const std::string& repoDir, std::int64_t now) {
    RepositorySigner signer(repoDir, now, now + request.expiresDays * kSecondsPerDay);
    if (Status checked = signer.check(request, sourceDir); !checked) {
        return checked;
    }
    return signer;
}

Status RepositorySigner::check(const SigningRequest& request, const std::string& sourceDir) {
    Result<RootDocument> root = ReadRootFile(request.rootFile);
    if (!root) {
        return root.Error();
    }
    root_ = std::move(root).Value();
    if (Status valid = Require(request.rootFile, "Make the root with veldmoor-publish root.",
                               [&] {
                                   verifySelfSignedRoot(root_);
                                   walkRootChain(root_, {}, now_);
                               });
        !valid) {
        return valid;
    }

    std::error_code error;
    const fs::path source = fs::weakly_canonical(PathFromUtf8(sourceDir), error);
    const fs::path repo = fs::weakly_canonical(PathFromUtf8(repoDir_), error);
    for (const std::string& file : request.keyFiles) {
        const fs::path real = fs::weakly_canonical(PathFromUtf8(file), error);
        if (Inside(real, source) || Inside(real, repo)) {
            return Status::Failed("the private key '" + file + "' lies inside the " +
                                  (Inside(real, repo) ? "repository" : "source") +
                                  " folder, from where it could be published; move it out "
                                  "of both folders (and make a new key if it was ever "
                                  "published)");
        }
        const Result<PrivateKey> key = ReadPrivateKey(file);
        if (!key) {
            return key.Error();
        }
        const PublicKey publicKey = publicKeyOf(key.Value());
        if (!Holds(root_.signingKeys, publicKey)) {
            return Status::Failed(
                "the key in '" + file + "' (public key " + toHex(publicKey) +
                ") is not a signing key of root version " + std::to_string(root_.version) +
                " in '" + request.rootFile +
                "'; use a signing key the root names, or make a root naming this key with "
                "veldmoor-publish root --signing-key");
        }
        keys_.push_back(key.Value());
    }
    if (KeysOf(keys_, root_.signingKeys) < root_.signingThreshold) {
        return Status::Failed("root version " + std::to_string(root_.version) + " in '" +
                              request.rootFile + "' needs manifests signed by " +
                              std::to_string(root_.signingThreshold) +
                              " signing keys; give that many distinct --key files");
    }
    if (Status follows = checkRootFollows(request.rootFile, repo); !follows) {
        return follows;
    }
    return readPreviousManifest(repo);
}

Status RepositorySigner::checkRootFollows(const std::string& rootFile, const fs::path& repo) {
    const fs::path rootFolder = repo / PathFromUtf8(kSignedRootFolder);
    const std::uint64_t newest = NewestRootIn(rootFolder);
    const std::string newestPath = Utf8FromPath(rootFolder / (std::to_string(newest) + ".root"));
    if (newest > root_.version) {
        return Status::Failed("the repository already has root version " + std::to_string(newest) +
                              " ('" + newestPath + "'), newer than '" + rootFile + "' (version " +
                              std::to_string(root_.version) +
                              "); publish with the newest root, since clients refuse to go "
                              "back to an older one");
    }
    if (newest != 0 && root_.version > newest + 1) {
        return Status::Failed("the repository's newest root is version " + std::to_string(newest) +
                              ", and clients walk the roots one "
                              "version at a time; publish once with root version " +
                              std::to_string(newest + 1) + " first");
    }
    if (newest == root_.version) {
        const Result<std::string> text = ReadFileUpTo(newestPath, kMaxRootBytes, "root file");
        if (!text) {
            return text.Error();
        }
        if (text.Value() != root_.text) {
            return Status::Failed("the repository's '" + newestPath +
                                  "' is another root of "
                                  "version " +
                                  std::to_string(newest) + " than '" + rootFile +
                                  "'; make the new root with --previous '" + newestPath +
                                  "' so that it follows it");
        }
    }
    if (newest + 1 == root_.version && newest != 0) {
        const Result<RootDocument> previous = ReadRootFile(newestPath);
        if (!previous) {
            return previous.Error();
        }
        if (Status follows = Require(rootFile,
                                     "Make it with veldmoor-publish root --previous '" +
                                         newestPath + "' and the old root's keys.",
                                     [&] { walkRootChain(previous.Value(), {root_.text}, now_); });
            !follows) {
            return follows;
        }
    }
    rootIsNew_ = newest != root_.version;
    return {};
}

Status RepositorySigner::readPreviousManifest(const fs::path& repo) {
    std::error_code error;
    const fs::path manifestPath = repo / PathFromUtf8(kManifestPath);
    if (!fs::exists(manifestPath, error)) {
        return {};
    }
    const Result<std::string> text =
        ReadFileUpTo(Utf8FromPath(manifestPath), kMaxManifestBytes, "manifest");
    if (!text) {
        return text.Error();
    }
    try {
        previousVersion_ = parseManifest(text.Value()).version;
        // Sizes and hashes are taken over only from a manifest these keys signed: whoever can
        // change the repository's files must not get them signed by the next publish.
        previous_ =
            verifyManifest(text.Value(), root_, 0, std::numeric_limits<std::int64_t>::min()).files;
    } catch (const PatchException&) {
        previous_.clear();
    }
    if (previousVersion_ == std::numeric_limits<std::uint64_t>::max()) {
        return Status::Failed("'" + Utf8FromPath(manifestPath) +
                              "' has the largest version there is; no later one can follow");
    }
    return {};
}

Status RepositorySigner::write(const std::vector<PublishedFile>& files) {
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
            const Result<std::pair<std::uint64_t, Sha256Digest>> read = HashFile(file.sourcePath);
            if (!read) {
                return read.Error();
            }
            std::tie(entry.size, entry.sha256) = read.Value();
            ++filesHashed_;
        }
        manifest.files.push_back(std::move(entry));
    }
    const std::string text = signBody(formatManifestBody(manifest), keys_);
    if (text.size() > kMaxManifestBytes) {
        return Status::Failed("the manifest of " + std::to_string(files.size()) +
                              " files exceeds the " + std::to_string(kMaxManifestBytes) +
                              " bytes clients read; split the files over repositories");
    }
    const fs::path repo = PathFromUtf8(repoDir_);
    if (rootIsNew_) {
        if (Status written =
                WriteRepositoryFile(repo / PathFromUtf8(rootPathFor(root_.version)), root_.text);
            !written) {
            return written;
        }
    }
    if (Status written = WriteRepositoryFile(repo / PathFromUtf8(kManifestPath), text); !written) {
        return written;
    }
    manifestVersion_ = manifest.version;
    return {};
}

}  // namespace veldmoor
