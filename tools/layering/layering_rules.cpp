#include "tools/layering/layering_rules.h"

#include <sstream>
#include <utility>

#include "tools/layering/include_scan.h"

namespace veldmoor::layering {
namespace {

std::vector<std::string> Words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    return words;
}

// The rules file's lines with their continuations joined and comments removed, each with the
// line it begins on.
std::vector<std::pair<std::size_t, std::string>> Statements(std::string_view text) {
    std::vector<std::pair<std::size_t, std::string>> statements;
    std::istringstream in{std::string(text)};
    std::size_t number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        line = line.substr(0, line.find('#'));
        if (line.find_first_not_of(" \t\r") == std::string::npos) {
            continue;
        }
        if ((line[0] == ' ' || line[0] == '\t') && !statements.empty()) {
            statements.back().second += " " + line;
        } else {
            statements.emplace_back(number, line);
        }
    }
    return statements;
}

const std::vector<std::string> kNone;

bool IsHeader(const std::string& word) {
    return word.size() > 2 && ((word.front() == '"' && word.back() == '"') ||
                               (word.front() == '<' && word.back() == '>'));
}

}  // namespace

bool MatchesPattern(std::string_view pattern, std::string_view text) {
    if (pattern.empty()) {
        return text.empty();
    }
    if (pattern.front() == '*') {
        for (std::size_t skip = 0; skip <= text.size(); ++skip) {
            if (MatchesPattern(pattern.substr(1), text.substr(skip))) {
                return true;
            }
            if (skip < text.size() && text[skip] == '/') {
                return false;
            }
        }
        return false;
    }
    return !text.empty() && pattern.front() == text.front() &&
           MatchesPattern(pattern.substr(1), text.substr(1));
}

LayeringRules LayeringRules::Parse(std::string_view text, std::string& problem) {
    LayeringRules rules;
    std::map<std::string, std::vector<std::string>> groups;
    const auto fail = [&problem](std::size_t line, const std::string& what) {
        problem = "line " + std::to_string(line) + ": " + what;
        return LayeringRules();
    };
    for (const auto& [line, statement] : Statements(text)) {
        const std::vector<std::string> words = Words(statement);
        if (words[0] == "group" && words.size() >= 2) {
            std::vector<std::string>& members = groups[words[1]];
            for (std::size_t i = 2; i < words.size(); ++i) {
                if (words[i][0] == '@' && groups.count(words[i].substr(1)) != 0) {
                    const auto& other = groups.at(words[i].substr(1));
                    members.insert(members.end(), other.begin(), other.end());
                } else if (IsHeader(words[i])) {
                    members.push_back(words[i]);
                } else {
                    return fail(line, "'" + words[i] + "' is neither a header nor a known group");
                }
            }
        } else if (words[0] == "files") {
            FileRule rule;
            rule.line = line;
            std::size_t i = 1;
            for (; i < words.size() && words[i] != ":"; ++i) {
                if (words[i][0] != '@') {
                    rule.files.push_back(words[i]);
                    continue;
                }
                // A group of headers stands for the files they are.
                const auto group = groups.find(words[i].substr(1));
                if (group == groups.end()) {
                    return fail(line, "no group '" + words[i].substr(1) + "' before this line");
                }
                for (const std::string& header : group->second) {
                    rule.files.push_back(header.substr(1, header.size() - 2));
                }
            }
            if (i == words.size() || rule.files.empty()) {
                return fail(line, "a files line names file patterns, then ':', then headers");
            }
            for (++i; i < words.size(); ++i) {
                if (words[i][0] == '@') {
                    const auto group = groups.find(words[i].substr(1));
                    if (group == groups.end()) {
                        return fail(line, "no group '" + words[i].substr(1) + "' before this line");
                    }
                    rule.allowed.insert(rule.allowed.end(), group->second.begin(),
                                        group->second.end());
                } else if (IsHeader(words[i])) {
                    rule.allowed.push_back(words[i]);
                } else {
                    return fail(line, "'" + words[i] + "' is neither a header nor a group");
                }
            }
            rules.rules_.push_back(std::move(rule));
        } else {
            return fail(line, "expected 'group' or 'files', not '" + words[0] + "'");
        }
    }
    problem.clear();
    return rules;
}

const LayeringRules::FileRule* LayeringRules::RuleFor(const std::string& path) const {
    for (const FileRule& rule : rules_) {
        for (const std::string& pattern : rule.files) {
            if (MatchesPattern(pattern, path)) {
                return &rule;
            }
        }
    }
    return nullptr;
}

bool LayeringRules::Covers(const std::string& path) const {
    return RuleFor(path) != nullptr;
}

std::vector<std::string> LayeringRules::Check(const std::string& path,
                                              std::string_view source) const {
    std::vector<std::string> problems;
    const FileRule* rule = RuleFor(path);
    for (const IncludedHeader& included : FindIncludedHeaders(source)) {
        const std::string where = path + ":" + std::to_string(included.line) + ": ";
        if (included.header.empty()) {
            problems.push_back(where + "'" + included.directive +
                               "' names no header directly; write the header's name");
            continue;
        }
        const auto allows = [rule](const std::string& header) {
            bool allowed = false;
            for (const std::string& pattern : rule != nullptr ? rule->allowed : kNone) {
                allowed = allowed || MatchesPattern(pattern, header);
            }
            return allowed;
        };
        if (allows(included.header)) {
            continue;
        }
        std::string why = rule != nullptr
                              ? " (the files rule on line " + std::to_string(rule->line) + ")"
                              : " (no files rule covers the file)";
        const std::string quoted =
            "\"" + included.header.substr(1, included.header.size() - 2) + "\"";
        if (included.header.front() == '<' && allows(quoted)) {
            why += "; a project header is included as " + quoted;
        }
        std::string problem = where + included.header;
        problem += " is not among the headers this file may include";
        problem += why;
        problems.push_back(std::move(problem));
    }
    return problems;
}

}  // namespace veldmoor::layering
