// NewFile's reading back while the file is still being written, the same on every system: a
// thread of its own reads what has been written, so that the check of a large file ends soon
// after its last write instead of only starting then.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "system/new_file.h"
#include "system/result.h"

namespace veldmoor {

class NewFile::ReadBehind {
public:
    using Consumer = NewFile::ReadBackConsumer;

    // Stretches of a file: start -> end, apart and merged.
    using Stretches = std::map<std::uint64_t, std::uint64_t>;
    // Adds [start, end) to `stretches`; the bytes it adds that were not there.
    static std::uint64_t Add(Stretches& stretches, std::uint64_t start, std::uint64_t end);
    // Whether [start, end) and `stretches` share a byte.
    static bool Overlaps(const Stretches& stretches, std::uint64_t start, std::uint64_t end);

    // Reads `handle` (a file of about `size` bytes, `written` of it written so far) behind its
    // writes on a thread of its own, in `order`.
    ReadBehind(std::intptr_t handle, std::uint64_t size, const Stretches& written, ReadOrder order,
               Consumer consume);
    // Stops the thread; what it has not read stays unread.
    ~ReadBehind();
    ReadBehind(const ReadBehind&) = delete;
    ReadBehind& operator=(const ReadBehind&) = delete;

    // Bytes [offset, offset + length) are in the file. Writing again what was read already
    // makes Finish read everything again.
    void Wrote(std::uint64_t offset, std::uint64_t length);

    // Nothing more is written: stops the thread and reads the rest of the file on the calling
    // thread (all of it, after `restart`, when a part already read was written again).
    Status Finish(const std::function<void()>& restart);

private:
    // Written bytes not yet read that wake the waiting thread: waking it costs more than a
    // block's write.
    static constexpr std::uint64_t kWakeStep = 1U << 20U;

    // The written bytes the thread may read next: in order, only those right after what was read.
    std::uint64_t Readable() const;
    void Run();
    // Reads [from, to) (to the end of the file when `to` is 0) and hands it on; `from` ends
    // where the reading stopped.
    Status ReadStretch(std::uint64_t& from, std::uint64_t to);

    std::intptr_t handle_;
    std::size_t blockSize_;
    std::unique_ptr<char[]> block_;  // the thread's, then Finish's
    ReadOrder order_;
    Consumer consume_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    Stretches unread_;  // written and not read
    std::uint64_t unreadBytes_ = 0;
    Stretches read_;  // handed on, or being read
    bool rewritten_ = false;
    bool ending_ = false;
    bool sleeping_ = false;  // the thread waits for kWakeStep to be written
    Status failure_;
    std::thread thread_;
};

}  // namespace veldmoor
