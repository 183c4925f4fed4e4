#include "profiles/legacy_contexts.h"

#include "profiles/legacy_text.h"

namespace veldmoor {
namespace {

std::uint32_t ReadLittleEndian32(std::string_view bytes, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[offset + i]))
                 << (8 * i);
    }
    return value;
}

// A NUL-terminated text in a fixed array; without a NUL, the whole array but its last byte.
std::string_view FixedText(std::string_view record, std::size_t offset, std::size_t size) {
    std::string_view field = record.substr(offset, size);
    const std::size_t end = field.find('\0');
    return field.substr(0, end == std::string_view::npos ? size - 1 : end);
}

PatchContext ReadRecord(std::string_view record) {
    PatchContext context;
    context.Name = LegacyTextToUtf8(FixedText(record, 0, 256));
    context.PatchPath = LegacyTextToUtf8(FixedText(record, 256, 260));
    context.RepoPath = LegacyTextToUtf8(FixedText(record, 516, 260));
    context.ExecuteAfterPatch = LegacyTextToUtf8(FixedText(record, 776, 260));
    context.AutoPatch = ReadLittleEndian32(record, 1036) != 0;
    context.SetRegistryPath = ReadLittleEndian32(record, 1044) != 0;
    return context;
}

}  // namespace

LegacyContexts ParseLegacyContexts(std::string_view bytes) {
    LegacyContexts result;
    if (bytes.size() < 8) {
        return result;
    }
    const auto count = static_cast<std::int32_t>(ReadLittleEndian32(bytes, 0));
    result.lastSelected = ReadLittleEndian32(bytes, 4);
    if (count < 1 || count > kLegacyContextMaxCount) {
        return result;
    }
    std::string_view records = bytes.substr(8);
    for (std::int32_t i = 0; i < count && records.size() >= kLegacyContextRecordSize; ++i) {
        result.profiles.push_back(ReadRecord(records.substr(0, kLegacyContextRecordSize)));
        records.remove_prefix(kLegacyContextRecordSize);
    }
    return result;
}

}  // namespace veldmoor
