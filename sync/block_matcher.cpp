#include "sync/block_matcher.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <span>
#include <string_view>

#include "sync/candidate_table.h"
#include "sync/crc32.h"
#include "sync/trace.h"
#include "sync/weak_checksum.h"
#include "sync/window_scan.h"
#include "system/text_encoding.h"

namespace veldmoor {

namespace {

// One matching pass: windows of `windowLength` bytes from local offset `start` to the end of
// the local copy, claiming entries of `entries` and appending the local pieces to `found`.
class MatchPass {
public:
    MatchPass(std::istream& local, std::uint64_t start, std::uint32_t windowLength,
              std::span<const Piece> entries, std::vector<Piece>& found,
              const MatcherOptions& options)
        : readBlock_(std::max<std::size_t>(options.readBlock, 1)),
          searchLimit_(options.searchLimit),
          scanPath_(options.scanPath),
          onMatch_(options.onMatch),
          local_(local),
          start_(start),
          windowLength_(windowLength),
          entries_(entries),
          found_(found) {}

    void run() {
        if (!remainingHoldsWindow()) {
            return;  // fewer bytes than one window: nothing to find, nothing to report
        }
        // The local copy is read in large blocks, plus one window kept from the previous
        // block, so a scan costs few reads and its memory does not grow with the file. The
        // buffer holds at least two windows so that keeping one leaves room for a read.
        buffer_.resize(windowLength_ + std::max<std::size_t>(readBlock_, windowLength_));
        local_.clear();
        local_.seekg(static_cast<std::streamoff>(start_));
        base_ = start_;
        readMore();
        if (filled_ < windowLength_) {
            return;
        }

        CandidateTable table(entries_);
        WeakChecksum sum = WeakChecksum::over(buffer_.data(), windowLength_);
        std::array<char, 96> line{};
        const int length = std::snprintf(
            line.data(), line.size(), "Buckets: %i, chunks: %i, initial: %08x\n",
            static_cast<int>(table.bucketCount()), static_cast<int>(entries_.size()), sum.value());
        traceDiagnostic(std::string_view(line.data(), static_cast<std::size_t>(length)));

        const WindowScanner scanner(scanPath_, windowLength_, table.filter());
        std::size_t s = 0;  // start of the current window in buffer_
        for (;;) {
            const unsigned char* const data = buffer_.data();
            const std::size_t last = filled_ - windowLength_;  // last window start in buffer_
            bool matched = false;
            for (;;) {
                std::uint32_t weak = sum.value();
                const ScanStop stop = scanner.toCandidate(data, s, last, weak);
                sum = WeakChecksum::fromValue(weak, windowLength_);
                s = stop.start;
                if (stop.candidate && checkWindow(table, s, weak)) {
                    matched = true;
                    break;
                }
                if (s == last) {
                    break;
                }
                sum.roll(data[s], data[s + windowLength_]);
                ++s;
            }

            if (matched) {
                // Resume just after the matched window with a fresh checksum.
                if (table.allClaimed()) {
                    return;  // nothing left to record: the rest of the scan cannot change the plan
                }
                s += windowLength_;
                if (filled_ - s < windowLength_) {
                    keepFrom(s);
                    s = 0;
                    readMore();
                    if (filled_ < windowLength_) {
                        return;
                    }
                }
                sum =
                    WeakChecksum::fromValue(scanner.checksumOf(buffer_.data() + s), windowLength_);
                continue;
            }

            // The window at `last` was examined; the next one needs the byte after the buffer.
            keepFrom(s);
            if (!readMore()) {
                return;
            }
            sum.roll(buffer_[0], buffer_[windowLength_]);
            s = 1;
        }
    }

private:
    bool remainingHoldsWindow() {
        if (windowLength_ == 0) {
            return false;
        }
        local_.clear();
        local_.seekg(0, std::ios::end);
        const std::streamoff size = local_.tellg();
        if (size < 0) {
            return true;  // size unknown: let the reads decide
        }
        const std::uint64_t searched = std::min<std::uint64_t>(size, searchLimit_);
        return searched >= start_ && searched - start_ >= windowLength_;
    }

