// The publisher's reading of the file list already in the repository, which may have been
// edited by hand or left by another tool. What it writes back must read the same.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "tools/publish/repository_publisher.h"

using namespace veldmoor;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto files = ParseFileList(std::string_view(reinterpret_cast<const char*>(data), size));
    for (const ListedFile& file : files) {
        FUZZ_CHECK(file.time >= 0);
    }
    // Paths holding a quote cannot be written back unchanged; the publisher never lists one.
    for (const ListedFile& file : files) {
        if (file.path.find('"') != std::string::npos)
            return 0;
    }
    const auto again = ParseFileList(FormatFileList(files));
    FUZZ_CHECK(again.size() == files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        FUZZ_CHECK(again[i].path == files[i].path);
        FUZZ_CHECK(again[i].time == files[i].time);
    }
    return 0;
}
