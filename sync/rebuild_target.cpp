#include "sync/rebuild_target.h"

#include <iterator>

#include "sync/crc32.h"

namespace veldmoor {

void ReadBackCheck::restart() {
    stretches_.clear();
    found_ = ContentDigest{};
    sha_.reset();
    if (takesSha_) {
        sha_.emplace();
    }
}

void ReadBackCheck::follow(NewFile& file) {
    file.ReadBackWhileWriting(
        [this](std::uint64_t offset, const char* data, std::size_t length) {
            take(offset, data, length);
        },
        takesSha_ ? NewFile::ReadOrder::InOrder : NewFile::ReadOrder::AnyOrder);
}

void ReadBackCheck::take(std::uint64_t offset, const char* data, std::size_t length) {
    found_.size += length;
    if (sha_) {
        sha_->update(data, length);
    }
    if (!takesCrc_) {
        return;
    }
    Stretch read{offset + length, crc32Update(0, data, length)};
    auto next = stretches_.lower_bound(offset);
    if (next != stretches_.begin() && std::prev(next)->second.end == offset) {
        Stretch& before = std::prev(next)->second;
        before.crc = crc32Combine(before.crc, read.crc, length);
        before.end = read.end;
    } else {
        next = stretches_.emplace_hint(next, offset, read);
        ++next;
    }
    // `next` follows the stretch that now holds the bytes read.
    if (next != stretches_.end() && next->first == read.end) {
        Stretch& joined = std::prev(next)->second;
        joined.crc = crc32Combine(joined.crc, next->second.crc, next->second.end - next->first);
        joined.end = next->second.end;
        stretches_.erase(next);
    }
}

std::optional<std::uint32_t> ReadBackCheck::crc() const {
    if (stretches_.empty()) {
        return found_.size == 0 ? std::optional<std::uint32_t>(0) : std::nullopt;
    }
    if (stretches_.size() != 1 || stretches_.begin()->first != 0) {
        return std::nullopt;
    }
    return stretches_.begin()->second.crc;
}

ContentDigest ReadBackCheck::digest() {
    if (sha_) {
        found_.sha256 = sha_->finish();
    }
    return found_;
}

}  // namespace veldmoor
