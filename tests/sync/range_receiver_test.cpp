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
    std::vector<HttpRange> missing;
    RangeReceiver::Refusal refusal = RangeReceiver::Refusal::None;
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
        std::vector<HttpRange> asked = receiver.missingRanges();
        if (singleRange) {
            asked.resize(1);
        }
        receiver.beginResponse(asked);
        for (const auto line : headers) {
            receiver.onHeaderLine(line);
        }
        for (std::size_t at = 0; at < body.size() && result.accepted;) {
            const std::size_t n = std::min(nextBlock(at), body.size() - at);
            result.accepted = receiver.onBody(body.data() + at, n);
            at += n;
        }
        receiver.endBody();  // as the transfer does once each answer has ended
        result.written = receiver.written();
        result.complete = receiver.complete();
        result.endedEarly = receiver.endedEarly();
        result.piecesWhole = receiver.piecesWhole();
        result.pieceCrcs = receiver.pieceCrcs();
        result.missing = receiver.missingRanges();
        result.refusal = receiver.refusal();
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
    receiver.beginResponse({});
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

TEST(RangeReceiver, APartCutShortIsAskedForAgainFromWhereItStopped) {
    const std::string content = randomBytes(1000, 9);
    const std::vector<Piece> pieces = {download(0, 10), download(100, 20)};
    std::string body = multipartBody(content, pieces);
    // The second part carries 15 of its 20 bytes.
    body.erase(body.rfind("\r\n--3d6b6a416f9b5--") - 5, 5);
    const TempFolder folder;
    const std::string path = folder / "target";
    test::writeFile(path, std::string(content.size(), '.'));
    {
        std::fstream target(path, std::ios::in | std::ios::out | std::ios::binary);
        RangeReceiver receiver(target, pieces, nullptr, "f");
        receiver.beginResponse(receiver.missingRanges());
        receiver.onHeaderLine(kBoundaryLine);
        ASSERT_TRUE(receiver.onBody(body.data(), body.size()));
        EXPECT_EQ(receiver.written(), 25u);
        EXPECT_FALSE(receiver.complete());
        ASSERT_EQ(receiver.missingRanges(), (std::vector<HttpRange>{{115, 119}}));

        receiver.beginResponse(receiver.missingRanges());
        receiver.onHeaderLine("HTTP/1.1 206 Partial Content\r\n");
        receiver.onHeaderLine("Content-Range: bytes 115-119/1000\r\n");
        ASSERT_TRUE(receiver.onBody(content.data() + 115, 5));
        EXPECT_TRUE(receiver.complete());
        EXPECT_TRUE(receiver.piecesWhole());
        EXPECT_EQ(receiver.pieceCrcs(), crcsOf(content, pieces));
    }
    EXPECT_EQ(readFile(path), expectedFile(content, pieces));
}

TEST(RangeReceiver, HandsOffOnlyPiecesNotYetBegunAndKeepsWhatItLacksFirst) {
    const std::string content = randomBytes(1000, 10);
    const std::vector<Piece> pieces = {download(0, 10),  download(100, 20), download(200, 5),
                                       download(300, 5), download(400, 5),  download(500, 5)};
    const TempFolder folder;
    const std::string path = folder / "target";
    test::writeFile(path, std::string(content.size(), '.'));
    std::fstream target(path, std::ios::in | std::ios::out | std::ios::binary);
    RangeReceiver receiver(target, pieces, nullptr, "f");
    // The first piece is complete and the fourth begun (a server's answer out of the order
    // asked); of the rest, the receiver keeps the first two it lacks.
    receiver.beginResponse(receiver.missingRanges());
    receiver.onHeaderLine("HTTP/1.1 206 Partial Content\r\n");
    receiver.onHeaderLine("Content-Range: bytes 0-9/1000\r\n");
    ASSERT_TRUE(receiver.onBody(content.data(), 10));
    receiver.beginResponse(receiver.missingRanges());
    receiver.onHeaderLine("HTTP/1.1 206 Partial Content\r\n");
    receiver.onHeaderLine("Content-Range: bytes 300-301/1000\r\n");
    ASSERT_TRUE(receiver.onBody(content.data() + 300, 2));

    const std::vector<Piece> given = receiver.handOffAfter(2);
    ASSERT_EQ(given.size(), 2u);
    EXPECT_EQ(given[0].targetOffset, 400u);
    EXPECT_EQ(given[1].targetOffset, 500u);
    EXPECT_EQ(receiver.toWrite(), 10u + 20 + 5 + 5);
    EXPECT_EQ(receiver.missingRanges(),
              (std::vector<HttpRange>{{100, 119}, {200, 204}, {302, 304}}));
    EXPECT_TRUE(receiver.handOffAfter(5).empty());
}

