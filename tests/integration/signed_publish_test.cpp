// veldmoor-publish's signing as a maintainer runs it: keygen, root and its rotation, a signed
// publish read back with the client's own checks, and every refusal before anything is written.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "sync/file_list.h"
#include "sync/signed_metadata.h"
#include "tests/integration/repository_harness.h"
#include "tests/support/process_runner.h"

namespace veldmoor::test {
namespace {

namespace fs = std::filesystem;

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::int64_t Now() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

Sha256Digest Sha256Of(const std::string& bytes) {
    Sha256Hasher hasher;
    hasher.update(bytes.data(), bytes.size());
    return hasher.finish();
}

// Keys r1 and r2 (root), s1 (signing key of both roots) and s2 (of none); root1.root (version
// 1, key r1) and root2.root (version 2, key r2, signed by r1 too), all beside the source and
// repository folders, never inside.
class SignedPublish : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(temp_ / "keys");
        for (const char* name : {"r1", "r2", "s1", "s2"}) {
            const auto made = run({"keygen", key(name)});
            ASSERT_EQ(made.exitCode, 0) << made.output;
        }
        ASSERT_EQ(run({"root", "--root-key", key("r1") + ".key", "--signing-key",
                       key("s1") + ".pub", rootFile(1)})
                      .exitCode,
                  0);
        ASSERT_EQ(
            run({"root", "--root-key", key("r2") + ".key", "--old-root-key", key("r1") + ".key",
                 "--signing-key", key("s1") + ".pub", "--previous", rootFile(1), rootFile(2)})
                .exitCode,
            0);
        WriteTestFile(source() + "/a.txt", "first file");
        WriteTestFile(source() + "/sub/b.bin", RandomBytes(70000, 7));
    }

    ProgramResult run(const std::vector<std::string>& args) const {
        return RunProgram(PublishProgram(), args);
    }
    ProgramResult publishSigned(int rootVersion, const std::string& signingKey = "s1") const {
        return run(
            {"--key", key(signingKey) + ".key", "--root", rootFile(rootVersion), source(), repo()});
    }
    std::string key(const std::string& name) const { return temp_ / ("keys/" + name); }
    std::string rootFile(int version) const {
        return temp_ / ("keys/root" + std::to_string(version) + ".root");
    }
    RootDocument root(int version) const { return parseRoot(ReadTestFile(rootFile(version))); }
    std::string source() const { return temp_ / "source"; }
    std::string repo() const { return temp_ / "repo"; }
    std::string manifestText() const { return ReadTestFile(repo() + "/" + kManifestPath); }
    // The repository's manifest as a client with root version `version` would accept it.
    Manifest verified(int version) const {
        const Manifest manifest = verifyManifest(manifestText(), root(version), 0, Now());
        checkListAgainstManifest(parseFileList(ReadTestFile(repo() + "/filelist.php"), "/i"),
                                 manifest);
        return manifest;
    }

    TempDir temp_{"veldmoor-signed-publish"};
};

TEST_F(SignedPublish, KeygenWritesAnOwnerOnlyKeyAndItsPublicHalfAndNeverOverwrites) {
    const fs::perms perms = fs::status(key("s1") + ".key").permissions();
    EXPECT_EQ(perms, fs::perms::owner_read | fs::perms::owner_write);
    const auto privateKey = parsePrivateKeyFile(ReadTestFile(key("s1") + ".key"));
    const auto publicKey = parsePublicKeyFile(ReadTestFile(key("s1") + ".pub"));
    ASSERT_TRUE(privateKey && publicKey);
    EXPECT_EQ(publicKeyOf(*privateKey), *publicKey);

    const std::string before = ReadTestFile(key("s1") + ".key");
    const auto again = run({"keygen", key("s1")});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_TRUE(Contains(again.output, "already exists")) << again.output;
    EXPECT_EQ(ReadTestFile(key("s1") + ".key"), before);

    // Only the public half there: the pair is not made, not even its private file.
    WriteTestFile(key("lone") + ".pub", "x");
    EXPECT_EQ(run({"keygen", key("lone")}).exitCode, 1);
    EXPECT_FALSE(fs::exists(key("lone") + ".key"));
    EXPECT_EQ(run({"keygen"}).exitCode, 2);
}

