// Profile files written by the Windows launcher hold their texts in the ANSI code page
// (Windows-1252 for the German installations) with no encoding declared; this launcher keeps
// texts in UTF-8. Text that is already valid UTF-8 is taken as it is.
#pragma once

#include <string>
#include <string_view>

namespace veldmoor {

bool IsValidUtf8(std::string_view text);

// The text unchanged when it is valid UTF-8, else read as Windows-1252 and converted.
std::string LegacyTextToUtf8(std::string_view text);

}  // namespace veldmoor
