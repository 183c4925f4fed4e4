// The command-line programs as a maintainer and a player run them: help, wrong use, exit
// codes, and veldmoor-publish's promises (idempotence, refusals, removals, re-indexing).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>
#include <vector>

#include "sync/file_list.h"
#include "system/file_time.h"
#include "system/folder_lock.h"
#include "tests/integration/repository_harness.h"
#include "tests/support/process_runner.h"
#include "tests/support/result_assertions.h"
#include "tests/support/scoped_env.h"
#include "tools/publish/chunk_index_writer.h"

extern char** environ;

namespace veldmoor::test {
namespace {

namespace fs = std::filesystem;

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Every file below `folder` with its modification time in the file system's full precision.
std::map<std::string, fs::file_time_type> Stamps(const std::string& folder) {
    std::map<std::string, fs::file_time_type> stamps;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        stamps[fs::relative(entry.path(), folder).generic_string()] = entry.last_write_time();
    }
    return stamps;
}

TEST(CommandLineTools, HelpExitsZeroAndWrongUseExitsTwo) {
    for (const auto& program : {PublishProgram(), SyncProgram(), ServeProgram()}) {
        const auto help = RunProgram(program, {"--help"});
        EXPECT_EQ(help.exitCode, 0) << program;
        EXPECT_TRUE(Contains(help.output, "Usage: ")) << help.output;

        const auto none = RunProgram(program, {});
        EXPECT_EQ(none.exitCode, 2) << program << "\n" << none.output;
        const auto unknown = RunProgram(program, {"--no-such-option", "a", "b"});
        EXPECT_EQ(unknown.exitCode, 2) << program << "\n" << unknown.output;
        EXPECT_TRUE(Contains(unknown.output, "--no-such-option")) << unknown.output;
    }
}

TEST(CommandLineTools, ServeRefusesAMissingFolder) {
    const TempDir temp;
    const auto result = RunProgram(ServeProgram(), {"--port", "0", temp / "missing"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(Contains(result.output, "missing")) << result.output;
}

// veldmoor-serve running as its own process on a free loopback port, ended by SIGTERM.
class ServeProcess {
public:
    explicit ServeProcess(const std::string& root) : portFile_(scratch_ / "port") {
        std::vector<std::string> args{ServeProgram(), "--port",  "0",
                                      "--port-file",  portFile_, root};
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        // Under AddressSanitizer freed memory is held back to catch late uses, which would count
        // as memory the server holds; the measurement wants the server's own.
        std::vector<std::string> env;
        std::string asan = "ASAN_OPTIONS=quarantine_size_mb=0";
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry = *e;
            if (entry.rfind("ASAN_OPTIONS=", 0) == 0) {
                asan = entry + ":quarantine_size_mb=0";
            } else {
                env.push_back(entry);
            }
        }
        env.push_back(asan);
        std::vector<char*> envp;
        for (auto& e : env) {
            envp.push_back(e.data());
        }
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
            pid_ = 0;
        }
        posix_spawn_file_actions_destroy(&actions);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (pid_ > 0 && port_ == 0 && std::chrono::steady_clock::now() < deadline) {
            std::ifstream in(portFile_);
            if (!(in >> port_)) {
                port_ = 0;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
    }
    ~ServeProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
    }
    ServeProcess(const ServeProcess&) = delete;
    ServeProcess& operator=(const ServeProcess&) = delete;

    int port() const { return port_; }
    // The most memory the process has held at once, in bytes (Linux's VmHWM).
    std::uint64_t peakMemory() const {
        std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("VmHWM:", 0) == 0) {
                return std::stoull(line.substr(6)) * 1024;
            }
        }
        return 0;
    }

private:
    TempDir scratch_{"veldmoor-serve-process"};
    std::string portFile_;
    pid_t pid_ = 0;
    int port_ = 0;
};

struct Fetched {
    int status = -1;
    bool gzip = false;
    std::uint64_t bytes = 0;
};

// Fetches `path` asking for gzip, counting the body's bytes without keeping them.
Fetched FetchCompressed(int port, const std::string& path) {
    httplib::Client c("127.0.0.1", port);
    c.set_decompress(false);
    c.set_read_timeout(std::chrono::seconds(120));
    Fetched fetched;
    const auto res = c.Get(path, {{"Accept-Encoding", "gzip"}}, [&](const char*, std::size_t n) {
        fetched.bytes += n;
        return true;
    });
    if (res) {
        fetched.status = res->status;
        fetched.gzip = res->get_header_value("Content-Encoding") == "gzip";
    }
    return fetched;
}

