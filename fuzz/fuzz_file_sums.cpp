// The file list's sums as any server could send them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "sync/file_sums.h"

using namespace veldmoor;

namespace {

// Paths of a short name listed at an even time.
bool Wanted(std::string_view path, std::int64_t time) {
    return path.size() < 4 && time % 2 == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    FileSumsReader whole(Wanted);
    whole.feed(text, size);
    // The same document in two blocks, split where its first byte says.
    FileSumsReader split(Wanted);
    const std::size_t at = size == 0 ? 0 : data[0] % size;
    if (split.feed(text, at)) {
        split.feed(text + at, size - at);
    }
    FUZZ_CHECK(whole.finish() == split.finish());
    if (whole.finish()) {
        FUZZ_CHECK(whole.sums().size() == split.sums().size());
        for (const auto& [path, sum] : whole.sums()) {
            FUZZ_CHECK(path.size() < 4 && !path.empty());
            const auto found = split.sums().find(path);
            FUZZ_CHECK(found != split.sums().end() && found->second.size == sum.size &&
                       found->second.crc == sum.crc);
        }
    }
    return 0;
}
