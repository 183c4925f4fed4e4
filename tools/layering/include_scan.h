// Finds every header a C++ source names, as the preprocessor would see it: after joining
// lines ended by a backslash and with comments and string literals out of the way, a line that
// begins with '#' or "%:" (whatever stands between them and "include") is a directive, and
// __has_include in any directive names a header too. Nothing is skipped for a condition: a
// header named in a branch that is never compiled still counts.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace veldmoor::layering {

struct IncludedHeader {
    std::size_t line = 0;  // where the directive begins, from 1
    // The header as written with its delimiters ("sync/http.h" or <curl/curl.h>); empty when
    // the directive names no header directly (a macro).
    std::string header;
    std::string directive;  // the directive's text, comments left out, for messages
};

std::vector<IncludedHeader> FindIncludedHeaders(std::string_view source);

}  // namespace veldmoor::layering