TEST(ServeTool, ParallelCompressedAnswersCostNoMoreThanAFewOfThemAlone) {
    const TempDir root{"veldmoor-serve-gzip"};
    // Compressible, but not so much that compressing it takes no time.
    std::string text;
    const std::string bytes = RandomBytes(1 << 20, 21);
    while (text.size() < (6u << 20)) {
        for (const char c : bytes) {
            text += static_cast<char>('a' + static_cast<unsigned char>(c) % 8);
        }
    }
    WriteTestFile(root / "big.bin", text);
    // Under AddressSanitizer freed blocks wait in a quarantine of up to 256 MB, which the peak
    // would count as held; without it the peak is what the server keeps alive at once.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const veldmoor::testing::ScopedEnv noQuarantine(
        "ASAN_OPTIONS", std::string(asan != nullptr ? asan : "") + ":quarantine_size_mb=0");
    const ServeProcess serve(root.path());
    ASSERT_GT(serve.port(), 0);

    // What one compressed answer costs, measured in the same process (and under the same
    // sanitizer, if any) as the parallel ones.
    const std::uint64_t idle = serve.peakMemory();
    const Fetched alone = FetchCompressed(serve.port(), "/big.bin");
    ASSERT_EQ(alone.status, 200);
    ASSERT_TRUE(alone.gzip);
    const std::uint64_t one = serve.peakMemory() - idle;
    ASSERT_GT(one, 0u);

    constexpr std::size_t kClients = 16;
    std::vector<Fetched> fetched(kClients);
    std::vector<std::thread> clients;
    for (std::size_t i = 0; i < kClients; ++i) {
        clients.emplace_back([&, i] { fetched[i] = FetchCompressed(serve.port(), "/big.bin"); });
    }
    for (auto& t : clients) {
        t.join();
    }
    for (std::size_t i = 0; i < kClients; ++i) {
        EXPECT_EQ(fetched[i].status, 200) << i;
        EXPECT_EQ(fetched[i].bytes, fetched[i].gzip ? alone.bytes : text.size()) << i;
    }
    // A server that compresses every answer on its own holds one such answer per client (16).
    // This one holds at most four, plus the send buffers and stacks of the other twelve
    // answers' threads, which came to about six answers' worth under a loaded machine.
    const std::uint64_t parallel = serve.peakMemory() - idle;
    EXPECT_LT(parallel, 8 * one) << "one answer " << (one >> 10) << " KiB, " << kClients
                                 << " in parallel " << (parallel >> 10) << " KiB";
}

class PublishTool : public ::testing::Test {
protected:
    std::string source() const { return temp_ / "source"; }
    std::string repo() const { return temp_ / "repo"; }
    TempDir temp_{"veldmoor-publish"};
};

TEST_F(PublishTool, SecondRunOverAnUnchangedFolderRewritesNothing) {
    WriteTestFile(source() + "/a.bin", RandomBytes(50000, 1));
    WriteTestFile(source() + "/sub/b.bin", RandomBytes(300000, 2));
    WriteTestFile(source() + "/sub/empty", "");
    Publish(source(), repo());
    const auto stamps = Stamps(repo());
    const auto listed = ListedTimes(repo());
    ASSERT_EQ(listed.size(), 3u);

    const auto second = Publish(source(), repo());

    EXPECT_TRUE(Contains(second.output, "0 added, 0 changed, 0 re-indexed, 0 removed, 3 unchanged"))
        << second.output;
    EXPECT_EQ(Stamps(repo()), stamps);
    EXPECT_EQ(ListedTimes(repo()), listed);
}

TEST_F(PublishTool, ChangedContentAlwaysGetsANewListedTime) {
    const std::string path = source() + "/same-size.bin";
    WriteTestFile(path, RandomBytes(4096, 3));
    Publish(source(), repo());
    const std::int64_t before = ListedTimes(repo()).at("same-size.bin");
    // The list written within the second the file carries, as on a fast machine: its time is
    // then no proof that the file stayed as it was. Left to the clock, the list may be written a
    // second later, and the quick check would then rightly trust the time.
    ASSERT_TRUE(SetLastWriteTime(repo() + "/filelist.php", before));

    // Same size, same time: only the bytes tell.
    WriteTestFile(path, RandomBytes(4096, 4));
    ASSERT_TRUE(SetLastWriteTime(path, before));
    Publish(source(), repo());

    EXPECT_NE(ListedTimes(repo()).at("same-size.bin"), before);
    EXPECT_TRUE(ReadTestFile(repo() + "/transfer/same-size.bin") == ReadTestFile(path));
}

