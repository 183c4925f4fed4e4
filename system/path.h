// Path helpers shared by every layer. Local paths use the platform's separator
// (kPathSeparator); repository paths always keep their forward slashes.
#pragma once

#include <string>
#include <string_view>

namespace veldmoor {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
inline constexpr wchar_t kWidePathSeparator = L'\\';
#else
inline constexpr char kPathSeparator = '/';
inline constexpr wchar_t kWidePathSeparator = L'/';
#endif

// Joins a path and one component with one separator: a separator is added unless the path
// already ends in '\' or '/', and a single leading separator of the component is dropped.
std::string AppendPathComponent(std::string path, std::string_view component);
std::wstring AppendPathComponent(std::wstring path, std::wstring_view component);

// Text after the last separator ('/' or '\'); the whole path when there is none.
std::string FileNameOf(std::string_view path);
// Text before the last separator; empty when there is none.
std::string DirectoryOf(std::string_view path);

// ASCII case-insensitive comparisons, as the launcher compares file names and folders.
bool EqualsNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

}  // namespace veldmoor
