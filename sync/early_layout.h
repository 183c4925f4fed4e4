// Writing the local copy's blocks into a large file's new version while the matcher finds them,
// so that the drive starts on the new file during the scan rather than after the plan is made,
// and the blocks are written from the bytes the scan has just read rather than read again.
//
// Nothing is written while every block found lies at its own offset, one after the other from
// the start: the local copy may still prove current, and then nothing is to be written at all.
// The first block found elsewhere shows that it differs; the blocks found until then are copied
// in one run, and every later one is written as it is found.
#pragma once

#include <cstdint>
#include <memory>

#include "sync/chunk_index.h"
#include "sync/rebuild_target.h"
#include "sync/remote_file.h"
#include "system/new_file.h"

namespace veldmoor {

// A local copy smaller than this is laid out after its plan: its scan is short. (A large one
// laid out after its plan lets its cached pages go on the side, FileRebuild::layOut.)
inline constexpr std::uint32_t kEarlyLayoutMinimum = 8U << 20U;

class EarlyLayout {
public:
    // `takesSha`: the file is signed, and its check takes the SHA-256 too.
    EarlyLayout(const RemoteFile& file, std::uint32_t targetSize, bool takesSha);

    // The matcher's sink (MatchSink).
    void take(const Piece& piece, const unsigned char* bytes);

    // The temporary file holding every piece taken, for FileRebuild; empty when nothing was
    // written. A file that could not be made is left to FileRebuild, which tells why.
    RebuildTarget release();

private:
    // Makes the temporary file and copies the blocks found in place so far.
    void begin();

    const RemoteFile& file_;
    std::uint32_t targetSize_;
    bool takesSha_;
    std::uint64_t inPlaceEnd_ = 0;  // the blocks found so far lie at [0, inPlaceEnd_)
    bool givenUp_ = false;
    RebuildTarget target_;
    std::unique_ptr<ReadOnlyFile> local_;
    std::uint64_t position_ = 0;  // where the stream writes next
};

}  // namespace veldmoor
