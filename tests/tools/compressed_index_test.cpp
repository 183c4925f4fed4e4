// A large chunk index's gzip copy, which a web server hands out in place of the index: it must
// always be the copy of the index beside it, or be absent, through every kind of publish.
#include "tools/publish/compressed_index.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "tests/support/gunzip.h"
#include "tests/support/result_assertions.h"
#include "tests/support/temp_dir.h"
#include "tools/publish/repository_publisher.h"

namespace veldmoor {
namespace {

namespace fs = std::filesystem;

class CompressedIndex : public ::testing::Test {
protected:
    // Blocks of 1 KiB: 6 MiB make an index of 72 KiB, past the size that gets a copy.
    void put(const std::string& name, std::size_t bytes, unsigned seed) {
        std::mt19937 random(seed);
        std::string content(bytes, '\0');
        for (char& c : content) {
            c = static_cast<char>(random());
        }
        test::WriteTestFile(temp_ / ("source/" + name), content);
    }
    void publish() {
        PublishOptions options{.sourceDir = temp_ / "source", .repoDir = temp_ / "repo"};
        options.forcedBlockSize = 1024;
        ASSERT_TRUE(test::Done(PublishRepository(options)));
    }
    std::string index(const std::string& name) const {
        return temp_ / ("repo/transfer/" + name + ".chunks");
    }
    // The copy beside the index holds exactly the index.
    void expectCopyOf(const std::string& name) const {
        const std::string copy = CompressedIndexPathOf(index(name));
        ASSERT_TRUE(fs::exists(copy)) << copy;
        EXPECT_EQ(test::Gunzip(test::ReadTestFile(copy)), test::ReadTestFile(index(name)));
    }
    bool hasCopy(const std::string& name) const {
        return fs::exists(CompressedIndexPathOf(index(name)));
    }

    test::TempDir temp_{"veldmoor-compressed-index"};
};

TEST_F(CompressedIndex, IsTheCopyOfTheIndexBesideItOrAbsent) {
    put("big.bin", 6 << 20, 1);
    put("small.txt", 4000, 2);
    publish();
    expectCopyOf("big.bin");
    EXPECT_FALSE(hasCopy("small.txt"));

    put("big.bin", (6 << 20) + 5, 3);  // changed content
    publish();
    expectCopyOf("big.bin");

    fs::remove(CompressedIndexPathOf(index("big.bin")));  // a repository from before the copies
    publish();
    expectCopyOf("big.bin");

    put("big.bin", 3000, 4);  // now small: the server compresses its index itself
    publish();
    EXPECT_FALSE(hasCopy("big.bin"));

    put("big.bin", 6 << 20, 5);
    publish();
    expectCopyOf("big.bin");
    fs::remove(temp_ / "source/big.bin");  // gone from the source: its copy goes with it
    publish();
    EXPECT_FALSE(hasCopy("big.bin"));
    EXPECT_FALSE(fs::exists(index("big.bin")));
}

}  // namespace
}  // namespace veldmoor
