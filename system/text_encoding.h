// Conversion between the program's narrow text, which is UTF-8 on every system, and wide
// strings (UTF-16 on Windows, UTF-32 on Linux): every Windows call takes its text through here,
// as do command-line arguments, which arrive wide.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace veldmoor {

// Bytes that are not valid UTF-8 become U+FFFD.
std::wstring WidenText(std::string_view text);
// Characters that cannot be encoded (lone surrogates, values beyond U+10FFFF) become U+FFFD.
std::string NarrowText(std::wstring_view text);

// A path for std::filesystem and the file streams from UTF-8 text, and back. Windows would read
// a narrow string in its ANSI code page, so no narrow path reaches them without this.
std::filesystem::path PathFromUtf8(std::string_view text);
std::string Utf8FromPath(const std::filesystem::path& path);

}  // namespace veldmoor
