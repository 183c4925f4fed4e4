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
        // The line without its one line-end CR: it stands in the text followed by LF, CR LF or
        // the end.
        const std::size_t at = text.find(path + '\n');
        const std::size_t atCr = text.find(path + "\r\n");
        FUZZ_CHECK(at != std::string::npos || atCr != std::string::npos || text.ends_with(path));
    }
    return 0;
}
