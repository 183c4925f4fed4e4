#include "sync/file_sums.h"

#include <charconv>
#include <cstdio>

namespace veldmoor {
namespace {

// A line holds three numbers and a path; no listed path comes near this.
constexpr std::size_t kMaxLineBytes = 8192;

// The next field up to a space; empty when there is none.
std::string_view takeField(std::string_view& line) {
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos) {
        return {};
    }
    const std::string_view field = line.substr(0, space);
    line.remove_prefix(space + 1);
    return field;
}

template <typename Number>
bool parseNumber(std::string_view text, Number& value, int base = 10) {
    if (text.empty() || text.front() == '-' || text.front() == '+') {
        return false;
    }
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return error == std::errc() && end == text.data() + text.size();
}

}  // namespace

std::string formatFileSumLine(std::int64_t time, std::uint32_t size, std::uint32_t crc,
                              std::string_view repoPath) {
    char numbers[64];
    const int length = std::snprintf(numbers, sizeof numbers, "%lld %u %08x ",
                                     static_cast<long long>(time), size, crc);
    std::string line(numbers, static_cast<std::size_t>(length));
    line += repoPath;
    line += '\n';
    return line;
}

void FileSumsReader::restart() {
    line_.clear();
    headerSeen_ = false;
    refused_ = false;
    sums_.clear();
}

bool FileSumsReader::refuse() {
    refused_ = true;
    line_.clear();
    sums_.clear();
    return false;
}

bool FileSumsReader::feed(const char* data, std::size_t size) {
    std::string_view rest(data, size);
    while (!refused_ && !rest.empty()) {
        const std::size_t end = rest.find('\n');
        const std::string_view part = rest.substr(0, end);
        if (line_.size() + part.size() > kMaxLineBytes) {
            return refuse();
        }
        if (end == std::string_view::npos) {
            line_ += part;
            return true;
        }
        rest.remove_prefix(end + 1);
        if (line_.empty()) {
            takeLine(part);
        } else {
            line_ += part;
            const std::string line = std::move(line_);
            line_.clear();
            takeLine(line);
        }
    }
    return !refused_;
}

bool FileSumsReader::takeLine(std::string_view line) {
    if (!headerSeen_) {
        headerSeen_ = line == kFileSumsHeader;
        return headerSeen_ || refuse();
    }
    std::int64_t time = 0;
    std::uint32_t size = 0;
    std::uint32_t crc = 0;
    const std::string_view timeText = takeField(line);
    const std::string_view sizeText = takeField(line);
    const std::string_view crcText = takeField(line);
    if (!parseNumber(timeText, time) || !parseNumber(sizeText, size) || crcText.size() != 8 ||
        !parseNumber(crcText, crc, 16) || line.empty()) {
        return refuse();
    }
    if (!wanted_(line, time)) {
        return true;
    }
    if (!sums_.emplace(std::string(line), FileSum{size, crc}).second) {
        return refuse();  // one path, two sums: neither can be trusted
    }
    return true;
}

}  // namespace veldmoor
