#include "sync/file_sums_fetch.h"

#include "sync/repository_layout.h"
#include "sync/transfer_pool.h"

namespace veldmoor {

FileSumsFetch::FileSumsFetch(const std::string& repoAddress, HttpSession& session,
                             const std::unordered_map<std::string, std::int64_t>& listedTimes,
                             TransferPool& pool)
    : sink_([&listedTimes](std::string_view path, std::int64_t time) {
          const auto listed = listedTimes.find(std::string(path));
          return listed != listedTimes.end() && listed->second == time;
      }),
      transfer_(
          repoAddress + "/" + kFileSumsPath, sink_, session,
          // Never thrown: without the sums the files go by their chunk indexes.
          [](const std::string& reason) {
              return PatchException(
                  Failure::ServerDataInvalid, kFileSumsPath,
                  std::string("The file list's sums were not fetched: ") + reason);
          },
          kMaxFileSumsBytes) {
    pool.startAhead(transfer_);
}

void FileSumsFetch::cancel(TransferPool& pool) {
    pool.cancel(transfer_);
}

bool FileSumsFetch::usable() const {
    return transfer_.state() == HttpTransfer::State::Done && sink_.reader.finish();
}

const FileSum* FileSumsFetch::sumFor(const std::string& repoPath) const {
    const auto& sums = sink_.reader.sums();
    const auto found = sums.find(repoPath);
    return found == sums.end() ? nullptr : &found->second;
}

}  // namespace veldmoor
