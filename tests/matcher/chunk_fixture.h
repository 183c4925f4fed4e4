// Helpers that play the publisher's part for the matcher tests: chunk entries and index
// documents built from target bytes, and local copies in a temporary folder.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "sync/chunk_index.h"
#include "sync/weak_checksum.h"

namespace veldmoor::testing {

using Bytes = std::vector<unsigned char>;

inline Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

inline std::uint32_t crcOf(const unsigned char* data, std::size_t length) {
    return static_cast<std::uint32_t>(crc32(0, data, static_cast<uInt>(length)));
}

// Chunk entries of `target` cut into blocks of `blockSize` (the last one may be shorter).
inline std::vector<Piece> chunkEntries(const Bytes& target, std::uint32_t blockSize) {
    std::vector<Piece> entries;
    for (std::size_t offset = 0; offset < target.size(); offset += blockSize) {
        const std::size_t length = std::min<std::size_t>(blockSize, target.size() - offset);
        Piece entry;
        entry.targetOffset = static_cast<std::uint32_t>(offset);
        entry.length = static_cast<std::uint32_t>(length);
        entry.weak = weakChecksum(target.data() + offset, length);
        entry.strong = crcOf(target.data() + offset, length);
        entry.kind = kPieceLocal;
        entries.push_back(entry);
    }
    return entries;
}

inline void appendU32(std::string& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<char>((value >> shift) & 0xFFu));
    }
}

// The index document as the server serves it.
inline std::string indexDocument(std::uint32_t size, std::uint32_t crc,
                                 const std::vector<Piece>& entries,
                                 std::uint32_t magic = kChunkIndexMagic) {
    std::string document;
    appendU32(document, magic);
    appendU32(document, size);
    appendU32(document, crc);
    for (const Piece& entry : entries) {
        appendU32(document, entry.weak);
        appendU32(document, entry.strong);
        appendU32(document, entry.length);
    }
    return document;
}

inline std::string asString(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// A folder under the system's temporary directory, removed with the object.
class TempFolder {
public:
    TempFolder() {
        std::random_device seed;
        path_ = std::filesystem::temp_directory_path() /
                ("veldmoor-matcher-" + std::to_string(seed()) + std::to_string(seed()));
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::string write(const std::string& name, const Bytes& content) const {
        const std::filesystem::path file = path_ / name;
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(content.data()),
                  static_cast<std::streamsize>(content.size()));
        return file.string();
    }
    std::string pathOf(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

}  // namespace veldmoor::testing
