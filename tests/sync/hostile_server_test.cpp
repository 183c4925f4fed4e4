// RepoSync against a server that sends what no publisher writes: compressed bombs as the file
// list or a chunk index, an index far longer than its own header allows. Each must end the run
// as server data in the wrong form (category 2) as soon as its bound is passed.
#include <gtest/gtest.h>
#include <httplib.h>
#include <zlib.h>

#include <map>
#include <mutex>
#include <thread>

#include "sync/chunk_index.h"
#include "sync/file_list.h"
#include "sync/patch_exception.h"
#include "sync/repo_sync.h"
#include "sync_fixture.h"
#include "system/file_ops.h"

namespace veldmoor {
namespace {

using test::appendLittleEndian;

// `prefix`, then `pattern` over and over up to `total` bytes, gzip-compressed: a few hundred KB
// on the wire for hundreds of MB inflated.
std::string gzipBomb(const std::string& prefix, const std::string& pattern, std::size_t total) {
    std::string block;
    while (block.size() < 1024 * 1024) {
        block += pattern;
    }
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY),
              Z_OK);
    std::string out;
    std::vector<unsigned char> chunk(64 * 1024);
    const auto feed = [&](const std::string& bytes, std::size_t length, int flush) {
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
        stream.avail_in = static_cast<uInt>(length);
        do {
            stream.next_out = chunk.data();
            stream.avail_out = static_cast<uInt>(chunk.size());
            deflate(&stream, flush);
            out.append(reinterpret_cast<char*>(chunk.data()), chunk.size() - stream.avail_out);
        } while (stream.avail_out == 0);
    };
    feed(prefix, prefix.size(), Z_NO_FLUSH);
    for (std::size_t fed = prefix.size(); fed < total;) {
        const std::size_t take = std::min(block.size(), total - fed);
        fed += take;
        feed(block, take, fed == total ? Z_FINISH : Z_NO_FLUSH);
    }
    deflateEnd(&stream);
    return out;
}

