// A large new file read back while it is written: whatever the order of the writes, the holes
// left and the stretches written again, the reading hands on each byte of the file as it is on
// the drive exactly once (once more from the start after a restart), and in order when asked.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "system/new_file.h"
#include "tests/support/result_assertions.h"
#include "tests/support/temp_dir.h"

namespace veldmoor {
namespace {

constexpr std::uint64_t kMiB = 1U << 20U;
constexpr std::uint64_t kSize = 12 * kMiB;

std::string Bytes(std::uint64_t size, std::uint32_t seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(generator() & 0xFFU);
    }
    return bytes;
}

// What the reading handed on since its last restart, filled on the reading's thread.
class Seen {
public:
    void Take(std::uint64_t offset, const char* data, std::size_t size) {
        const std::lock_guard<std::mutex> lock(mutex_);
        pieces_.push_back({offset, std::string(data, size)});
        bytes_ += size;
        changed_.notify_all();
    }
    void Restart() {
        const std::lock_guard<std::mutex> lock(mutex_);
        pieces_.clear();
        bytes_ = 0;
        ++restarts_;
    }
    // Waits until `bytes` were handed on (the test writes nothing meanwhile).
    void WaitFor(std::uint64_t bytes) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return bytes_ >= bytes; });
    }

    struct Piece {
        std::uint64_t offset;
        std::string bytes;
    };
    std::vector<Piece> pieces_;
    int restarts_ = 0;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t bytes_ = 0;
};

struct Writing {
    const char* name;
    // Writes the file's content (`bytes`, the old content at the source) into `file`; `seen`
    // lets it wait for the reading.
    void (*write)(NewFile& file, const std::string& bytes, const std::string& sourcePath,
                  Seen& seen);
    int restarts;
};

void WriteAt(NewFile& file, const std::string& bytes, std::uint64_t from, std::uint64_t to) {
    file.Stream().seekp(static_cast<std::streamoff>(from));
    file.Stream().write(bytes.data() + from, static_cast<std::streamsize>(to - from));
}

const Writing kWritings[] = {
    {"Sequential",
     [](NewFile& file, const std::string& bytes, const std::string&, Seen&) {
         WriteAt(file, bytes, 0, kSize);
     },
     0},
    {"BackwardsInSteps",
     [](NewFile& file, const std::string& bytes, const std::string&, Seen&) {
         for (std::uint64_t at = kSize; at > 0; at -= 3 * kMiB / 2) {
             WriteAt(file, bytes, at - 3 * kMiB / 2, at);
         }
     },
     0},
    {"HolesNeverWritten",  // every other MiB stays as Reserve left it: zeros
     [](NewFile& file, const std::string& bytes, const std::string&, Seen&) {
         for (std::uint64_t at = kMiB; at < kSize; at += 2 * kMiB) {
             WriteAt(file, bytes, at, at + kMiB);
         }
     },
     0},
    {"CopiedInAroundAWrite",
     [](NewFile& file, const std::string& bytes, const std::string& sourcePath, Seen&) {
         const auto source = ReadOnlyFile::Open(sourcePath);
         ASSERT_NE(source, nullptr);
         EXPECT_EQ(file.CopyIn(*source, 0, 0, 5 * kMiB), 5 * kMiB);
         WriteAt(file, bytes, 5 * kMiB, 6 * kMiB);
         EXPECT_EQ(file.CopyIn(*source, 6 * kMiB, 6 * kMiB, kSize - 6 * kMiB), kSize - 6 * kMiB);
     },
     0},
    {"WrittenAgainAfterItWasRead",
     [](NewFile& file, const std::string& bytes, const std::string&, Seen& seen) {
         const std::string first = Bytes(4 * kMiB, 99);
         WriteAt(file, first, 0, 4 * kMiB);
         ASSERT_TRUE(file.Flush());
         seen.WaitFor(kMiB);
         WriteAt(file, bytes, 0, kSize);
     },
     1},
};

struct Case {
    Writing writing;
    NewFile::ReadOrder order;
};

class ReadBehind : public ::testing::TestWithParam<Case> {};

TEST_P(ReadBehind, HandsOnEveryByteOfTheFileOnce) {
    const test::TempDir folder("veldmoor-read-behind");
    const std::string bytes = Bytes(kSize, 1);
    test::WriteTestFile(folder / "source", bytes);
    auto file = test::ValueOf(NewFile::Create(folder / "new"));
    ASSERT_TRUE(file->Reserve(kSize));
    Seen seen;
    file->ReadBackWhileWriting([&seen](std::uint64_t offset, const char* data,
                                       std::size_t size) { seen.Take(offset, data, size); },
                               GetParam().order);

    GetParam().writing.write(*file, bytes, folder / "source", seen);
    ASSERT_TRUE(file->FinishReadBack([&seen] { seen.Restart(); }));

    ASSERT_TRUE(file->Close());
    const std::string onDrive = test::ReadTestFile(folder / "new");
    ASSERT_EQ(onDrive.size(), kSize);
    EXPECT_EQ(seen.restarts_, GetParam().writing.restarts);
    std::string image(kSize, '\0');
    std::uint64_t handedOn = 0;
    std::uint64_t next = 0;
    for (const Seen::Piece& piece : seen.pieces_) {
        ASSERT_LE(piece.offset + piece.bytes.size(), kSize);
        if (GetParam().order == NewFile::ReadOrder::InOrder) {
            ASSERT_EQ(piece.offset, next) << "handed on out of order";
        }
        next = piece.offset + piece.bytes.size();
        image.replace(piece.offset, piece.bytes.size(), piece.bytes);
        handedOn += piece.bytes.size();
    }
    EXPECT_EQ(handedOn, kSize) << "a byte was handed on twice, or never";
    EXPECT_TRUE(image == onDrive) << "what was handed on is not the file as it is on the drive";
}

std::vector<Case> Cases() {
    std::vector<Case> cases;
    for (const Writing& writing : kWritings) {
        cases.push_back({writing, NewFile::ReadOrder::InOrder});
        cases.push_back({writing, NewFile::ReadOrder::AnyOrder});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Writings, ReadBehind, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::string(info.param.writing.name) +
                                    (info.param.order == NewFile::ReadOrder::InOrder ? "InOrder"
                                                                                     : "AnyOrder");
                         });

}  // namespace
}  // namespace veldmoor
