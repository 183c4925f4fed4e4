#include "tests/integration/repository_harness.h"

#include <filesystem>
#include <random>

#include "sync/repo_sync.h"
#include "tools/publish/repository_publisher.h"
#include "ui/run_texts.h"

namespace veldmoor::test {

namespace fs = std::filesystem;

std::size_t SeenRequest::rangeCount() const {
    if (range.empty() || range == "-") {
        return 0;
    }
    return static_cast<std::size_t>(std::count(range.begin(), range.end(), ',')) + 1;
}

bool SeenRequest::isFileList() const {
    return path.size() >= 13 && path.compare(path.size() - 13, 13, "/filelist.php") == 0;
}

bool SeenRequest::isChunkIndex() const {
    return path.size() >= 7 && path.compare(path.size() - 7, 7, ".chunks") == 0;
}

bool SeenRequest::isTransfer() const {
    return path.find("/transfer/") != std::string::npos && !isChunkIndex();
}

namespace {

class ProjectServer : public Server {
public:
    ProjectServer(const std::string& webRoot, std::string folder)
        : served_(webRoot), folder_(std::move(folder)) {}
    std::string address() const override { return served_.address(folder_); }
    std::vector<SeenRequest> requests() const override {
        std::vector<SeenRequest> seen;
        for (const auto& r : served_.server().requests()) {
            seen.push_back({r.path, r.range, r.gzip});
        }
        return seen;
    }
    void clearRequests() override { served_.server().clearRequests(); }
    RepoServer* faultable() override { return &served_.server(); }

private:
    ServedRepository served_;
    std::string folder_;
};

class Nginx : public Server {
public:
    Nginx(const std::string& webRoot, std::string folder)
        : nginx_(webRoot), folder_(std::move(folder)) {}
    std::string address() const override { return nginx_.address(folder_); }
    std::vector<SeenRequest> requests() const override {
        std::vector<SeenRequest> seen;
        for (const auto& r : nginx_.requests()) {
            seen.push_back({r.uri, r.range == "-" ? "" : r.range, r.contentEncoding == "gzip"});
        }
        return seen;
    }
    void clearRequests() override { nginx_.clearRequests(); }

private:
    NginxServer nginx_;
    std::string folder_;
};

}  // namespace

std::unique_ptr<Server> StartServer(ServerKind kind, const std::string& webRoot,
                                    const std::string& folder) {
    if (kind == ServerKind::Nginx) {
        return std::make_unique<Nginx>(webRoot, folder);
    }
    return std::make_unique<ProjectServer>(webRoot, folder);
}

SyncOutcome SyncFolder(const std::string& folder, const std::string& address) {
    return SyncFolder(folder, address, HttpSettings::fromEnvironment());
}

SyncOutcome SyncFolder(const std::string& folder, const std::string& address, HttpSettings settings,
                       std::vector<std::string>* retries,
                       const std::function<void(RepoSync&)>& configure) {
    SyncOutcome outcome;
    RepoSync sync(folder, address);
    if (configure) {
        configure(sync);
    }
    if (retries != nullptr) {
        settings.onRetry = [retries](const RetryNotice& retry) {
            retries->push_back(RetryLine(ConnectionRetry{retry.attempt, retry.pauseMs}));
        };
    }
    sync.setHttpSettings(settings);
    const auto files = sync.listFiles();
    outcome.listed = files.size();
    for (const auto& file : files) {
        sync.prepareFile(file, [&](const std::string& path) { outcome.examined.insert(path); });
    }
    outcome.planned = sync.totalDownloadBytes();
    std::map<std::string, std::uint64_t> written;
    sync.patchPreparedFiles([&](const std::string& path, unsigned int done, unsigned int) {
        outcome.rebuilt.insert(path);
        written[path] = done;
    });
    for (const auto& [path, bytes] : written) {
        outcome.downloaded += bytes;
    }
    outcome.peakInFlight = sync.peakRequestsInFlight();
    return outcome;
}

std::string RandomBytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(generator() & 0xFF);
    }
    return bytes;
}

std::map<std::string, std::string> ReadTree(const std::string& folder) {
    std::map<std::string, std::string> tree;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            tree[fs::relative(entry.path(), folder).generic_string()] =
                ReadTestFile(entry.path().string());
        }
    }
    return tree;
}

std::map<std::string, std::int64_t> ListedTimes(const std::string& repoDir) {
    std::map<std::string, std::int64_t> times;
    for (const auto& entry : ReadFileList(repoDir + "/filelist.php")) {
        times[entry.path] = entry.time;
    }
    return times;
}

}  // namespace veldmoor::test
