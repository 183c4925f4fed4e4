#include "profiles/legacy_contexts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>

#include "profiles/patch_context_list.h"
#include "tests/profiles/temp_folder.h"

namespace veldmoor {
namespace {

using testing::TempFolder;

void AppendLittleEndian32(std::string& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

void AppendFixed(std::string& out, std::string_view text, std::size_t size) {
    std::string field(text.substr(0, size));
    field.resize(size, '\0');
    out += field;
}

std::string Record(std::string_view name, std::string_view patchPath, std::string_view repoPath,
                   std::string_view execute, std::uint32_t autoPatch,
                   std::uint32_t setRegistryPath) {
    std::string record;
    AppendFixed(record, name, 256);
    AppendFixed(record, patchPath, 260);
    AppendFixed(record, repoPath, 260);
    AppendFixed(record, execute, 260);
    AppendLittleEndian32(record, autoPatch);
    AppendLittleEndian32(record, 0xDEADBEEF);  // unused word between the flags
    AppendLittleEndian32(record, setRegistryPath);
    for (int i = 0; i < 3; ++i) {
        AppendLittleEndian32(record, 0xFFFFFFFF);
    }
    return record;
}

std::string Header(std::int32_t count, std::uint32_t lastSelected) {
    std::string header;
    AppendLittleEndian32(header, static_cast<std::uint32_t>(count));
    AppendLittleEndian32(header, lastSelected);
    return header;
}

TEST(ParseLegacyContexts, ReadsEveryFieldAtItsOffset) {
    const std::string bytes =
        Header(2, 1) +
        Record("Veldmoor", "C:\\UO", "rsync://host:/Veldmoor.Patch", "C:\\UO\\x.exe", 1, 0) +
        Record("Bau", "D:\\Bau", "rsync://host:/Veldmoor.Bau", "", 0, 7);
    const LegacyContexts parsed = ParseLegacyContexts(bytes);
    EXPECT_EQ(parsed.lastSelected, 1u);
    ASSERT_EQ(parsed.profiles.size(), 2u);
    EXPECT_EQ(parsed.profiles[0].Name, "Veldmoor");
    EXPECT_EQ(parsed.profiles[0].PatchPath, "C:\\UO");
    EXPECT_EQ(parsed.profiles[0].RepoPath, "rsync://host:/Veldmoor.Patch");
    EXPECT_EQ(parsed.profiles[0].ExecuteAfterPatch, "C:\\UO\\x.exe");
    EXPECT_TRUE(parsed.profiles[0].AutoPatch);
    EXPECT_FALSE(parsed.profiles[0].SetRegistryPath);
    EXPECT_EQ(parsed.profiles[1].Name, "Bau");
    EXPECT_FALSE(parsed.profiles[1].AutoPatch);
    EXPECT_TRUE(parsed.profiles[1].SetRegistryPath);
}

TEST(ParseLegacyContexts, FieldsWithoutTerminatorKeepTheirLimit) {
    const std::string bytes = Header(1, 0) + Record(std::string(256, 'n'), std::string(260, 'p'),
                                                    std::string(260, 'r'), "", 0, 0);
    const LegacyContexts parsed = ParseLegacyContexts(bytes);
    ASSERT_EQ(parsed.profiles.size(), 1u);
    EXPECT_EQ(parsed.profiles[0].Name, std::string(255, 'n'));
    EXPECT_EQ(parsed.profiles[0].PatchPath, std::string(259, 'p'));
    EXPECT_EQ(parsed.profiles[0].RepoPath, std::string(259, 'r'));
}

TEST(ParseLegacyContexts, CountOutsideOneToNinetyNineReadsNoRecord) {
    for (const std::int32_t count : {0, 100, -1}) {
        std::string bytes = Header(count, 0);
        for (int i = 0; i < 100; ++i) {
            bytes += Record("x", "", "", "", 0, 0);
        }
        EXPECT_TRUE(ParseLegacyContexts(bytes).profiles.empty()) << count;
    }
    std::string ninetyNine = Header(99, 0);
    for (int i = 0; i < 99; ++i) {
        ninetyNine += Record("x", "", "", "", 0, 0);
    }
    EXPECT_EQ(ParseLegacyContexts(ninetyNine).profiles.size(), 99u);
}

TEST(ParseLegacyContexts, ShortFileYieldsTheCompleteRecordsOnly) {
    std::string bytes =
        Header(3, 0) + Record("one", "", "", "", 0, 0) + Record("two", "", "", "", 0, 0);
    bytes.resize(bytes.size() - 1);
    const LegacyContexts parsed = ParseLegacyContexts(bytes);
    ASSERT_EQ(parsed.profiles.size(), 1u);
    EXPECT_EQ(parsed.profiles[0].Name, "one");
    EXPECT_TRUE(ParseLegacyContexts("\x01\x00\x00").profiles.empty());
}

TEST(ImportContexts, ImportsOnceAndCreatesProfilesXml) {
    TempFolder folder;
    folder.Write("contexts", Header(2, 1) + Record("A", "/a", "r", "", 0, 0) +
                                 Record("B\xE4", "/b", "r", "", 1, 1));
    PatchContextList list(folder.str());
    EXPECT_EQ(list.ImportContexts().selected, 1u);
    ASSERT_EQ(list.Count(), 2u);
    EXPECT_EQ(list.At(1)->Name, "Bä");  // Windows-1252 'ä' becomes UTF-8
    EXPECT_TRUE(std::filesystem::exists(folder.path() / "contexts"));
    EXPECT_EQ(folder.Read("profiles.xml"), list.ToXml());

    // profiles.xml now exists, so contexts is never read again.
    PatchContextList again(folder.str());
    EXPECT_EQ(again.ImportContexts().selected, std::nullopt);
    EXPECT_EQ(again.Count(), 0u);
    EXPECT_EQ(again.Load(), 1u);
    EXPECT_EQ(again.Count(), 2u);
}

TEST(ImportContexts, InvalidCountStillCreatesAnEmptyProfilesXml) {
    for (const std::int32_t count : {0, 100}) {
        TempFolder folder;
        folder.Write("contexts", Header(count, 5) + Record("x", "", "", "", 0, 0));
        PatchContextList list(folder.str());
        EXPECT_EQ(list.ImportContexts().selected, std::nullopt);
        EXPECT_EQ(list.Count(), 0u);
        EXPECT_EQ(folder.Read("profiles.xml"),
                  "<LastSelected value=\"0\" />\r\n<Profiles>\r\n</Profiles>\r\n");
    }
}

TEST(ImportContexts, OutOfRangeSelectionIsClampedBeforeSaving) {
    TempFolder folder;
    folder.Write("contexts", Header(1, 4) + Record("only", "", "", "", 0, 0));
    PatchContextList list(folder.str());
    EXPECT_EQ(list.ImportContexts().selected, 0u);
    EXPECT_EQ(folder.Read("profiles.xml").substr(0, 28), "<LastSelected value=\"0\" />\r\n");
}

TEST(ImportContexts, IgnoresContextsWhenProfilesXmlExists) {
    TempFolder folder;
    folder.Write("contexts", Header(1, 0) + Record("legacy", "", "", "", 0, 0));
    folder.Write("profiles.xml",
                 "<Profiles><Profile><Name value=\"current\"/></Profile></Profiles>");
    PatchContextList list(folder.str());
    EXPECT_EQ(list.ImportContexts().selected, std::nullopt);
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_EQ(folder.Read("profiles.xml"),
              "<Profiles><Profile><Name value=\"current\"/></Profile></Profiles>");
}

TEST(ImportContexts, NoFileMeansNothingToImport) {
    TempFolder folder;
    PatchContextList list(folder.str());
    EXPECT_EQ(list.ImportContexts().selected, std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "profiles.xml"));
}

}  // namespace
}  // namespace veldmoor

namespace veldmoor {
namespace {

// Any bytes at all: never a read outside the input (ASan), never more profiles than fit.
TEST(ParseLegacyContexts, SurvivesArbitraryBytes) {
    std::mt19937 random(1060);
    for (int round = 0; round < 2000; ++round) {
        std::string bytes(random() % 3000, '\0');
        for (char& byte : bytes) {
            byte = static_cast<char>(random() % 256);
        }
        if (bytes.size() >= 4 && random() % 2 == 0) {
            bytes[0] = static_cast<char>(1 + random() % 3);  // a plausible count
            bytes[1] = bytes[2] = bytes[3] = 0;
        }
        const LegacyContexts parsed = ParseLegacyContexts(bytes);
        EXPECT_LE(parsed.profiles.size() * kLegacyContextRecordSize + 8,
                  std::max<std::size_t>(bytes.size(), 8));
        for (const PatchContext& profile : parsed.profiles) {
            EXPECT_LE(profile.Name.size(), kProfileNameLimit);
            EXPECT_LE(profile.PatchPath.size(), kProfilePathLimit);
        }
    }
}

}  // namespace
}  // namespace veldmoor
