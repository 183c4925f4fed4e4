#include "tests/support/misbehaving_server.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tools/serve/byte_ranges.h"

namespace veldmoor::test {

struct MisbehavingState {
    std::string root;
    Misbehaviour misbehaviour;
    httplib::Server server;
    std::thread thread;
    int port = 0;
    mutable std::mutex mutex;
    std::condition_variable stopped;
    bool stopping = false;
    int answered = 0;
    int held = 0;
    int peakHeld = 0;
    std::vector<MisbehavingRequest> requests;

    void record(const MisbehavingRequest& request) {
        const std::lock_guard lock(mutex);
        requests.push_back(request);
    }

    void handle(const httplib::Request& req, httplib::Response& res);
};

namespace {

constexpr const char* kBoundary = "MISBEHAVING0BOUNDARY";

bool readWhole(const std::string& path, std::string& content) {
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open()) {
        return false;
    }
    std::ostringstream all;
    all << in.rdbuf();
    content = std::move(all).str();
    return true;
}

std::string contentRange(const ByteRange& range, std::size_t size) {
    return "bytes " + std::to_string(range.first) + "-" + std::to_string(range.last) + "/" +
           std::to_string(size);
}

}  // namespace

void MisbehavingState::handle(const httplib::Request& req, httplib::Response& res) {
    // The answers are built here, not by the library, so that they can be wrong on purpose.
    const std::string rangeHeader = req.get_header_value("Range");
    const_cast<httplib::Request&>(req).ranges.clear();
    // Doubled slashes count as one, as on the usual servers.
    std::string path;
    for (const char c : req.path) {
        if (c != '/' || path.empty() || path.back() != '/') {
            path.push_back(c);
        }
    }
    MisbehavingRequest seen{path, rangeHeader, 0, 0};
    const Misbehaviour& m = misbehaviour;
    int number = 0;
    {
        const std::lock_guard lock(mutex);
        number = answered++;
    }
    const auto answer = [&](int status, std::string body, const char* type) {
        res.status = status;
        seen.status = status;
        seen.bodyBytes = body.size();
        res.set_content(std::move(body), type);
        record(seen);
    };
    if (number < m.failFirst) {
        return answer(503, "busy", "text/plain");
    }
    if (m.holdMs > 0) {
        std::unique_lock lock(mutex);
        if (m.busyAbove > 0 && held >= m.busyAbove) {
            lock.unlock();
            return answer(503, "busy", "text/plain");
        }
        peakHeld = std::max(peakHeld, ++held);
        stopped.wait_for(lock, std::chrono::milliseconds(m.holdMs), [this] { return stopping; });
        --held;
    }
    if (const auto it = m.statusOf.find(path); it != m.statusOf.end()) {
        return answer(it->second, "<html>error " + std::to_string(it->second) + "</html>",
                      "text/html");
    }
    if (path.starts_with("/moved/")) {
        const std::string target =
            (m.redirectTo.empty() ? "http://127.0.0.1:" + std::to_string(port) + "/"
                                  : m.redirectTo) +
            path.substr(7);
        res.set_header("Location", target);
        return answer(302, "moved", "text/plain");
    }
    std::string content;
    if (path.find("..") != std::string::npos || !readWhole(root + path, content)) {
        return answer(404, "<html>not found</html>", "text/html");
    }
    if (rangeHeader == "bytes=") {
        // No range at all: refused, as the usual servers do.
        res.set_header("Content-Range", "bytes */" + std::to_string(content.size()));
        return answer(416, "", "text/plain");
    }
    ParsedRanges parsed;
    if (!rangeHeader.empty()) {
        parsed = ParseRangeHeader(rangeHeader, content.size());
    }
    if (parsed.result != RangeParse::Ok && m.extraBodyBytes > 0) {
        res.status = 200;
        seen.status = 200;
        seen.bodyBytes = content.size();
        record(seen);
        auto shared = std::make_shared<std::string>(content + std::string(m.extraBodyBytes, '#'));
        const std::size_t declared = content.size();
        res.set_content_provider(
            declared, "application/octet-stream",
            [shared](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                return sink.write(shared->data() + offset, shared->size() - offset);
            });
        return;
    }
    if (parsed.result != RangeParse::Ok) {
        return answer(200, std::move(content), "application/octet-stream");
    }
    std::vector<ByteRange> ranges = parsed.ranges;
    if (ranges.size() > 1 && m.refuseSeveralRanges) {
        res.set_header("Content-Range", "bytes */" + std::to_string(content.size()));
        return answer(416, "", "text/plain");
    }
    if (m.maxParts > 0 && ranges.size() > m.maxParts) {
        ranges.resize(m.maxParts);
    }
    if (m.reverseParts) {
        std::reverse(ranges.begin(), ranges.end());
    }
    if (ranges.size() > 1 && m.oneContentRange) {
        ranges = {{ranges.front().first, ranges.back().last}};
    }
    std::string body;
    const char* type = "application/octet-stream";
    std::string multipartType;
    std::size_t dataStart = 0;  // where the first part's data begins in the body
    if (ranges.size() == 1) {
        res.set_header("Content-Range", contentRange(ranges.front(), content.size()));
        body = content.substr(ranges.front().first, ranges.front().length());
    } else {
        body = m.preamble ? "This answer is in several parts.\r\n" : "";
        for (const ByteRange& range : ranges) {
            body += std::string("--") + kBoundary +
                    "\r\nContent-Type: application/octet-stream\r\nContent-Range: " +
                    contentRange(range, content.size()) + "\r\n\r\n";
            dataStart = dataStart == 0 ? body.size() : dataStart;
            body += content.substr(range.first, range.length()) + "\r\n";
        }
        body += std::string("--") + kBoundary + "--\r\n";
        multipartType = std::string("multipart/byteranges; boundary=") + kBoundary;
        type = multipartType.c_str();
    }
    // How much of the body goes out before the answer stalls, drips or is cut off.
    std::size_t sent = body.size();
    if (m.stallAfterBytes) {
        sent = static_cast<std::size_t>(std::min<std::uint64_t>(*m.stallAfterBytes, body.size()));
    } else if (m.stallAfterDataBytes) {
        sent = static_cast<std::size_t>(
            std::min<std::uint64_t>(dataStart + *m.stallAfterDataBytes, body.size()));
    } else if (m.dripEveryMs) {
        sent = dataStart;
    } else if (m.cutClosingDelimiter && ranges.size() > 1) {
        sent = body.size() - 2 - std::min(*m.cutClosingDelimiter, body.size() - 2);
    } else {
        return answer(206, std::move(body), type);
    }
    res.status = 206;
    seen.status = 206;
    seen.bodyBytes = sent;
    record(seen);
    auto shared = std::make_shared<std::string>(std::move(body));
    const bool closeAfterSent = m.cutClosingDelimiter.has_value();
    const int dripMs = m.dripEveryMs.value_or(0);
    res.set_content_provider(shared->size(), type,
                             [this, shared, sent, closeAfterSent, dripMs](
                                 std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                 if (offset < sent) {
                                     return sink.write(shared->data() + offset, sent - offset);
                                 }
                                 if (closeAfterSent) {
                                     return false;  // the connection closes
                                 }
                                 // A stall (nothing more until the server stops; bounded, so
                                 // no test hangs) or a drip of one byte after each wait.
                                 std::unique_lock lock(mutex);
                                 stopped.wait_for(lock,
                                                  dripMs > 0 ? std::chrono::milliseconds(dripMs)
                                                             : std::chrono::milliseconds(120000),
                                                  [this] { return stopping; });
                                 return dripMs > 0 && !stopping &&
                                        sink.write(shared->data() + offset, 1);
                             });
}

