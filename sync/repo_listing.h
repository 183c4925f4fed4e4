// The documents a run starts from: the file list and, for a signed repository, its manifest and
// the roots the manifest is signed under, fetched together and checked (sync/README.md, the
// calls in detail and the checks in the run).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "sync/remote_file.h"

namespace veldmoor {

class HttpSession;     // sync/http.h
class TransferPool;    // sync/transfer_pool.h
class TrustedListing;  // sync/trusted_listing.h

// What fetching the listing needs of its run.
struct ListingRun {
    HttpSession& session;
    TransferPool& pool;
    const std::string& repoAddress;
    const std::string& installFolder;
    // The trust checks of a signed repository, its state loaded; null when none is set.
    TrustedListing* trust;
    // Drives the transfers until `until` holds; throws SyncCancelled on a stop.
    std::function<void(const std::function<bool()>& until)> runTransfers;
    // The caller's stop was seen: a failed transfer is then a cancellation.
    std::function<bool()> stopped;
};

// Fetches and parses the file list; with `trust`, the manifest goes out with it (one round
// trip), then every root between the trusted one and the manifest's (all at once), and the
// chain, the manifest and the list are verified. Throws PatchException, or SyncCancelled.
std::vector<RemoteFile> fetchListing(const ListingRun& run);

}  // namespace veldmoor
