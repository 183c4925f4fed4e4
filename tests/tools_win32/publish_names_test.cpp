// Names beyond ASCII on Windows: the publisher reads them through the wide calls and lists
// them in UTF-8, as the launcher asks for them.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "system/text_encoding.h"
#include "tests/support/result_assertions.h"
#include "tools/publish/repository_publisher.h"

namespace veldmoor {
namespace {

std::wstring FreshFolder() {
    std::vector<wchar_t> temporary(MAX_PATH + 1);
    const DWORD length = ::GetTempPathW(static_cast<DWORD>(temporary.size()), temporary.data());
    std::random_device random;
    for (;;) {
        std::wstring folder = std::wstring(temporary.data(), length) + L"veldmoor-publish-" +
                              std::to_wstring(random());
        if (::CreateDirectoryW(folder.c_str(), nullptr) != 0) {
            return folder;
        }
    }
}

void Write(const std::wstring& path, const std::string& bytes) {
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
}

std::string Read(const std::wstring& path) {
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return "<missing>";
    }
    std::string bytes(4096, '\0');
    DWORD got = 0;
    ::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    ::CloseHandle(file);
    bytes.resize(got);
    return bytes;
}

TEST(PublishNames, NamesBeyondAsciiArePublishedAndListedInUtf8) {
    const std::wstring root = FreshFolder();
    const std::wstring source = root + L"\\Quelle \u00C4";
    const std::wstring repo = root + L"\\repo";
    ASSERT_NE(::CreateDirectoryW(source.c_str(), nullptr), 0);
    ASSERT_NE(::CreateDirectoryW((source + L"\\Stra\u00DFe").c_str(), nullptr), 0);
    Write(source + L"\\Stra\u00DFe\\gro\u00DF \u20AC.bin", "contents");

    PublishOptions options;
    options.sourceDir = NarrowText(source);
    options.repoDir = NarrowText(repo);
    const PublishSummary summary = test::ValueOf(PublishRepository(options));
    EXPECT_EQ(summary.files, 1u);
    EXPECT_TRUE(summary.fileListWritten);

    const std::vector<ListedFile> listed = ReadFileList(NarrowText(repo + L"\\filelist.php"));
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].path,
              "Stra\xC3\x9F"
              "e/gro\xC3\x9F \xE2\x82\xAC.bin");
    EXPECT_EQ(Read(repo + L"\\transfer\\Stra\u00DFe\\gro\u00DF \u20AC.bin"), "contents");
    EXPECT_NE(Read(repo + L"\\transfer\\Stra\u00DFe\\gro\u00DF \u20AC.bin.chunks"), "<missing>");

    // Unchanged on a second run: the listed file is found again by its name.
    const PublishSummary again = test::ValueOf(PublishRepository(options));
    EXPECT_EQ(again.unchanged, 1u);
    EXPECT_FALSE(again.fileListWritten);

    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(root), ignored);
}

}  // namespace
}  // namespace veldmoor
