#include "sync/window_scan.h"

#include "sync/weak_checksum.h"
#include "sync/window_scan_paths.h"

namespace veldmoor {

bool scanPathRuns(ScanPath path) {
    switch (path) {
        case ScanPath::plain:
            return true;
        case ScanPath::avx2:
            return scan_paths::avx2Runs();
    }
    return false;
}

ScanPath fastestScanPath() {
    static const ScanPath fastest = scanPathRuns(ScanPath::avx2) ? ScanPath::avx2 : ScanPath::plain;
    return fastest;
}

WindowScanner::WindowScanner(ScanPath path, std::uint32_t windowLength, WeakFilter filter)
    : path_(scanPathRuns(path) ? path : ScanPath::plain),
      windowLength_(windowLength),
      filter_(filter) {
    for (std::uint32_t x = 0; x < leaving_.size(); ++x) {
        leaving_[x] = (windowLength * x) << 16;
    }
}

ScanStop WindowScanner::toCandidate(const unsigned char* data, std::size_t start, std::size_t last,
                                    std::uint32_t& weak) const {
    if (path_ == ScanPath::avx2) {
        return scan_paths::scanAvx2(data, start, last, windowLength_, weak, filter_, leaving_);
    }
    return scan_paths::scanPlain(data, start, last, windowLength_, weak, filter_, leaving_);
}

std::uint32_t WindowScanner::checksumOf(const unsigned char* window) const {
    if (path_ == ScanPath::avx2) {
        return scan_paths::checksumAvx2(window, windowLength_);
    }
    return weakChecksum(window, windowLength_);
}

}  // namespace veldmoor