MisbehavingServer::MisbehavingServer(const std::string& root, Misbehaviour misbehaviour)
    : state_(std::make_unique<MisbehavingState>()) {
    state_->root = root;
    state_->misbehaviour = std::move(misbehaviour);
    state_->server.Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
        state_->handle(req, res);
    });
    state_->port = state_->server.bind_to_any_port("127.0.0.1");
    if (state_->port <= 0) {
        throw std::runtime_error("the misbehaving server found no free loopback port");
    }
    state_->thread = std::thread([this] { state_->server.listen_after_bind(); });
    while (!state_->server.is_running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

MisbehavingServer::~MisbehavingServer() {
    {
        const std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->stopped.notify_all();
    state_->server.stop();
    if (state_->thread.joinable()) {
        state_->thread.join();
    }
}

std::string MisbehavingServer::address(const std::string& folder) const {
    return "http://127.0.0.1:" + std::to_string(state_->port) + "/" +
           (folder.empty() ? "" : folder + "/");
}

std::vector<MisbehavingRequest> MisbehavingServer::requests() const {
    const std::lock_guard lock(state_->mutex);
    return state_->requests;
}

int MisbehavingServer::peakHeldAnswers() const {
    const std::lock_guard lock(state_->mutex);
    return state_->peakHeld;
}

void MisbehavingServer::clearRequests() {
    const std::lock_guard lock(state_->mutex);
    state_->requests.clear();
}

}  // namespace veldmoor::test
