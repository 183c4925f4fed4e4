// The file list's sums (sync/file_sums.h) on their way and once they came. The run asks for
// them only once enough files with no local copy are waiting for their chunk indexes: a patch
// that adds a few files costs no more than before, a fresh installation one request a file.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

#include "sync/file_sums.h"
#include "sync/http_transfer.h"

namespace veldmoor {

class TransferPool;

class FileSumsFetch {
public:
    // Files with no local copy that go by their chunk indexes before the sums are asked for.
    static constexpr std::size_t kFreshFilesBeforeSums = 16;

    // Asks for the sums at once, ahead of the ranges queued in `pool`: the files they may plan
    // wait for them. `listedTimes`: every listed repository path with its listed time; must
    // outlive this.
    FileSumsFetch(const std::string& repoAddress, HttpSession& session,
                  const std::unordered_map<std::string, std::int64_t>& listedTimes,
                  TransferPool& pool);
    // Ends the transfer wherever it is; before this goes while the pool stays.
    void cancel(TransferPool& pool);
    // Asked for and not yet come.
    bool onItsWay() const { return !transfer_.ended(); }
    // They came whole and were read: sumFor answers from them. Otherwise, once the transfer
    // ended, the files go by their indexes as if there were none.
    bool usable() const;
    // The listed file's sum with its listed time; null when the sums do not hold it.
    const FileSum* sumFor(const std::string& repoPath) const;

private:
    struct Sink : DocumentSink {
        explicit Sink(FileSumsReader::Wanted wanted) : reader(std::move(wanted)) {}
        void restart() override { reader.restart(); }
        bool append(const char* data, std::size_t size) override { return reader.feed(data, size); }
        FileSumsReader reader;
    };

    Sink sink_;
    DocumentTransfer transfer_;
};

}  // namespace veldmoor
