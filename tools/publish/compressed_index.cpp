#include "tools/publish/compressed_index.h"

#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "sync/repository_layout.h"
#include "system/text_encoding.h"
#include "tools/publish/atomic_output.h"

namespace veldmoor {
namespace {

namespace fs = std::filesystem;

// The index's records are mostly random checksums, so a third of zlib's effort gives all but
// a percent of what its best gives, in a tenth of the time.
constexpr int kLevel = 3;

std::optional<std::string> Gzip(std::string_view data) {
    z_stream stream{};
    // 15 window bits plus 16 asks zlib for the gzip wrapper a web server sends as it is.
    if (deflateInit2(&stream, kLevel, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        return std::nullopt;
    }
    std::string packed(deflateBound(&stream, static_cast<uLong>(data.size())) + 32, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(packed.data());
    stream.avail_out = static_cast<uInt>(packed.size());
    const int result = deflate(&stream, Z_FINISH);
    packed.resize(stream.total_out);
    deflateEnd(&stream);
    if (result != Z_STREAM_END) {
        return std::nullopt;
    }
    return packed;
}

}  // namespace

std::string CompressedIndexPathOf(const std::string& indexPath) {
    return indexPath.substr(0, indexPath.size() - (sizeof kChunkIndexSuffix - 1)) +
           kCompressedIndexSuffix;
}

Status RemoveCompressedIndex(const std::string& indexPath) {
    const std::string path = CompressedIndexPathOf(indexPath);
    std::error_code error;
    fs::remove(PathFromUtf8(path), error);
    if (error) {
        return Status::Failed("cannot remove '" + path + "': " + error.message() +
                              " (is the repository folder writable?)");
    }
    return {};
}

Status WriteCompressedIndex(const std::string& indexPath, std::string_view index) {
    if (index.size() < kCompressedIndexMinBytes) {
        return {};
    }
    const std::optional<std::string> packed = Gzip(index);
    if (!packed) {
        return Status::Failed("cannot compress '" + indexPath + "' (is memory short?)");
    }
    Result<AtomicOutput> out = AtomicOutput::Create(CompressedIndexPathOf(indexPath));
    if (!out) {
        return out.Error();
    }
    out->write(packed->data(), packed->size());
    return out->commit();
}

Status EnsureCompressedIndex(const std::string& indexPath) {
    std::error_code error;
    const auto size = fs::file_size(PathFromUtf8(indexPath), error);
    if (error) {
        return {};  // no index: the caller writes one, with its copy
    }
    if (size < kCompressedIndexMinBytes) {
        return RemoveCompressedIndex(indexPath);
    }
    if (fs::exists(PathFromUtf8(CompressedIndexPathOf(indexPath)), error)) {
        return {};
    }
    std::ifstream in(PathFromUtf8(indexPath), std::ios::binary);
    const std::string index{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad() || index.size() != size) {
        return Status::Failed("cannot read '" + indexPath + "'");
    }
    return WriteCompressedIndex(indexPath, index);
}

}  // namespace veldmoor
