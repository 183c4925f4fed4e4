// A real nginx on a free loopback port, serving a folder with the project's documented
// repository configuration (docs/nginx-repository.conf). Its configuration, logs and
// temporary files live in a private temporary prefix; the process is stopped by its id. Over
// https it offers HTTP/2 (ALPN) with a self-signed certificate made for it in that prefix.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace veldmoor::test {

// A loopback port that was free a moment ago; a server may still lose it to another process,
// so its starter retries.
int FreeLoopbackPort();

// One line of the access log.
struct NginxRequest {
    std::string method;
    std::string uri;    // as requested, percent-encoded
    std::string range;  // the Range header, "-" when none
    int status = 0;
    std::uint64_t bytesSent = 0;   // $bytes_sent: headers and body
    std::string contentEncoding;   // "gzip" or "-"
    std::string protocol;          // $server_protocol: "HTTP/1.1", "HTTP/2.0"
    std::uint64_t connection = 0;  // $connection: the serial number of the connection
};

enum class NginxTransport { Http, Https2 };

class NginxServer {
public:
    static constexpr const char* kProgram = "/usr/sbin/nginx";

    // Starts nginx serving `root`. Throws std::runtime_error with nginx's error log when it
    // does not come up.
    explicit NginxServer(const std::string& root, NginxTransport transport = NginxTransport::Http);
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:port/" (https for Https2) + folder + "/" (folder may be empty).
    std::string address(const std::string& folder = "") const;
    // The PEM file of the self-signed certificate (Https2 only), to trust as a CA file.
    std::string caFile() const;

    std::vector<NginxRequest> requests() const;
    void clearRequests();

    static bool Available();

private:
    std::unique_ptr<struct NginxPrefix> prefix_;
    int port_ = 0;
    int pid_ = 0;
    NginxTransport transport_;
};

}  // namespace veldmoor::test
