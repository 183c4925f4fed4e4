// The older launchers' binary contexts file, and the profiles.xml its import writes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "profiles/legacy_contexts.h"
#include "profiles/patch_context_list.h"

using namespace veldmoor;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const LegacyContexts parsed = ParseLegacyContexts(bytes);
    FUZZ_CHECK(parsed.profiles.size() <= static_cast<std::size_t>(kLegacyContextMaxCount));
    FUZZ_CHECK(parsed.profiles.size() * kLegacyContextRecordSize <= size);

    // The import saves what it read as profiles.xml; reading that back must give the same.
    PatchContextList list;
    for (const PatchContext& context : parsed.profiles) {
        list.Add(context);
    }
    list.SetLastSelected(parsed.lastSelected);
    PatchContextList again;
    const auto selected = again.LoadFromText(list.ToXml());
    FUZZ_CHECK(again.Count() == list.Count());
    FUZZ_CHECK(selected.has_value() == (list.Count() > 0));
    for (std::size_t i = 0; i < list.Count(); ++i) {
        FUZZ_CHECK(*again.At(i) == *list.At(i));
    }
    return 0;
}
