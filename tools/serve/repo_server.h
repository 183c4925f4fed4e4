// A small static HTTP server for a published repository (filelist.php, transfer/<path> and
// transfer/<path>.chunks under one root folder). veldmoor-serve runs it from the command line;
// tests start it in-process on a free loopback port, switch on its fault modes and read its
// request log.
//
// What it answers:
// - a GET of a file under the root, with doubled slashes treated as one and the path
//   percent-decoded; paths that would leave the root are refused (400), and links that lead
//   out of it are not followed (404);
// - a Range header with one range: 206 and the raw bytes with Content-Range;
//   several ranges: 206 and multipart/byteranges with a boundary, one part per range in the
//   order asked for; a range that overlaps or touches the one before it joins its part;
//   more than kMaxRanges ranges, or parts that would together exceed the file, get the whole
//   file (200), so that no answer is larger than the file it serves;
// - whole answers (no Range) gzip-encoded when the client accepts gzip, the file is at most
//   8 MiB and fewer than four compressed answers are being sent; ranged answers never.
// Each connection holds one of a fixed number of threads; one that stays silent or sends its
// request slower than the idle time-out is closed. A client that does not read its answer holds
// its thread at most the write time-out per blocked write, and one that reads a trickle is cut
// off; one client address is sent at most a few answers at once, and all together fewer than
// the threads, so beyond that a request gets a quick 503 (Retry-After) and its connection closes. A
// server exposed to the open internet is better served by nginx (docs/nginx-repository.conf), which
// holds idle connections cheaply.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "system/result.h"

namespace veldmoor {

// Misbehaviour on request, for tests of the client's failure handling. By default each fault
// applies only to ranged answers (requests that carry a Range header).
struct ServerFaults {
    // Closes the connection after this many body bytes of an answer.
    std::optional<std::uint64_t> closeAfterBytes;
    // Answers 200 with the whole file, as a server that does not do ranges would.
    bool ignoreRange = false;
    // Sends "multipart/byteranges" without its boundary parameter.
    bool dropBoundary = false;
    // Waits this long (or until the server stops) before sending the body.
    std::chrono::milliseconds stall{0};
    // Applies the faults to every answer, not only to ranged ones.
    bool alsoWholeAnswers = false;
    // When set, the faults apply to the answers for this path alone (as the server logs it).
    std::string onlyPath;
};

// One request as the server saw it.
struct ServedRequest {
    std::string method;
    std::string target;  // as sent, still percent-encoded
    std::string path;    // decoded, doubled slashes collapsed
    std::string range;   // the Range header, empty when none
    int status = 0;
    std::uint64_t bodyBytes = 0;  // bytes of the body the server meant to send (before faults)
    bool gzip = false;
    std::string client;  // the address the request came from
};

struct RepoServerOptions {
    std::string root;                // folder whose files are served
    std::string host = "127.0.0.1";  // loopback unless asked otherwise
    int port = 0;                    // 0: any free port
    bool gzip = true;                // gzip whole answers for clients that accept it
    // A connection that sends nothing for this long, between requests or within one, is
    // closed (also how long one read of a request may wait).
    std::chrono::seconds idleTimeout{5};
};

class RepoServer {
public:
    explicit RepoServer(RepoServerOptions options);
    ~RepoServer();
    RepoServer(const RepoServer&) = delete;
    RepoServer& operator=(const RepoServer&) = delete;

    // Binds and starts serving on a background thread; returns the port. Fails when the root
    // is not a folder or the address cannot be bound.
    Result<int> start();
    // Stops serving and joins the thread; stalled answers end at once. Safe to call twice.
    void stop();

    int port() const;
    // "http://host:port" without a trailing slash.
    std::string baseUrl() const;

    void setFaults(const ServerFaults& faults);
    void clearFaults();

    std::vector<ServedRequest> requests() const;
    void clearRequests();
    // Hands over the log and empties it in one step, so a long-running server's log does not
    // grow without end and no request is lost between reading and clearing.
    std::vector<ServedRequest> takeRequests();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace veldmoor
