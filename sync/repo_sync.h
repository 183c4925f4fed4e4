// RepoSync brings one local folder up to date with one repository on the synchronisation
// server. Order of calls: listFiles, prepareFile for each file to keep, totalDownloadBytes,
// patchPreparedFiles once. One instance serves one run on one thread; its requests overlap on a
// small pool of connections (HttpSettings::connections) that stay open for the whole run.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sync/remote_file.h"

namespace veldmoor {

struct PreparedFile;  // sync/prepared_file.h
struct HttpSettings;  // sync/http.h
struct Manifest;      // sync/signed_metadata.h
struct ManifestEntry;

// Called with a file's repository path when the file is found not current.
using FileCheckCallback = std::function<void(const std::string&)>;
// Repository path, bytes of the file written so far, bytes of the file to download.
using ProgressCallback = std::function<void(const std::string&, unsigned int, unsigned int)>;
// Polled at safe points (between files, between received blocks); true ends the run with
// SyncCancelled.
using StopRequest = std::function<bool()>;

class RepoSync {
public:
    RepoSync(std::string installFolder, std::string repoAddress);
    ~RepoSync();
    RepoSync(const RepoSync&) = delete;
    RepoSync& operator=(const RepoSync&) = delete;

    // Fetches address + "/filelist.php". Throws PatchException.
    std::vector<RemoteFile> listFiles();
    // Plans one file when its local time differs from the listed one. Its chunk index is
    // fetched while later files are looked at, so the plan (and `onCheck`, called in list
    // order) may come with a later call of prepareFile or with totalDownloadBytes; `onCheck`
    // must stay callable until then. Throws PatchException: failures, too, are told in list
    // order, each by the call that takes the failed file's turn, so a call may throw the
    // failure of an earlier file. The exception names the file it is about (its path), not
    // the one the call was given. A failure ends the run: the rebuilds begun are ended.
    void prepareFile(const RemoteFile& file, const FileCheckCallback& onCheck);
    // Sum of the bytes the range requests of all prepared files will write. Not a mere
    // look-up: it first waits for every chunk index still on its way and plans those files
    // (their `onCheck` calls, and the failure of any of them, come now), while the rebuilds
    // begun go on receiving. Each file stays below 4 GiB, but a fresh installation as a whole
    // may not. Throws PatchException.
    std::uint64_t totalDownloadBytes();
    // The bytes to download of each planned file, in the order onCheck named them; waits for
    // the plans as totalDownloadBytes does.
    std::vector<std::uint64_t> plannedDownloadBytes();
    // Rebuilds the prepared files and sets their times. Several are on their way at once, but
    // they are put in place, and their progress reported, in list order. Throws
    // PatchException.
    void patchPreparedFiles(const ProgressCallback& progress);

    // By default the ranges of the files planned so far are fetched into their temporary files
    // while later files are still being planned, so that a link is never idle between the two
    // phases; nothing is put in place, and no progress told, before patchPreparedFiles. A
    // caller that only plans (a dry run) turns it off: then nothing is written before
    // patchPreparedFiles. Called before the first prepareFile.
    void setFetchWhilePlanning(bool fetch);

    // A root of trust for this repository (sync/signed_metadata.h). Without one the run behaves
    // as it always has and the repository is not verified. With one, listFiles also fetches
    // and verifies the root chain and the manifest, refuses anything unsigned, old, expired or
    // disagreeing with the file list, and every file put in place must have the manifest's size
    // and SHA-256. The trusted state is stored only once patchPreparedFiles has succeeded.
    // Called before listFiles.
    struct Trust {
        std::string anchorRoot;   // the root file's bytes the client starts from
        std::string stateFolder;  // where the trusted state of each repository is kept
        // Seconds since 1970; the system clock when empty.
        std::function<std::int64_t()> now;
    };
    void setTrust(Trust trust);
    // After listFiles: the manifest this run verified, or null when the repository is not
    // verified.
    const Manifest* verifiedManifest() const;

    // Examines every file prepareFile is given by its content, whatever its time: with a
    // manifest by size and SHA-256, otherwise by the chunk index (whole-file CRC-32 and
    // blocks). A file that differs is healed through the normal delta path and named through
    // onCheck. Called before the first prepareFile.
    void setVerifyContent(bool verify);

    void setStopRequest(StopRequest stop);
    // Time-outs, retries, rate cap, connections; by default HttpSettings::fromEnvironment().
    // Called before the first request.
    void setHttpSettings(const HttpSettings& settings);
    // The most requests that were on the wire at once so far: the connections over HTTP/1.1,
    // more once the server multiplexes.
    std::size_t peakRequestsInFlight() const;
    // The most memory the chunk indexes on their way held at once, as seen between transfers.
    std::size_t peakIndexBytesHeld() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Throws the ContentMismatch refusal (sync/signed_metadata.h) unless the file at `localPath` has
// the entry's size and SHA-256; used before acting on a signed file the engine did not put in
// place itself in this run (the cleanup list).
void checkSignedFile(const std::string& localPath, const ManifestEntry& entry);

}  // namespace veldmoor
