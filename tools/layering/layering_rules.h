// The allow-lists of the layering check: for each group of files, the headers they may include.
// The rules file (tools/layering/allowed_includes.txt) has lines of two kinds:
//
//   group <name> <header>...           a named list of headers, used as @<name>
//   files <file pattern or @group>... : <header or @group>...
//
// Headers are written as they are included ("sync/http.h", <curl/curl.h>); a '*' stands for
// any part of one path component, so "system/*.h" covers system/path.h but not
// system/win32/win32_support.h. A file (its path from the project root) takes the first
// `files` line one of whose patterns it matches; a file that matches none may include nothing.
// Lines continue while they begin with blanks; '#' begins a comment.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace veldmoor::layering {

class LayeringRules {
public:
    // Reads the rules; an empty `problem` when they could be read, else what is wrong and where.
    static LayeringRules Parse(std::string_view text, std::string& problem);

    // What is wrong with the includes of `source`, found at `path` (from the project root): one
    // message per header the file may not include, naming the file and the line.
    std::vector<std::string> Check(const std::string& path, std::string_view source) const;

    // Whether the rules say anything about `path`.
    bool Covers(const std::string& path) const;

private:
    struct FileRule {
        std::vector<std::string> files;
        std::vector<std::string> allowed;
        std::size_t line = 0;
    };
    const FileRule* RuleFor(const std::string& path) const;

    std::vector<FileRule> rules_;
};

// '*' matches any run of characters other than '/'.
bool MatchesPattern(std::string_view pattern, std::string_view text);

}  // namespace veldmoor::layering
