#include "profiles/patch_context_list.h"

#include <rapidxml/rapidxml.hpp>

#include <algorithm>
#include <cctype>
#include <climits>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>
#include <utility>

#include "profiles/legacy_contexts.h"
#include "profiles/profile_xml.h"
#include "system/atomic_file.h"
#include "system/path.h"
#include "system/text_encoding.h"

namespace veldmoor {
namespace {

std::optional<std::string> ReadWholeFile(const std::string& path) {
    std::ifstream file(PathFromUtf8(path), std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad()) {
        return std::nullopt;
    }
    return bytes;
}

// Base-10 like the C library's atoi: leading white space and a sign are accepted, reading stops
// at the first non-digit, no digits give 0. Out-of-range values saturate instead of overflowing.
std::int32_t ParseDecimal(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])) != 0) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) {
            value = static_cast<long long>(INT_MAX) + 1;
        }
    }
    if (negative) {
        return static_cast<std::int32_t>(-value);
    }
    return static_cast<std::int32_t>(value > INT_MAX ? INT_MAX : value);
}

std::string_view NameOf(const rapidxml::xml_base<char>& item) {
    return {item.name(), item.name_size()};
}

// The profile file nests three levels deep. The parser descends once per nested element, so a
// damaged or hostile file nesting hundreds of thousands of levels would run the start-up out of
// stack; such a file counts as malformed.
constexpr std::size_t kMaxElementNesting = 256;

bool IsXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// How deep elements nest, never less than the parser descends. Opening tags are read as the
// parser reads them (a name, then name="value" pairs, then '>' or "/>"); comments, declarations,
// instructions and CDATA sections are skipped only up to their first '>', which the parser
// always passes too. Where the parser would stop with an error, counting stops as well.
std::size_t ElementNesting(std::string_view text) {
    text = text.substr(0, text.find('\0'));  // the parser ends at the first NUL
    const auto isNameEnd = [](char c) { return IsXmlSpace(c) || c == '/' || c == '>' || c == '?'; };
    const auto isAttributeNameChar = [](char c) {
        return !IsXmlSpace(c) && std::string_view("!\"'/<=>?").find(c) == std::string_view::npos;
    };
    const std::size_t end = text.size();
    std::size_t depth = 0;
    std::size_t deepest = 0;
    std::size_t i = 0;
    while ((i = text.find('<', i)) != std::string_view::npos) {
        ++i;
        const char kind = i < end ? text[i] : '\0';
        if (kind == '/' || kind == '!' || kind == '?') {
            if (kind == '/' && depth > 0) {
                --depth;
            }
            i = text.find('>', i);
            if (i == std::string_view::npos) {
                break;
            }
            continue;
        }
        deepest = std::max(deepest, ++depth);
        while (i < end && !isNameEnd(text[i])) {
            ++i;
        }
        for (;;) {
            while (i < end && IsXmlSpace(text[i])) {
                ++i;
            }
            if (i >= end || !isAttributeNameChar(text[i])) {
                break;
            }
            while (i < end && isAttributeNameChar(text[i])) {
                ++i;
            }
            while (i < end && IsXmlSpace(text[i])) {
                ++i;
            }
            if (i >= end || text[i] != '=') {
                return deepest;
            }
            ++i;
            while (i < end && IsXmlSpace(text[i])) {
                ++i;
            }
            if (i >= end || (text[i] != '"' && text[i] != '\'')) {
                return deepest;
            }
            i = text.find(text[i], i + 1);
            if (i == std::string_view::npos) {
                return deepest;
            }
            ++i;
        }
        if (i < end && text[i] == '>') {
            ++i;
        } else if (i + 1 < end && text[i] == '/' && text[i + 1] == '>') {
            --depth;
            i += 2;
        } else {
            return deepest;
        }
    }
    return deepest;
}

}  // namespace

PatchContextList::PatchContextList(std::string folder) : folder_(std::move(folder)) {}

std::string PatchContextList::ProfilesFilePath() const {
    return folder_.empty() ? std::string(kProfilesFileName)
                           : AppendPathComponent(folder_, kProfilesFileName);
}

std::string PatchContextList::ContextsFilePath() const {
    return folder_.empty() ? std::string(kLegacyContextsFileName)
                           : AppendPathComponent(folder_, kLegacyContextsFileName);
}

