// The engine's HTTP layer: a thin layer over the libcurl easy interface. It makes no decision
// about what to fetch; the file list, the chunk indexes and the file rebuild build the URLs and
// ranges. Both request operations return a success flag and never throw.
#pragma once

#include <curl/curl.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace veldmoor {

class RangeReceiver;

// libcurl's write- and header-callback form; must return size * count to go on.
using CurlCallback = std::size_t (*)(char* data, std::size_t size, std::size_t count,
                                     void* userData);

// First and last byte position of a range, both inclusive.
struct HttpRange {
    std::uint32_t first = 0;
    std::uint32_t last = 0;

    friend bool operator==(const HttpRange&, const HttpRange&) = default;
};

// Most ranges one request carries; bounds the length of the Range header.
inline constexpr std::size_t kMaxRangesPerRequest = 35;

// The URL to request: backslashes become '/', and every path segment is percent-encoded
// (bytes other than letters, digits, "-", ".", "_" and "~"). Scheme and authority
// ("127.0.0.1:8080", "[::1]:80", "user@host") stay as they are; empty segments stay empty, so a
// doubled or trailing slash is kept. A URL without "://" is returned unchanged.
std::string escapeUrl(const std::string& url);

// One GET; the body goes to `write` with `userData`. `handle` may be null: a handle is then
// made for this call. True when the transfer completed; the HTTP status is not examined, so an
// error page reaches the sink like any other body. Leaves the range and header options of
// `handle` as they were: a handle serves plain GETs only before its first range request.
bool httpGet(const std::string& url, CurlCallback write, void* userData, CURL* handle);

// GETs `ranges` of one file, at most kMaxRangesPerRequest per request, in order, with the
// receiver's callbacks; `receiver` is reset before each request. Stops at the first failed
// request, and once the receiver holds every piece (an answer that ignored the Range header
// already carried the rest). True when every request made completed; an empty list makes none.
bool httpGetRanges(const std::string& url, const std::vector<HttpRange>& ranges, CurlCallback body,
                   CurlCallback header, RangeReceiver* receiver, CURL* handle);

// A write callback appending to the std::stringstream given as user data.
std::size_t appendToStringStream(char* data, std::size_t size, std::size_t count, void* stream);

}  // namespace veldmoor
