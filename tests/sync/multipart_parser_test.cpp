// The multipart body parser on its own: bodies in, stretches of the file out, the same however
// the body is cut into blocks.
#include "sync/multipart_parser.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "sync_fixture.h"

namespace veldmoor {
namespace {

const std::string kContent = test::randomBytes(3000, 12);
constexpr std::string_view kDelimiter = "--3d6b6a416f9b5";

struct Part {
    std::uint32_t first;
    std::uint32_t length;
    bool ranged = true;  // carries its own Content-Range
};

std::string partsOf(const std::vector<Part>& parts) {
    std::string body;
    for (const Part& part : parts) {
        body += "\r\n" + std::string(kDelimiter) + "\r\nContent-Type: application/octet-stream\r\n";
        if (part.ranged) {
            body += "Content-Range: bytes " + std::to_string(part.first) + "-" +
                    std::to_string(part.first + part.length - 1) + "/3000\r\n";
        }
        body += "\r\n" + kContent.substr(part.first, part.length);
    }
    return body;
}

std::string closing() {
    return "\r\n" + std::string(kDelimiter) + "--\r\n";
}

// What came, adjacent stretches joined: (file offset, bytes).
using Stretches = std::vector<std::pair<std::uint64_t, std::string>>;

class Collect final : public StretchSink {
public:
    void take(std::uint64_t offset, std::string_view bytes) override {
        EXPECT_FALSE(bytes.empty());
        if (!stretches.empty() &&
            stretches.back().first + stretches.back().second.size() == offset) {
            stretches.back().second += bytes;
        } else {
            stretches.emplace_back(offset, std::string(bytes));
        }
    }
    Stretches stretches;
};

Stretches contentAt(std::initializer_list<std::pair<std::uint32_t, std::uint32_t>> ranges) {
    Stretches stretches;
    for (const auto& [first, length] : ranges) {
        stretches.emplace_back(first, kContent.substr(first, length));
    }
    return stretches;
}

struct BodyCase {
    const char* name;
    std::string body;
    std::vector<HttpRange> asked;
    bool accepted;
    Stretches expected;
};

class MultipartBody : public ::testing::TestWithParam<BodyCase> {};

TEST_P(MultipartBody, GivesTheSameStretchesHowsoeverSplit) {
    const BodyCase& c = GetParam();
    std::mt19937 generator(7);
    const std::vector<std::function<std::size_t()>> splits = {
        [] { return SIZE_MAX; }, [] { return std::size_t{1}; },
        [&] { return 1 + generator() % 300; }};
    for (std::size_t s = 0; s < splits.size(); ++s) {
        SCOPED_TRACE("split " + std::to_string(s));
        MultipartParser parser;
        parser.begin(kDelimiter, c.asked);
        Collect collect;
        bool accepted = true;
        for (std::size_t at = 0; at < c.body.size() && accepted;) {
            const std::size_t n = std::min(splits[s](), c.body.size() - at);
            accepted = parser.feed(std::string_view(c.body).substr(at, n), collect);
            at += n;
        }
        EXPECT_EQ(accepted, c.accepted);
        if (!c.accepted) {
            continue;  // where a refused body stops depends on its blocks
        }
        parser.finish(collect);  // as the receiver does once each answer has ended
        EXPECT_EQ(collect.stretches, c.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, MultipartBody,
    ::testing::Values(
        BodyCase{"PartsInAnyOrder",
                 partsOf({{500, 30}, {10, 20}}) + closing(),
                 {{10, 29}, {500, 529}},
                 true,
                 contentAt({{500, 30}, {10, 20}})},
        BodyCase{"APreambleIsSkipped",
                 "This is a preamble.\r\n\r\n" + partsOf({{10, 20}, {500, 30}}) + closing(),
                 {{10, 29}, {500, 529}},
                 true,
                 contentAt({{10, 20}, {500, 30}})},
        BodyCase{"TheEpilogueIsSkipped",
                 partsOf({{10, 20}}) + closing() + "\r\n--3d6b6a416f9b5\r\n\r\nmore",
                 {{10, 29}},
                 true,
                 contentAt({{10, 20}})},
        // Without its own Content-Range a part is the range asked in its position; a part past
        // the ranges asked has no place.
        BodyCase{"APartWithoutContentRangeIsTheRangeAskedInItsPlace",
                 partsOf({{10, 20, false}, {2000, 30, false}, {2500, 5, false}}) + closing(),
                 {{10, 29}, {2000, 2029}},
                 true,
                 contentAt({{10, 20}, {2000, 30}})},
        // What a part carries past its Content-Range is never taken as the file's.
        BodyCase{"DataPastTheContentRangeIsSkipped",
                 partsOf({{10, 20}}) + "overlong" + closing(),
                 {{10, 29}},
                 true,
                 contentAt({{10, 20}})},
        // An answer whose connection closed before its end: every byte of the parts that came.
        BodyCase{"OneByteOfTheClosingDelimiterCutOff",
                 partsOf({{10, 20}, {500, 30}}) + closing().substr(0, closing().size() - 3),
                 {{10, 29}, {500, 529}},
                 true,
                 contentAt({{10, 20}, {500, 30}})},
        BodyCase{"CutInsideTheClosingDelimiter",
                 partsOf({{10, 20}, {500, 30}}) + "\r\n--3d",
                 {{10, 29}, {500, 529}},
                 true,
                 contentAt({{10, 20}, {500, 30}})},
        BodyCase{
            "CutInsideTheLastPart",
            partsOf({{10, 20}, {500, 30}}).substr(0, partsOf({{10, 20}, {500, 30}}).size() - 3),
            {{10, 29}, {500, 529}},
            true,
            contentAt({{10, 20}, {500, 27}})},
        // A part header that never ends: the bytes held are bounded.
        BodyCase{"APartHeaderPastTheBoundIsRefused",
                 "\r\n" + std::string(kDelimiter) +
                     "\r\nX-Padding: " + std::string(MultipartParser::kMaxHeldBytes, 'x'),
                 {{10, 29}},
                 false,
                 {}}),
    [](const auto& info) { return info.param.name; });

// The end of a block that could begin a delimiter waits for the next block, also when it is
// a delimiter's start followed by more data.
TEST(MultipartParser, HoldsABlockThatEndsInsideTheDelimiter) {
    const std::string body = partsOf({{10, 20}, {500, 30}}) + closing();
    const std::size_t cut = body.find("\r\n" + std::string(kDelimiter), 5) + 3;
    const std::vector<HttpRange> asked = {{10, 29}, {500, 529}};
    MultipartParser parser;
    parser.begin(kDelimiter, asked);
    Collect collect;
    ASSERT_TRUE(parser.feed(std::string_view(body).substr(0, cut), collect));
    ASSERT_TRUE(parser.feed(std::string_view(body).substr(cut), collect));
    parser.finish(collect);
    EXPECT_EQ(collect.stretches, contentAt({{10, 20}, {500, 30}}));
    EXPECT_EQ(parser.partsSeen(), 2u);
}

}  // namespace
}  // namespace veldmoor
