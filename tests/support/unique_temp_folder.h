// A new, empty folder with a unique name under the temporary directory. The name is random and
// is taken only when creating the folder succeeds, so no other process holds it; the same on
// every platform (mkdtemp is POSIX only).
#pragma once

#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

namespace veldmoor::test {

inline std::string MakeUniqueTempFolder(const std::string& prefix) {
    static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::random_device seed;
    std::mt19937_64 random(seed());
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = prefix + "-";
        for (int i = 0; i < 10; ++i) {
            name += kDigits[random() % (sizeof(kDigits) - 1)];
        }
        std::error_code error;
        if (std::filesystem::create_directory(base / name, error)) {
            return (base / name).string();
        }
        if (error) {
            throw std::runtime_error("cannot create a temporary folder in " + base.string() + ": " +
                                     error.message());
        }
    }
    throw std::runtime_error("cannot find a free temporary folder name in " + base.string());
}

}  // namespace veldmoor::test
