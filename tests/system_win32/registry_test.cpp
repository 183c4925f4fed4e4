// The game's ExePath value through the registry API, on a temporary key under
// HKEY_CURRENT_USER in place of the game's own key.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "system/registry.h"
#include "system/text_encoding.h"
#include "tests/system_win32/helper_process.h"

namespace veldmoor {
namespace {

class Registry : public ::testing::Test {
protected:
    Registry()
        : subkey_(L"Software\\veldmoor-test-" + std::to_wstring(std::random_device()())),
          key_(L"VELDMOOR_GAME_REGISTRY_KEY", "HKEY_CURRENT_USER\\" + NarrowText(subkey_)) {}
    ~Registry() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, subkey_.c_str()); }

    // Writes the value as the game's installer would, in the 32-bit view.
    void Plant(const std::wstring& value, DWORD type = REG_SZ) {
        HKEY key = nullptr;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, subkey_.c_str(), 0, nullptr, 0,
                                    KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        ::RegSetValueExW(key, L"ExePath", 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                         static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        ::RegCloseKey(key);
    }

    std::wstring Stored() const {
        wchar_t value[600] = {};
        DWORD size = sizeof value;
        if (::RegGetValueW(HKEY_CURRENT_USER, subkey_.c_str(), L"ExePath", RRF_RT_REG_SZ, nullptr,
                           value, &size) != ERROR_SUCCESS) {
            return L"<missing>";
        }
        return value;
    }

    std::wstring subkey_;
    test::ScopedVariable key_;
};

TEST_F(Registry, WritingCreatesTheKeyAndReadingFindsTheValue) {
    EXPECT_FALSE(ReadExePath().has_value());
    const std::string client = "C:\\Spiele\\Veldm\xC3\xB6or\\client.exe";
    const Status first = WriteExePath(client);
    ASSERT_TRUE(first.Ok()) << first.Message();
    EXPECT_EQ(Stored(), L"C:\\Spiele\\Veldm\u00F6or\\client.exe");
    EXPECT_EQ(ReadExePath(), client);
    const Status second = WriteExePath("D:\\UO\\client.exe");
    ASSERT_TRUE(second.Ok()) << second.Message();
    EXPECT_EQ(ReadExePath(), "D:\\UO\\client.exe");
}

TEST_F(Registry, ValuesTheGameCouldNotUseAreNotOffered) {
    Plant(L"client.exe");  // names no folder
    EXPECT_FALSE(ReadExePath().has_value());
    Plant(L"C:\\" + std::wstring(300, L'x') + L"\\client.exe");  // longer than the game takes
    EXPECT_FALSE(ReadExePath().has_value());
    Plant(L"C:\\" + std::wstring(250, L'x') + L"\\client.exe", REG_EXPAND_SZ);  // another type
    EXPECT_FALSE(ReadExePath().has_value());
    Plant(L"C:\\UO\\client.exe");
    EXPECT_EQ(ReadExePath(), "C:\\UO\\client.exe");
}

TEST_F(Registry, APathLongerThanTheGameTakesIsNotWritten) {
    const Status written = WriteExePath("C:\\" + std::string(300, 'x') + "\\client.exe");
    EXPECT_FALSE(written.Ok());
    const std::string& error = written.Message();
    EXPECT_NE(error.find("longer"), std::string::npos) << error;
    EXPECT_EQ(Stored(), L"<missing>");
}

TEST_F(Registry, AKeyThatCannotBeOpenedIsReportedWithWhatToTry) {
    const test::ScopedVariable unknownRoot(L"VELDMOOR_GAME_REGISTRY_KEY", "HKEY_NOWHERE\\x");
    const Status written = WriteExePath("C:\\UO\\client.exe");
    EXPECT_FALSE(written.Ok());
    const std::string& error = written.Message();
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(ReadExePath().has_value());
}

TEST(RegistryFacts, TheMachineKeyNeedsAdministratorsAndNoWinePrefixIsInvolved) {
    EXPECT_TRUE(RegistryWriteNeedsElevation());
    EXPECT_EQ(WinePrefixFolder(), "");
}

}  // namespace
}  // namespace veldmoor
