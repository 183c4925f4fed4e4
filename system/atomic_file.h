// Replacing a file so that a crash, a full disk or a failed write never leaves it half written:
// the new bytes go to a file of their own in the same folder (NewFile::CreateBeside), which is
// forced to the drive and then moved over the target in one step (NewFile::MoveOver). Every
// program of the project replaces its files this way.
#pragma once

#include <string>
#include <string_view>

#include "system/result.h"

namespace veldmoor {

// Writes bytes to path, replacing any previous file in one step. On failure the previous file
// is untouched, no temporary file is left behind, and the message says what went wrong.
// A replaced file keeps its permission bits; a new one gets the defaults (0666 less the umask).
Status ReplaceFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace veldmoor
