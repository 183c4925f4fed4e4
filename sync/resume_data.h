// What a broken transfer of a large file leaves for the next run: the new version as far as it
// was written, under resumePathOf(its local path), followed by a record of the version it
// belongs to (listed time, size, CRC-32) and of the stretches it holds. The next run takes
// those stretches from it as from a second local copy, so a connection lost at 90% of a large
// file does not start it over; the rebuilt file is still checked whole before it is moved into
// place.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "sync/chunk_index.h"

namespace veldmoor {

// A file of which less than this was received is fetched afresh next time.
inline constexpr std::uint32_t kResumeMinimumBytes = 1024 * 1024;

// The name of the resume data of the file at `localPath`; the file list may not name it
// together with that file (fileListProblem).
std::string resumePathOf(const std::string& localPath);

struct ResumeRecord {
    std::int64_t time = 0;  // the listed time of the version
    std::uint32_t size = 0;
    std::uint32_t crc = 0;
    // Stretches of the version the data holds at their own offsets (targetOffset, length), in
    // target order, not overlapping.
    std::vector<Piece> held;
};

// Writes `record` behind the version's bytes: `out` is positioned at record.size first.
bool writeResumeRecord(std::ostream& out, const ResumeRecord& record);
// The record at the end of the file at `path`; nothing when there is none or it does not
// describe the file it ends.
std::optional<ResumeRecord> readResumeRecord(const std::string& path);

// The stretches of `held` that hold whole blocks of `blocks` (the chunk index's entries, in
// target order) whose bytes in the resume data at `path` match the block's CRC-32, merged where
// they touch: a block damaged on the drive, or only partly held, is fetched again rather than
// failing the whole file's check. Reads each held block once.
std::vector<Piece> checkedHeld(const std::string& path, const std::vector<Piece>& held,
                               const std::vector<Piece>& blocks);

// Turns what the download pieces of `plan` that `held` covers into pieces taken from the
// resume data (kPieceResume, at their own offsets).
void takeFromResume(BlockPlan& plan, const std::vector<Piece>& held);

}  // namespace veldmoor