TEST_F(PublishTool, UnchangedContentWithANewTimeKeepsItsListedTime) {
    const std::string path = source() + "/touched.bin";
    WriteTestFile(path, RandomBytes(10000, 5));
    Publish(source(), repo());
    const std::int64_t listed = ListedTimes(repo()).at("touched.bin");

    ASSERT_TRUE(SetLastWriteTime(path, listed + 1000));
    const auto second = Publish(source(), repo());

    EXPECT_EQ(ListedTimes(repo()).at("touched.bin"), listed);
    EXPECT_TRUE(Contains(second.output, "1 unchanged")) << second.output;
}

TEST_F(PublishTool, RefusesNamesTheRepositoryCannotCarryAndWritesNothing) {
    WriteTestFile(source() + "/fine.txt", "fine");
    for (const std::string bad :
         {"quote\"d.txt", "line\nbreak.txt", "back\\slash.txt", "colon:.txt"}) {
        const TempDir folder;
        WriteTestFile(folder / "fine.txt", "fine");
        WriteTestFile(folder / bad, "bad");
        const auto result = RunProgram(PublishProgram(), {folder.path(), folder.path() + "-repo"});
        EXPECT_EQ(result.exitCode, 1) << bad;
        EXPECT_TRUE(Contains(result.output, "cannot be published")) << result.output;
        EXPECT_FALSE(fs::exists(folder.path() + "-repo")) << bad;
    }
}

TEST_F(PublishTool, DoubleDotsInsideANameArePublishedLikeAnyOtherCharacters) {
    WriteTestFile(source() + "/a..b", "a..b");
    WriteTestFile(source() + "/x..y/..z.txt", "z");
    WriteTestFile(source() + "/v1..2.pak", "pak");

    Publish(source(), repo());

    const auto listed = ListedTimes(repo());
    EXPECT_EQ(listed.size(), 3u);
    EXPECT_EQ(ReadTestFile(repo() + "/transfer/x..y/..z.txt"), "z");
    EXPECT_TRUE(fs::exists(repo() + "/transfer/a..b.chunks"));

    // "..." is refused, but for the trailing dot Windows drops, not for its double dot.
    WriteTestFile(source() + "/...", "dots");
    const auto refused = RunProgram(PublishProgram(), {source(), repo()});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(Contains(refused.output, "ends in a dot")) << refused.output;
    EXPECT_FALSE(Contains(refused.output, "'..'")) << refused.output;
}