TEST_F(SignedPublish, RotatedRootFollowsTheOldOneAndListsOnlyItsOwnKeys) {
    const RootDocument first = root(1);
    EXPECT_NO_THROW(verifySelfSignedRoot(first));
    EXPECT_EQ(first.version, 1u);
    EXPECT_GT(first.expires, Now() + 364 * 86400);

    const RootDocument second = walkRootChain(first, {ReadTestFile(rootFile(2))}, Now());
    EXPECT_EQ(second.version, 2u);
    const auto r2 = parsePublicKeyFile(ReadTestFile(key("r2") + ".pub"));
    ASSERT_TRUE(r2);
    EXPECT_EQ(second.rootKeys, std::vector<PublicKey>{*r2});

    // Without the old root's key the rotation cannot be followed: refused, nothing written.
    const auto unsigned_ =
        run({"root", "--root-key", key("r2") + ".key", "--signing-key", key("s1") + ".pub",
             "--previous", rootFile(1), temp_ / "keys/bad.root"});
    EXPECT_EQ(unsigned_.exitCode, 1);
    EXPECT_TRUE(Contains(unsigned_.output, "--old-root-key")) << unsigned_.output;
    EXPECT_FALSE(fs::exists(temp_ / "keys/bad.root"));

    // Two root keys, both needed for the next root.
    ASSERT_EQ(run({"root", "--root-key", key("r1") + ".key", "--root-key", key("r2") + ".key",
                   "--threshold", "2", "--signing-key", key("s1") + ".pub", "--signing-key",
                   key("s2") + ".pub", "--signing-threshold", "2", "--expires", "10",
                   temp_ / "keys/two.root"})
                  .exitCode,
              0);
    const RootDocument two = parseRoot(ReadTestFile(temp_ / "keys/two.root"));
    EXPECT_NO_THROW(verifySelfSignedRoot(two));
    EXPECT_EQ(two.rootThreshold, 2u);
    EXPECT_EQ(two.signingThreshold, 2u);
    EXPECT_LT(two.expires, Now() + 11 * 86400);
    EXPECT_EQ(run({"root", "--root-key", key("r1") + ".key", "--threshold", "2", "--signing-key",
                   key("s1") + ".pub", temp_ / "keys/three.root"})
                  .exitCode,
              2);
}

TEST_F(SignedPublish, ManifestVerifiesAndNamesEveryFileByItsContent) {
    const auto first = publishSigned(1);
    ASSERT_EQ(first.exitCode, 0) << first.output;
    const Manifest manifest = verified(1);
    ASSERT_EQ(manifest.files.size(), 2u);
    for (const ManifestEntry& entry : manifest.files) {
        const std::string copy = ReadTestFile(repo() + "/transfer/" + entry.path);
        EXPECT_EQ(entry.size, copy.size()) << entry.path;
        EXPECT_EQ(entry.sha256, Sha256Of(copy)) << entry.path;
    }
    EXPECT_GT(manifest.expires, Now() + 29 * 86400);
    EXPECT_EQ(ReadTestFile(repo() + "/signed/root/1.root"), ReadTestFile(rootFile(1)));
    EXPECT_FALSE(Contains(ReadTestFile(repo() + "/signed/root/1.root") + manifestText(),
                          ReadTestFile(key("s1") + ".key").substr(25, 64)));

    // One file changes: its entry follows it, the other keeps its own without being read.
    WriteTestFile(source() + "/a.txt", "second content");
    const auto second = publishSigned(1);
    ASSERT_EQ(second.exitCode, 0) << second.output;
    EXPECT_TRUE(Contains(second.output, "(0 files hashed")) << second.output;
    const Manifest next = verified(1);
    EXPECT_GT(next.version, manifest.version);
    EXPECT_EQ(next.files[0].sha256, Sha256Of("second content"));
    EXPECT_EQ(formatManifestBody({0, 0, 0, {next.files[1]}}),
              formatManifestBody({0, 0, 0, {manifest.files[1]}}));

    // After a rotation the chain accumulates and a client of root 1 walks to root 2.
    const auto rotated = publishSigned(2);
    ASSERT_EQ(rotated.exitCode, 0) << rotated.output;
    EXPECT_EQ(ReadTestFile(repo() + "/signed/root/1.root"), ReadTestFile(rootFile(1)));
    const RootDocument newest =
        walkRootChain(root(1), {ReadTestFile(repo() + "/signed/root/2.root")}, Now());
    EXPECT_NO_THROW(verifyManifest(manifestText(), newest, next.version, Now()));
}

TEST_F(SignedPublish, LeavesTodaysFilesAsAnUnsignedPublishWritesThem) {
    ASSERT_EQ(publishSigned(1).exitCode, 0);
    const std::string plain = temp_ / "plain";
    Publish(source(), plain);
    auto signedTree = ReadTree(repo());
    for (auto it = signedTree.begin(); it != signedTree.end();) {
        it = it->first.starts_with("signed/") ? signedTree.erase(it) : std::next(it);
    }
    EXPECT_EQ(signedTree, ReadTree(plain));
}

TEST_F(SignedPublish, WarnsWhenTheRootExpiresBeforeTheManifest) {
    const auto within = publishSigned(1);
    EXPECT_FALSE(Contains(within.output, "warning")) << within.output;
    const auto beyond = run(
        {"--key", key("s1") + ".key", "--root", rootFile(1), "--expires", "400", source(), repo()});
    ASSERT_EQ(beyond.exitCode, 0) << beyond.output;
    EXPECT_TRUE(Contains(beyond.output, "warning: root version 1")) << beyond.output;
    EXPECT_GT(verified(1).expires, root(1).expires);
}

class SignedPublishRefusal;

struct Refusal {
    const char* name;
    // Prepares the case and returns the arguments of the publish to be refused.
    std::function<std::vector<std::string>(SignedPublishRefusal&)> arrange;
    int exitCode;
    const char* says;
};

