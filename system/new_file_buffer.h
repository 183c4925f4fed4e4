// NewFile's write buffer, the same on every system; only the positioned write and the size
// query below differ, and each system's new_file.cpp implements them on its handle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <streambuf>
#include <vector>

#include "system/new_file.h"

namespace veldmoor {

// Writes all of `data` at `offset`; false with the system's error number when it cannot.
bool WriteAllAt(std::intptr_t handle, const char* data, std::size_t size, std::uint64_t offset,
                int& error);
// The file's size; false when it cannot be read.
bool SizeOfOpenFile(std::intptr_t handle, std::uint64_t& size);

// Positioned writes through a buffer: a seek writes out what is buffered and moves the
// position, so the range receiver's scattered writes each cost one write per run of bytes.
class NewFile::Buffer : public std::streambuf {
public:
    Buffer(NewFile& file, std::intptr_t handle) : file_(file), handle_(handle), bytes_(128 * 1024) {
        setp(bytes_.data(), bytes_.data() + bytes_.size());
    }

    bool WriteOut() {
        const auto pending = static_cast<std::size_t>(pptr() - pbase());
        if (pending == 0) {
            return !failed_;
        }
        int error = 0;
        if (!failed_ && !WriteAllAt(handle_, pbase(), pending, position_, error)) {
            failed_ = true;
            file_.Note(error, "cannot write");
        }
        position_ += pending;
        setp(bytes_.data(), bytes_.data() + bytes_.size());
        return !failed_;
    }

protected:
    int_type overflow(int_type c) override {
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
        if (size < static_cast<std::streamsize>(bytes_.size())) {
            return std::streambuf::xsputn(data, size);
        }
        if (!WriteOut()) {
            return 0;
        }
        int error = 0;
        if (!WriteAllAt(handle_, data, static_cast<std::size_t>(size), position_, error)) {
            failed_ = true;
            file_.Note(error, "cannot write");
            return 0;
        }
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
            std::uint64_t size = 0;
            if (!SizeOfOpenFile(handle_, size)) {
                return pos_type(off_type(-1));
            }
            target += static_cast<off_type>(size);
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

private:
    NewFile& file_;
    std::intptr_t handle_;
    std::vector<char> bytes_;
    std::uint64_t position_ = 0;  // file offset of the buffer's first byte
    bool failed_ = false;
};

}  // namespace veldmoor
