// Makes every write of this process past a size fail for one scope, as a full disk does:
// RLIMIT_FSIZE turns such writes into EFBIG even for root, who passes every permission check.
#pragma once

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstddef>

namespace veldmoor::testing {

class FileSizeLimit {
public:
    explicit FileSizeLimit(std::size_t bytes) {
        EXPECT_EQ(getrlimit(RLIMIT_FSIZE, &old_), 0);
        // Without this the write past the limit ends the process instead of failing.
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = old_;
        small.rlim_cur = bytes;
        EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    struct rlimit old_ {};
    void (*oldHandler_)(int) = SIG_DFL;
};

}  // namespace veldmoor::testing
