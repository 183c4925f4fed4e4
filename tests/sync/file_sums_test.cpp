#include "sync/file_sums.h"

#include <gtest/gtest.h>

#include <string>

namespace veldmoor {
namespace {

const std::string kHead = std::string(kFileSumsHeader) + "\n";

// The listed files the reader keeps sums of: "a.bin" at time 100, "d/b.bin" at time 200.
bool Listed(std::string_view path, std::int64_t time) {
    return (path == "a.bin" && time == 100) || (path == "d/b.bin" && time == 200);
}

// Fed in pieces of `step` bytes, as a transfer may hand them over.
FileSumsReader ReadInSteps(const std::string& document, std::size_t step) {
    FileSumsReader reader(Listed);
    for (std::size_t at = 0; at < document.size(); at += step) {
        const std::size_t size = std::min(step, document.size() - at);
        if (!reader.feed(document.data() + at, size)) {
            break;
        }
    }
    return reader;
}

TEST(FileSums, KeepsTheListedFilesWithTheirListedTimesWhereverTheBlocksEnd) {
    const std::string document = kHead + formatFileSumLine(100, 5000, 0x0a0b0c0d, "a.bin") +
                                 formatFileSumLine(150, 7, 1, "d/b.bin") +  // listed at 200
                                 formatFileSumLine(9, 1, 2, "not listed.bin") +
                                 formatFileSumLine(200, 0, 0xffffffff, "d/b.bin");
    for (std::size_t step : {1u, 3u, 64u, 4096u}) {
        const FileSumsReader reader = ReadInSteps(document, step);
        ASSERT_TRUE(reader.finish()) << "in steps of " << step;
        ASSERT_EQ(reader.sums().size(), 2u);
        const FileSum a = reader.sums().at("a.bin");
        EXPECT_EQ(a.size, 5000u);
        EXPECT_EQ(a.crc, 0x0a0b0c0du);
        const FileSum b = reader.sums().at("d/b.bin");
        EXPECT_EQ(b.size, 0u);
        EXPECT_EQ(b.crc, 0xffffffffu);
    }
}

// A document of which nothing may be used: a server's error page, a damaged or hostile one.
struct Refused {
    const char* what;
    std::string document;
};

class FileSumsRefused : public ::testing::TestWithParam<Refused> {};

TEST_P(FileSumsRefused, YieldsNoSums) {
    for (std::size_t step : {1u, 4096u}) {
        const FileSumsReader reader = ReadInSteps(GetParam().document, step);
        EXPECT_FALSE(reader.finish()) << GetParam().what;
    }
}

const std::string kGood = formatFileSumLine(100, 5000, 0x12345678, "a.bin");

INSTANTIATE_TEST_SUITE_P(
    Documents, FileSumsRefused,
    ::testing::Values(
        Refused{"an error page", "<html><body>404 Not Found</body></html>\n"},
        Refused{"nothing", ""}, Refused{"no header", kGood},
        Refused{"another version", "veldmoor file sums 2\n" + kGood},
        Refused{"the last line cut short", kHead + kGood.substr(0, kGood.size() - 1)},
        Refused{"a CRC-32 of 7 digits", kHead + "100 5000 1234567 a.bin\n" + kGood},
        Refused{"a CRC-32 not hexadecimal", kHead + kGood + "100 5000 1234567g a.bin\n"},
        Refused{"a negative size", kHead + "100 -1 12345678 a.bin\n"},
        Refused{"a size past 32 bits", kHead + "100 4294967296 12345678 a.bin\n"},
        Refused{"a time with a sign", kHead + "+100 5000 12345678 a.bin\n"},
        Refused{"no path", kHead + "100 5000 12345678 \n"},
        Refused{"fields missing", kHead + "100 5000\n"},
        Refused{"a listed path twice", kHead + kGood + kGood},
        Refused{"an endless line", kHead + "100 5000 12345678 " + std::string(100000, 'x') + "\n"}),
    [](const ::testing::TestParamInfo<Refused>& info) {
        std::string name = info.param.what;
        for (char& c : name) {
            c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        }
        return name;
    });

TEST(FileSums, ARestartForgetsWhatTheTryBeforeBrought) {
    FileSumsReader reader(Listed);
    const std::string bad = "garbage\n";
    EXPECT_FALSE(reader.feed(bad.data(), bad.size()));
    reader.restart();
    const std::string good = kHead + kGood;
    EXPECT_TRUE(reader.feed(good.data(), good.size()));
    EXPECT_TRUE(reader.finish());
    EXPECT_EQ(reader.sums().size(), 1u);
}

}  // namespace
}  // namespace veldmoor
