#include "sync/repo_listing.h"

#include <algorithm>
#include <deque>
#include <string>
#include <utility>

#include "sync/file_list.h"
#include "sync/http_transfer.h"
#include "sync/patch_exception.h"
#include "sync/repository_layout.h"
#include "sync/signed_metadata.h"
#include "sync/transfer_pool.h"
#include "sync/trusted_listing.h"

namespace veldmoor {
namespace {

// A document's body (the file list, a signed file), kept as it arrives up to its bound; past
// it the transfer ends.
struct BoundedText : DocumentSink {
    explicit BoundedText(std::size_t limit) : limit(limit) {}
    std::size_t limit;
    std::string text;
    bool tooLarge = false;

    void restart() override { text.clear(); }
    bool append(const char* data, std::size_t size) override {
        if (text.size() + size > limit) {
            tooLarge = true;
            return false;
        }
        text.append(data, size);
        return true;
    }
};

// A failed transfer is a cancellation when the caller asked to stop during it.
void throwIfTransferCancelled(const ListingRun& run) {
    if (run.stopped()) {
        throw SyncCancelled();
    }
}

// GETs documents whose sizes are bounded both on the wire and by their sinks, all at once:
// the file list and the manifest cost one round trip, not two.
void fetchTogether(const ListingRun& run, const std::vector<DocumentTransfer*>& documents) {
    for (DocumentTransfer* transfer : documents) {
        run.pool.start(*transfer);
    }
    try {
        run.runTransfers([&] {
            return std::all_of(documents.begin(), documents.end(),
                               [](const DocumentTransfer* t) { return t->ended(); });
        });
    } catch (...) {
        for (DocumentTransfer* transfer : documents) {
            run.pool.cancel(*transfer);
        }
        throw;
    }
}

// Fetches the root versions the manifest names beyond the trusted one (all at once),
// verifies the chain and the manifest, and checks the list against it.
void verifyListing(const ListingRun& run, const DocumentTransfer& manifestTransfer,
                   const BoundedText& manifestText, const std::vector<RemoteFile>& files) {
    if (manifestTransfer.state() != HttpTransfer::State::Done) {
        throwIfTransferCancelled(run);
        if (manifestText.tooLarge || manifestTransfer.passedWireLimit()) {
            refuseUnverified(
                TrustCheck::Malformed, kManifestPath,
                "The manifest is larger than " + std::to_string(kMaxManifestBytes) + " bytes.");
        }
        throw manifestTransfer.failure();
    }
    const std::vector<std::string> paths = run.trust->rootPathsToFetch(manifestText.text);
    const auto unreachable = [](const std::string& path, const std::string& reason) {
        return unverified(TrustCheck::ChainBroken, path,
                          "The manifest is signed under a root version that cannot be "
                          "reached: '" +
                              path + "' cannot be fetched (" + reason + ").");
    };
    std::deque<BoundedText> bodies;
    std::deque<DocumentTransfer> roots;
    std::vector<DocumentTransfer*> started;
    for (const std::string& path : paths) {
        bodies.emplace_back(kMaxRootBytes);
        roots.emplace_back(
            run.repoAddress + "/" + path, bodies.back(), run.session,
            [&rootPath = path, &unreachable](const std::string& reason) {
                return unreachable(rootPath, reason);
            },
            kMaxRootBytes);
        started.push_back(&roots.back());
    }
    fetchTogether(run, started);
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (roots[i].state() != HttpTransfer::State::Done) {
            throwIfTransferCancelled(run);
            if (bodies[i].tooLarge || roots[i].passedWireLimit()) {
                throw unreachable(paths[i],
                                  "larger than " + std::to_string(kMaxRootBytes) + " bytes");
            }
            throw roots[i].failure();
        }
        texts.push_back(std::move(bodies[i].text));
    }
    run.trust->verify(manifestText.text, texts, files);
}

}  // namespace

std::vector<RemoteFile> fetchListing(const ListingRun& run) {
    BoundedText body(kMaxFileListBytes);
    const std::string url = run.repoAddress + "/" + kFileListPath;
    DocumentTransfer list(
        url, body, run.session,
        [&url](const std::string& reason) {
            return PatchException(
                Failure::FileListNotFetched, "",
                "Http request failed while getting files! " + reason + " (" + url + ")");
        },
        kMaxFileListBytes);
    BoundedText manifestText(kMaxManifestBytes);
    const std::string manifestUrl = run.repoAddress + "/" + kManifestPath;
    DocumentTransfer manifest(
        manifestUrl, manifestText, run.session,
        [&manifestUrl](const std::string& reason) {
            return unverified(TrustCheck::ManifestMissing, kManifestPath,
                              "A root of trust is set for this repository, but its manifest '" +
                                  manifestUrl + "' cannot be fetched (" + reason +
                                  "); an unsigned repository is not used in its place.");
        },
        kMaxManifestBytes);
    std::vector<DocumentTransfer*> documents{&list};
    if (run.trust != nullptr) {
        documents.push_back(&manifest);
    }
    fetchTogether(run, documents);
    if (list.state() != HttpTransfer::State::Done) {
        throwIfTransferCancelled(run);
        if (body.tooLarge || list.passedWireLimit()) {
            throw PatchException(
                Failure::ServerDataInvalid, kFileListPath,
                "The file list is larger than " + std::to_string(kMaxFileListBytes) + " bytes.");
        }
        throw list.failure();
    }
    std::vector<RemoteFile> files = parseFileList(body.text, run.installFolder);
    const std::string problem = fileListProblem(files);
    if (!problem.empty()) {
        throw PatchException(Failure::ServerDataInvalid, kFileListPath,
                             "The file list cannot be used: " + problem + ".");
    }
    if (run.trust != nullptr) {
        verifyListing(run, manifest, manifestText, files);
    }
    return files;
}

}  // namespace veldmoor
