// What the integration tests share: a source folder, its repository published with the real
// veldmoor-publish under a web root, one of the two servers in front of it, and a run of the
// engine against it that records what happened.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "sync/http.h"
#include "tests/support/nginx_server.h"
#include "tests/support/served_repository.h"
#include "tests/support/temp_dir.h"

namespace veldmoor {
class RepoSync;
}

namespace veldmoor::test {

enum class ServerKind { Project, Nginx };

// One request as either server logged it.
struct SeenRequest {
    std::string path;   // as logged (nginx: still percent-encoded)
    std::string range;  // empty when none
    bool gzip = false;
    std::size_t rangeCount() const;
    bool isFileList() const;
    bool isChunkIndex() const;
    bool isTransfer() const;  // a ranged or whole request of a file itself
};

class Server {
public:
    virtual ~Server() = default;
    virtual std::string address() const = 0;  // the repository address, ending in "/"
    virtual std::vector<SeenRequest> requests() const = 0;
    virtual void clearRequests() = 0;
    // Only the project's server can misbehave; null for nginx.
    virtual RepoServer* faultable() { return nullptr; }
};

std::unique_ptr<Server> StartServer(ServerKind kind, const std::string& webRoot,
                                    const std::string& folder);

struct SyncOutcome {
    std::size_t listed = 0;
    std::set<std::string> examined;
    std::set<std::string> rebuilt;
    std::uint64_t planned = 0;
    std::uint64_t downloaded = 0;  // what progress reported as written by range downloads
    std::size_t peakInFlight = 0;  // the most requests the engine had on the wire at once
};

// list, prepare every file, patch: the order the launcher uses. Throws what the engine throws.
SyncOutcome SyncFolder(const std::string& folder, const std::string& address);
// The same with the given time-outs and retries; `retries` receives the status line of each.
SyncOutcome SyncFolder(const std::string& folder, const std::string& address, HttpSettings settings,
                       std::vector<std::string>* retries = nullptr,
                       const std::function<void(RepoSync&)>& configure = nullptr);

// Deterministic bytes.
std::string RandomBytes(std::size_t size, std::uint32_t seed);

// Every regular file below `folder` by relative path, with its content.
std::map<std::string, std::string> ReadTree(const std::string& folder);

// The file list of a published repository: path -> time.
std::map<std::string, std::int64_t> ListedTimes(const std::string& repoDir);

}  // namespace veldmoor::test
