// A small HTTP server on a free loopback port that answers range requests the ways real servers
// and caches do when they do not do what the engine asks: fewer parts than asked, parts out of
// order, one Content-Range for several ranges, 416 for several ranges, a stall mid-body, error
// statuses, redirects. It serves the files of a folder (read whole: test files are small).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace veldmoor::test {

struct Misbehaviour {
    std::size_t maxParts = 0;          // answer only the first N ranges asked; 0: all
    bool reverseParts = false;         // parts in the opposite order
    bool preamble = false;             // a preamble before the first part
    bool oneContentRange = false;      // several ranges answered as one 206 from first to last
    bool refuseSeveralRanges = false;  // 416 with an empty body for more than one range
    // Sends this many body bytes of a ranged answer, then nothing until the server stops.
    std::optional<std::uint64_t> stallAfterBytes;
    // Sends the head of a ranged answer and this many bytes of its (first part's) data, then
    // nothing until the server stops: each try brings a few new bytes.
    std::optional<std::uint64_t> stallAfterDataBytes;
    // Sends the head of a ranged answer and then one byte every this many milliseconds: never
    // slow enough to count as a stall.
    std::optional<int> dripEveryMs;
    // A multipart answer stops this many bytes before the end of its closing delimiter, and
    // the connection closes: every data byte has come, the answer is cut short.
    std::optional<std::size_t> cutClosingDelimiter;
    // Whole answers (200) carry this many bytes more than their Content-Length says; they reach
    // the client where the next answer on the connection should begin.
    std::size_t extraBodyBytes = 0;
    int failFirst = 0;  // the first N requests are answered 503
    // Each answer is held this long before it is sent: a slow server, on which the client's
    // requests overlap.
    int holdMs = 0;
    // A request that comes while this many answers are held is answered 503; 0: never.
    int busyAbove = 0;
    std::map<std::string, int> statusOf;  // path -> status answered with an error page
    // Requests under "/moved/" are redirected (302) to this prefix + the rest of the path;
    // empty: to the server's own root.
    std::string redirectTo;
};

struct MisbehavingRequest {
    std::string path;
    std::string range;  // empty when none
    int status = 0;
    std::uint64_t bodyBytes = 0;  // body bytes the answer carries
};

class MisbehavingServer {
public:
    MisbehavingServer(const std::string& root, Misbehaviour misbehaviour);
    ~MisbehavingServer();
    MisbehavingServer(const MisbehavingServer&) = delete;
    MisbehavingServer& operator=(const MisbehavingServer&) = delete;

    // "http://127.0.0.1:port/" + folder + "/" (folder may be empty).
    std::string address(const std::string& folder = "") const;
    std::vector<MisbehavingRequest> requests() const;
    void clearRequests();
    // The most answers held at once (see Misbehaviour::holdMs): the client's connections in use.
    int peakHeldAnswers() const;

private:
    std::unique_ptr<struct MisbehavingState> state_;
};

}  // namespace veldmoor::test
