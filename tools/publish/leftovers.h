// What an abruptly ended publish leaves behind: the temporary files of its atomic writes
// (tools/publish/atomic_output.h), named after their targets by NewFile::CreateBeside. The
// next publish, holding the repository's lock, removes them; nothing else is touched.
#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace veldmoor {

// Removes every temporary file of an atomic write below `repo`: in transfer/ those whose path
// (relative to transfer/, '/'-separated) is not in `published` (a published file may itself
// carry such a name), and those of the file list and its sums beside them. Returns what it removed,
// as paths relative to `repo`.
std::vector<std::string> RemoveLeftovers(const std::filesystem::path& repo,
                                         const std::set<std::string>& published);

}  // namespace veldmoor