TEST_F(PublishTool, RefusesNamesThatCollideOnAPlayersInstallation) {
    WriteTestFile(source() + "/Data/Map.mul", "a");
    WriteTestFile(source() + "/data/map.mul", "b");
    WriteTestFile(source() + "/art.mul", "c");
    WriteTestFile(source() + "/art.mul.tmp", "d");
    const auto result = RunProgram(PublishProgram(), {source(), repo()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(Contains(result.output, "differ only in case")) << result.output;
    EXPECT_TRUE(Contains(result.output, "rebuilt")) << result.output;
}

TEST_F(PublishTool, RefusesAFileListLargerThanTheLauncherReads) {
    // Long paths make the list outgrow the launcher's bound with a thousand files rather than
    // fifty thousand: fourteen folders of 250 characters, then names of 200.
    std::string folder = source();
    for (int level = 0; level < 14; ++level) {
        folder += "/" + std::string(250, static_cast<char>('a' + level));
    }
    fs::create_directories(folder);
    const std::size_t entryBytes = folder.size() - source().size() + 200 + 40;
    const std::size_t count = kMaxFileListBytes / entryBytes + 20;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string number = std::to_string(i);
        std::ofstream(folder + "/" + std::string(200 - number.size(), 'f') + number) << 'x';
    }

    const auto result = RunProgram(PublishProgram(), {source(), repo()});

    EXPECT_EQ(result.exitCode, 1) << result.output.substr(0, 2000);
    EXPECT_TRUE(Contains(result.output, std::to_string(kMaxFileListBytes))) << result.output;
    EXPECT_FALSE(fs::exists(repo()));
}

TEST_F(PublishTool, RefusesATimeBeyondWhatTheListCarries) {
    const std::string path = source() + "/future.bin";
    WriteTestFile(path, "x");
    ASSERT_TRUE(SetLastWriteTime(path, 2147483648LL));
    const auto result = RunProgram(PublishProgram(), {source(), repo()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(Contains(result.output, "2038")) << result.output;
}

TEST_F(PublishTool, FilesGoneFromTheSourceLeaveTheRepository) {
    WriteTestFile(source() + "/keep.txt", "keep");
    WriteTestFile(source() + "/old/gone.txt", "gone");
    Publish(source(), repo());
    fs::remove_all(source() + "/old");

    Publish(source(), repo());

    EXPECT_EQ(ListedTimes(repo()).count("old/gone.txt"), 0u);
    EXPECT_FALSE(fs::exists(repo() + "/transfer/old/gone.txt"));
    EXPECT_FALSE(fs::exists(repo() + "/transfer/old/gone.txt.chunks"));
    EXPECT_FALSE(fs::exists(repo() + "/transfer/old"));
    EXPECT_TRUE(fs::exists(repo() + "/transfer/keep.txt"));
}

TEST_F(PublishTool, AFileThatBecameAFolderAndAFolderThatBecameAFileArePublished) {
    WriteTestFile(source() + "/maps", "once a file");
    WriteTestFile(source() + "/art/old.mul", "once in a folder");
    Publish(source(), repo());
    fs::remove(source() + "/maps");
    WriteTestFile(source() + "/maps/map0.mul", "now in a folder");
    fs::remove_all(source() + "/art");
    WriteTestFile(source() + "/art", "now a file");

    Publish(source(), repo());

    const auto listed = ListedTimes(repo());
    EXPECT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed.count("maps/map0.mul"), 1u);
    EXPECT_EQ(listed.count("art"), 1u);
    EXPECT_EQ(ReadTestFile(repo() + "/transfer/maps/map0.mul"), "now in a folder");
    EXPECT_EQ(ReadTestFile(repo() + "/transfer/art"), "now a file");
    EXPECT_TRUE(fs::exists(repo() + "/transfer/art.chunks"));
    EXPECT_FALSE(fs::exists(repo() + "/transfer/maps.chunks"));
}

// Runs veldmoor-publish as a user whom file permissions bind: the superuser reads everything,
// so for it the program runs without the capabilities that override them.
ProgramResult PublishWithoutOverride(const std::string& sourceDir, const std::string& repoDir) {
    if (::geteuid() != 0) {
        return RunProgram(PublishProgram(), {sourceDir, repoDir});
    }
    return RunProgram("/usr/bin/setpriv", {"--bounding-set=-dac_override,-dac_read_search",
                                           PublishProgram(), sourceDir, repoDir});
}

// Gives a folder or file no rights for the length of a scope, and its rights back afterwards
// so that the temporary folder can be removed.
class NoRights {
public:
    explicit NoRights(std::string path) : path_(std::move(path)) {
        before_ = fs::status(path_).permissions();
        fs::permissions(path_, fs::perms::none);
    }
    ~NoRights() { fs::permissions(path_, before_); }
    NoRights(const NoRights&) = delete;
    NoRights& operator=(const NoRights&) = delete;

private:
    std::string path_;
    fs::perms before_{};
};

TEST_F(PublishTool, AnUnreadableSourceFolderStopsTheRunAndUnpublishesNothing) {
    WriteTestFile(source() + "/keep.txt", "keep");
    WriteTestFile(source() + "/maps/map0.mul", RandomBytes(3000, 11));
    WriteTestFile(source() + "/maps/deep/map1.mul", RandomBytes(3000, 12));
    Publish(source(), repo());
    const auto listed = ListedTimes(repo());
    const auto stamps = Stamps(repo());
    WriteTestFile(source() + "/new.txt", "new");  // would be added if the run went on

    ProgramResult result;
    {
        const NoRights locked(source() + "/maps");
        result = PublishWithoutOverride(source(), repo());
    }

    EXPECT_EQ(result.exitCode, 1) << result.output;
    EXPECT_TRUE(Contains(result.output, "maps")) << result.output;
    EXPECT_TRUE(Contains(result.output, "nothing was changed")) << result.output;
    EXPECT_EQ(ListedTimes(repo()), listed);
    EXPECT_EQ(Stamps(repo()), stamps);
    EXPECT_TRUE(fs::exists(repo() + "/transfer/maps/deep/map1.mul"));
}

TEST_F(PublishTool, AnUnreadableSourceFileStopsTheRunBeforeAnythingChanges) {
    WriteTestFile(source() + "/a.bin", RandomBytes(3000, 13));
    WriteTestFile(source() + "/b.bin", RandomBytes(3000, 14));
    WriteTestFile(source() + "/z.bin", RandomBytes(3000, 15));
    Publish(source(), repo());
    const auto listed = ListedTimes(repo());
    const auto stamps = Stamps(repo());
    WriteTestFile(source() + "/a.bin", RandomBytes(3000, 16));  // changed: copied first in order
    fs::remove(source() + "/b.bin");                            // gone: would be removed
    WriteTestFile(source() + "/z.bin", RandomBytes(4000, 17));  // changed, and unreadable

    ProgramResult result;
    {
        const NoRights locked(source() + "/z.bin");
        result = PublishWithoutOverride(source(), repo());
    }

    EXPECT_EQ(result.exitCode, 1) << result.output;
    EXPECT_TRUE(Contains(result.output, "z.bin")) << result.output;
    EXPECT_TRUE(Contains(result.output, "nothing was changed")) << result.output;
    EXPECT_EQ(ListedTimes(repo()), listed);
    EXPECT_EQ(Stamps(repo()), stamps);
}

TEST_F(PublishTool, SymbolicLinksAreRefusedForWhatTheyAreUnlessTheyNameAFileInTheSource) {
    WriteTestFile(source() + "/data/art.mul", "art");
    WriteTestFile(temp_ / "outside/secret.txt", "secret");
    fs::create_directories(source() + "/links");
    fs::create_symlink("../data/art.mul", source() + "/links/art-again.mul");
    fs::create_symlink(temp_ / "outside/secret.txt", source() + "/links/secret.txt");
    fs::create_symlink("../data", source() + "/links/data-folder");
    fs::create_symlink("nowhere", source() + "/links/dangling");

    const auto refused = RunProgram(PublishProgram(), {source(), repo()});

    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_FALSE(Contains(refused.output, "differ only in case")) << refused.output;
    EXPECT_FALSE(Contains(refused.output, "with '..'")) << refused.output;
    for (const char* name : {"links/secret.txt", "links/data-folder", "links/dangling"}) {
        EXPECT_TRUE(Contains(refused.output, std::string("'") + name + "': it is a symbolic link"))
            << name << "\n"
            << refused.output;
    }
    EXPECT_FALSE(Contains(refused.output, "links/art-again.mul")) << refused.output;
    EXPECT_FALSE(fs::exists(repo() + "/filelist.php"));

    // A link to a file inside the source is published as a copy of that file.
    fs::remove(source() + "/links/secret.txt");
    fs::remove(source() + "/links/data-folder");
    fs::remove(source() + "/links/dangling");
    Publish(source(), repo());
    EXPECT_EQ(ListedTimes(repo()).count("links/art-again.mul"), 1u);
    EXPECT_EQ(ReadTestFile(repo() + "/transfer/links/art-again.mul"), "art");
    EXPECT_FALSE(fs::is_symlink(repo() + "/transfer/links/art-again.mul"));
}

TEST_F(PublishTool, AFileListThatCannotBePutInPlaceLeavesNoTemporaryFile) {
    WriteTestFile(source() + "/a.bin", "a");
    WriteTestFile(repo() + "/filelist.php/in the way", "a folder where the list belongs");

    const ProgramResult result = RunProgram(PublishProgram(), {source(), repo()});

    EXPECT_EQ(result.exitCode, 1) << result.output;
    EXPECT_TRUE(Contains(result.output, "filelist.php")) << result.output;
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(repo())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    // The sums go first; beside no list, no client reads them.
    EXPECT_EQ(names, (std::vector<std::string>{"filelist.php", "filelist.sums", "transfer"}));
}

TEST_F(PublishTool, BlockSizeFollowsTheRuleOrTheOption) {
    WriteTestFile(source() + "/small.bin", RandomBytes(100000, 6));
    WriteTestFile(source() + "/middle.bin", RandomBytes(1 << 20, 7));
    WriteTestFile(source() + "/large.bin", RandomBytes(9 << 20, 8));
    Publish(source(), repo());
    EXPECT_EQ(IndexBlockSize(repo() + "/transfer/small.bin.chunks"), 1024u);
    EXPECT_EQ(IndexBlockSize(repo() + "/transfer/middle.bin.chunks"), 2048u);
    EXPECT_EQ(IndexBlockSize(repo() + "/transfer/large.bin.chunks"), 4096u);
    const auto listed = ListedTimes(repo());
    const std::string sums = ReadTestFile(repo() + "/filelist.sums");

    // A new block size re-indexes, but the content and so the listed time and sums stay.
    const auto forced = Publish(source(), repo(), {"--block-size", "8192"});
    EXPECT_TRUE(Contains(forced.output, "3 re-indexed")) << forced.output;
    EXPECT_EQ(IndexBlockSize(repo() + "/transfer/large.bin.chunks"), 8192u);
    EXPECT_EQ(ListedTimes(repo()), listed);
    EXPECT_EQ(ReadTestFile(repo() + "/filelist.sums"), sums);
}

TEST_F(PublishTool, ASecondPublishIntoTheSameRepositoryWaitsForTheFirst) {
    WriteTestFile(source() + "/a.bin", RandomBytes(5000, 9));
    fs::create_directories(repo());
    auto running = ValueOf(FolderLock::TryLock(repo()));  // the first publish, still busy
    ASSERT_NE(running, nullptr);

    const auto refused = RunProgram(PublishProgram(), {source(), repo()});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(Contains(refused.output, "another publish is running")) << refused.output;
    EXPECT_FALSE(fs::exists(repo() + "/filelist.php"));

    running.reset();
    Publish(source(), repo());
    EXPECT_EQ(ListedTimes(repo()).count("a.bin"), 1u);
}

class SyncTool : public ::testing::Test {
protected:
    void SetUp() override {
        WriteTestFile(temp_ / "source/client.exe", RandomBytes(120000, 9));
        WriteTestFile(temp_ / "source/data/art.mul", RandomBytes(500000, 10));
        Publish(temp_ / "source", temp_ / "web/game");
        server_ = StartServer(ServerKind::Project, temp_ / "web", "game");
    }
    TempDir temp_{"veldmoor-synctool"};
    std::unique_ptr<Server> server_;
};

TEST_F(SyncTool, SyncsThenFindsNothingToDo) {
    const auto first = RunProgram(SyncProgram(), {temp_ / "install", server_->address()});
    ASSERT_EQ(first.exitCode, 0) << first.output;
    EXPECT_TRUE(Contains(first.output, "2 files listed, 2 examined, 2 rebuilt; 620000 bytes"))
        << first.output;
    EXPECT_TRUE(ReadTree(temp_ / "install") == ReadTree(temp_ / "source"));

    server_->clearRequests();
    const auto second = RunProgram(SyncProgram(), {temp_ / "install", server_->address()});
    EXPECT_EQ(second.exitCode, 0) << second.output;
    EXPECT_TRUE(Contains(second.output, "2 files listed, 0 examined, 0 rebuilt; 0 bytes"))
        << second.output;
    EXPECT_EQ(server_->requests().size(), 1u);
}

TEST_F(SyncTool, DryRunChangesNothing) {
    const auto result =
        RunProgram(SyncProgram(), {"--dry-run", temp_ / "install", server_->address()});
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_TRUE(Contains(result.output, "would fetch")) << result.output;
    EXPECT_TRUE(Contains(result.output, "data/art.mul")) << result.output;
    EXPECT_FALSE(fs::exists(temp_ / "install/client.exe"));
    EXPECT_FALSE(fs::exists(temp_ / "install/data"));
}

TEST_F(SyncTool, FailurePrintsTheGermanReportAndTheDiagnosticAndExitsOne) {
    ServerFaults faults;
    faults.closeAfterBytes = 10;
    faults.alsoWholeAnswers = true;
    server_->faultable()->setFaults(faults);
    const auto result = RunProgram(SyncProgram(), {temp_ / "install", server_->address()});
    EXPECT_EQ(result.exitCode, 1) << result.output;
    EXPECT_TRUE(Contains(result.output, "Datenübertragungsfehler")) << result.output;
    EXPECT_TRUE(Contains(result.output, "Details: Die Dateiliste konnte nicht abgerufen werden!"))
        << result.output;
    EXPECT_TRUE(Contains(result.output, "category 1, code 7")) << result.output;
}

TEST_F(SyncTool, UnreachableServerExitsOne) {
    const auto result = RunProgram(SyncProgram(), {temp_ / "install", "http://127.0.0.1:1/game/"});
    EXPECT_EQ(result.exitCode, 1) << result.output;
    EXPECT_TRUE(Contains(result.output, "Http request failed while getting files!"))
        << result.output;
}

}  // namespace
}  // namespace veldmoor::test
