#include "profiles/profile_xml.h"

#include <string_view>

#include "profiles/legacy_text.h"
#include "system/path.h"

namespace veldmoor {
namespace {

std::string_view NameOf(const rapidxml::xml_base<char>& item) {
    return {item.name(), item.name_size()};
}

std::string_view ValueOf(const rapidxml::xml_base<char>& item) {
    return {item.value(), item.value_size()};
}

// The text of the last attribute called name (compared without case), or nullptr.
const rapidxml::xml_attribute<char>* LastAttribute(const rapidxml::xml_node<char>& element,
                                                   std::string_view name) {
    const rapidxml::xml_attribute<char>* found = nullptr;
    for (auto* attribute = element.first_attribute(); attribute != nullptr;
         attribute = attribute->next_attribute()) {
        if (EqualsNoCase(NameOf(*attribute), name)) {
            found = attribute;
        }
    }
    return found;
}

template <std::size_t Limit>
void ReadText(const rapidxml::xml_node<char>& element, BoundedString<Limit>& field) {
    if (const auto* value = LastAttribute(element, "value")) {
        field = LegacyTextToUtf8(ValueOf(*value));
    }
}

void ReadFlag(const rapidxml::xml_node<char>& element, bool& flag) {
    if (const auto* enabled = LastAttribute(element, "enabled")) {
        const std::string_view text = ValueOf(*enabled);
        flag = EqualsNoCase(text, "true") || text == "1" || EqualsNoCase(text, "on");
    }
}

void AppendTextLine(std::string& out, std::string_view element, std::string_view value) {
    out.append("\t\t<").append(element).append(" value=\"");
    out.append(EscapeAttribute(value)).append("\" />\r\n");
}

void AppendFlagLine(std::string& out, std::string_view element, bool flag) {
    out.append("\t\t<").append(element).append(" enabled=\"");
    out.append(flag ? "true" : "false").append("\" />\r\n");
}

}  // namespace

void ReadXml(const rapidxml::xml_node<char>& profile, PatchContext& context) {
    for (auto* child = profile.first_node(); child != nullptr; child = child->next_sibling()) {
        if (child->type() != rapidxml::node_element) {
            continue;
        }
        const std::string_view name = NameOf(*child);
        if (EqualsNoCase(name, "Name")) {
            ReadText(*child, context.Name);
        } else if (EqualsNoCase(name, "PatchPath")) {
            ReadText(*child, context.PatchPath);
        } else if (EqualsNoCase(name, "RepoPath")) {
            ReadText(*child, context.RepoPath);
        } else if (EqualsNoCase(name, "ExecuteAfterPatch")) {
            ReadText(*child, context.ExecuteAfterPatch);
        } else if (EqualsNoCase(name, "AutoPatch")) {
            ReadFlag(*child, context.AutoPatch);
        } else if (EqualsNoCase(name, "SetRegistryPath")) {
            ReadFlag(*child, context.SetRegistryPath);
        }
    }
}

void WriteXml(const PatchContext& context, std::string& out) {
    AppendTextLine(out, "Name", context.Name);
    AppendTextLine(out, "PatchPath", context.PatchPath);
    AppendTextLine(out, "RepoPath", context.RepoPath);
    AppendTextLine(out, "ExecuteAfterPatch", context.ExecuteAfterPatch);
    AppendFlagLine(out, "AutoPatch", context.AutoPatch);
    AppendFlagLine(out, "SetRegistryPath", context.SetRegistryPath);
}

std::string EscapeAttribute(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                out.append("&amp;");
                break;
            case '<':
                out.append("&lt;");
                break;
            case '"':
                out.append("&quot;");
                break;
            default:
                out.push_back(c);
        }
    }
    return out;
}

}  // namespace veldmoor
