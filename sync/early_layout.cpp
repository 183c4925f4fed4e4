#include "sync/early_layout.h"

#include <ostream>

#include "sync/patch_exception.h"
#include "sync/patch_file.h"

namespace veldmoor {

EarlyLayout::EarlyLayout(const RemoteFile& file, std::uint32_t targetSize, bool takesSha)
    : file_(file), targetSize_(targetSize), takesSha_(takesSha) {}

void EarlyLayout::take(const Piece& piece, const unsigned char* bytes) {
    if (givenUp_) {
        return;
    }
    if (!target_) {
        if (piece.sourceOffset == inPlaceEnd_ && piece.targetOffset == inPlaceEnd_) {
            inPlaceEnd_ += piece.length;
            return;
        }
        begin();
        if (givenUp_) {
            return;
        }
    }
    if (piece.targetOffset != position_) {
        target_.file->Stream().seekp(static_cast<std::streamoff>(piece.targetOffset));
    }
    target_.file->Stream().write(reinterpret_cast<const char*>(bytes), piece.length);
    position_ = std::uint64_t{piece.targetOffset} + piece.length;
}

void EarlyLayout::begin() {
    try {
        target_ = createRebuildTarget(file_, targetSize_, true, takesSha_);
    } catch (const PatchException&) {
        givenUp_ = true;
        return;
    }
    local_ = ReadOnlyFile::Open(file_.localPath);
    if (inPlaceEnd_ > 0 &&
        (!local_ || target_.file->CopyIn(*local_, 0, 0, inPlaceEnd_) < inPlaceEnd_)) {
        // The local copy changed under the scan: the plan's layout copies and the check tells.
        target_ = RebuildTarget{};
        givenUp_ = true;
        return;
    }
    position_ = inPlaceEnd_;
    target_.file->Stream().seekp(static_cast<std::streamoff>(position_));
}

RebuildTarget EarlyLayout::release() {
    if (target_) {
        static_cast<void>(target_.file->Flush());  // a failed write is the rebuild's to tell
    }
    if (local_) {
        local_->DropCachedPages();  // not read again
    }
    return std::move(target_);
}

}  // namespace veldmoor
