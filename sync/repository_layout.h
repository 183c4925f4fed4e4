// Where a repository keeps what it serves, relative to its address (the served folder's root).
// The engine builds its URLs from these names, the publisher its folders and the server its
// answers; nothing else spells them. Header-only, so the server uses it without the engine.
#pragma once

#include <cstdint>
#include <string>

namespace veldmoor {

// The file list (sync/file_list.h).
inline constexpr char kFileListPath[] = "filelist.php";
// The size and CRC-32 of every listed file (sync/file_sums.h), beside the file list.
inline constexpr char kFileSumsPath[] = "filelist.sums";
// The folder that holds every listed file under its repository path.
inline constexpr char kTransferFolder[] = "transfer";
// Ends the name of a file's chunk index (sync/chunk_index.h), beside the file itself.
inline constexpr char kChunkIndexSuffix[] = ".chunks";
// Ends the name of a large chunk index compressed once by the publisher (gzip), beside the
// index itself, for web servers that hand out such a file in place of compressing the index
// for every request. The engine never asks for it by name: it gets it as the index's gzip
// encoding.
inline constexpr char kCompressedIndexSuffix[] = ".chunks.gz";
// The signed metadata (sync/signed_metadata.h): every root version and the newest manifest.
inline constexpr char kSignedRootFolder[] = "signed/root";
inline constexpr char kManifestPath[] = "signed/manifest";

// Where a listed file is served: "transfer/<repository path>".
inline std::string transferPathOf(const std::string& repoPath) {
    return std::string(kTransferFolder) + "/" + repoPath;
}
// Where a listed file's chunk index is served: "transfer/<repository path>.chunks".
inline std::string chunkIndexPathOf(const std::string& repoPath) {
    return transferPathOf(repoPath) + kChunkIndexSuffix;
}
// Root version `version`: "signed/root/<N>.root".
inline std::string rootPathFor(std::uint64_t version) {
    return std::string(kSignedRootFolder) + "/" + std::to_string(version) + ".root";
}

}  // namespace veldmoor