    // Drops the buffer's bytes before `from`; the rest moves to the front.
    void keepFrom(std::size_t from) {
        std::memmove(buffer_.data(), buffer_.data() + from, filled_ - from);
        base_ += from;
        filled_ -= from;
    }

    // Fills the free end of the buffer; false when no byte arrived.
    bool readMore() {
        if (endOfData_ || filled_ == buffer_.size()) {
            return false;
        }
        const std::uint64_t readTo = base_ + filled_;
        const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(
            buffer_.size() - filled_, readTo < searchLimit_ ? searchLimit_ - readTo : 0));
        if (wanted == 0) {
            endOfData_ = true;
            return false;
        }
        local_.read(reinterpret_cast<char*>(buffer_.data() + filled_),
                    static_cast<std::streamsize>(wanted));
        const auto got = static_cast<std::size_t>(local_.gcount());
        filled_ += got;
        endOfData_ = got < wanted;
        return got > 0;
    }

    // The window at buffer_[s] has weak checksum `weak`, which passed the filter.
    bool checkWindow(CandidateTable& table, std::size_t s, std::uint32_t weak) {
        CandidateTable::WeakRun* run = table.find(weak);
        if (run == nullptr) {
            return false;
        }
        if (run->unclaimedGroups == 0) {
            return true;  // its chunks are all found already: jump over the window
        }
        const std::uint32_t strong = crc32Update(0, buffer_.data() + s, windowLength_);
        const std::span<const std::uint32_t> claimed = table.claim(*run, strong);
        for (const std::uint32_t index : claimed) {
            Piece piece;
            piece.targetOffset = entries_[index].targetOffset;
            piece.length = windowLength_;
            piece.weak = weak;
            piece.strong = strong;
            piece.sourceOffset = static_cast<std::uint32_t>(base_ + s);
            piece.kind = kPieceLocal;
            found_.push_back(piece);
            if (onMatch_) {
                onMatch_(piece, buffer_.data() + s);
            }
        }
        return !claimed.empty();
    }

    std::size_t readBlock_;
    std::uint64_t searchLimit_;
    ScanPath scanPath_;
    const MatchSink& onMatch_;
    std::istream& local_;
    std::uint64_t start_;
    std::uint32_t windowLength_;
    std::span<const Piece> entries_;
    std::vector<Piece>& found_;

    std::vector<unsigned char> buffer_;
    std::uint64_t base_ = 0;  // local offset of buffer_[0]
    std::size_t filled_ = 0;
    bool endOfData_ = false;
};

}  // namespace

BlockPlan buildBlockPlan(std::istream& local, const std::vector<Piece>& entries,
                         std::uint32_t expectedCrc, const MatcherOptions& options) {
    BlockPlan plan;
    plan.expectedCrc = expectedCrc;
    if (!local || entries.empty()) {
        return plan;
    }
    const std::uint32_t blockSize = entries.front().length;
    const Piece& last = entries.back();
    // A block size of 0 can only come from a faulty index; a window of no bytes would match
    // without ever moving on.
    if (blockSize == 0) {
        return plan;
    }

    std::vector<Piece>& found = plan.pieces;
    if (last.length == blockSize) {
        MatchPass(local, 0, blockSize, entries, found, options).run();
    } else if (last.length != 0) {
        const std::span<const Piece> all(entries);
        MatchPass(local, 0, blockSize, all.first(all.size() - 1), found, options).run();
        if (!found.empty()) {
            const std::uint64_t resume =
                std::uint64_t{found.back().sourceOffset} + found.back().length;
            MatchPass(local, resume, last.length, all.last(1), found, options).run();
        }
    }
    std::stable_sort(found.begin(), found.end(), [](const Piece& x, const Piece& y) {
        return x.targetOffset < y.targetOffset;
    });
    return plan;
}

BlockPlan buildBlockPlan(const std::string& localPath, const std::vector<Piece>& entries,
                         std::uint32_t expectedCrc, const MatchSink& onMatch) {
    std::ifstream local(PathFromUtf8(localPath), std::ios::binary);
    if (!local) {
        BlockPlan plan;
        plan.expectedCrc = expectedCrc;
        return plan;
    }
    MatcherOptions options;
    options.onMatch = onMatch;
    return buildBlockPlan(local, entries, expectedCrc, options);
}

}  // namespace veldmoor
