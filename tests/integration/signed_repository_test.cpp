// A repository signed with the real veldmoor-publish and served on loopback: what the engine
// accepts (a rotated root, a fresh install by whole files, verify and heal) and what it refuses,
// from every side, leaving the installation and the trusted state as they were.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <functional>

#include "sync/patch_exception.h"
#include "sync/repo_sync.h"
#include "sync/signed_metadata.h"
#include "system/file_ops.h"
#include "system/file_time.h"
#include "tests/integration/repository_harness.h"
#include "tests/support/process_runner.h"

namespace veldmoor::test {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kDay = 24 * 60 * 60;

// Every file below a folder with its content and time: equal snapshots mean nothing was
// changed, and nothing (a temporary file, resume data) was left behind.
using Snapshot = std::map<std::string, std::pair<std::string, std::int64_t>>;
Snapshot SnapshotOf(const std::string& folder) {
    Snapshot snapshot;
    if (!fs::exists(folder)) {
        return snapshot;
    }
    for (const auto& [path, content] : ReadTree(folder)) {
        snapshot[path] = {content, LastWriteTime(folder + "/" + path)};
    }
    return snapshot;
}

class SignedRepository : public ::testing::Test {
public:
    void SetUp() override {
        fs::create_directories(repo());
        keygen("root");
        keygen("signing");
        makeRoot(root(1), "root", "signing");
        server_ = StartServer(ServerKind::Project, web_.path(), "game");
        // Version 1 installed and trusted; version 2 published, changing a.bin.
        write(source(), "a.bin", RandomBytes(300'000, 1), 1'600'000'000);
        write(source(), "data/b.bin", RandomBytes(90'000, 2), 1'600'000'000);
        write(source(), "c.txt", "Hallo Veldmoor\n", 1'600'000'000);
        publish();
        sync();
        fs::copy(repo(), work_ / "repo-v1", fs::copy_options::recursive);
        write(source(), "a.bin", RandomBytes(300'000, 3), 1'600'000'100);
        publish();
    }

    std::string source() const { return work_ / "source"; }
    std::string repo() const { return web_ / "game"; }
    std::string install() const { return work_ / "install"; }
    std::string state() const { return work_ / "state"; }
    std::string key(const std::string& name) const { return work_ / ("keys/" + name); }
    std::string root(int version) const { return work_ / ("root-" + std::to_string(version)); }

    void keygen(const std::string& name) {
        fs::create_directories(work_ / "keys");
        const auto made = RunProgram(PublishProgram(), {"keygen", key(name)});
        ASSERT_EQ(made.exitCode, 0) << made.output;
    }
    void makeRoot(const std::string& out, const std::string& rootKey, const std::string& signingKey,
                  const std::string& previous = "", const std::string& oldRootKey = "") {
        std::vector<std::string> args{"root", "--root-key", key(rootKey) + ".key", "--signing-key",
                                      key(signingKey) + ".pub"};
        if (!previous.empty()) {
            args.insert(args.end(), {std::string("--previous"), previous});
        }
        if (!oldRootKey.empty()) {
            args.insert(args.end(), {std::string("--old-root-key"), key(oldRootKey) + ".key"});
        }
        args.push_back(out);
        const auto made = RunProgram(PublishProgram(), args);
        ASSERT_EQ(made.exitCode, 0) << made.output;
    }
    static void write(const std::string& folder, const std::string& path,
                      const std::string& content, std::int64_t time) {
        WriteTestFile(folder + "/" + path, content);
        SetLastWriteTimeOfEntry(folder + "/" + path, time);
    }
    void publish(const std::string& signingKey = "signing", int rootVersion = 1) {
        Publish(source(), repo(), {"--key", key(signingKey) + ".key", "--root", root(rootVersion)});
    }

    SyncOutcome sync(bool verify = false) {
        return SyncFolder(
            install(), server_->address(), HttpSettings::fromEnvironment(), nullptr,
            [&](RepoSync& engine) {
                engine.setTrust({ReadTestFile(root(1)), state(), [this] { return now_; }});
                engine.setVerifyContent(verify);
            });
    }

    TempDir work_{"veldmoor-signed"};
    TempDir web_{"veldmoor-web"};
    std::unique_ptr<Server> server_;
    std::int64_t now_ = std::time(nullptr);
};

struct Tampering {
    const char* name;
    TrustCheck refusedBy;
    std::function<void(SignedRepository&)> tamper;
};

class TamperingTest : public SignedRepository, public ::testing::WithParamInterface<Tampering> {};

void ReplaceInFile(const std::string& path, const std::string& from, const std::string& to) {
    std::string text = ReadTestFile(path);
    const auto at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from << " not in " << path;
    WriteTestFile(path, text.replace(at, from.size(), to));
}

TEST_P(TamperingTest, IsRefusedLeavingTheInstallationAndTheStateAsTheyWere) {
    GetParam().tamper(*this);
    const Snapshot installed = SnapshotOf(install());
    const Snapshot trusted = SnapshotOf(state());
    ASSERT_FALSE(trusted.empty());

    try {
        sync();
        FAIL() << "the tampered update was accepted";
    } catch (const PatchException& e) {
        EXPECT_EQ(e.category, 3) << e.what();
        EXPECT_EQ(e.code, 12) << e.what();
        EXPECT_EQ(e.params.at("Check"), static_cast<std::uint32_t>(GetParam().refusedBy))
            << e.what();
    }
    EXPECT_EQ(SnapshotOf(install()), installed);
    EXPECT_EQ(SnapshotOf(state()), trusted);
}

const Tampering kTamperings[] = {
    {"HostileFileWithMatchingIndexAndList", TrustCheck::ContentMismatch,
     [](SignedRepository& t) {
         // A second publisher builds a.bin's copy and index from other bytes of the same time.
         const std::string hostile = t.work_ / "hostile-source";
         fs::copy(t.source(), hostile, fs::copy_options::recursive);
         t.write(hostile, "a.bin", RandomBytes(300'000, 666), 1'600'000'100);
         Publish(hostile, t.work_ / "hostile-repo");
         for (const char* file : {"transfer/a.bin", "transfer/a.bin.chunks"}) {
             fs::copy_file(t.work_ / ("hostile-repo/" + std::string(file)), t.repo() + "/" + file,
                           fs::copy_options::overwrite_existing);
         }
     }},
    {"OldIndexThatCallsTheLocalCopyCurrent", TrustCheck::ContentMismatch,
     [](SignedRepository& t) {
         // Every block found in place: without the hash only the time would be set.
         fs::copy_file(t.work_ / "repo-v1/transfer/a.bin.chunks",
                       t.repo() + "/transfer/a.bin.chunks", fs::copy_options::overwrite_existing);
     }},
    {"ReplayedOlderManifest", TrustCheck::Rollback,
     [](SignedRepository& t) {
         t.sync();  // version 2 is trusted now
         fs::remove_all(t.repo());
         fs::copy(t.work_ / "repo-v1", t.repo(), fs::copy_options::recursive);
     }},
    {"ExpiredManifest", TrustCheck::Expired, [](SignedRepository& t) { t.now_ += 31 * kDay; }},
    {"ManifestSignedByAnUnknownKey", TrustCheck::Signatures,
     [](SignedRepository& t) {
         t.keygen("stranger-root");
         t.keygen("stranger");
         const std::string strangerRoot = t.work_ / "stranger.root";
         t.makeRoot(strangerRoot, "stranger-root", "stranger");
         Publish(t.source(), t.work_ / "stranger-repo",
                 {"--key", t.key("stranger") + ".key", "--root", strangerRoot});
         fs::copy_file(t.work_ / "stranger-repo/signed/manifest", t.repo() + "/signed/manifest",
                       fs::copy_options::overwrite_existing);
     }},
    {"MissingManifest", TrustCheck::ManifestMissing,
     [](SignedRepository& t) { fs::remove(t.repo() + "/signed/manifest"); }},
    {"RootChainWithAGap", TrustCheck::ChainBroken,
     [](SignedRepository& t) {
         t.makeRoot(t.root(2), "root", "signing", t.root(1));
         t.makeRoot(t.root(3), "root", "signing", t.root(2));
         t.publish("signing", 2);  // the repository keeps every root it was signed under
         t.publish("signing", 3);
         fs::remove(t.repo() + "/signed/root/2.root");
     }},
    {"ListTimeChanged", TrustCheck::ListMismatch,
     [](SignedRepository& t) {
         ReplaceInFile(t.repo() + "/filelist.php", "\"c.txt\", time: \"1600000000\"",
                       "\"c.txt\", time: \"1600000001\"");
     }},
    {"ListEntryAdded", TrustCheck::ListMismatch,
     [](SignedRepository& t) {
         WriteTestFile(t.repo() + "/transfer/evil.exe", "MZ");
         ReplaceInFile(t.repo() + "/filelist.php", "[\n",
                       "[\n{ path: \"evil.exe\", time: \"1600000000\" },\n");
     }},
    {"UnreadableTrustedState", TrustCheck::StateUnreadable,
     [](SignedRepository& t) {
         for (const auto& entry : fs::directory_iterator(t.state())) {
             WriteTestFile(entry.path().string(), "veldmoor-trust 1\nmanifest-version x\n");
         }
     }},
};

INSTANTIATE_TEST_SUITE_P(FromEverySide, TamperingTest, ::testing::ValuesIn(kTamperings),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SignedRepository, ARotatedRootIsAcceptedAndRememberedOnlyOnceTheRunSucceeded) {
    keygen("root-2");
    keygen("signing-2");
    makeRoot(root(2), "root-2", "signing-2", root(1), "root");
    write(source(), "c.txt", "Hallo Welt\n", 1'600'000'200);
    publish("signing-2", 2);
    const Snapshot before = SnapshotOf(state());
    ASSERT_EQ(before.size(), 1u);
    const auto trusted = parseTrustState(before.begin()->second.first);
    ASSERT_TRUE(trusted);

    {  // a plan alone (a dry run) verifies but stores nothing
        RepoSync engine(install(), server_->address());
        engine.setTrust({ReadTestFile(root(1)), state(), {}});
        for (const auto& file : engine.listFiles()) {
            engine.prepareFile(file, {});
        }
        engine.totalDownloadBytes();
        ASSERT_NE(engine.verifiedManifest(), nullptr);
    }
    EXPECT_EQ(SnapshotOf(state()), before);

    sync();
    EXPECT_EQ(ReadTree(install()), ReadTree(source()));
    const auto stored = parseTrustState(SnapshotOf(state()).begin()->second.first);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->rootText, ReadTestFile(root(2)));
    EXPECT_GT(stored->manifestVersion, trusted->manifestVersion);
}

TEST_F(SignedRepository, AFreshInstallCostsOneRequestPerFile) {
    for (int i = 0; i < 12; ++i) {
        write(source(), "many/" + std::to_string(i) + ".dat", RandomBytes(5000 + i, i),
              1'600'000'300);
    }
    publish();
    fs::remove_all(install());
    server_->clearRequests();

    const SyncOutcome outcome = sync();

    EXPECT_EQ(ReadTree(install()), ReadTree(source()));
    std::size_t transfers = 0;
    for (const auto& request : server_->requests()) {
        EXPECT_FALSE(request.isChunkIndex()) << request.path;
        transfers += request.isTransfer() ? 1 : 0;
    }
    EXPECT_EQ(transfers, outcome.listed);
    EXPECT_EQ(server_->requests().size(), outcome.listed + 2);  // and the list and the manifest
}

TEST_F(SignedRepository, WithoutARootTheSignedFilesAreNeitherFetchedNorRequired) {
    fs::remove_all(repo() + "/signed");
    server_->clearRequests();
    SyncFolder(install(), server_->address());
    EXPECT_EQ(ReadTree(install()), ReadTree(source()));
    for (const auto& request : server_->requests()) {
        EXPECT_EQ(request.path.find("/signed/"), std::string::npos) << request.path;
    }
}

TEST_F(SignedRepository, VeldmoorSyncSaysWhatItVerifiedHealedAndRefused) {
    const auto run = [&](std::vector<std::string> options) {
        options.insert(options.end(), {install(), server_->address()});
        return RunProgram(SyncProgram(), options);
    };
    const auto contains = [](const ProgramResult& result, const std::string& part) {
        return result.output.find(part) != std::string::npos;
    };
    const auto unverified = run({"--state", state()});
    EXPECT_EQ(unverified.exitCode, 0) << unverified.output;
    EXPECT_TRUE(contains(unverified, "the repository is not verified")) << unverified.output;

    const std::vector<std::string> trusted{"--trust", root(1), "--state", state()};
    std::string bytes = ReadTestFile(install() + "/c.txt");
    bytes[0] = 'h';
    write(install(), "c.txt", bytes, LastWriteTime(install() + "/c.txt"));
    auto verify = trusted;
    verify.push_back("--verify");
    const auto healed = run(verify);
    EXPECT_EQ(healed.exitCode, 0) << healed.output;
    EXPECT_TRUE(contains(healed, "3 files examined, 1 found different: c.txt; 1 healed"))
        << healed.output;
    EXPECT_EQ(ReadTree(install()), ReadTree(source()));

    fs::remove(repo() + "/signed/manifest");
    const auto refused = run(trusted);
    EXPECT_EQ(refused.exitCode, 1) << refused.output;
    EXPECT_TRUE(contains(refused, "nicht verifiziert werden konnte")) << refused.output;
    EXPECT_TRUE(contains(refused, "check: manifest present")) << refused.output;
}

// Verify heals a file whose bytes changed under its listed time, by the manifest's hash or, in
// an unsigned run, by the chunk index, fetching only the differing blocks.
class VerifyAndHeal : public SignedRepository, public ::testing::WithParamInterface<bool> {};

TEST_P(VerifyAndHeal, FetchesOnlyTheDifferingBlocksOfACorruptedFile) {
    const bool signedRun = GetParam();
    sync();
    const std::string victim = install() + "/a.bin";
    std::string bytes = ReadTestFile(victim);
    bytes[150'000] ^= 0x5A;
    write(install(), "a.bin", bytes, LastWriteTime(victim));
    server_->clearRequests();

    const auto run = [&](bool verify) {
        if (signedRun) {
            return sync(verify);
        }
        return SyncFolder(install(), server_->address(), HttpSettings::fromEnvironment(), nullptr,
                          [&](RepoSync& engine) { engine.setVerifyContent(verify); });
    };
    EXPECT_TRUE(run(false).examined.empty());
    EXPECT_NE(ReadTestFile(victim), ReadTestFile(source() + "/a.bin"));

    const SyncOutcome healed = run(true);
    EXPECT_EQ(healed.examined, std::set<std::string>{"a.bin"});
    EXPECT_EQ(ReadTree(install()), ReadTree(source()));
    std::uint64_t fileBytes = 0;
    for (const auto& request : server_->faultable()->requests()) {
        if (request.path.find("/transfer/") != std::string::npos &&
            !request.path.ends_with(".chunks")) {
            fileBytes += request.bodyBytes;
        }
    }
    EXPECT_GT(fileBytes, 0u);
    EXPECT_LE(fileBytes, 2u * 2048u);  // one block, or two if the byte sat on a boundary
}

INSTANTIATE_TEST_SUITE_P(SignedOrNot, VerifyAndHeal, ::testing::Bool());

}  // namespace
}  // namespace veldmoor::test
