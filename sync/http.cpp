#include "sync/http.h"

#include <algorithm>
#include <memory>
#include <sstream>

#include "sync/range_receiver.h"

namespace veldmoor {
namespace {

struct CurlEasyCleanup {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using OwnedHandle = std::unique_ptr<CURL, CurlEasyCleanup>;

// The caller's handle, or one made for this call alone.
class HandleForCall {
public:
    explicit HandleForCall(CURL* handle) : handle_(handle) {
        if (handle_ == nullptr) {
            owned_.reset(curl_easy_init());
            handle_ = owned_.get();
        }
    }
    CURL* get() const { return handle_; }

private:
    CURL* handle_;
    OwnedHandle owned_;
};

void appendEscaped(std::string& out, const std::string& segment) {
    if (segment.empty()) {
        return;
    }
    char* escaped = curl_easy_escape(nullptr, segment.data(), static_cast<int>(segment.size()));
    if (escaped != nullptr) {
        out += escaped;
        curl_free(escaped);
    }
}

std::string rangeList(const std::vector<HttpRange>& ranges, std::size_t begin, std::size_t end) {
    std::string list;
    for (std::size_t i = begin; i < end; ++i) {
        if (i != begin) {
            list += ',';
        }
        list += std::to_string(ranges[i].first);
        list += '-';
        list += std::to_string(ranges[i].last);
    }
    return list;
}

}  // namespace

std::string escapeUrl(const std::string& url) {
    const auto schemeEnd = url.find("://");
    if (schemeEnd == std::string::npos) {
        return url;
    }
    std::string slashed = url;
    std::replace(slashed.begin(), slashed.end(), '\\', '/');

    // The authority ends at the first '/' after the scheme; it is never encoded, or a port's
    // colon or an IPv6 literal's brackets would make the address unreachable.
    const auto authorityStart = schemeEnd + 3;
    const auto pathStart = std::min(slashed.find('/', authorityStart), slashed.size());
    std::string escaped = slashed.substr(0, pathStart);
    std::size_t segmentStart = pathStart;
    while (segmentStart < slashed.size()) {
        ++segmentStart;  // past the '/'
        escaped += '/';
        const auto segmentEnd = std::min(slashed.find('/', segmentStart), slashed.size());
        appendEscaped(escaped, slashed.substr(segmentStart, segmentEnd - segmentStart));
        segmentStart = segmentEnd;
    }
    return escaped;
}

bool httpGet(const std::string& url, CurlCallback write, void* userData, CURL* handle) {
    const HandleForCall call(handle);
    if (call.get() == nullptr) {
        return false;
    }
    const std::string escaped = escapeUrl(url);
    curl_easy_setopt(call.get(), CURLOPT_URL, escaped.c_str());
    curl_easy_setopt(call.get(), CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(call.get(), CURLOPT_WRITEFUNCTION, write);
    curl_easy_setopt(call.get(), CURLOPT_WRITEDATA, userData);
    return curl_easy_perform(call.get()) == CURLE_OK;
}

bool httpGetRanges(const std::string& url, const std::vector<HttpRange>& ranges, CurlCallback body,
                   CurlCallback header, RangeReceiver* receiver, CURL* handle) {
    if (ranges.empty()) {
        return true;
    }
    const HandleForCall call(handle);
    if (call.get() == nullptr) {
        return false;
    }
    const std::string escaped = escapeUrl(url);
    bool succeeded = true;
    for (std::size_t begin = 0; begin < ranges.size(); begin += kMaxRangesPerRequest) {
        if (receiver->complete()) {
            break;
        }
        const std::size_t end = std::min(begin + kMaxRangesPerRequest, ranges.size());
        curl_easy_setopt(call.get(), CURLOPT_URL, escaped.c_str());
        receiver->beginResponse(begin == ranges.size() - 1);
        const std::string list = rangeList(ranges, begin, end);
        curl_easy_setopt(call.get(), CURLOPT_RANGE, list.c_str());
        curl_easy_setopt(call.get(), CURLOPT_ACCEPT_ENCODING, "");
        curl_easy_setopt(call.get(), CURLOPT_WRITEFUNCTION, body);
        curl_easy_setopt(call.get(), CURLOPT_WRITEDATA, receiver);
        curl_easy_setopt(call.get(), CURLOPT_HEADERFUNCTION, header);
        curl_easy_setopt(call.get(), CURLOPT_HEADERDATA, receiver);
        const CURLcode result = curl_easy_perform(call.get());
        if (result != CURLE_OK && !(result == CURLE_WRITE_ERROR && receiver->endedEarly())) {
            succeeded = false;
            break;
        }
    }
    // The receiver dies with the caller's call: the handle must not keep pointing at it. Nor
    // may the range list outlive it, or the handle's next whole-file request would ask for it.
    curl_easy_setopt(call.get(), CURLOPT_HEADERFUNCTION, nullptr);
    curl_easy_setopt(call.get(), CURLOPT_HEADERDATA, nullptr);
    curl_easy_setopt(call.get(), CURLOPT_RANGE, nullptr);
    return succeeded;
}

std::size_t appendToStringStream(char* data, std::size_t size, std::size_t count, void* stream) {
    static_cast<std::stringstream*>(stream)->write(data,
                                                   static_cast<std::streamsize>(size * count));
    return size * count;
}

}  // namespace veldmoor
