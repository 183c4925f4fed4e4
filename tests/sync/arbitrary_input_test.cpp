// The file list parser and the range receiver take whatever a server sends. Fed arbitrary and
// mangled input, they may refuse it but must never crash, throw anything unexpected, or write
// a byte outside the pieces they were asked to fill.
#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "sync/file_list.h"
#include "sync/patch_exception.h"
#include "sync/range_receiver.h"
#include "sync_fixture.h"

namespace veldmoor {
namespace {

// `text` with a few bytes replaced, inserted or removed at random.
std::string mangled(std::string text, std::mt19937& generator) {
    const int edits = 1 + static_cast<int>(generator() % 8);
    for (int i = 0; i < edits && !text.empty(); ++i) {
        const std::size_t at = generator() % text.size();
        const char byte = static_cast<char>(generator() % 256);
        switch (generator() % 3) {
            case 0:
                text[at] = byte;
                break;
            case 1:
                text.insert(text.begin() + static_cast<std::ptrdiff_t>(at), byte);
                break;
            default:
                text.erase(at, 1 + generator() % 16);
                break;
        }
    }
    return text;
}

TEST(ArbitraryInput, FileListYieldsEntriesOrADataErrorOnly) {
    std::mt19937 generator(2024);
    const std::string valid =
        "[{ path: \"a/b.txt\", time: \"1500000000\" },\n{ path: \"c d/ä.dat\", time: "
        "\"0\" }]";
    for (int round = 0; round < 3000; ++round) {
        const std::string body = round % 3 == 0 ? test::randomBytes(generator() % 400, round)
                                                : mangled(valid, generator);
        try {
            for (const RemoteFile& file : parseFileList(body, "/install")) {
                EXPECT_FALSE(file.repoPath.empty());
                EXPECT_EQ(file.repoPath.find('\n'), std::string::npos);
                EXPECT_GE(file.time, 0);
                EXPECT_LE(file.time, 2147483647);
            }
        } catch (const PatchException& e) {
            EXPECT_EQ(e.category, 2);
        }
    }
}

Piece download(std::uint32_t offset, std::uint32_t length) {
    Piece piece;
    piece.targetOffset = offset;
    piece.length = length;
    piece.kind = kPieceDownload;
    return piece;
}

TEST(ArbitraryInput, ReceiverNeverWritesOutsideItsPieces) {
    const test::TempFolder folder;
    const std::string path = folder / "target";
    const std::string content = test::randomBytes(4000, 1);
    const std::vector<Piece> pieces = {download(100, 300), download(1000, 1), download(3000, 900)};
    std::string valid;
    for (const Piece& piece : pieces) {
        valid += "\r\n--b0undary\r\nContent-Range: bytes " + std::to_string(piece.targetOffset) +
                 "-" + std::to_string(piece.targetOffset + piece.length - 1) + "/4000\r\n\r\n" +
                 content.substr(piece.targetOffset, piece.length);
    }
    valid += "\r\n--b0undary--\r\n";
    const std::vector<std::vector<std::string>> headerSets = {
        {"HTTP/1.1 206 Partial Content\r\n",
         "Content-Type: multipart/byteranges; boundary=b0undary\r\n"},
        {"HTTP/1.1 200 OK\r\n"},
        {"HTTP/1.1 206 Partial Content\r\n", "Content-Range: bytes 100-3899/4000\r\n"},
        {}};

    std::mt19937 generator(99);
    for (int round = 0; round < 600; ++round) {
        test::writeFile(path, std::string(content.size(), '.'));
        const auto& headers = headerSets[round % headerSets.size()];
        const std::string body = round % 5 == 0
                                     ? test::randomBytes(generator() % 5000, round)
                                     : mangled(round % 2 == 0 ? valid : content, generator);
        {
            std::fstream target(path, std::ios::in | std::ios::out | std::ios::binary);
            RangeReceiver receiver(target, pieces, nullptr, "f");
            receiver.beginResponse(round % 7 == 0 ? std::vector<HttpRange>{{100, 399}}
                                                  : receiver.missingRanges());
            for (const auto& line : headers) {
                receiver.onHeaderLine(mangled(line, generator));
            }
            for (std::size_t at = 0; at < body.size();) {
                const std::size_t n =
                    std::min<std::size_t>(1 + generator() % 700, body.size() - at);
                if (!receiver.onBody(body.data() + at, n)) {
                    break;
                }
                at += n;
            }
            EXPECT_LE(receiver.written(), receiver.toWrite());
        }
        const std::string file = test::readFile(path);
        ASSERT_EQ(file.size(), content.size());
        for (std::size_t i = 0; i < file.size(); ++i) {
            const bool inPiece = (i >= 100 && i < 400) || i == 1000 || (i >= 3000 && i < 3900);
            if (!inPiece) {
                ASSERT_EQ(file[i], '.') << "byte " << i << " written in round " << round;
            }
        }
    }
}

}  // namespace
}  // namespace veldmoor
