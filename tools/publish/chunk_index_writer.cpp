#include "tools/publish/chunk_index_writer.h"

#include <array>
#include <filesystem>
#include <fstream>
#include <vector>

#include "sync/crc32.h"
#include "sync/weak_checksum.h"
#include "system/text_encoding.h"
#include "tools/publish/atomic_output.h"
#include "tools/publish/compressed_index.h"

namespace veldmoor {
namespace {

namespace fs = std::filesystem;

void AppendLittleEndian(std::string& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFFu));
    }
}

// Reads `source` once, writing it to `copy` (when given) and returning its index in `index`;
// moves nothing into place.
Result<IndexedCopy> Index(const std::string& source, AtomicOutput* copy, std::string& index,
                          std::uint32_t blockSize, const PublishStopCheck& stop) {
    std::ifstream in(PathFromUtf8(source), std::ios::binary);
    if (!in) {
        return Status::Failed("cannot read '" + source + "'");
    }
    // Read many blocks at a time; the buffer is a whole number of blocks.
    const std::size_t blocksPerRead = std::max<std::size_t>(1, (1u << 20) / blockSize);
    std::vector<unsigned char> buffer(blocksPerRead * blockSize);
    std::string records(kChunkIndexHeaderSize, '\0');  // the header goes in front at the end
    IndexedCopy result;
    Sha256Hasher sha256;
    while (in) {
        if (StopAsked(stop)) {
            return Stopped();
        }
        in.read(reinterpret_cast<char*>(buffer.data()),
                static_cast<std::streamsize>(buffer.size()));
        const auto got = static_cast<std::size_t>(in.gcount());
        if (got == 0) {
            break;
        }
        if (copy != nullptr) {
            copy->write(reinterpret_cast<const char*>(buffer.data()), got);
        }
        result.crc32 = crc32Update(result.crc32, buffer.data(), got);
        sha256.update(buffer.data(), got);
        for (std::size_t at = 0; at < got; at += blockSize) {
            const std::size_t length = std::min<std::size_t>(blockSize, got - at);
            AppendLittleEndian(records, weakChecksum(buffer.data() + at, length));
            AppendLittleEndian(records, crc32Update(0, buffer.data() + at, length));
            AppendLittleEndian(records, static_cast<std::uint32_t>(length));
            ++result.blocks;
        }
        result.size += got;
        if (result.size > kMaxPublishedFileSize) {
            return Status::Failed("'" + source +
                                  "' is 4 GiB or larger; the launcher cannot carry it");
        }
    }
    if (in.bad()) {
        return Status::Failed("reading '" + source + "' failed");
    }
    result.sha256 = sha256.finish();
    std::string header;
    AppendLittleEndian(header, kChunkIndexMagic);
    AppendLittleEndian(header, static_cast<std::uint32_t>(result.size));
    AppendLittleEndian(header, result.crc32);
    records.replace(0, header.size(), header);
    index = std::move(records);
    return result;
}

// Indexes `source` (copying it into `copy` when given) and moves the copy, then the index into
// place. Both files are complete before either moves, and the index follows its copy: a failed
// write or a copy that cannot be moved leaves the old pair as it was. Only the index's own move
// failing right after its copy's could still part them. The old index's compressed copy goes
// first and the new one's comes last, so none ever stands beside another index.
Result<IndexedCopy> WriteIndexAfter(AtomicOutput* copy, const std::string& source,
                                    const std::string& indexPath, std::uint32_t blockSize,
                                    const PublishStopCheck& stop) {
    Result<AtomicOutput> index = AtomicOutput::Create(indexPath);
    if (!index) {
        return index.Error();
    }
    std::string indexBytes;
    Result<IndexedCopy> result = Index(source, copy, indexBytes, blockSize, stop);
    if (!result) {
        return result;
    }
    index->write(indexBytes.data(), indexBytes.size());
    Status done = copy != nullptr ? copy->finish() : Status{};
    if (done) {
        done = index->finish();
    }
    if (done) {
        done = RemoveCompressedIndex(indexPath);
    }
    if (done && copy != nullptr) {
        done = copy->commit();
    }
    if (done) {
        done = index->commit();
    }
    if (done) {
        done = WriteCompressedIndex(indexPath, indexBytes);
    }
    if (!done) {
        return done;
    }
    return result;
}

}  // namespace

std::uint32_t BlockSizeFor(std::uint64_t fileSize) {
    if (fileSize < (256u << 10)) {
        return 1024;
    }
    if (fileSize < (8u << 20)) {
        return 2048;
    }
    return 4096;
}

Result<IndexedCopy> WriteCopyAndIndex(const std::string& source, const std::string& copyPath,
                                      const std::string& indexPath, std::uint32_t blockSize,
                                      const PublishStopCheck& stop) {
    Result<AtomicOutput> copy = AtomicOutput::Create(copyPath);
    if (!copy) {
        return copy.Error();
    }
    return WriteIndexAfter(&copy.Value(), source, indexPath, blockSize, stop);
}

Result<IndexedCopy> WriteIndex(const std::string& file, const std::string& indexPath,
                               std::uint32_t blockSize, const PublishStopCheck& stop) {
    return WriteIndexAfter(nullptr, file, indexPath, blockSize, stop);
}

std::optional<IndexHead> ReadIndexHead(const std::string& indexPath) {
    std::ifstream in(PathFromUtf8(indexPath), std::ios::binary);
    std::array<unsigned char, kChunkIndexHeaderSize + kChunkRecordSize> head{};
    in.read(reinterpret_cast<char*>(head.data()), head.size());
    const auto u32At = [&head](std::size_t at) {
        return static_cast<std::uint32_t>(head[at]) |
               (static_cast<std::uint32_t>(head[at + 1]) << 8) |
               (static_cast<std::uint32_t>(head[at + 2]) << 16) |
               (static_cast<std::uint32_t>(head[at + 3]) << 24);
    };
    const std::streamsize got = in.gcount();
    if (got < static_cast<std::streamsize>(kChunkIndexHeaderSize) || u32At(0) != kChunkIndexMagic) {
        return std::nullopt;
    }
    const bool hasRecord = got == static_cast<std::streamsize>(head.size());
    return IndexHead{u32At(4), u32At(8), hasRecord ? u32At(20) : 0};
}

std::uint32_t IndexBlockSize(const std::string& indexPath) {
    const std::optional<IndexHead> head = ReadIndexHead(indexPath);
    return head ? head->blockSize : 0;
}

}  // namespace veldmoor
