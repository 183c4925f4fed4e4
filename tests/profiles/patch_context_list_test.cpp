#include "profiles/patch_context_list.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <random>
#include <string>

#include "tests/profiles/file_size_limit.h"
#include "tests/profiles/temp_folder.h"

namespace veldmoor {
namespace {

using testing::FileSizeLimit;
using testing::TempFolder;

PatchContext MakeProfile(std::string_view name, std::string_view patchPath,
                         std::string_view repoPath, std::string_view execute, bool autoPatch,
                         bool setRegistryPath) {
    PatchContext context;
    context.Name = name;
    context.PatchPath = patchPath;
    context.RepoPath = repoPath;
    context.ExecuteAfterPatch = execute;
    context.AutoPatch = autoPatch;
    context.SetRegistryPath = setRegistryPath;
    return context;
}

constexpr char kTwoProfilesXml[] =
    "<LastSelected value=\"1\" />\r\n"
    "<Profiles>\r\n"
    "\t<Profile>\r\n"
    "\t\t<Name value=\"Tom &amp; Jerry &lt;3 &quot;x&quot; 'y' >\" />\r\n"
    "\t\t<PatchPath value=\"/games/veldmoor\" />\r\n"
    "\t\t<RepoPath value=\"https://sync.example/srv/\" />\r\n"
    "\t\t<ExecuteAfterPatch value=\"/games/veldmoor/client.exe\" />\r\n"
    "\t\t<AutoPatch enabled=\"true\" />\r\n"
    "\t\t<SetRegistryPath enabled=\"false\" />\r\n"
    "\t</Profile>\r\n"
    "\t<Profile>\r\n"
    "\t\t<Name value=\"Bau-Server äöü\" />\r\n"
    "\t\t<PatchPath value=\"\" />\r\n"
    "\t\t<RepoPath value=\"http://sync.example/bau/\" />\r\n"
    "\t\t<ExecuteAfterPatch value=\"\" />\r\n"
    "\t\t<AutoPatch enabled=\"false\" />\r\n"
    "\t\t<SetRegistryPath enabled=\"true\" />\r\n"
    "\t</Profile>\r\n"
    "</Profiles>\r\n";

PatchContextList TwoProfiles(const std::string& folder) {
    PatchContextList list(folder);
    list.Add(MakeProfile("Tom & Jerry <3 \"x\" 'y' >", "/games/veldmoor",
                         "https://sync.example/srv/", "/games/veldmoor/client.exe", true, false));
    list.Add(MakeProfile("Bau-Server äöü", "", "http://sync.example/bau/", "", false, true));
    list.SetLastSelected(1);
    return list;
}

TEST(PatchContextListSave, WritesTheFileByteForByte) {
    TempFolder folder;
    PatchContextList list = TwoProfiles(folder.str());
    const Status saved = list.Save();
    ASSERT_TRUE(saved.Ok()) << saved.Message();
    EXPECT_EQ(folder.Read("profiles.xml"), kTwoProfilesXml);
}

TEST(PatchContextListSave, EmptyListWritesOnlyTheFrame) {
    TempFolder folder;
    PatchContextList list(folder.str());
    ASSERT_TRUE(list.Save());
    EXPECT_EQ(folder.Read("profiles.xml"),
              "<LastSelected value=\"0\" />\r\n<Profiles>\r\n</Profiles>\r\n");
}

TEST(PatchContextListSave, RoundTripKeepsEveryField) {
    TempFolder folder;
    PatchContextList written = TwoProfiles(folder.str());
    ASSERT_TRUE(written.Save());
    PatchContextList read(folder.str());
    ASSERT_EQ(read.Load(), 1u);
    ASSERT_EQ(read.Count(), 2u);
    EXPECT_EQ(*read.At(0), *written.At(0));
    EXPECT_EQ(*read.At(1), *written.At(1));
}

TEST(PatchContextListSave, ReplacesTheFileAndKeepsItsPermissions) {
    TempFolder folder;
    folder.Write("profiles.xml", "old contents that are longer than the new ones ...........");
    ASSERT_EQ(chmod(folder.Join("profiles.xml").c_str(), 0640), 0);
    PatchContextList list(folder.str());
    ASSERT_TRUE(list.Save());
    EXPECT_EQ(folder.Read("profiles.xml"),
              "<LastSelected value=\"0\" />\r\n<Profiles>\r\n</Profiles>\r\n");
    struct stat info {};
    ASSERT_EQ(stat(folder.Join("profiles.xml").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
}

// Counts the entries of a folder, to see that no temporary file is left behind.
std::size_t EntriesIn(const std::filesystem::path& folder) {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) {
        ++count;
    }
    return count;
}

// A write that fails midway (as on a full disk) must leave the previous file intact.
TEST(PatchContextListSave, FailedWriteLeavesThePreviousFileIntact) {
    TempFolder folder;
    PatchContextList previous = TwoProfiles(folder.str());
    ASSERT_TRUE(previous.Save());

    PatchContextList bigger = TwoProfiles(folder.str());
    for (int i = 0; i < 50; ++i) {
        bigger.Add(MakeProfile("Profil " + std::to_string(i), "/games/x", "https://a/srv/", "",
                               false, false));
    }
    const Status saved = [&] {
        const FileSizeLimit limit(512);
        return bigger.Save();
    }();

    EXPECT_FALSE(saved.Ok());
    EXPECT_NE(saved.Message().find("profiles.xml"), std::string::npos) << saved.Message();
    EXPECT_EQ(folder.Read("profiles.xml"), kTwoProfilesXml);
    EXPECT_EQ(EntriesIn(folder.path()), 1u) << "a temporary file was left behind";
    EXPECT_EQ(bigger.Count(), 52u);
}

TEST(PatchContextListSave, MissingFolderFailsWithTheReason) {
    TempFolder folder;
    PatchContextList list(folder.Join("does-not-exist"));
    const Status saved = list.Save();
    EXPECT_FALSE(saved.Ok());
    EXPECT_NE(saved.Message().find("does-not-exist/profiles.xml"), std::string::npos)
        << saved.Message();
}

TEST(PatchContextListLoad, ReadsNamesInAnyCaseAndFlagTexts) {
    TempFolder folder;
    folder.Write("profiles.xml",
                 "<lastselected VALUE='1'/>\n<PROFILES>\n"
                 "<profile><NAME Value='a'/><AUTOPATCH ENABLED='On'/>"
                 "<setregistrypath enabled='1'/></profile>\n"
                 "<Profile><Name value='b'/><AutoPatch enabled='yes'/>"
                 "<SetRegistryPath enabled='TRUE'/></Profile>\n"
                 "</PROFILES>");
    PatchContextList list(folder.str());
    ASSERT_EQ(list.Load(), 1u);
    ASSERT_EQ(list.Count(), 2u);
    EXPECT_EQ(list.At(0)->Name, "a");
    EXPECT_TRUE(list.At(0)->AutoPatch);
    EXPECT_TRUE(list.At(0)->SetRegistryPath);
    EXPECT_FALSE(list.At(1)->AutoPatch);
    EXPECT_TRUE(list.At(1)->SetRegistryPath);
}

TEST(PatchContextListLoad, AcceptsByteOrderMarkDeclarationCommentsAndEntities) {
    TempFolder folder;
    folder.Write("profiles.xml",
                 "\xEF\xBB\xBF<?xml version=\"1.0\"?>\r\n<!-- written by hand -->\r\n"
                 "<!DOCTYPE profiles>\r\n<LastSelected value=\"0\" />\r\n<Profiles>\r\n"
                 "<!-- a comment among profiles --><Profile>"
                 "<Name value=\"A&amp;B &#65;&#x42; &apos;&gt;\" /></Profile></Profiles>\r\n");
    PatchContextList list(folder.str());
    ASSERT_EQ(list.Load(), 0u);
    ASSERT_EQ(list.Count(), 1u);
    EXPECT_EQ(list.At(0)->Name, "A&B AB '>");
}

TEST(PatchContextListLoad, OutOfRangeLastSelectedSelectsTheFirstProfile) {
    for (const char* value : {"7", "-1", "3", "abc", "", "99999999999999"}) {
        TempFolder folder;
        folder.Write("profiles.xml", std::string("<LastSelected value=\"") + value +
                                         "\" /><Profiles><Profile/><Profile/><Profile/>"
                                         "</Profiles>");
        PatchContextList list(folder.str());
        EXPECT_EQ(list.Load(), 0u) << value;
        EXPECT_EQ(list.LastSelected(), 0u) << value;
        ASSERT_TRUE(list.Save());
        EXPECT_EQ(folder.Read("profiles.xml").substr(0, 28), "<LastSelected value=\"0\" />\r\n")
            << value;
    }
}

TEST(PatchContextListLoad, LastSelectedReadsLikeAtoiAndTheLaterValueWins) {
    TempFolder folder;
    folder.Write("profiles.xml",
                 "<LastSelected value=\"0\" /><LastSelected value=\"  +2xyz\" />"
                 "<Profiles><Profile/><Profile/><Profile/></Profiles>");
    PatchContextList list(folder.str());
    EXPECT_EQ(list.Load(), 2u);
}

TEST(PatchContextListLoad, MissingFieldsAreEmptyAndNeverTakenFromAnotherProfile) {
    TempFolder folder;
    folder.Write("profiles.xml",
                 "<Profiles><Profile><Name value=\"full\"/><PatchPath value=\"/p\"/>"
                 "<RepoPath value=\"r\"/><ExecuteAfterPatch value=\"e\"/>"
                 "<AutoPatch enabled=\"true\"/><SetRegistryPath enabled=\"true\"/></Profile>"
                 "<Profile><Name value=\"sparse\"/><AutoPatch/><Unknown value=\"x\"/>"
                 "</Profile></Profiles>");
    PatchContextList list(folder.str());
    ASSERT_EQ(list.Load(), 0u);
    ASSERT_EQ(list.Count(), 2u);
    const PatchContext& sparse = *list.At(1);
    EXPECT_EQ(sparse.Name, "sparse");
    EXPECT_TRUE(sparse.PatchPath.empty());
    EXPECT_TRUE(sparse.RepoPath.empty());
    EXPECT_TRUE(sparse.ExecuteAfterPatch.empty());
    EXPECT_FALSE(sparse.AutoPatch);
    EXPECT_FALSE(sparse.SetRegistryPath);
}

TEST(PatchContextListLoad, LaterFieldElementWins) {
    TempFolder folder;
    folder.Write("profiles.xml",
                 "<Profiles><Profile><Name value=\"first\"/><Name other=\"x\" value=\"second\"/>"
                 "<AutoPatch enabled=\"true\"/><AutoPatch enabled=\"off\"/></Profile></Profiles>");
    PatchContextList list(folder.str());
    ASSERT_EQ(list.Load(), 0u);
    EXPECT_EQ(list.At(0)->Name, "second");
    EXPECT_FALSE(list.At(0)->AutoPatch);
}

TEST(PatchContextListLoad, FilesWithoutProfilesSelectNothingAndMalformedOnesChangeNothing) {
    for (const char* contents :
         {"", "<Profiles></Profiles>", "<Profiles><Other/></Profiles>", "<Profiles><Profile>",
          "<LastSelected value=\"1\" /><Profiles><Profile><Name value=\"x\"/></Profile>",
          "<Profiles><Profile><Name value=\"unterminated /></Profile></Profiles>", "<<>>"}) {
        TempFolder folder;
        folder.Write("profiles.xml", contents);
        PatchContextList list(folder.str());
        list.Add(MakeProfile("kept", "", "", "", false, false));
        list.SetLastSelected(0);
        // With one profile already in the list, a file that adds none still selects index 0.
        const std::optional<std::size_t> selected = list.Load();
        EXPECT_TRUE(!selected || *selected == 0) << contents;
        EXPECT_EQ(list.Count(), 1u) << contents;
        EXPECT_EQ(list.At(0)->Name, "kept") << contents;

        PatchContextList fresh(folder.str());
        EXPECT_EQ(fresh.Load(), std::nullopt) << contents;
        EXPECT_EQ(fresh.Count(), 0u) << contents;
    }
}

TEST(PatchContextListLoad, MissingFileSelectsNothing) {
    TempFolder folder;
    PatchContextList list(folder.str());
    EXPECT_EQ(list.Load(), std::nullopt);
}

TEST(PatchContextListLoad, OverlongValuesAreTruncatedToTheFieldLimits) {
    TempFolder folder;
    const std::string longText(400, 'x');
    folder.Write("profiles.xml",
                 "<Profiles><Profile><Name value=\"" + longText + "\"/><PatchPath value=\"" +
                     longText + "\"/><RepoPath value=\"" + longText +
                     "\"/><ExecuteAfterPatch value=\"" + longText + "\"/></Profile></Profiles>");
    PatchContextList list(folder.str());
    ASSERT_EQ(list.Load(), 0u);
    EXPECT_EQ(list.At(0)->Name.size(), 255u);
    EXPECT_EQ(list.At(0)->PatchPath.size(), 259u);
    EXPECT_EQ(list.At(0)->RepoPath.size(), 259u);
    EXPECT_EQ(list.At(0)->ExecuteAfterPatch.size(), 259u);
}

TEST(PatchContextListLoad, WindowsCodePageTextBecomesUtf8) {
    TempFolder folder;
    // "Müller" and "C:\Spiele\Über" as the Windows launcher wrote them (Windows-1252).
    folder.Write("profiles.xml",
                 "<Profiles><Profile><Name value=\"M\xFCller \x80\"/>"
                 "<PatchPath value=\"C:\\Spiele\\\xDC"
                 "ber\"/></Profile></Profiles>");
    PatchContextList list(folder.str());
    ASSERT_EQ(list.Load(), 0u);
    EXPECT_EQ(list.At(0)->Name, "Müller €");
    EXPECT_EQ(list.At(0)->PatchPath, "C:\\Spiele\\Über");
}

TEST(PatchContextListLoad, AppendsToProfilesAlreadyInTheList) {
    TempFolder folder;
    folder.Write("profiles.xml",
                 "<LastSelected value=\"1\"/><Profiles><Profile><Name value=\"b\"/></Profile>"
                 "</Profiles>");
    PatchContextList list(folder.str());
    list.Add(MakeProfile("a", "", "", "", false, false));
    EXPECT_EQ(list.Load(), 1u);
    ASSERT_EQ(list.Count(), 2u);
    EXPECT_EQ(list.At(1)->Name, "b");
}

// Random damage to a valid file never crashes the reader (ASan checks the reads) and never
// yields half a file: the list either gains profiles or stays as it was.
TEST(PatchContextListLoad, SurvivesDamagedFiles) {
    TempFolder folder;
    std::mt19937 random(20261207);
    const std::string valid = kTwoProfilesXml;
    for (int round = 0; round < 3000; ++round) {
        std::string damaged = valid;
        const int edits = 1 + static_cast<int>(random() % 8);
        for (int e = 0; e < edits; ++e) {
            const std::size_t at = random() % damaged.size();
            switch (random() % 3) {
                case 0:
                    damaged[at] = static_cast<char>(random() % 256);
                    break;
                case 1:
                    damaged.erase(at, 1 + random() % 20);
                    break;
                default:
                    damaged.insert(at, 1, "<>&\"'/=;#x"[random() % 10]);
            }
            if (damaged.empty()) {
                damaged.assign(1, '<');
            }
        }
        folder.Write("profiles.xml", damaged);
        PatchContextList list(folder.str());
        const std::optional<std::size_t> selected = list.Load();
        if (selected) {
            EXPECT_LT(*selected, list.Count());
        }
        EXPECT_LE(list.Count(), 2u + static_cast<std::size_t>(edits));
    }
}

// The parser descends once per nested element; a damaged or hostile file that nests deeply must
// be refused like any malformed file, not run the start-up out of stack.
TEST(PatchContextListLoad, DeeplyNestedElementsAreRefusedNotFollowed) {
    TempFolder folder;
    constexpr int kDepth = 400000;
    // Plain tags, and tags whose name holds a quote and whose value holds "/>".
    for (const std::string_view opening : {"<a>", "<\"q x='/>'>"}) {
        std::string nested = "<Profiles><Profile><Name value=\"deep\" /></Profile>";
        nested.reserve(kDepth * (opening.size() + 4) + 64);
        for (int i = 0; i < kDepth; ++i) {
            nested.append(opening);
        }
        for (int i = 0; i < kDepth; ++i) {
            nested.append("</a>");
        }
        nested.append("</Profiles>");
        folder.Write("profiles.xml", nested);

        PatchContextList list(folder.str());
        EXPECT_EQ(list.Load(), std::nullopt) << opening;
        EXPECT_EQ(list.Count(), 0u) << opening;
    }

    // Ordinary nesting in an element the reader ignores, and markup inside comments and
    // attribute values, still read.
    std::string moderate = "<!-- <a><a><a> --><Profiles><Profile><Name value=\"<a><a>\" />";
    for (int i = 0; i < 20; ++i) {
        moderate.append("<x a='/>'>");
    }
    for (int i = 0; i < 20; ++i) {
        moderate.append("</x>");
    }
    moderate.append("</Profile></Profiles>");
    folder.Write("profiles.xml", moderate);
    PatchContextList readable(folder.str());
    EXPECT_EQ(readable.Load(), 0u);
    ASSERT_EQ(readable.Count(), 1u);
    EXPECT_EQ(readable.At(0)->Name, "<a><a>");
}

TEST(PatchContextList, RemoveMovesLaterProfilesUpAndIgnoresIndexesPastTheEnd) {
    PatchContextList list;
    for (const char* name : {"a", "b", "c"}) {
        list.Add(MakeProfile(name, "", "", "", false, false));
    }
    list.Remove(3);
    EXPECT_EQ(list.Count(), 3u);
    list.Remove(1);
    ASSERT_EQ(list.Count(), 2u);
    EXPECT_EQ(list.At(0)->Name, "a");
    EXPECT_EQ(list.At(1)->Name, "c");
    EXPECT_EQ(list.At(2), nullptr);
}

TEST(PatchContextList, AddCopiesTheRecord) {
    PatchContextList list;
    PatchContext context = MakeProfile("original", "", "", "", false, false);
    list.Add(context);
    context.Name = "changed";
    EXPECT_EQ(list.At(0)->Name, "original");
}

TEST(PatchContextList, UsesTheCurrentDirectoryWithoutAFolder) {
    PatchContextList list;
    EXPECT_EQ(list.ProfilesFilePath(), "profiles.xml");
    EXPECT_EQ(list.ContextsFilePath(), "contexts");
}

}  // namespace
}  // namespace veldmoor
