#include "patch/launcher_digest.h"

#include <cryptopp/files.h>
#include <cryptopp/filters.h>
#include <cryptopp/hex.h>
#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <cryptopp/md5.h>

#include <fstream>

#include "system/launcher_file.h"
#include "system/path.h"
#include "system/text_encoding.h"

namespace veldmoor {

std::string ComputeLauncherDigest(const std::string& launcherFolder) {
    std::ifstream file(PathFromUtf8(AppendPathComponent(launcherFolder, kLauncherFileName)),
                       std::ios::binary);
    if (!file.is_open())
        return kLauncherDigestNotFound;
    std::string digest;
    try {
        CryptoPP::Weak::MD5 md5;
        CryptoPP::FileSource source(
            file, true,
            new CryptoPP::HashFilter(md5,
                                     new CryptoPP::HexEncoder(new CryptoPP::StringSink(digest))));
    } catch (const CryptoPP::Exception&) {
        // A file that opens but cannot be read (a folder, an I/O error) is as good as absent.
        return kLauncherDigestNotFound;
    }
    return digest;
}

}  // namespace veldmoor
