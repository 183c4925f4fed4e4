// Small shell scripts that stand in for outside programs (pkexec, wine, xdg-open) or for the
// game, written into a temporary folder that is put first on PATH for one test.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"

namespace veldmoor::testing {

inline void WriteScript(const std::string& path, const std::string& body) {
    test::WriteTestFile(path, "#!/bin/sh\n" + body);
    ::chmod(path.c_str(), 0755);
}

// PATH with folder first, the rest as it was (so env, sh and friends are still found).
inline std::string PathWithFirst(const std::string& folder) {
    const char* old = std::getenv("PATH");
    return folder + ":" + (old != nullptr ? old : "/usr/bin:/bin");
}

// Waits for a file a started program writes; its content, or empty after the limit.
inline std::string WaitForFile(const std::string& path) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (std::filesystem::exists(path + ".done"))
            return test::ReadTestFile(path);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return {};
}

}  // namespace veldmoor::testing
