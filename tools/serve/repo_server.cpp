#include "tools/serve/repo_server.h"

#include <httplib.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <string_view>
#include <thread>
#include <utility>

#include "sync/repository_layout.h"
#include "system/text_encoding.h"
#include "tools/serve/byte_ranges.h"

namespace veldmoor {
namespace {

namespace fs = std::filesystem;

// Whole answers up to this size are compressed in memory; larger ones go out as they are. The
// launcher compresses only the file list and chunk indexes, far smaller than this.
constexpr std::uint64_t kMaxGzipSize = 8ULL << 20;
// At most this many compressed answers are held at once, so that many parallel requests of
// one file cost at most this many compressed copies; the others are sent as they are, which
// every client that accepts gzip also accepts.
constexpr int kParallelGzip = 4;
constexpr std::size_t kSendBlock = 64 * 1024;
// Connections are served by this many threads; an idle or slow connection holds one only until
// its time-out, so a handful of them cannot keep everyone else waiting.
constexpr std::size_t kWorkers = 64;
// How long one write may block on a client that does not read.
constexpr std::chrono::seconds kWriteTimeout{10};
// Answers one client address may be sent at once, and all clients together: each holds a
// thread for as long as its client takes to read it, so a client that opens many connections
// and reads none holds a bounded share, and some threads always stay free to answer, if only
// with a quick 503. The launcher opens six connections unless told otherwise.
constexpr int kAnswersPerClient = 16;
constexpr int kAnswersInAll = static_cast<int>(kWorkers) - 8;
// An answer that has been sent for longer than the write time-out must have gone out at least
// this fast on average, or it is ended: a client reading a trickle holds its thread no longer.
constexpr std::uint64_t kSlowestReader = 4 * 1024;  // bytes per second

// The body of an answer: literal texts (multipart headers, compressed data) and ranges of the
// served file, sent one after another without holding the file in memory.
struct Segment {
    std::string text;
    std::uint64_t fileOffset = 0;
    std::uint64_t fileLength = 0;
    bool fromFile = false;
    std::uint64_t size() const { return fromFile ? fileLength : text.size(); }
};

struct Body {
    std::vector<Segment> segments;
    std::shared_ptr<void> held;   // what the answer keeps reserved until it is sent
    std::shared_ptr<void> place;  // its place among the answers being sent
    std::uint64_t size() const {
        std::uint64_t total = 0;
        for (const auto& s : segments) {
            total += s.size();
        }
        return total;
    }
};

// Splits the decoded request path into its segments, dropping empty ones (doubled slashes).
// Returns false for paths that could leave the root.
bool SplitRequestPath(const std::string& path, std::vector<std::string>& segments) {
    std::size_t start = 0;
    while (start <= path.size()) {
        auto end = path.find('/', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        std::string segment = path.substr(start, end - start);
        if (segment == "." || segment == ".." || segment.find('\\') != std::string::npos ||
            segment.find('\0') != std::string::npos) {
            return false;
        }
        if (!segment.empty()) {
            segments.push_back(std::move(segment));
        }
        start = end + 1;
    }
    return true;
}

std::string JoinSegments(const std::vector<std::string>& segments) {
    std::string joined;
    for (const auto& s : segments) {
        joined += '/';
        joined += s;
    }
    return joined.empty() ? "/" : joined;
}

bool AcceptsGzip(const httplib::Request& req) {
    return req.get_header_value("Accept-Encoding").find("gzip") != std::string::npos;
}

std::string MakeBoundary() {
    std::random_device seed;
    std::mt19937_64 random(seed());
    static constexpr char kHex[] = "0123456789abcdef";
    std::string boundary = "veldmoor";
    for (int i = 0; i < 20; ++i) {
        boundary += kHex[random() % 16];
    }
    return boundary;
}

// Compresses the file block by block, so that only the compressed bytes are held. The output's
// room is reserved once for zlib's bound and filled as it goes; pages never written are never
// taken from the system.
bool GzipFile(const fs::path& path, std::uint64_t size, std::string& output) {
    std::ifstream in(path, std::ios::binary);
    z_stream stream{};
    // 15 window bits plus 16 asks zlib for the gzip wrapper.
    if (!in || deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8,
                            Z_DEFAULT_STRATEGY) != Z_OK) {
        return false;
    }
    output.reserve(deflateBound(&stream, static_cast<uLong>(size)) + 32);
    std::vector<char> input(kSendBlock);
    std::vector<char> packed(kSendBlock);
    std::uint64_t read = 0;
    int result = Z_OK;
    while (result == Z_OK) {
        in.read(input.data(), static_cast<std::streamsize>(input.size()));
        const auto got = static_cast<uInt>(in.gcount());
        read += got;
        const bool last = got == 0;
        stream.next_in = reinterpret_cast<Bytef*>(input.data());
        stream.avail_in = got;
        do {
            stream.next_out = reinterpret_cast<Bytef*>(packed.data());
            stream.avail_out = static_cast<uInt>(packed.size());
            result = deflate(&stream, last ? Z_FINISH : Z_NO_FLUSH);
            output.append(packed.data(), packed.size() - stream.avail_out);
        } while (stream.avail_out == 0 && result == Z_OK);
        if (last && result == Z_OK) {
            result = Z_BUF_ERROR;  // cannot happen: Z_FINISH with room left ends the stream
        }
    }
    deflateEnd(&stream);
    // A file that changed its size meanwhile is sent as it is now, uncompressed.
    return result == Z_STREAM_END && read == size && !in.bad();
}

// True when `real`, a resolved path, lies inside the resolved root.
bool InsideRoot(const fs::path& real, const fs::path& root) {
    const fs::path relative = real.lexically_relative(root);
    return !relative.empty() && *relative.begin() != "..";
}

bool EndsWith(const std::string& text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The file list is plain text; other pages (the launcher's news page is html/launcher.php)
// are HTML so that the window's web view renders them.
std::string ContentTypeFor(const std::string& path) {
    if (EndsWith(path, std::string("/") + kFileListPath) || path == kFileListPath) {
        return "text/plain; charset=utf-8";
    }
    if (EndsWith(path, ".php") || EndsWith(path, ".html") || EndsWith(path, ".htm")) {
        return "text/html; charset=utf-8";
    }
    return "application/octet-stream";
}

}  // namespace

struct RepoServer::Impl {
    RepoServerOptions options;
    httplib::Server server;
    std::thread thread;
    int port = 0;
    bool running = false;

    mutable std::mutex mutex;  // guards faults, log and stopping
    std::condition_variable stopped;
    ServerFaults faults;
    std::vector<ServedRequest> log;
    bool stopping = false;
    int gzipInFlight = 0;
    std::map<std::string, int> answersByClient;
    int answersInFlight = 0;
    fs::path realRoot;  // the root with every link resolved, fixed at start

    // A place among the compressed answers held at once, or null when all are taken. It is
    // given back when the answer holding it is done.
    std::shared_ptr<void> takeGzipPlace() {
        const std::lock_guard lock(mutex);
        if (gzipInFlight >= kParallelGzip) {
            return nullptr;
        }
        ++gzipInFlight;
        return std::shared_ptr<void>(static_cast<void*>(this), [this](void*) {
            const std::lock_guard release(mutex);
            --gzipInFlight;
        });
    }

    // A place among the answers being sent, or null when `client` or all clients hold as many
    // as they may. It is given back when the answer holding it is done.
    std::shared_ptr<void> takeAnswerPlace(const std::string& client) {
        const std::lock_guard lock(mutex);
        int& held = answersByClient[client];
        if (held >= kAnswersPerClient || answersInFlight >= kAnswersInAll) {
            if (held == 0) {
                answersByClient.erase(client);
            }
            return nullptr;
        }
        ++held;
        ++answersInFlight;
        return std::shared_ptr<void>(static_cast<void*>(this), [this, client](void*) {
            const std::lock_guard release(mutex);
            --answersInFlight;
            if (--answersByClient[client] == 0) {
                answersByClient.erase(client);
            }
        });
    }

    explicit Impl(RepoServerOptions opts) : options(std::move(opts)) {}

    void record(ServedRequest entry) {
        const std::lock_guard lock(mutex);
        log.push_back(std::move(entry));
    }

    ServerFaults currentFaults() const {
        const std::lock_guard lock(mutex);
        return faults;
    }

    // Waits for the stall time; false when the server is stopping meanwhile.
    bool stall(std::chrono::milliseconds duration) {
        std::unique_lock lock(mutex);
        stopped.wait_for(lock, duration, [this] { return stopping; });
        return !stopping;
    }

    void handle(const httplib::Request& req, httplib::Response& res);
    static void refuseAsBusy(httplib::Response& res);
    void send(httplib::Response& res, int status, const std::string& contentType, Body body,
              const std::string& filePath, const ServerFaults& faults, bool faulty);
};

void RepoServer::Impl::send(httplib::Response& res, int status, const std::string& contentType,
                            Body body, const std::string& filePath, const ServerFaults& faults,
                            bool faulty) {
    res.status = status;
    const std::uint64_t total = body.size();
    auto shared = std::make_shared<Body>(std::move(body));
    std::shared_ptr<std::ifstream> file;
    if (!filePath.empty()) {
        file = std::make_shared<std::ifstream>(PathFromUtf8(filePath), std::ios::binary);
    }
    const std::optional<std::uint64_t> cutOff = faulty ? faults.closeAfterBytes : std::nullopt;
    const auto stallFor = faulty ? faults.stall : std::chrono::milliseconds(0);
    if (total == 0 && !cutOff) {
        res.set_content("", contentType);
        return;
    }
    const auto started = std::chrono::steady_clock::now();
    res.set_content_provider(
        static_cast<std::size_t>(total), contentType,
        [this, shared, file, cutOff, stallFor, started](std::size_t offset, std::size_t /*length*/,
                                                        httplib::DataSink& sink) {
            if (offset == 0 && stallFor.count() > 0 && !stall(stallFor)) {
                return false;
            }
            const auto sending = std::chrono::duration_cast<std::chrono::seconds>(
                std::chrono::steady_clock::now() - started - stallFor);
            if (sending > kWriteTimeout &&
                offset < kSlowestReader * static_cast<std::uint64_t>(sending.count())) {
                return false;  // a reader this slow would hold the thread for hours
            }
            std::uint64_t limit = shared->size();
            if (cutOff) {
                limit = std::min<std::uint64_t>(limit, *cutOff);
            }
            if (offset >= limit) {
                return false;  // the fault: the connection closes with the answer unfinished
            }
            // Find the segment holding `offset` and send one block from it.
            std::uint64_t start = 0;
            for (const auto& segment : shared->segments) {
                const std::uint64_t size = segment.size();
                if (offset >= start + size) {
                    start += size;
                    continue;
                }
                const std::uint64_t within = offset - start;
                const std::uint64_t n =
                    std::min<std::uint64_t>({size - within, kSendBlock, limit - offset});
                if (!segment.fromFile) {
                    return sink.write(segment.text.data() + within, static_cast<std::size_t>(n));
                }
                std::string buffer(static_cast<std::size_t>(n), '\0');
                file->clear();
                file->seekg(static_cast<std::streamoff>(segment.fileOffset + within));
                file->read(buffer.data(), static_cast<std::streamsize>(n));
                if (file->gcount() != static_cast<std::streamsize>(n)) {
                    return false;  // the file shrank under us: end the answer short
                }
                return sink.write(buffer.data(), buffer.size());
            }
            return false;
        });
}

void RepoServer::Impl::refuseAsBusy(httplib::Response& res) {
    static constexpr std::string_view kText = "Busy: too many answers are being sent; try again.\n";
    res.status = 503;
    res.set_header("Retry-After", "1");
    // The connection is closed after the answer, or it would hold a thread waiting for the
    // client's next request: the library closes it when the body's writer reports failure.
    res.set_content_provider(kText.size(), "text/plain",
                             [](std::size_t, std::size_t, httplib::DataSink& sink) {
                                 sink.write(kText.data(), kText.size());
                                 return false;
                             });
}

void RepoServer::Impl::handle(const httplib::Request& req, httplib::Response& res) {
    // The server answers ranges itself, so that the parts keep the order asked for and the fault
    // modes can bend them; clearing the library's parsed copy keeps it from slicing again. The
    // request object is the library's own non-const one, handed over as const.
    const std::string rangeHeader = req.get_header_value("Range");
    const_cast<httplib::Request&>(req).ranges.clear();

    ServedRequest entry{req.method, req.target, req.path, rangeHeader,
                        0,          0,          false,    req.remote_addr};
    std::vector<std::string> segments;
    if (!SplitRequestPath(req.path, segments)) {
        entry.status = 400;
        res.status = 400;
        res.set_content("Bad path\n", "text/plain");
        record(std::move(entry));
        return;
    }
    entry.path = JoinSegments(segments);
    fs::path file = PathFromUtf8(options.root);
    for (const auto& s : segments) {
        file /= PathFromUtf8(s);
    }
    std::error_code error;
    // Links are followed only as far as they stay inside the root: one that leads elsewhere
    // would hand out any file the server's user may read.
    file = fs::canonical(file, error);
    if (segments.empty() || error || !InsideRoot(file, realRoot) ||
        !fs::is_regular_file(file, error)) {
        entry.status = 404;
        res.status = 404;
        res.set_content("Not found\n", "text/plain");
        record(std::move(entry));
        return;
    }
    auto place = takeAnswerPlace(req.remote_addr);
    if (!place) {
        entry.status = 503;
        record(std::move(entry));
        refuseAsBusy(res);
        return;
    }
    const std::uint64_t size = fs::file_size(file, error);
    const std::string filePath = Utf8FromPath(file);
    const ServerFaults faults = currentFaults();
    const bool ranged = !rangeHeader.empty();
    const bool faulty = (ranged || faults.alsoWholeAnswers) &&
                        (faults.onlyPath.empty() || faults.onlyPath == entry.path);
    res.set_header("Accept-Ranges", "bytes");

    ParsedRanges parsed;
    if (ranged && !(faulty && faults.ignoreRange)) {
        parsed = ParseRangeHeader(rangeHeader, size);
    }
    if (parsed.result == RangeParse::Unsatisfiable) {
        entry.status = 416;
        res.status = 416;
        res.set_header("Content-Range", "bytes */" + std::to_string(size));
        record(std::move(entry));
        return;
    }
    std::optional<std::vector<ByteRange>> parts;
    if (parsed.result == RangeParse::Ok) {
        parts = AnswerParts(parsed.ranges, size);
    }
    Body body;
    body.place = std::move(place);
    if (parts && parts->size() == 1) {
        const ByteRange r = parts->front();
        res.set_header("Content-Range", "bytes " + std::to_string(r.first) + "-" +
                                            std::to_string(r.last) + "/" + std::to_string(size));
        body.segments.push_back({{}, r.first, r.length(), true});
        entry.status = 206;
        entry.bodyBytes = body.size();
        record(entry);
        send(res, 206, ContentTypeFor(filePath), std::move(body), filePath, faults, faulty);
        return;
    }
    if (parts) {
        const std::string boundary = MakeBoundary();
        const std::string partType = ContentTypeFor(filePath);
        for (const auto& r : *parts) {
            std::string partHeader = "\r\n--";
            partHeader.append(boundary)
                .append("\r\nContent-Type: ")
                .append(partType)
                .append("\r\nContent-Range: bytes ")
                .append(std::to_string(r.first))
                .append("-")
                .append(std::to_string(r.last))
                .append("/")
                .append(std::to_string(size))
                .append("\r\n\r\n");
            body.segments.push_back({std::move(partHeader), 0, 0, false});
            body.segments.push_back({{}, r.first, r.length(), true});
        }
        body.segments.push_back({"\r\n--" + boundary + "--\r\n", 0, 0, false});
        const std::string type = (faulty && faults.dropBoundary)
                                     ? std::string("multipart/byteranges")
                                     : "multipart/byteranges; boundary=" + boundary;
        entry.status = 206;
        entry.bodyBytes = body.size();
        record(entry);
        send(res, 206, type, std::move(body), filePath, faults, faulty);
        return;
    }
    // A whole answer: no Range, a Range the server does not understand or answers whole, or
    // ignoreRange.
    if (options.gzip && AcceptsGzip(req) && size <= kMaxGzipSize) {
        if (auto place = takeGzipPlace()) {
            std::string packed;
            if (GzipFile(file, size, packed)) {
                res.set_header("Content-Encoding", "gzip");
                body.segments.push_back({std::move(packed), 0, 0, false});
                body.held = std::move(place);
                entry.gzip = true;
            }
        }
    }
    if (body.segments.empty()) {
        body.segments.push_back({{}, 0, size, true});
    }
    entry.status = 200;
    entry.bodyBytes = body.size();
    record(entry);
    send(res, 200, ContentTypeFor(filePath), std::move(body), filePath, faults, faulty);
}

RepoServer::RepoServer(RepoServerOptions options)
    : impl_(std::make_unique<Impl>(std::move(options))) {}

RepoServer::~RepoServer() {
    stop();
}

Result<int> RepoServer::start() {
    if (impl_->running) {
        return impl_->port;
    }
    std::error_code error;
    if (!fs::is_directory(PathFromUtf8(impl_->options.root), error)) {
        return Status::Failed("The repository folder '" + impl_->options.root +
                              "' does not exist or is not a folder.");
    }
    impl_->realRoot = fs::canonical(PathFromUtf8(impl_->options.root), error);
    auto& server = impl_->server;
    server.new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
    server.set_keep_alive_max_count(100000);
    const auto idle = static_cast<time_t>(impl_->options.idleTimeout.count());
    server.set_keep_alive_timeout(idle);
    server.set_read_timeout(idle, 0);
    server.set_write_timeout(kWriteTimeout);
    server.Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
        impl_->handle(req, res);
    });
    const auto& host = impl_->options.host;
    int port = impl_->options.port;
    if (port == 0) {
        port = server.bind_to_any_port(host);
    } else if (!server.bind_to_port(host, port)) {
        port = -1;
    }
    if (port <= 0) {
        return Status::Failed("Cannot listen on " + host + ":" +
                              std::to_string(impl_->options.port) +
                              " (is the port in use? try another with --port)");
    }
    impl_->port = port;
    impl_->running = true;
    {
        const std::lock_guard lock(impl_->mutex);
        impl_->stopping = false;
    }
    impl_->thread = std::thread([this] { impl_->server.listen_after_bind(); });
    // httplib's stop() only takes effect once the listening loop runs; a stop() before that
    // would leave the thread blocked in accept() for good.
    while (!server.is_running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return port;
}

void RepoServer::stop() {
    if (!impl_->running) {
        return;
    }
    {
        const std::lock_guard lock(impl_->mutex);
        impl_->stopping = true;
    }
    impl_->stopped.notify_all();
    impl_->server.stop();
    if (impl_->thread.joinable()) {
        impl_->thread.join();
    }
    impl_->running = false;
}

int RepoServer::port() const {
    return impl_->port;
}

std::string RepoServer::baseUrl() const {
    const auto& host = impl_->options.host;
    const bool ipv6 = host.find(':') != std::string::npos;
    return "http://" + (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(impl_->port);
}

void RepoServer::setFaults(const ServerFaults& faults) {
    const std::lock_guard lock(impl_->mutex);
    impl_->faults = faults;
}

void RepoServer::clearFaults() {
    setFaults(ServerFaults{});
}

std::vector<ServedRequest> RepoServer::requests() const {
    const std::lock_guard lock(impl_->mutex);
    return impl_->log;
}

std::vector<ServedRequest> RepoServer::takeRequests() {
    const std::lock_guard lock(impl_->mutex);
    std::vector<ServedRequest> taken;
    taken.swap(impl_->log);
    return taken;
}

void RepoServer::clearRequests() {
    const std::lock_guard lock(impl_->mutex);
    impl_->log.clear();
}

}  // namespace veldmoor
