// The project's repository server started in-process on a free loopback port, serving a
// folder the test fills (typically with the real veldmoor-publish, see tool_runner.h).
#pragma once

#include <stdexcept>
#include <string>

#include "tools/serve/repo_server.h"

namespace veldmoor::test {

// Starts a server a test stands on and returns its port; one that cannot start ends the test's
// set-up with the reason, as the other servers of the tests do.
inline int StartServing(RepoServer& server) {
    const Result<int> port = server.start();
    if (!port) {
        throw std::runtime_error("the repository server did not start: " + port.Message());
    }
    return port.Value();
}

class ServedRepository {
public:
    explicit ServedRepository(const std::string& root, bool gzip = true)
        : server_(RepoServerOptions{root, "127.0.0.1", 0, gzip}) {
        StartServing(server_);
    }

    RepoServer& server() { return server_; }
    const RepoServer& server() const { return server_; }
    // Repository address as a launcher profile holds it: base URL, the folder, and "/".
    std::string address(const std::string& folder = "") const {
        return server_.baseUrl() + "/" + (folder.empty() ? "" : folder + "/");
    }

private:
    RepoServer server_;
};

}  // namespace veldmoor::test