TEST(RangeReceiver, PlacesPartsByTheirOwnContentRange) {
    const std::string content = randomBytes(20000, 11);
    const std::vector<Piece> pieces = {download(0, 100), download(1000, 100), download(1200, 100),
                                       download(9000, 500), download(15000, 10)};
    struct Case {
        const char* what;
        std::vector<Piece> parts;  // the parts the answer holds, in its order
        std::vector<HttpRange> missing;
    };
    const std::vector<Case> cases = {
        {"reversed",
         {download(15000, 10), download(9000, 500), download(1200, 100), download(1000, 100),
          download(0, 100)},
         {}},
        {"fewer than asked, out of order",
         {download(9000, 500), download(0, 100)},
         {{1000, 1099}, {1200, 1299}, {15000, 15009}}},
        // Adjacent and nearby ranges merged, the gap between them sent along.
        {"merged", {download(0, 100), download(1000, 300), download(9000, 6010)}, {}},
        // A part overlapping one already placed: its bytes count once.
        {"overlapping", {download(0, 100), download(50, 1100), download(1200, 14000)}, {}},
        // A part starting inside a piece cannot be placed: the piece is asked for again.
        {"inside a piece",
         {download(0, 100), download(1050, 250), download(9000, 6010)},
         {{1000, 1099}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<Piece> received = pieces;
        std::erase_if(received, [&](const Piece& piece) {
            return std::any_of(c.missing.begin(), c.missing.end(),
                               [&](const HttpRange& r) { return r.first == piece.targetOffset; });
        });
        for (const auto& split :
             std::vector<std::function<std::size_t(std::size_t)>>{whole, oneByte}) {
            const Reception result =
                receive({"HTTP/1.1 206 Partial Content\r\n", kBoundaryLine},
                        multipartBody(content, c.parts), pieces, content.size(), false, split);
            ASSERT_TRUE(result.accepted);
            EXPECT_EQ(result.file, expectedFile(content, received));
            EXPECT_EQ(result.missing, c.missing);
            EXPECT_EQ(result.complete, c.missing.empty());
            std::uint32_t bytes = 0;
            for (const Piece& piece : received) {
                bytes += piece.length;
            }
            EXPECT_EQ(result.written, bytes);
            if (c.missing.empty()) {
                EXPECT_EQ(result.pieceCrcs, crcsOf(content, pieces));
            }
        }
    }
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

// The bytes past the one range asked belong to no piece, even when the next piece begins right
// there: however the body is cut, they are skipped and that piece is asked for again.
TEST(RangeReceiver, BytesPastASingleRangeNeverFillTheNextPiece) {
    const std::string content = randomBytes(3000, 5);
    const std::vector<Piece> pieces = {download(1000, 500), download(1500, 200)};
    const std::string body = content.substr(1000, 500) + randomBytes(200, 6);
    for (const auto& split : std::vector<std::function<std::size_t(std::size_t)>>{
             whole, oneByte, [](std::size_t) { return 7; }}) {
        const Reception result = receive({}, body, pieces, content.size(), true, split);
        ASSERT_TRUE(result.accepted);
        EXPECT_EQ(result.file, expectedFile(content, {pieces[0]}));
        EXPECT_EQ(result.written, 500u);
        EXPECT_EQ(result.missing, (std::vector<HttpRange>{{1500, 1699}}));
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

TEST(RangeReceiver, AStreamThatStartsPastMissingBytesLeavesThemMissing) {
    const std::string content = randomBytes(5000, 6);
    const Reception result =
        receive({"HTTP/1.1 206 Partial Content\r\n", "Content-Range: bytes 200-299/5000\r\n"},
                content.substr(200, 100), {download(100, 50)}, content.size(), true, whole);
    EXPECT_TRUE(result.accepted);
    EXPECT_EQ(result.written, 0u);
    EXPECT_EQ(result.missing, (std::vector<HttpRange>{{100, 149}}));
    EXPECT_EQ(result.file, std::string(content.size(), '.'));
}

TEST(RangeReceiver, ALargeWholeFileIsRefusedForSeveralRangesAndTakenForOne) {
    const std::string content = randomBytes(3 * 1024 * 1024, 13);
    const std::vector<Piece> pieces = {download(10, 100), download(2000000, 100)};
    const std::vector<std::string_view> headers = {"HTTP/1.1 200 OK\r\n",
                                                   "Content-Length: 3145728\r\n"};
    const Reception several = receive(headers, content, pieces, content.size(), false, whole);
    EXPECT_FALSE(several.accepted);
    EXPECT_EQ(several.refusal, RangeReceiver::Refusal::LargeWholeFile);
    EXPECT_EQ(several.written, 0u);

    const Reception one = receive(headers, content, {download(2000000, 100)}, content.size(), true,
                                  [](std::size_t) { return 16384; });
    EXPECT_TRUE(one.complete);
    EXPECT_TRUE(one.endedEarly);
    EXPECT_EQ(one.refusal, RangeReceiver::Refusal::None);
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
    EXPECT_EQ(result.refusal, RangeReceiver::Refusal::UnplaceableBody);
    EXPECT_EQ(result.written, 0u);
    EXPECT_LE(fed, RangeReceiver::kMaxHeldBytes + 2000);
}

TEST(RangeReceiver, SkipsPartsOfRangesNotAsked) {
    const std::string content = randomBytes(1000, 8);
    const std::string body = multipartBody(content, {download(0, 10), download(20, 10)});
    const Reception result =
        receive({kBoundaryLine}, body, {download(0, 10)}, content.size(), false, whole);
    EXPECT_TRUE(result.accepted);
    EXPECT_EQ(result.file, expectedFile(content, {download(0, 10)}));
}

TEST(RangeReceiver, RefusesAnErrorPage) {
    const Reception result = receive({"HTTP/1.1 404 Not Found\r\n"}, "<html>not here</html>",
                                     {download(0, 10)}, 100, true, whole);
    EXPECT_FALSE(result.accepted);
    EXPECT_EQ(result.refusal, RangeReceiver::Refusal::ErrorStatus);
    EXPECT_EQ(result.file, std::string(100, '.'));
}

}  // namespace
}  // namespace veldmoor
