// The file list's sums: the size and CRC-32 of every listed file, served beside the file list
// as "filelist.sums" and written by the publisher with it. A file with no local copy needs
// nothing else from its chunk index (a plan without local blocks is the whole file, checked by
// these two), so a fresh installation costs one request a file instead of two. The document is
// an addition: a repository without it, or with one that cannot be read, is patched through
// the chunk indexes as before.
//
// Text, one line each, "\n" ending every line:
//   veldmoor file sums 1
//   <listed time> <size> <CRC-32, 8 hex digits> <repository path>
// The time binds a line to the list: a line whose time is not the listed one (a list published
// since) is not used.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace veldmoor {

inline constexpr std::string_view kFileSumsHeader = "veldmoor file sums 1";
// Most bytes the document may take on the wire: a line is longer than the list's entry by its
// size and CRC-32, never twice as long.
inline constexpr std::uint64_t kMaxFileSumsBytes = 8 * 1024 * 1024;

struct FileSum {
    std::uint32_t size = 0;
    std::uint32_t crc = 0;
};

// One line of the document, "\n" included.
std::string formatFileSumLine(std::int64_t time, std::uint32_t size, std::uint32_t crc,
                              std::string_view repoPath);

// Reads the document block by block as it arrives and keeps the lines `wanted` accepts (the
// listed files, with their listed times), so that what it holds is bounded by the list. The
// whole document is refused at the first line that is not a sum (a missing header, a field out
// of range, a path given twice, a line longer than any path allows): a server's error page or a
// damaged document then changes nothing.
class FileSumsReader {
public:
    using Wanted = std::function<bool(std::string_view repoPath, std::int64_t time)>;
    explicit FileSumsReader(Wanted wanted) : wanted_(std::move(wanted)) {}

    // Begins anew (a retried transfer).
    void restart();
    // False once the document is refused.
    bool feed(const char* data, std::size_t size);
    // False when the document was refused or did not end with a whole line.
    bool finish() const { return !refused_ && headerSeen_ && line_.empty(); }
    // Only after finish() held.
    const std::unordered_map<std::string, FileSum>& sums() const { return sums_; }

private:
    bool takeLine(std::string_view line);
    bool refuse();

    Wanted wanted_;
    std::string line_;  // the line not yet ended
    bool headerSeen_ = false;
    bool refused_ = false;
    std::unordered_map<std::string, FileSum> sums_;
};

}  // namespace veldmoor
