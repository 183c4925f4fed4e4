// Conversion between the system's narrow encoding (UTF-8 on Linux, the ANSI code page on
// Windows) and wide strings, as command-line arguments arrive wide while paths are narrow.
#pragma once

#include <string>
#include <string_view>

namespace veldmoor {

// Bytes that are not valid in the narrow encoding become U+FFFD.
std::wstring WidenText(std::string_view text);
// Characters that cannot be encoded (lone surrogates, values beyond U+10FFFF) become '?'.
std::string NarrowText(std::wstring_view text);

}  // namespace veldmoor
