// Temporary folders and files for the tests of this folder (environment settings come from
// tests/support/scoped_env.h).
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/scoped_env.h"

namespace veldmoor::testing {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TestFolder {
public:
    TestFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "veldmoor-app-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            ADD_FAILURE() << "cannot create a temporary folder from " << pattern;
        }
        path_ = pattern;
    }
    ~TestFolder() {
        std::error_code error;
        std::filesystem::remove_all(path_, error);
    }
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // A folder below this one, created with its parents.
    std::filesystem::path Make(const std::string& relative) const {
        std::filesystem::create_directories(path_ / relative);
        return path_ / relative;
    }

private:
    std::filesystem::path path_;
};

inline void WriteFile(const std::filesystem::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

}  // namespace veldmoor::testing
