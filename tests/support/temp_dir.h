// A fresh folder under the system's temporary directory, removed with everything in it when
// the object goes. Tests keep every file they make inside one.
#pragma once

#include <string>

namespace veldmoor::test {

class TempDir {
public:
    explicit TempDir(const std::string& prefix = "veldmoor-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + relative
    std::string operator/(const std::string& relative) const;

private:
    std::string path_;
};

// Small file helpers for tests: folders are created as needed.
void WriteTestFile(const std::string& path, const std::string& content);
std::string ReadTestFile(const std::string& path);

}  // namespace veldmoor::test
