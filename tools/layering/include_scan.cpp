#include "tools/layering/include_scan.h"

#include <cctype>

namespace veldmoor::layering {
namespace {

bool IsIdentifierChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '$';
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r';
}

// One line as the preprocessor reads it: spliced, comments replaced by a space, the contents of
// raw strings blanked; with the physical line it begins on.
struct LogicalLine {
    std::size_t line = 0;
    std::string text;
};

class Cleaner {
public:
    explicit Cleaner(std::string_view source) : source_(source) {}

    std::vector<LogicalLine> Lines() {
        lines_.push_back({1, {}});
        while (at_ < source_.size()) {
            Step();
        }
        return std::move(lines_);
    }

private:
    // The next character after line splices, or '\0' at the end.
    char Peek(std::size_t ahead = 0) {
        std::size_t at = at_;
        for (;;) {
            SkipSplices(at, nullptr);
            if (at >= source_.size()) {
                return '\0';
            }
            if (ahead == 0) {
                return source_[at];
            }
            --ahead;
            ++at;
        }
    }
    void SkipSplices(std::size_t& at, std::size_t* lines) const {
        while (at < source_.size() && source_[at] == '\\') {
            std::size_t next = at + 1;
            if (next < source_.size() && source_[next] == '\r') {
                ++next;
            }
            if (next >= source_.size() || source_[next] != '\n') {
                return;
            }
            at = next + 1;
            if (lines != nullptr) {
                ++*lines;
            }
        }
    }
    char Take() {
        std::size_t spliced = 0;
        SkipSplices(at_, &spliced);
        physical_ += spliced;
        if (at_ >= source_.size()) {
            return '\0';
        }
        const char c = source_[at_++];
        if (c == '\n') {
            ++physical_;
        }
        return c;
    }
    void Emit(char c) {
        if (c == '\n') {
            lines_.push_back({physical_, {}});
        } else {
            lines_.back().text += c;
        }
    }

    void Step() {
        const char c = Peek();
        if (c == '/' && Peek(1) == '/') {
            while (Peek() != '\n' && Peek() != '\0') {
                Take();
            }
            Emit(' ');
        } else if (c == '/' && Peek(1) == '*') {
            Take();
            Take();
            while (!(Peek() == '*' && Peek(1) == '/') && Peek() != '\0') {
                // A newline inside a comment still ends the physical line; a directive after
                // the comment then begins a line as far as this scan is concerned.
                if (Take() == '\n') {
                    Emit('\n');
                }
            }
            Take();
            Take();
            Emit(' ');
        } else if (c == '"' || c == '\'') {
            Quoted(Take());
        } else if (IsIdentifierChar(c) || (c == '.' && std::isdigit(Peek(1)) != 0)) {
            Word();
        } else {
            Emit(Take());
        }
    }

    // A string or character literal, kept as it is; it ends at its line's end at the latest.
    void Quoted(char quote) {
        Emit(quote);
        while (Peek() != '\0' && Peek() != '\n') {
            const char c = Take();
            Emit(c);
            if (c == '\\' && Peek() != '\0' && Peek() != '\n') {
                Emit(Take());
            } else if (c == quote) {
                return;
            }
        }
    }

    // An identifier or a number (whose digit separators are no character literal); a raw
    // string's prefix starts the raw string.
    void Word() {
        std::string word;
        const bool number = std::isdigit(static_cast<unsigned char>(Peek())) != 0 || Peek() == '.';
        while (IsIdentifierChar(Peek()) || (number && (Peek() == '.' || Peek() == '\'')) ||
               (number && (Peek() == '+' || Peek() == '-') && !word.empty() &&
                (word.back() == 'e' || word.back() == 'E' || word.back() == 'p' ||
                 word.back() == 'P'))) {
            word += Take();
        }
        for (const char c : word) {
            Emit(c);
        }
        if (!number && Peek() == '"' &&
            (word == "R" || word == "u8R" || word == "uR" || word == "UR" || word == "LR")) {
            RawString();
        }
    }

    // R"delimiter( ... )delimiter": its contents are blanked, its newlines kept.
    void RawString() {
        Emit(Take());  // the opening quote; a raw string knows no splices, but they cannot
                       // make a directive inside it either
        std::string delimiter;
        while (Peek() != '(' && Peek() != '\0' && Peek() != '\n' && delimiter.size() < 16) {
            delimiter += Take();
        }
        const std::string end = ")" + delimiter + "\"";
        std::string tail;
        while (Peek() != '\0') {
            const char c = Take();
            Emit(c == '\n' ? '\n' : ' ');
            tail += c;
            if (tail.size() > end.size()) {
                tail.erase(0, 1);
            }
            if (tail == end) {
                return;
            }
        }
    }

    std::string_view source_;
    std::size_t at_ = 0;
    std::size_t physical_ = 1;
    std::vector<LogicalLine> lines_;
};

std::size_t SkipBlanks(const std::string& text, std::size_t at) {
    while (at < text.size() && IsBlank(text[at])) {
        ++at;
    }
    return at;
}

// The header name at `at` ("..." or <...>), or empty when none stands there.
std::string HeaderNameAt(const std::string& text, std::size_t at) {
    at = SkipBlanks(text, at);
    if (at >= text.size() || (text[at] != '<' && text[at] != '"')) {
        return {};
    }
    const char close = text[at] == '<' ? '>' : '"';
    const std::size_t end = text.find(close, at + 1);
    return end == std::string::npos ? std::string() : text.substr(at, end - at + 1);
}

std::string Trimmed(const std::string& text) {
    const std::size_t begin = SkipBlanks(text, 0);
    std::size_t end = text.size();
    while (end > begin && IsBlank(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

}  // namespace

std::vector<IncludedHeader> FindIncludedHeaders(std::string_view source) {
    std::vector<IncludedHeader> found;
    for (const LogicalLine& line : Cleaner(source).Lines()) {
        const std::string& text = line.text;
        std::size_t at = SkipBlanks(text, 0);
        if (text.compare(at, 1, "#") == 0) {
            at += 1;
        } else if (text.compare(at, 2, "%:") == 0) {
            at += 2;
        } else {
            continue;
        }
        at = SkipBlanks(text, at);
        std::size_t nameEnd = at;
        while (nameEnd < text.size() && IsIdentifierChar(text[nameEnd])) {
            ++nameEnd;
        }
        const std::string name = text.substr(at, nameEnd - at);
        if (name == "include" || name == "include_next" || name == "import") {
            found.push_back({line.line, HeaderNameAt(text, nameEnd), Trimmed(text)});
            continue;
        }
        // A condition may ask whether a header is there: it names that header all the same.
        for (std::size_t has = text.find("__has_include", nameEnd); has != std::string::npos;
             has = text.find("__has_include", has + 1)) {
            std::size_t open = has + std::string_view("__has_include").size();
            if (text.compare(open, 5, "_next") == 0) {
                open += 5;
            }
            open = SkipBlanks(text, open);
            if (open < text.size() && text[open] == '(') {
                found.push_back({line.line, HeaderNameAt(text, open + 1), Trimmed(text)});
            }
        }
    }
    return found;
}

}  // namespace veldmoor::layering