class SignedPublishRefusal : public SignedPublish, public ::testing::WithParamInterface<Refusal> {
public:
    // Reaches the fixture's helpers from the cases.
    using SignedPublish::key;
    using SignedPublish::repo;
    using SignedPublish::rootFile;
    using SignedPublish::source;
    const TempDir& temp() const { return temp_; }
    void publishFirst(int rootVersion) { ASSERT_EQ(publishSigned(rootVersion).exitCode, 0); }
};

TEST_P(SignedPublishRefusal, StopsBeforeTheRepositoryChanges) {
    const std::vector<std::string> args = GetParam().arrange(*this);
    const auto before =
        fs::exists(repo()) ? ReadTree(repo()) : std::map<std::string, std::string>{};

    const auto result = run(args);

    EXPECT_EQ(result.exitCode, GetParam().exitCode) << result.output;
    EXPECT_TRUE(Contains(result.output, GetParam().says)) << result.output;
    const auto after = fs::exists(repo()) ? ReadTree(repo()) : std::map<std::string, std::string>{};
    EXPECT_EQ(after, before);
}

std::vector<std::string> WithKeyAndRoot(const SignedPublishRefusal& t, const std::string& keyFile,
                                        const std::string& root) {
    return {"--key", keyFile, "--root", root, t.source(), t.repo()};
}

const Refusal kRefusals[] = {
    {"RootNotSignedByItsKeys",
     [](SignedPublishRefusal& t) {
         std::string text = ReadTestFile(t.rootFile(1));
         text.replace(text.find("expires 1"), 9, "expires 2");
         WriteTestFile(t.temp() / "keys/forged.root", text);
         return WithKeyAndRoot(t, t.key("s1") + ".key", t.temp() / "keys/forged.root");
     },
     1, "signatures"},
    {"RootExpired",
     [](SignedPublishRefusal& t) {
         RootDocument old = parseRoot(ReadTestFile(t.rootFile(1)));
         old.expires = Now() - 10;
         const auto r1 = parsePrivateKeyFile(ReadTestFile(t.key("r1") + ".key"));
         WriteTestFile(t.temp() / "keys/old.root", signBody(formatRootBody(old), {*r1}));
         return WithKeyAndRoot(t, t.key("s1") + ".key", t.temp() / "keys/old.root");
     },
     1, "expired"},
    {"KeyNotASigningKeyOfTheRoot",
     [](SignedPublishRefusal& t) { return WithKeyAndRoot(t, t.key("s2") + ".key", t.rootFile(1)); },
     1, "is not a signing key of root version 1"},
    {"RootOlderThanTheRepositorys",
     [](SignedPublishRefusal& t) {
         t.publishFirst(2);
         WriteTestFile(t.source() + "/new.txt", "new");
         return WithKeyAndRoot(t, t.key("s1") + ".key", t.rootFile(1));
     },
     1, "already has root version 2"},
    {"RootThatDoesNotFollowTheRepositorys",
     [](SignedPublishRefusal& t) {
         t.publishFirst(1);
         // A version 2 that only its own key signed: clients of root 1 could not follow it.
         RootDocument lone = parseRoot(ReadTestFile(t.rootFile(2)));
         const auto r2 = parsePrivateKeyFile(ReadTestFile(t.key("r2") + ".key"));
         WriteTestFile(t.temp() / "keys/lone.root", signBody(formatRootBody(lone), {*r2}));
         return WithKeyAndRoot(t, t.key("s1") + ".key", t.temp() / "keys/lone.root");
     },
     1, "--previous"},
    {"PrivateKeyInsideTheSource",
     [](SignedPublishRefusal& t) {
         WriteTestFile(t.source() + "/s1.key", ReadTestFile(t.key("s1") + ".key"));
         return WithKeyAndRoot(t, t.source() + "/s1.key", t.rootFile(1));
     },
     1, "inside the source folder"},
    {"PrivateKeyInsideTheRepository",
     [](SignedPublishRefusal& t) {
         t.publishFirst(1);
         WriteTestFile(t.repo() + "/keys/s1.key", ReadTestFile(t.key("s1") + ".key"));
         return WithKeyAndRoot(t, t.repo() + "/keys/s1.key", t.rootFile(1));
     },
     1, "inside the repository folder"},
    {"KeyWithoutRoot",
     [](SignedPublishRefusal& t) {
         return std::vector<std::string>{"--key", t.key("s1") + ".key", t.source(), t.repo()};
     },
     2, "both --key"},
    {"RootWithoutKey",
     [](SignedPublishRefusal& t) {
         return std::vector<std::string>{"--root", t.rootFile(1), t.source(), t.repo()};
     },
     2, "both --key"},
    {"PublicKeyGivenAsTheKey",
     [](SignedPublishRefusal& t) { return WithKeyAndRoot(t, t.key("s1") + ".pub", t.rootFile(1)); },
     1, "not a private key file"},
};

INSTANTIATE_TEST_SUITE_P(Cases, SignedPublishRefusal, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace veldmoor::test
