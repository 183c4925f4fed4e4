#include "system/path.h"

#include <algorithm>
#include <cctype>

namespace veldmoor {
namespace {

template <typename Char>
bool IsSlash(Char c) {
    return c == Char('\\') || c == Char('/');
}

template <typename String, typename View, typename Char>
String Append(String path, View component, Char separator) {
    if (path.empty() || !IsSlash(path.back())) {
        path.push_back(separator);
    }
    if (!component.empty() && IsSlash(component.front())) {
        component.remove_prefix(1);
    }
    path.append(component);
    return path;
}

unsigned char Lower(char c) {
    return static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(c)));
}

}  // namespace

std::string AppendPathComponent(std::string path, std::string_view component) {
    return Append(std::move(path), component, kPathSeparator);
}

std::wstring AppendPathComponent(std::wstring path, std::wstring_view component) {
    return Append(std::move(path), component, kWidePathSeparator);
}

std::string FileNameOf(std::string_view path) {
    const auto slash = path.find_last_of("\\/");
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string DirectoryOf(std::string_view path) {
    const auto slash = path.find_last_of("\\/");
    return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash));
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return Lower(x) == Lower(y); });
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace veldmoor
