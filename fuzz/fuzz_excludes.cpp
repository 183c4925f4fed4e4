// excludes.txt: one repository path per line.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "fuzz/fuzz_check.h"
#include "patch/patch_run.h"

using namespace veldmoor;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::istringstream list(text);
    const auto excluded = ParseExclusionList(list);
    std::size_t lines = 0;
    for (const char c : text) {
        lines += c == '\n' ? 1 : 0;
    }
    FUZZ_CHECK(excluded.size() <= lines + 1);
    for (const std::string& path : excluded) {
        FUZZ_CHECK(!path.empty());
        FUZZ_CHECK(path.find('\n') == std::string::npos);
        // The line without its one line-end CR: followed by LF or CR LF once the last line is
        // given its line end.
        const std::string ended = text + '\n';
        FUZZ_CHECK(ended.find(path + '\n') != std::string::npos ||
                   ended.find(path + "\r\n") != std::string::npos);
    }
    return 0;
}
