#include "sync/range_receiver.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "sync_fixture.h"

namespace veldmoor {
namespace {

using test::randomBytes;
using test::readFile;
using test::TempFolder;

constexpr std::string_view kBoundaryLine =
    "Content-Type: multipart/byteranges; boundary=3d6b6a416f9b5\r\n";

Piece download(std::uint32_t offset, std::uint32_t length) {
    Piece piece;
    piece.targetOffset = offset;
    piece.length = length;
    piece.kind = kPieceDownload;
    return piece;
}

std::string multipartBody(const std::string& content, const std::vector<Piece>& pieces) {
    std::string body;
    for (const Piece& piece : pieces) {
        body += "\r\n--3d6b6a416f9b5\r\nContent-Type: application/octet-stream\r\n";
        body += "Content-Range: bytes " + std::to_string(piece.targetOffset) + "-" +
                std::to_string(piece.targetOffset + piece.length - 1) + "/" +
                std::to_string(content.size()) + "\r\n\r\n";
        body += content.substr(piece.targetOffset, piece.length);
    }
    return body + "\r\n--3d6b6a416f9b5--\r\n";
}

// Receives `body` into a file of `size` bytes of '.', handing it over in blocks of the sizes
// `nextBlock` chooses, and returns the file's content afterwards.
struct Reception {
    std::string file;
    bool accepted = true;
    bool endedEarly = false;
    std::uint32_t written = 0;
    std::uint32_t lastProgress = 0;
    bool complete = false;
    bool piecesWhole = false;
    std::vector<std::uint32_t> pieceCrcs;
};

Reception receive(const std::vector<std::string_view>& headers, const std::string& body,
                  const std::vector<Piece>& pieces, std::size_t size, bool singleRange,
                  const std::function<std::size_t(std::size_t)>& nextBlock) {
    const TempFolder folder;
    const std::string path = folder / "target";
    test::writeFile(path, std::string(size, '.'));
    Reception result;
    {
        std::fstream target(path, std::ios::in | std::ios::out | std::ios::binary);
        RangeReceiver receiver(
            target, pieces,
            [&](const std::string& repoPath, unsigned int written, unsigned int toWrite) {
                EXPECT_EQ(repoPath, "data/file.bin");
                EXPECT_LE(written, toWrite);
                result.lastProgress = written;
            },
            "data/file.bin");
        receiver.beginResponse(singleRange);
        for (const auto line : headers) {
            receiver.onHeaderLine(line);
        }
        for (std::size_t at = 0; at < body.size() && result.accepted;) {
            const std::size_t n = std::min(nextBlock(at), body.size() - at);
            result.accepted = receiver.onBody(body.data() + at, n);
            at += n;
        }
        result.written = receiver.written();
        result.complete = receiver.complete();
        result.endedEarly = receiver.endedEarly();
        result.piecesWhole = receiver.piecesWhole();
        result.pieceCrcs = receiver.pieceCrcs();
    }
    result.file = readFile(path);
    return result;
}

std::vector<std::uint32_t> crcsOf(const std::string& content, const std::vector<Piece>& pieces) {
    std::vector<std::uint32_t> crcs;
    for (const Piece& piece : pieces) {
        crcs.push_back(test::crcOf(content.substr(piece.targetOffset, piece.length)));
    }
    return crcs;
}

std::size_t whole(std::size_t /*at*/) {
    return SIZE_MAX;
}
std::size_t oneByte(std::size_t /*at*/) {
    return 1;
}

// What the file must hold: the pieces' bytes of `content`, dots elsewhere.
std::string expectedFile(const std::string& content, const std::vector<Piece>& pieces) {
    std::string expected(content.size(), '.');
    for (const Piece& piece : pieces) {
        expected.replace(piece.targetOffset, piece.length,
                         content.substr(piece.targetOffset, piece.length));
    }
    return expected;
}

TEST(RangeReceiver, CapturesTheBoundaryWithoutLineEnd) {
    std::stringstream target;
    RangeReceiver receiver(target, {}, nullptr, "x");
    receiver.onHeaderLine(kBoundaryLine);
    EXPECT_EQ(receiver.boundary(), "--3d6b6a416f9b5");
    receiver.onHeaderLine("Content-Type: multipart/byteranges; boundary=\"q b\"\r\n");
    EXPECT_EQ(receiver.boundary(), "--qb");
    receiver.beginResponse(false);
    EXPECT_EQ(receiver.boundary(), "");
}

TEST(RangeReceiver, MultipartBodyGivesTheSameFileHowsoeverSplit) {
    const std::string content = randomBytes(50000, 1);
    const std::vector<Piece> pieces = {download(0, 100), download(4096, 4096), download(20000, 1),
                                       download(49000, 1000)};
    const std::string body = multipartBody(content, pieces);
    const std::string expected = expectedFile(content, pieces);

    std::mt19937 generator(7);
    const std::vector<std::function<std::size_t(std::size_t)>> splits = {
        whole, oneByte, [&](std::size_t) { return 1 + generator() % 300; },
        [](std::size_t) { return 16384; }};
    for (const auto& split : splits) {
        const Reception result = receive({"HTTP/1.1 206 Partial Content\r\n", kBoundaryLine}, body,
                                         pieces, content.size(), false, split);
        ASSERT_TRUE(result.accepted);
        EXPECT_EQ(result.file, expected);
        EXPECT_EQ(result.written, 5197u);
        EXPECT_EQ(result.lastProgress, 5197u);
        EXPECT_TRUE(result.complete);
        EXPECT_TRUE(result.piecesWhole);
        EXPECT_EQ(result.pieceCrcs, crcsOf(content, pieces));
    }
}

TEST(RangeReceiver, SkipsAPreambleBeforeTheFirstPart) {
    const std::string content = randomBytes(1000, 10);
    const std::vector<Piece> pieces = {download(10, 20), download(500, 30)};
    const std::string body = "This is a preamble.\r\n\r\n" + multipartBody(content, pieces);
    for (const auto& split : std::vector<std::function<std::size_t(std::size_t)>>{whole, oneByte}) {
        const Reception result =
            receive({kBoundaryLine}, body, pieces, content.size(), false, split);
        ASSERT_TRUE(result.accepted);
        EXPECT_EQ(result.file, expectedFile(content, pieces));
    }
}

TEST(RangeReceiver, HoldsABlockThatEndsInsideTheDelimiter) {
    const std::string content = randomBytes(1000, 2);
    const std::vector<Piece> pieces = {download(10, 20), download(500, 30)};
    const std::string body = multipartBody(content, pieces);
    // The first block ends three bytes into "\r\n--3d6b..." after the first part's data.
    const std::size_t cut = body.find("\r\n--3d6b6a416f9b5", 5) + 3;
    std::size_t calls = 0;
    const Reception result = receive({kBoundaryLine}, body, pieces, content.size(), false,
                                     [&](std::size_t) { return calls++ == 0 ? cut : SIZE_MAX; });
    ASSERT_TRUE(result.accepted);
    EXPECT_EQ(result.file, expectedFile(content, pieces));
}

TEST(RangeReceiver, APartCutShortIsNotTrustedAsWhole) {
    const std::string content = randomBytes(1000, 9);
    std::string body = multipartBody(content, {download(0, 10), download(100, 20)});
    // The second part carries 15 of its 20 bytes.
    body.erase(body.rfind("\r\n--3d6b6a416f9b5--") - 5, 5);
    const Reception result = receive({kBoundaryLine}, body, {download(0, 10), download(100, 20)},
                                     content.size(), false, oneByte);
    ASSERT_TRUE(result.accepted);
    EXPECT_EQ(result.written, 25u);
    EXPECT_TRUE(result.complete);
    EXPECT_FALSE(result.piecesWhole);
}

TEST(RangeReceiver, SingleRangeWritesAtThePieceOffsetAndNoFurther) {
    const std::string content = randomBytes(3000, 3);
    const std::vector<Piece> pieces = {download(1000, 500)};
    // A server sending more than asked: the extra bytes must not land in the file.
    const std::string body = content.substr(1000, 700);
    for (const auto& split : std::vector<std::function<std::size_t(std::size_t)>>{
             whole, oneByte, [](std::size_t) { return 7; }}) {
        const Reception result = receive({}, body, pieces, content.size(), true, split);
        ASSERT_TRUE(result.accepted);
        EXPECT_EQ(result.file, expectedFile(content, pieces));
        EXPECT_EQ(result.written, 500u);
    }
}

TEST(RangeReceiver, PlacesAWholeFileAnswerByOffset) {
    // A server that ignores the Range header answers 200 with the whole file, multipart
    // request or not; each piece's bytes are taken from their offsets.
    const std::string content = randomBytes(70000, 4);
    const std::vector<Piece> pieces = {download(0, 10), download(300, 4000), download(69990, 10)};
    const std::string expected = expectedFile(content, pieces);
    for (const bool single : {false, true}) {
        for (const auto& split :
             std::vector<std::function<std::size_t(std::size_t)>>{whole, oneByte}) {
            const Reception result = receive({"HTTP/1.1 200 OK\r\n", "Content-Length: 70000\r\n"},
                                             content, pieces, content.size(), single, split);
            // Once every piece is in, the rest of the file is not wanted.
            EXPECT_FALSE(result.accepted);
            EXPECT_TRUE(result.endedEarly);
            EXPECT_EQ(result.file, expected);
            EXPECT_EQ(result.written, 4020u);
            EXPECT_TRUE(result.complete);
            EXPECT_EQ(result.pieceCrcs, crcsOf(content, pieces));
        }
    }
}

TEST(RangeReceiver, PlacesASingleRangeAnswerByItsContentRange) {
    const std::string content = randomBytes(5000, 5);
    const std::vector<Piece> pieces = {download(100, 50), download(200, 50)};
    // Both pieces in one 206 answer of one range covering them.
    const Reception result =
        receive({"HTTP/1.1 206 Partial Content\r\n", "content-range: bytes 100-299/5000\r\n"},
                content.substr(100, 200), pieces, content.size(), false, oneByte);
    ASSERT_TRUE(result.accepted);
    EXPECT_EQ(result.file, expectedFile(content, pieces));
}

TEST(RangeReceiver, RefusesAStreamThatStartsPastMissingBytes) {
    const std::string content = randomBytes(5000, 6);
    const Reception result =
        receive({"HTTP/1.1 206 Partial Content\r\n", "Content-Range: bytes 200-299/5000\r\n"},
                content.substr(200, 100), {download(100, 50)}, content.size(), true, whole);
    EXPECT_FALSE(result.accepted);
    EXPECT_EQ(result.written, 0u);
}

TEST(RangeReceiver, FailsAMultipartAnswerWithoutBoundaryOnceTheBoundIsPassed) {
    const std::string content = randomBytes(200000, 7);
    const std::vector<Piece> pieces = {download(0, 100000), download(150000, 50000)};
    std::string body = multipartBody(content, pieces);
    std::size_t fed = 0;
    const Reception result =
        receive({"HTTP/1.1 206 Partial Content\r\n", "Content-Type: multipart/byteranges\r\n"},
                body, pieces, content.size(), false, [&](std::size_t at) {
                    fed = at + 1000;
                    return 1000;
                });
    EXPECT_FALSE(result.accepted);
    EXPECT_EQ(result.written, 0u);
    EXPECT_LE(fed, RangeReceiver::kMaxHeldBytes + 2000);
}

TEST(RangeReceiver, FailsOnMorePartsThanPieces) {
    const std::string content = randomBytes(1000, 8);
    const std::string body = multipartBody(content, {download(0, 10), download(20, 10)});
    const Reception result =
        receive({kBoundaryLine}, body, {download(0, 10)}, content.size(), false, whole);
    EXPECT_FALSE(result.accepted);
}

TEST(RangeReceiver, RefusesAnErrorPage) {
    const Reception result = receive({"HTTP/1.1 404 Not Found\r\n"}, "<html>not here</html>",
                                     {download(0, 10)}, 100, true, whole);
    EXPECT_FALSE(result.accepted);
    EXPECT_EQ(result.file, std::string(100, '.'));
}

}  // namespace
}  // namespace veldmoor
