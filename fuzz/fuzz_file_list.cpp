// The repository's file list as any server could send it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "sync/file_list.h"
#include "sync/patch_exception.h"

using namespace veldmoor;

namespace {

constexpr std::string_view kInstall = "/inst";

bool HasDotDotSegment(std::string_view path) {
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find_first_of("/\\", start);
        if (end == std::string_view::npos)
            end = path.size();
        if (path.substr(start, end - start) == "..")
            return true;
        start = end + 1;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    const auto entries = findFileListEntries(body);
    for (const FileListEntryText& entry : entries) {
        // Both views point into the body.
        FUZZ_CHECK(entry.path.data() >= body.data() &&
                   entry.path.data() + entry.path.size() <= body.data() + body.size());
        FUZZ_CHECK(!entry.time.empty());
        FUZZ_CHECK(entry.time.find_first_not_of("0123456789") == std::string_view::npos);
        if (isSafeRepoPath(entry.path)) {
            FUZZ_CHECK(!entry.path.empty());
            FUZZ_CHECK(entry.path.front() != '/' && entry.path.front() != '\\');
            FUZZ_CHECK(entry.path.find('\0') == std::string_view::npos);
            FUZZ_CHECK(!HasDotDotSegment(entry.path));
        }
    }
    try {
        const auto files = parseFileList(body, std::string(kInstall));
        FUZZ_CHECK(files.size() == entries.size());
        for (std::size_t i = 0; i < files.size(); ++i) {
            FUZZ_CHECK(files[i].repoPath == entries[i].path);
            FUZZ_CHECK(files[i].localPath.starts_with(std::string(kInstall) + "/"));
            FUZZ_CHECK(files[i].time >= INT32_MIN && files[i].time <= INT32_MAX);
        }
    } catch (const PatchException& e) {
        FUZZ_CHECK(e.category == 2);
    }
    return 0;
}
