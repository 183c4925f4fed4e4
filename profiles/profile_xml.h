// One profile in profiles.xml: the six field lines of a Profile element, read and written.
#pragma once

#include <rapidxml/rapidxml.hpp>

#include <string>
#include <string_view>

#include "profiles/patch_context.h"

namespace veldmoor {

// Fills context from the child elements of a Profile element (names compared without case).
// Fields whose element or attribute is missing keep the value context already holds, so callers
// start from a fresh PatchContext: a missing field is empty or off.
void ReadXml(const rapidxml::xml_node<char>& profile, PatchContext& context);

// Appends the six field lines of one profile, tab-indented, CR LF line ends, values escaped
// for a double-quoted attribute.
void WriteXml(const PatchContext& context, std::string& out);

// Escapes '&', '<' and '"' for a double-quoted attribute value; every other byte is kept.
std::string EscapeAttribute(std::string_view text);

}  // namespace veldmoor
