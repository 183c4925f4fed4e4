// operations.txt from the server, run against a small real tree with a remover that only
// records: nothing outside the target folder, nor the folder itself, nor anything reached
// through a link may ever be handed over for removal.
#include <unistd.h>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "patch/operations_exception.h"
#include "patch/operations_processor.h"

using namespace veldmoor;
namespace fs = std::filesystem;

namespace {

std::string g_base;
std::string g_target;

void RemoveFolder() {
    std::error_code ignored;
    fs::remove_all(g_base, ignored);
}

class RecordingRemover : public EntryRemover {
public:
    bool RemoveFile(const std::string& path) const override {
        Check(path);
        return true;
    }
    bool RemoveTree(const std::string& path) const override {
        Check(path);
        return true;
    }

private:
    static void Check(const std::string& path) {
        const std::string prefix = g_target + "/";
        FUZZ_CHECK(path.starts_with(prefix));
        const fs::path relative = fs::path(path.substr(prefix.size()));
        FUZZ_CHECK(!relative.empty());
        fs::path walked = g_target;
        for (auto part = relative.begin(); part != relative.end(); ++part) {
            FUZZ_CHECK(*part != ".." && *part != "." && !part->empty());
            walked /= *part;
            // Only the entry itself may be a link: it is removed, never followed.
            if (std::next(part) != relative.end()) {
                std::error_code error;
                FUZZ_CHECK(!fs::is_symlink(fs::symlink_status(walked, error)));
            }
        }
    }
};

void Write(const fs::path& path, std::string_view text) {
    std::ofstream(path, std::ios::binary) << text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char folder[] = "/tmp/veldmoor-fuzz-XXXXXX";
    if (mkdtemp(folder) == nullptr)
        std::abort();
    const fs::path base = folder;
    fs::create_directories(base / "client" / "data" / "maps");
    fs::create_directories(base / "outside" / "kept");
    Write(base / "client" / "uo.cfg", "x");
    Write(base / "client" / "data" / "map0.mul", "x");
    Write(base / "client" / "data" / "map1.mul", "x");
    Write(base / "client" / "data" / "maps" / "old.bak", "x");
    Write(base / "outside" / "secret.txt", "x");
    Write(base / "outside" / "kept" / "a.mul", "x");
    fs::create_directory_symlink(base / "outside", base / "client" / "moved");
    g_base = base.string();
    g_target = (base / "client").string();
    std::atexit(RemoveFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream list(std::string(reinterpret_cast<const char*>(data), size));
    const RecordingRemover remover;
    const auto ignore = [](const CleanupNote&) {};
    try {
        ProcessOperationsList(list, "client", [&](std::string_view rest) {
            ExecuteOperation(
                g_target, rest, [] {}, ignore, remover);
        });
    } catch (const OperationsProcessorException&) {
        // The recording remover never fails; a failure reported anyway is a finding.
        FUZZ_CHECK(false);
    }
    return 0;
}
