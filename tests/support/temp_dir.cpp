#include "tests/support/temp_dir.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "system/text_encoding.h"
#include "tests/support/unique_temp_folder.h"

namespace veldmoor::test {

namespace fs = std::filesystem;

TempDir::TempDir(const std::string& prefix) {
    path_ = MakeUniqueTempFolder(prefix);
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(PathFromUtf8(path_), ignored);
}

std::string TempDir::operator/(const std::string& relative) const {
    return path_ + "/" + relative;
}

void WriteTestFile(const std::string& path, const std::string& content) {
    const fs::path file = PathFromUtf8(path);
    if (file.has_parent_path()) {
        fs::create_directories(file.parent_path());
    }
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) {
        throw std::runtime_error("cannot write test file " + path);
    }
}

std::string ReadTestFile(const std::string& path) {
    std::ifstream in(PathFromUtf8(path), std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

}  // namespace veldmoor::test
