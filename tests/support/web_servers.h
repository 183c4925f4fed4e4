// Real web servers and caches from Debian's packages on free loopback ports, the way worlds
// serve their repositories: lighttpd, Apache httpd, and Varnish in front of nginx. Each runs
// in a private temporary folder with its own configuration, pid file and logs (nothing is
// written to the system's paths) and is stopped by its process id when the object goes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace veldmoor::test {

// One request as the server's (or cache's) own access log holds it.
struct LoggedRequest {
    std::string method;
    std::string uri;    // path as requested
    std::string range;  // the Range header, empty when none
    int status = 0;
    std::uint64_t bytesSent = 0;  // headers and body, as the server counted them
};

class WebServer {
public:
    virtual ~WebServer() = default;
    // "http://127.0.0.1:port/" + folder + "/" (folder may be empty).
    virtual std::string address(const std::string& folder = "") const = 0;
    // Requests since the last clearRequests, waiting until the log holds every one of them.
    std::vector<LoggedRequest> requests();
    void clearRequests();

protected:
    // Every line the access log holds so far, in the common format above.
    virtual std::string readLog() const = 0;

private:
    std::vector<LoggedRequest> loggedSoFar();
    std::size_t seen_ = 0;
    int marks_ = 0;
};

enum class WebServerKind { Lighttpd, Apache, VarnishBeforeNginx };

const char* NameOf(WebServerKind kind);
// Serves `root`. Throws std::runtime_error with the server's error log when it does not come up.
std::unique_ptr<WebServer> StartWebServer(WebServerKind kind, const std::string& root);

}  // namespace veldmoor::test
