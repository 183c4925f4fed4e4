// NewFile's write buffer, the same on every system; only the positioned write and the size
// query below differ, and each system's new_file.cpp implements them on its handle.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <streambuf>
#include <string>
#include <vector>

#include "system/new_file.h"
#include "system/result.h"

namespace veldmoor {

// The failures below carry the system's words and the Fault they amount to; NewFile::Note puts
// the file's name in front.
// Writes all of `data` at `offset`.
Status WriteAllAt(std::intptr_t handle, const char* data, std::size_t size, std::uint64_t offset);
// The file's size.
Result<std::uint64_t> SizeOfOpenFile(std::intptr_t handle);
// Forces what was written to the drive.
Status ForceToDrive(std::intptr_t handle);
void CloseOpenFile(std::intptr_t handle);
// Sets the drive to writing out what was written to the file so far and returns without waiting
// for it, so that the flush before the file's move finds little left to do. Nothing where the
// system has no such call.
void StartWritingOut(std::intptr_t handle);
// Reads up to `size` bytes at `offset`: the bytes read, 0 at the end, or the failure.
Result<std::size_t> ReadAt(std::intptr_t handle, char* data, std::size_t size,
                           std::uint64_t offset);
// Copies up to `length` bytes between two open files without passing them through this
// process: the bytes the system copied, fewer (none where it has no such copy) when it stops or
// refuses, and the caller copies the rest through memory.
std::uint64_t CopyWithinSystem(std::intptr_t source, std::uint64_t sourceOffset,
                               std::intptr_t target, std::uint64_t targetOffset,
                               std::uint64_t length);
// A file opened for reading only; kClosedFile when it cannot be.
std::intptr_t OpenForReading(const std::string& path);
// Forces the closed files at `paths` to the drive together. One outcome per path.
std::vector<Status> ForceClosedFilesToDrive(const std::vector<std::string>& paths);
// Bytes written to a file between two StartWritingOut: a large file's bytes go to the drive
// while the rest of it is written, rather than all at once at its flush.
inline constexpr std::uint64_t kWriteOutStep = 8U << 20U;
// The handle of a closed NewFile: -1 is no descriptor, and is INVALID_HANDLE_VALUE on Windows.
inline constexpr std::intptr_t kClosedFile = -1;

// The bytes NewFile moves at once for a file of `size` bytes: a small file needs no more than
// itself, and a run of thousands of small files would otherwise map 128 KiB for each.
inline std::size_t BlockSizeFor(std::uint64_t size) {
    return static_cast<std::size_t>(
        std::clamp<std::uint64_t>(size, std::uint64_t{4096}, std::uint64_t{128 * 1024}));
}

// Positioned writes through a buffer: a seek writes out what is buffered and moves the
// position, so the range receiver's scattered writes each cost one write per run of bytes.
class NewFile::Buffer : public std::streambuf {
public:
    Buffer(NewFile& file, std::intptr_t handle) : file_(file), handle_(handle) {}

    // The file will hold `size` bytes. The buffer is made on the first write, uninitialised.
    void ExpectSize(std::uint64_t size) {
        if (!bytes_) {
            capacity_ = BlockSizeFor(size);
        }
    }

    bool WriteOut() {
        const auto pending = static_cast<std::size_t>(pptr() - pbase());
        if (pending == 0) {
            return !failed_;
        }
        if (!failed_) {
            const Status written = WriteAllAt(handle_, pbase(), pending, position_);
            if (!written) {
                failed_ = true;
                file_.Note(written, "cannot write");
            }
        }
        Written(position_, pending);
        position_ += pending;
        setp(bytes_.get(), bytes_.get() + capacity_);
        return !failed_;
    }

protected:
    int_type overflow(int_type c) override {
        if (!bytes_) {
            bytes_ = std::make_unique_for_overwrite<char[]>(capacity_);
            setp(bytes_.get(), bytes_.get() + capacity_);
        }
        if (!WriteOut()) {
            return traits_type::eof();
        }
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }

    std::streamsize xsputn(const char* data, std::streamsize size) override {
        if (size < static_cast<std::streamsize>(capacity_)) {
            return std::streambuf::xsputn(data, size);  // its overflow makes the buffer
        }
        if (!WriteOut()) {
            return 0;
        }
        const Status written = WriteAllAt(handle_, data, static_cast<std::size_t>(size), position_);
        if (!written) {
            failed_ = true;
            file_.Note(written, "cannot write");
            return 0;
        }
        Written(position_, static_cast<std::uint64_t>(size));
        position_ += static_cast<std::uint64_t>(size);
        return size;
    }

    int sync() override { return WriteOut() ? 0 : -1; }

    pos_type seekoff(off_type offset, std::ios_base::seekdir direction,
                     std::ios_base::openmode /*which*/) override {
        const auto current = position_ + static_cast<std::uint64_t>(pptr() - pbase());
        off_type target = offset;
        if (direction == std::ios_base::cur) {
            target += static_cast<off_type>(current);
        } else if (direction == std::ios_base::end) {
            const Result<std::uint64_t> size = SizeOfOpenFile(handle_);
            if (!size) {
                return pos_type(off_type(-1));
            }
            target += static_cast<off_type>(size.Value());
        }
        return seekpos(pos_type(target), std::ios_base::out);
    }

    pos_type seekpos(pos_type position, std::ios_base::openmode /*which*/) override {
        if (off_type(position) < 0 || !WriteOut()) {
            return pos_type(off_type(-1));
        }
        position_ = static_cast<std::uint64_t>(off_type(position));
        return position;
    }

public:
    // Bytes [offset, offset + bytes) were written, through the buffer or past it (NewFile::CopyIn):
    // they count toward the next StartWritingOut alike, and may be read back.
    void Written(std::uint64_t offset, std::uint64_t bytes) {
        file_.WroteAt(offset, bytes);
        unstarted_ += bytes;
        if (unstarted_ >= kWriteOutStep) {
            StartWritingOut(handle_);
            unstarted_ = 0;
        }
    }

private:
    NewFile& file_;
    std::intptr_t handle_;
    std::size_t capacity_ = BlockSizeFor(UINT64_MAX);
    std::unique_ptr<char[]> bytes_;
    std::uint64_t position_ = 0;  // file offset of the buffer's first byte
    bool failed_ = false;
    std::uint64_t unstarted_ = 0;  // bytes written since the last StartWritingOut
};

}  // namespace veldmoor
