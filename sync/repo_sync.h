// RepoSync brings one local folder up to date with one repository on the synchronisation
// server. Order of calls: listFiles, prepareFile for each file to keep, totalDownloadBytes,
// patchPreparedFiles once. One instance serves one run on one thread and owns one libcurl
// easy handle, so the connection is reused for every request.
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
    // Plans one file when its local time differs from the listed one. Throws PatchException.
    void prepareFile(const RemoteFile& file, const FileCheckCallback& onCheck);
    // Sum of the bytes the range requests of all prepared files will write. Each file stays
    // below 4 GiB, but a fresh installation as a whole may not.
    std::uint64_t totalDownloadBytes() const;
    // Rebuilds the prepared files in order and sets their times. Throws PatchException.
    void patchPreparedFiles(const ProgressCallback& progress);

    void setStopRequest(StopRequest stop);
    // Time-outs, retries, rate cap; by default HttpSettings::fromEnvironment().
    void setHttpSettings(const HttpSettings& settings);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace veldmoor
