// Helpers for the engine's tests: a temporary folder, file contents, chunk index documents and
// a repository folder laid out as the server publishes it.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "sync/chunk_index.h"
#include "sync/weak_checksum.h"
#include "system/text_encoding.h"
#include "tests/support/unique_temp_folder.h"

namespace veldmoor::test {

namespace fs = std::filesystem;

// A fresh folder under the temporary directory, removed with everything in it at the end.
class TempFolder {
public:
    TempFolder() : path_(MakeUniqueTempFolder("veldmoor-sync")) {}
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

private:
    std::string path_;
};

inline void writeFile(const std::string& path, const std::string& content) {
    fs::create_directories(PathFromUtf8(path).parent_path());
    std::ofstream(PathFromUtf8(path), std::ios::binary | std::ios::trunc) << content;
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(PathFromUtf8(path), std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

inline std::string randomBytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(generator() & 0xFF);
    }
    return bytes;
}

inline std::uint32_t crcOf(const std::string& bytes) {
    return static_cast<std::uint32_t>(crc32(crc32(0L, Z_NULL, 0),
                                            reinterpret_cast<const Bytef*>(bytes.data()),
                                            static_cast<uInt>(bytes.size())));
}

inline void appendLittleEndian(std::string& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
    }
}

// The chunk index document of `content` cut into blocks of `blockSize`.
inline std::string chunkIndexOf(const std::string& content, std::uint32_t blockSize) {
    std::string document;
    appendLittleEndian(document, kChunkIndexMagic);
    appendLittleEndian(document, static_cast<std::uint32_t>(content.size()));
    appendLittleEndian(document, crcOf(content));
    for (std::size_t offset = 0; offset < content.size(); offset += blockSize) {
        const std::string block = content.substr(offset, blockSize);
        const auto* bytes = reinterpret_cast<const unsigned char*>(block.data());
        appendLittleEndian(document, weakChecksum(bytes, block.size()));
        appendLittleEndian(document, crcOf(block));
        appendLittleEndian(document, static_cast<std::uint32_t>(block.size()));
    }
    return document;
}

struct ListedEntry {
    std::string repoPath;
    std::string content;
    std::int64_t time = 0;
};

// A repository folder: filelist.php, transfer/<path> and transfer/<path>.chunks.
inline void publish(const std::string& root, const std::vector<ListedEntry>& entries,
                    std::uint32_t blockSize) {
    std::string list = "[\n";
    for (const auto& entry : entries) {
        writeFile(root + "/transfer/" + entry.repoPath, entry.content);
        writeFile(root + "/transfer/" + entry.repoPath + ".chunks",
                  chunkIndexOf(entry.content, blockSize));
        list +=
            "{ path: \"" + entry.repoPath + "\", time: \"" + std::to_string(entry.time) + "\" },\n";
    }
    writeFile(root + "/filelist.php", list + "]\n");
}

}  // namespace veldmoor::test
