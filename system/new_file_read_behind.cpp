#include "system/new_file_read_behind.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "system/new_file_buffer.h"

namespace veldmoor {
namespace {

Status Unreadable() {
    return Status::Failed("it cannot be read back");
}

}  // namespace

std::uint64_t NewFile::ReadBehind::Add(Stretches& stretches, std::uint64_t start,
                                       std::uint64_t end) {
    // Merges with every stretch it touches, so the stretches stay apart and few.
    const std::uint64_t from = start;
    const std::uint64_t to = end;
    std::uint64_t added = to - from;
    auto next = stretches.upper_bound(from);
    if (next != stretches.begin() && std::prev(next)->second >= from) {
        --next;
    }
    while (next != stretches.end() && next->first <= to) {
        const std::uint64_t sharedFrom = std::max(from, next->first);
        const std::uint64_t sharedTo = std::min(to, next->second);
        if (sharedFrom < sharedTo) {
            added -= sharedTo - sharedFrom;  // the stretches are apart: no byte twice
        }
        start = std::min(start, next->first);
        end = std::max(end, next->second);
        next = stretches.erase(next);
    }
    stretches.emplace(start, end);
    return added;
}

NewFile::ReadBehind::ReadBehind(std::intptr_t handle, std::uint64_t size, const Stretches& written,
                                ReadOrder order, Consumer consume)
    : handle_(handle),
      blockSize_(BlockSizeFor(size)),
      block_(std::make_unique_for_overwrite<char[]>(blockSize_)),
      order_(order),
      consume_(std::move(consume)) {
    for (const auto& [start, end] : written) {
        unreadBytes_ += Add(unread_, start, end);
    }
    thread_ = std::thread([this] { Run(); });
}

NewFile::ReadBehind::~ReadBehind() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        ending_ = true;
    }
    changed_.notify_one();  // whether it sleeps or not
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool NewFile::ReadBehind::Overlaps(const Stretches& stretches, std::uint64_t start,
                                   std::uint64_t end) {
    auto next = stretches.upper_bound(start);
    if (next != stretches.begin() && std::prev(next)->second > start) {
        return true;
    }
    return next != stretches.end() && next->first < end;
}

std::uint64_t NewFile::ReadBehind::Readable() const {
    if (unread_.empty()) {
        return 0;
    }
    if (order_ == ReadOrder::AnyOrder) {
        return unreadBytes_;
    }
    const std::uint64_t readToHere =
        !read_.empty() && read_.begin()->first == 0 ? read_.begin()->second : 0;
    const auto& [start, end] = *unread_.begin();
    return start == readToHere ? end - start : 0;
}

void NewFile::ReadBehind::Wrote(std::uint64_t offset, std::uint64_t length) {
    if (length == 0) {
        return;
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    if (Overlaps(read_, offset, offset + length)) {
        rewritten_ = true;
    }
    unreadBytes_ += Add(unread_, offset, offset + length);
    if (sleeping_ && Readable() >= kWakeStep) {
        changed_.notify_one();
    }
}

void NewFile::ReadBehind::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (!ending_ && !rewritten_ && Readable() == 0) {
            sleeping_ = true;
            changed_.wait(lock,
                          [this] { return ending_ || rewritten_ || Readable() >= kWakeStep; });
            sleeping_ = false;
        }
        if (ending_ || rewritten_ || !failure_.Ok()) {
            return;
        }
        // The lowest stretch written, one block at a time, so that Finish never waits for more.
        // It counts as read from here on: a write into it makes everything be read again.
        const auto first = unread_.begin();
        std::uint64_t from = first->first;
        const std::uint64_t to = std::min<std::uint64_t>(first->second, from + blockSize_);
        if (to == first->second) {
            unread_.erase(first);
        } else {
            const std::uint64_t end = first->second;
            unread_.erase(first);
            unread_.emplace(to, end);
        }
        unreadBytes_ -= to - from;
        Add(read_, from, to);
        lock.unlock();
        Status read = ReadStretch(from, to);
        lock.lock();
        failure_ = std::move(read);
    }
}

Status NewFile::ReadBehind::ReadStretch(std::uint64_t& from, std::uint64_t to) {
    while (to == 0 || from < to) {
        const std::size_t wanted =
            to == 0 ? blockSize_
                    : static_cast<std::size_t>(std::min<std::uint64_t>(to - from, blockSize_));
        const Result<std::size_t> got = ReadAt(handle_, block_.get(), wanted, from);
        if (!got) {
            return Unreadable();
        }
        if (got.Value() == 0) {
            return to == 0 ? Status() : Unreadable();
        }
        consume_(from, block_.get(), got.Value());
        from += got.Value();
    }
    return {};
}

Status NewFile::ReadBehind::Finish(const std::function<void()>& restart) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        ending_ = true;
    }
    changed_.notify_one();  // whether it sleeps or not
    thread_.join();
    // The thread has ended: the rest is read here, without the lock, in order.
    if (!failure_.Ok()) {
        return failure_;
    }
    if (rewritten_) {
        restart();
        read_.clear();
    }
    std::uint64_t at = 0;
    for (const auto& [start, end] : read_) {
        if (at < start) {
            if (Status read = ReadStretch(at, start); !read) {
                return read;
            }
        }
        at = end;
    }
    return ReadStretch(at, 0);
}

void NewFile::ReadBackWhileWriting(ReadBackConsumer consume, ReadOrder order) {
    readBehind_.reset();
    readBehindConsumer_ = std::move(consume);
    if (large_ && handle_ != kClosedFile) {
        const Result<std::uint64_t> size = SizeOfOpenFile(handle_);
        readBehind_ = std::make_unique<ReadBehind>(handle_, size ? size.Value() : UINT64_MAX,
                                                   writtenBefore_, order, readBehindConsumer_);
    }
    writtenBefore_.clear();
}

Status NewFile::FinishReadBack(const std::function<void()>& restart) {
    if (Status flushed = Flush(); !flushed) {
        readBehind_.reset();
        return flushed;
    }
    if (!readBehind_) {
        std::uint64_t at = 0;
        return ReadBack([this, &at](const char* data, std::size_t size) {
            readBehindConsumer_(at, data, size);
            at += size;
        });
    }
    const std::unique_ptr<ReadBehind> reading = std::move(readBehind_);
    return reading->Finish(restart);
}

void NewFile::WroteAt(std::uint64_t offset, std::uint64_t length) {
    if (readBehind_) {
        readBehind_->Wrote(offset, length);
    } else if (large_ && length > 0) {
        ReadBehind::Add(writtenBefore_, offset, offset + length);
    }
}

}  // namespace veldmoor