// Serves fixed documents, each with or without "Content-Encoding: gzip", and counts what it
// was asked for.
class DocumentServer {
public:
    DocumentServer() {
        server_.Get(R"(/+(.*))", [this](const httplib::Request& request, httplib::Response& reply) {
            const std::lock_guard<std::mutex> guard(mutex_);
            const auto found = documents_.find(request.matches[1].str());
            if (found == documents_.end()) {
                reply.status = 404;
                return;
            }
            if (found->second.gzip) {
                reply.set_header("Content-Encoding", "gzip");
            }
            reply.set_content(found->second.body, "application/octet-stream");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        // Bound means listening: connections wait in the backlog until the thread accepts them.
        thread_ = std::thread([this] { server_.listen_after_bind(); });
    }
    ~DocumentServer() {
        server_.stop();
        thread_.join();
    }
    DocumentServer(const DocumentServer&) = delete;
    DocumentServer& operator=(const DocumentServer&) = delete;

    void put(const std::string& path, std::string body, bool gzip = false) {
        const std::lock_guard<std::mutex> guard(mutex_);
        documents_[path] = {std::move(body), gzip};
    }
    std::string address() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

private:
    struct Document {
        std::string body;
        bool gzip = false;
    };
    httplib::Server server_;
    std::mutex mutex_;
    std::map<std::string, Document> documents_;
    int port_ = 0;
    std::thread thread_;
};

std::string indexHeader(std::uint32_t size, std::uint32_t crc) {
    std::string header;
    appendLittleEndian(header, kChunkIndexMagic);
    appendLittleEndian(header, size);
    appendLittleEndian(header, crc);
    return header;
}

std::string record(std::uint32_t weak, std::uint32_t crc, std::uint32_t length) {
    std::string bytes;
    appendLittleEndian(bytes, weak);
    appendLittleEndian(bytes, crc);
    appendLittleEndian(bytes, length);
    return bytes;
}

class HostileServer : public ::testing::Test {
protected:
    // One run as the patch worker makes it; returns the failure it ended with.
    PatchException runExpectingFailure() {
        try {
            RepoSync sync(install_.path(), server_.address());
            for (const RemoteFile& file : sync.listFiles()) {
                sync.prepareFile(file, nullptr);
            }
            sync.patchPreparedFiles(nullptr);
        } catch (const PatchException& e) {
            return e;
        }
        ADD_FAILURE() << "the run succeeded";
        return PatchException::fromNumbers(-1, -1, "", "");
    }

    test::TempFolder install_;
    DocumentServer server_;
};

TEST_F(HostileServer, ACompressedBombAsTheFileListIsRefused) {
    // 64 MiB of zeros inflate from about 64 KB; the old engine took them in whole and went on
    // as if the list were empty.
    server_.put("filelist.php", gzipBomb("", std::string(1, '\0'), 64u << 20), true);
    const PatchException e = runExpectingFailure();
    EXPECT_EQ(e.category, 2);
    EXPECT_EQ(e.code, 1);
    EXPECT_EQ(e.detail, "filelist.php");
    EXPECT_NE(std::string(e.what()).find(std::to_string(kMaxFileListBytes)), std::string::npos)
        << e.what();

    // Entries that keep coming are cut off the same way, plain or compressed.
    const std::string entry = "{ path: \"a\", time: \"1\" }\n";
    server_.put("filelist.php", gzipBomb("", entry, 64u << 20), true);
    EXPECT_EQ(runExpectingFailure().category, 2);
    std::string plain;
    while (plain.size() <= kMaxFileListBytes) {
        plain += entry;
    }
    server_.put("filelist.php", plain);
    EXPECT_EQ(runExpectingFailure().category, 2);
    EXPECT_FALSE(PathExists(install_ / "a"));
}

TEST_F(HostileServer, AnIndexLongerThanItsHeaderAllowsIsRefused) {
    server_.put("filelist.php", "{ path: \"big.bin\", time: \"5\" }\n");
    // The header speaks of 1 MiB in blocks of 1 KiB: 1024 records, and 16 more at most.
    const std::string header = indexHeader(1u << 20, 0);
    const std::string oneRecord = record(1, 2, 1024);
    const auto expectRefused = [this](const std::string& why) {
        const PatchException e = runExpectingFailure();
        EXPECT_EQ(e.category, 2) << why;
        EXPECT_EQ(e.code, 1) << why;
        EXPECT_EQ(e.detail, "big.bin") << why;
        EXPECT_NE(std::string(e.what()).find("more than 1040 records"), std::string::npos)
            << why << ": " << e.what();
    };

    // 64 MiB of records, 5.6 million of them, from a compressed answer of a few hundred KB.
    server_.put("transfer/big.bin.chunks", gzipBomb(header, oneRecord, 64u << 20), true);
    expectRefused("compressed");

    // 200000 records sent plainly, 2.4 MB.
    std::string plain = header;
    for (int i = 0; i < 200000; ++i) {
        plain += oneRecord;
    }
    server_.put("transfer/big.bin.chunks", plain);
    expectRefused("plain");

    // An index that stays within its header's bound passes this check (and then fails its
    // checksum, since no such file is served: the run gets past the index).
    plain.resize(header.size() + 1040 * oneRecord.size());
    server_.put("transfer/big.bin.chunks", plain);
    EXPECT_NE(runExpectingFailure().category, 2);
}

TEST_F(HostileServer, AnIndexWithARecordOfLengthZeroIsRefused) {
    server_.put("filelist.php", "{ path: \"z.bin\", time: \"5\" }\n");
    // Records of length 0 cover nothing: a compressed stream of them never ends an index.
    server_.put("transfer/z.bin.chunks",
                gzipBomb(indexHeader(4096, 0), std::string(12, '\0'), 64u << 20), true);
    const PatchException e = runExpectingFailure();
    EXPECT_EQ(e.category, 2);
    EXPECT_EQ(e.detail, "z.bin");
    EXPECT_NE(std::string(e.what()).find("length 0"), std::string::npos) << e.what();
}

}  // namespace
}  // namespace veldmoor