ContextsImport PatchContextList::ImportContexts() {
    std::error_code ignored;
    if (std::filesystem::exists(PathFromUtf8(ProfilesFilePath()), ignored)) {
        return {};
    }
    const std::optional<std::string> bytes = ReadWholeFile(ContextsFilePath());
    if (!bytes) {
        return {};
    }
    LegacyContexts imported = ParseLegacyContexts(*bytes);
    for (PatchContext& context : imported.profiles) {
        profiles_.push_back(std::move(context));
    }
    lastSelected_ = imported.lastSelected;
    // Clamped before saving, so the new file holds an index that names a profile.
    const std::optional<std::size_t> selected = ClampLastSelected();
    return {selected, Save()};
}

std::optional<std::size_t> PatchContextList::Load() {
    std::optional<std::string> bytes = ReadWholeFile(ProfilesFilePath());
    if (!bytes) {
        return std::nullopt;
    }
    return LoadFromText(std::move(*bytes));
}

std::optional<std::size_t> PatchContextList::LoadFromText(std::string bytes) {
    if (ElementNesting(bytes) > kMaxElementNesting) {
        return std::nullopt;
    }
    std::vector<PatchContext> loaded;
    std::uint32_t lastSelected = lastSelected_;
    try {
        rapidxml::xml_document<char> document;
        document.parse<rapidxml::parse_default>(bytes.data());  // string keeps its NUL
        for (auto* node = document.first_node(); node != nullptr; node = node->next_sibling()) {
            if (node->type() != rapidxml::node_element) {
                continue;
            }
            if (EqualsNoCase(NameOf(*node), "LastSelected")) {
                for (auto* attribute = node->first_attribute(); attribute != nullptr;
                     attribute = attribute->next_attribute()) {
                    if (EqualsNoCase(NameOf(*attribute), "value")) {
                        lastSelected = static_cast<std::uint32_t>(ParseDecimal(
                            std::string_view(attribute->value(), attribute->value_size())));
                    }
                }
            } else if (EqualsNoCase(NameOf(*node), "Profiles")) {
                for (auto* child = node->first_node(); child != nullptr;
                     child = child->next_sibling()) {
                    if (child->type() == rapidxml::node_element &&
                        EqualsNoCase(NameOf(*child), "Profile")) {
                        PatchContext context;
                        ReadXml(*child, context);
                        loaded.push_back(std::move(context));
                    }
                }
            }
        }
    } catch (const rapidxml::parse_error&) {
        return std::nullopt;
    }
    profiles_.insert(profiles_.end(), loaded.begin(), loaded.end());
    lastSelected_ = lastSelected;
    return ClampLastSelected();
}

std::string PatchContextList::ToXml() const {
    std::string out;
    out.append("<LastSelected value=\"")
        .append(std::to_string(static_cast<std::int32_t>(lastSelected_)))
        .append("\" />\r\n");
    out.append("<Profiles>\r\n");
    for (const PatchContext& context : profiles_) {
        out.append("\t<Profile>\r\n");
        WriteXml(context, out);
        out.append("\t</Profile>\r\n");
    }
    out.append("</Profiles>\r\n");
    return out;
}

Status PatchContextList::Save() {
    return ReplaceFileAtomically(ProfilesFilePath(), ToXml());
}

void PatchContextList::Add(const PatchContext& context) {
    profiles_.push_back(context);
}

void PatchContextList::Remove(std::size_t index) {
    if (index < profiles_.size()) {
        profiles_.erase(profiles_.begin() + static_cast<std::ptrdiff_t>(index));
    }
}

PatchContext* PatchContextList::At(std::size_t index) {
    return index < profiles_.size() ? &profiles_[index] : nullptr;
}

const PatchContext* PatchContextList::At(std::size_t index) const {
    return index < profiles_.size() ? &profiles_[index] : nullptr;
}

std::optional<std::size_t> PatchContextList::ClampLastSelected() {
    if (lastSelected_ >= profiles_.size()) {
        lastSelected_ = 0;
    }
    if (profiles_.empty()) {
        return std::nullopt;
    }
    return lastSelected_;
}

}  // namespace veldmoor
