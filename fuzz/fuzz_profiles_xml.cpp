// profiles.xml as a damaged disk or another program could leave it. What was read must come
// back the same after being written and read again.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.h"
#include "profiles/patch_context_list.h"

using namespace veldmoor;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    PatchContextList list;
    const auto selected = list.LoadFromText(std::string(reinterpret_cast<const char*>(data), size));
    if (!selected) {
        return 0;
    }
    FUZZ_CHECK(*selected < list.Count());
    FUZZ_CHECK(list.LastSelected() == *selected);

    const std::string written = list.ToXml();
    PatchContextList again;
    const auto selectedAgain = again.LoadFromText(written);
    FUZZ_CHECK(selectedAgain == selected);
    FUZZ_CHECK(again.Count() == list.Count());
    for (std::size_t i = 0; i < list.Count(); ++i) {
        FUZZ_CHECK(*again.At(i) == *list.At(i));
    }
    FUZZ_CHECK(again.ToXml() == written);
    return 0;
}
