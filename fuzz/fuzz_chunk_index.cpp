// A chunk index as any server could send it: the reader must read it the same whatever the
// blocks the body arrives in, and the plan made from a bent index must still cover the target
// exactly.
#include <unistd.h>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "sync/chunk_index.h"

using namespace veldmoor;

namespace {

std::string g_folder;
std::string g_localCopy;

void RemoveFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(g_folder, ignored);
}

void CheckCovers(const BlockPlan& plan, std::uint32_t targetSize) {
    std::uint64_t at = 0;
    for (const Piece& piece : plan.pieces) {
        FUZZ_CHECK(piece.targetOffset == at);
        FUZZ_CHECK(piece.length > 0);
        at += piece.length;
    }
    FUZZ_CHECK(at == targetSize);
}

// The engine's reader, fed the document in blocks whose sizes follow from the document itself,
// as libcurl may hand a body over.
bool ReadInBlocks(std::string_view document, std::size_t firstBlock, ChunkIndexReader& reader) {
    std::size_t block = firstBlock;
    while (!document.empty()) {
        const std::size_t take = std::min(block, document.size());
        if (!reader.feed(document.data(), take))
            return false;
        document.remove_prefix(take);
        block = block * 5 % 97 + 1;
    }
    return reader.finish();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The matcher reports each pass on standard output; the fuzzer's own output is on stderr.
    if (std::freopen("/dev/null", "w", stdout) == nullptr)
        std::abort();
    char folder[] = "/tmp/veldmoor-fuzz-XXXXXX";
    if (mkdtemp(folder) == nullptr)
        std::abort();
    g_folder = folder;
    g_localCopy = g_folder + "/local";
    std::atexit(RemoveFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view document(reinterpret_cast<const char*>(data), size);
    ChunkIndexReader whole;
    const bool wholeOk = ReadInBlocks(document, document.size() + 1, whole);
    ChunkIndexReader split;
    const bool splitOk = ReadInBlocks(document, size == 0 ? 1 : 1 + data[size - 1] % 13, split);
    FUZZ_CHECK(wholeOk == splitOk);
    if (wholeOk) {
        FUZZ_CHECK(whole.index().targetSize == split.index().targetSize);
        FUZZ_CHECK(whole.index().targetCrc == split.index().targetCrc);
        FUZZ_CHECK(whole.index().entries == split.index().entries);
    }
    if (!wholeOk)
        return 0;
    const ChunkIndex& index = whole.index();

    // A local copy made of the document itself shares blocks with it, so the matcher finds some.
    {
        std::ofstream local(g_localCopy, std::ios::binary | std::ios::trunc);
        local.write(document.data(), static_cast<std::streamsize>(document.size()));
    }
    // Keep the matcher's work bounded by the small local copy, not by lengths the index claims.
    BlockPlan plan = buildBlockPlan(g_localCopy, index.entries, index.targetCrc);
    std::uint32_t previous = 0;
    for (const Piece& piece : plan.pieces) {
        FUZZ_CHECK(piece.kind == kPieceLocal);
        FUZZ_CHECK(piece.targetOffset >= previous);
        previous = piece.targetOffset;
        FUZZ_CHECK(std::uint64_t{piece.sourceOffset} + piece.length <= document.size());
    }
    planGaps(plan, index.targetSize);
    CheckCovers(plan, index.targetSize);
    FUZZ_CHECK(plan.expectedCrc == index.targetCrc);

    // The index's own entries taken as local pieces, as a faulty index could make them.
    BlockPlan bent;
    for (const Piece& entry : index.entries) {
        if (entry.length > 0)
            bent.pieces.push_back(entry);
    }
    std::stable_sort(bent.pieces.begin(), bent.pieces.end(), [](const Piece& a, const Piece& b) {
        return a.targetOffset < b.targetOffset;
    });
    planGaps(bent, index.targetSize);
    CheckCovers(bent, index.targetSize);
    return 0;
}
