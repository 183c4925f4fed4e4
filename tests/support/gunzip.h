// The bytes a gzip stream holds, for tests that check what a server or the publisher
// compressed. A damaged or cut stream fails the calling test.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

namespace veldmoor::test {

inline std::string Gunzip(const std::string& packed) {
    z_stream stream{};
    EXPECT_EQ(inflateInit2(&stream, 15 + 16), Z_OK);  // 16: the gzip wrapper
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
    stream.avail_in = static_cast<uInt>(packed.size());
    std::string out;
    char buffer[65536];
    int result = Z_OK;
    while (result == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(buffer);
        stream.avail_out = sizeof buffer;
        result = inflate(&stream, Z_NO_FLUSH);
        out.append(buffer, sizeof buffer - stream.avail_out);
    }
    inflateEnd(&stream);
    EXPECT_EQ(result, Z_STREAM_END);
    return out;
}

}  // namespace veldmoor::test
