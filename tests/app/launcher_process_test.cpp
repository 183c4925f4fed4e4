// The Launcher program run as a person runs it: a copy of the built program in a launcher
// folder, the temporary folder and the Documents folder pointed at temporary ones, no display
// (so messages arrive on standard error), and the user-interface process replaced by the probe
// of app/ui_probe.h, which reports what it was started with.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/app/test_folders.h"
#include "tests/support/fake_wine.h"

extern char** environ;  // NOLINT(readability-redundant-declaration)

namespace veldmoor {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::ReadFile;
using testing::TestFolder;
using testing::WriteFile;

const std::string kCode666 = "Fehler: Der Launcher darf nicht umbenannt werden! (Code: 666)\n";
const std::string kCode11 =
    "Fehler: Der Launcher wird mit einem nicht unterstütztem Arbeitsverzeichnis ausgeführt. "
    "Bitte prüfe die Verknüpfung mit dem du den Launcher ausführst oder erstelle diese neu. "
    "(Code: 11)\n";
const std::string kCode1 = "Fehler: Schreiben temporärer Daten fehlgeschlagen. (Code: 1)\n";
const std::string kCode2 =
    "Fehler: Fehler! Stelle sicher dass der Launcher nicht bereits läuft. (Code: 2)\n";
const std::string kCode3 = "Fehler: Schreiben temporärer Daten fehlgeschlagen. (Code: 3)\n";
const std::string kCode4 = "Fehler: Der Launcher kann nicht ausgeführt werden! (Code: 4)\n";

struct Outcome {
    int exitCode = -1;
    std::string errors;  // standard error
};

// What the probe in the user-interface process wrote.
struct Report {
    int processId = 0;
    std::string workingDirectory;
    std::vector<std::string> arguments;
    int raised = 0;
};

bool IsRunning(int processId) {
    return processId > 0 && kill(processId, 0) == 0;
}

class LauncherProcess : public ::testing::Test {
protected:
    LauncherProcess()
        : install_(root_.Make("Veldmoor Launcher")),
          temp_(root_.Make("tmp")),
          documents_(root_.Make("Documents")),
          report_(root_.path() / "report"),
          copyFolder_(temp_ / "VeldmoorLauncher"),
          copy_(copyFolder_ / "Launcher") {}

    ~LauncherProcess() override {
        // The probe of a user-interface process that was told to stay.
        for (const int processId : startedCopies_) {
            if (IsRunning(processId)) {
                kill(processId, SIGKILL);
            }
        }
    }

    fs::path Install(const std::string& name = "Launcher") {
        const fs::path program = install_ / name;
        fs::copy_file(VELDMOOR_LAUNCHER_PROGRAM, program, fs::copy_options::overwrite_existing);
        fs::permissions(program, fs::perms::owner_all, fs::perm_options::add);
        return program;
    }

    // Runs program to its end (at most a minute) with the test's folders in its environment.
    Outcome Run(const fs::path& program, const std::vector<std::string>& arguments,
                const fs::path& workingDirectory, std::chrono::milliseconds hold = 0ms,
                bool probe = true) {
        std::vector<std::string> environment;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string variable(*entry);
            const std::string name = variable.substr(0, variable.find('='));
            if (name != "DISPLAY" && name != "WAYLAND_DISPLAY" && name != "TMPDIR" &&
                name.rfind("VELDMOOR_", 0) != 0) {
                environment.push_back(variable);
            }
        }
        environment.push_back("TMPDIR=" + (tmpdir_.empty() ? temp_ : tmpdir_).string());
        environment.push_back("VELDMOOR_DOCUMENTS_DIR=" + documents_.string());
        environment.push_back("VELDMOOR_LANGUAGE=" + language_);
        if (probe) {
            environment.push_back("VELDMOOR_UI_PROBE=" + report_.string());
            environment.push_back("VELDMOOR_UI_PROBE_HOLD_MS=" + std::to_string(hold.count()));
        }
        std::vector<char*> envp;
        for (std::string& variable : environment) {
            envp.push_back(variable.data());
        }
        envp.push_back(nullptr);

        std::vector<std::string> command{program.string()};
        command.insert(command.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& part : command) {
            argv.push_back(part.data());
        }
        argv.push_back(nullptr);

        const fs::path errors = root_.path() / ("stderr" + std::to_string(++runs_));
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.c_str());
        pid_t child = 0;
        const int started =
            posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        Outcome outcome;
        if (started != 0) {
            ADD_FAILURE() << "cannot start " << program << ": " << std::strerror(started);
            return outcome;
        }
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        int status = 0;
        while (waitpid(child, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(child, SIGKILL);
                waitpid(child, &status, 0);
                ADD_FAILURE() << program << " did not end within a minute";
                break;
            }
            std::this_thread::sleep_for(10ms);
        }
        outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        outcome.errors = ReadFile(errors);
        return outcome;
    }

    // Waits for the probe's report (at most 30 seconds) and reads it.
    std::optional<Report> AwaitReport(int raised = 0) {
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        for (;;) {
            std::optional<Report> report = ReadReport();
            if (report && report->raised >= raised) {
                return report;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                return report;
            }
            std::this_thread::sleep_for(20ms);
        }
    }

    std::optional<Report> ReadReport() {
        if (!fs::exists(report_)) {
            return std::nullopt;
        }
        Report report;
        std::istringstream lines(ReadFile(report_));
        std::string line;
        while (std::getline(lines, line)) {
            if (line.rfind("pid=", 0) == 0) {
                report.processId = std::stoi(line.substr(4));
                startedCopies_.push_back(report.processId);
            } else if (line.rfind("cwd=", 0) == 0) {
                report.workingDirectory = line.substr(4);
            } else if (line.rfind("arg=", 0) == 0) {
                report.arguments.push_back(line.substr(4));
            } else if (line == "raised") {
                ++report.raised;
            }
        }
        return report;
    }

    // A process of the test that runs from the temporary copy's place, like an earlier copy.
    pid_t StartFakeCopy(const std::string& seconds) {
        fs::create_directories(copyFolder_);
        chmod(copyFolder_.c_str(), 0700);
        fs::copy_file("/bin/sleep", copy_, fs::copy_options::overwrite_existing);
        std::string program = copy_.string();
        std::string argument = seconds;
        char* argv[] = {program.data(), argument.data(), nullptr};
        pid_t child = 0;
        EXPECT_EQ(posix_spawn(&child, program.c_str(), nullptr, nullptr, argv, environ), 0);
        return child;
    }

    static void EndFakeCopy(pid_t child) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }

    TestFolder root_;
    fs::path install_;
    fs::path temp_;
    fs::path documents_;
    fs::path report_;
    fs::path copyFolder_;
    fs::path copy_;
    fs::path tmpdir_;  // TMPDIR as the launcher sees it; empty: temp_
    int runs_ = 0;
    // The language the program speaks: German, the language of the texts compared here, whatever
    // this machine's settings.
    std::string language_ = "de";
    std::vector<int> startedCopies_;
};

TEST_F(LauncherProcess, StartsAFreshCopyWithTheSameArgumentsAndWorkingDirectory) {
    const fs::path program = Install();
    // An old copy from an earlier version is replaced.
    fs::create_directories(copyFolder_);
    WriteFile(copy_, "an older launcher");
    const fs::path shortcutFolder = root_.Make("Desktop");
    const std::vector<std::string> arguments{"-instantpatch", "two words",  "",
                                             "-NoSelfPatch",  "\"quoted\"", "Grüße"};

    const Outcome outcome = Run(program, arguments, shortcutFolder);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.errors, "");

    const std::optional<Report> report = AwaitReport();
    ASSERT_TRUE(report) << "the copy did not start";
    EXPECT_EQ(report->arguments, arguments);
    EXPECT_EQ(report->workingDirectory, shortcutFolder.string());
    EXPECT_EQ(ReadFile(copy_), ReadFile(program));
    struct stat status {};
    ASSERT_EQ(stat(copyFolder_.c_str(), &status), 0);
    // Nobody else may change what the launcher runs.
    EXPECT_EQ(status.st_mode & (S_IWGRP | S_IWOTH), 0U);
}

// The copy's own program path is the resolved one; a temporary folder named through a symbolic
// link must still be recognised as the one the copy runs from.
TEST_F(LauncherProcess, ATemporaryFolderNamedThroughALinkStillStartsTheCopy) {
    const fs::path program = Install();
    tmpdir_ = root_.path() / "tmp-link";
    fs::create_directory_symlink(temp_, tmpdir_);
    const fs::path shortcutFolder = root_.Make("Desktop");

    const Outcome outcome = Run(program, {"-instantpatch"}, shortcutFolder);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.errors, "");

    const std::optional<Report> report = AwaitReport();
    ASSERT_TRUE(report) << "the copy did not start its window";
    EXPECT_EQ(report->arguments, std::vector<std::string>{"-instantpatch"});
    EXPECT_EQ(report->workingDirectory, shortcutFolder.string());

    // A working directory inside it is still refused, named either way.
    const fs::path inside = root_.Make("tmp/inside");
    EXPECT_NE(Run(program, {}, inside).errors.find("(Code: 11)"), std::string::npos);
}

TEST_F(LauncherProcess, TheNameCheckIgnoresCase) {
    const Outcome outcome = Run(Install("LAUNCHER"), {}, install_);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.errors, "");
    ASSERT_TRUE(AwaitReport());
    EXPECT_TRUE(fs::exists(copy_));
}

TEST_F(LauncherProcess, ARenamedProgramStopsWithCode666EvenForARepair) {
    const fs::path renamed = Install("Launcher (2)");
    Outcome outcome = Run(renamed, {}, install_);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.errors, kCode666);

    fs::create_directories(documents_ / "Veldmoor" / "Einstellungen");
    WriteFile(install_ / "uo.cfg", "x");
    outcome = Run(renamed, {"-repair", install_.string(), "-rconfig"}, install_);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.errors, kCode666);
    EXPECT_TRUE(fs::exists(documents_ / "Veldmoor" / "Einstellungen"));
    EXPECT_TRUE(fs::exists(install_ / "uo.cfg"));
    EXPECT_FALSE(fs::exists(copyFolder_));
}

TEST_F(LauncherProcess, StartUpSpeaksThePlayersLanguageFromTheCatalogueInsideTheProgram) {
    language_ = "en";
    const Outcome outcome = Run(Install("Launcher (2)"), {}, install_);
    EXPECT_EQ(outcome.exitCode, 0);
    // A build without the window has no catalogue, and start-up stays German.
    EXPECT_EQ(outcome.errors, VELDMOOR_LAUNCHER_HAS_WINDOW
                                  ? "Error: The launcher must not be renamed! (Code: 666)\n"
                                  : kCode666);
}

TEST_F(LauncherProcess, AWorkingDirectoryInsideTheTemporaryFolderStopsWithCode11) {
    const fs::path program = Install();
    const Outcome outcome = Run(program, {}, root_.Make("tmp/shortcut"));
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.errors, kCode11);
    // Nothing was copied.
    EXPECT_FALSE(fs::exists(copyFolder_));
}

TEST_F(LauncherProcess, TheTemporaryFolderItselfIsAnAcceptableWorkingDirectory) {
    const Outcome outcome = Run(Install(), {}, temp_);
    EXPECT_EQ(outcome.errors, "");
    const std::optional<Report> report = AwaitReport();
    ASSERT_TRUE(report);
    EXPECT_EQ(report->workingDirectory, temp_.string());
}

TEST_F(LauncherProcess, TheCopyStartedDirectlyIsTheUserInterfaceAtOnce) {
    Run(Install(), {}, install_);
    const std::optional<Report> relocated = AwaitReport();
    ASSERT_TRUE(relocated);
    fs::remove(report_);

    const Outcome outcome = Run(copy_, {"-instantpatch"}, install_);
    EXPECT_EQ(outcome.errors, "");
    const std::optional<Report> report = AwaitReport();
    ASSERT_TRUE(report);
    EXPECT_EQ(report->arguments, std::vector<std::string>{"-instantpatch"});
    // Opened from a file manager in its own folder, the copy refuses that working directory.
    fs::remove(report_);
    EXPECT_EQ(Run(copy_, {}, copyFolder_).errors, kCode11);
    EXPECT_FALSE(fs::exists(report_));
}

TEST_F(LauncherProcess, TheUserInterfaceWithoutADisplaySaysSo) {
    Run(Install(), {}, install_);
    ASSERT_TRUE(AwaitReport());
    const Outcome outcome = Run(copy_, {}, install_, 0ms, false);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.errors,
              "Fehler: Das Fenster des Launchers kann nicht geöffnet werden: keine Anzeige "
              "verfügbar.\n");
}

TEST_F(LauncherProcess, APlainFileInTheCopysPlaceStopsWithCode1) {
    WriteFile(copyFolder_, "not a folder");
    const Outcome outcome = Run(Install(), {}, install_);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.errors, kCode1);
    EXPECT_EQ(ReadFile(copyFolder_), "not a folder");
}

TEST_F(LauncherProcess, AFolderInTheCopysPlaceStopsWithCode3) {
    fs::create_directories(copy_ / "in the way");
    chmod(copyFolder_.c_str(), 0700);
    const Outcome outcome = Run(Install(), {}, install_);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.errors, kCode3);
    EXPECT_FALSE(fs::exists(report_));
}

TEST_F(LauncherProcess, ACopyThatCannotBeStartedStopsWithCode4) {
    // A program file that some process holds open for writing cannot be executed.
    fs::create_directories(copyFolder_);
    chmod(copyFolder_.c_str(), 0700);
    WriteFile(copy_, "");
    const int writer = open(copy_.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    const Outcome outcome = Run(Install(), {}, install_);
    close(writer);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.errors, kCode4);
    EXPECT_FALSE(fs::exists(report_));
}

TEST_F(LauncherProcess, ASecondStartRaisesTheRunningCopyAndEndsWithoutCopying) {
    const fs::path program = Install();
    Run(program, {}, install_, 60000ms);
    const std::optional<Report> first = AwaitReport();
    ASSERT_TRUE(first);
    ASSERT_TRUE(IsRunning(first->processId));
    struct stat before {};
    ASSERT_EQ(stat(copy_.c_str(), &before), 0);

    const Outcome second = Run(program, {"-instantpatch"}, install_);
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_EQ(second.errors, "");
    const std::optional<Report> after = AwaitReport(1);
    ASSERT_TRUE(after);
    EXPECT_EQ(after->raised, 1);
    EXPECT_EQ(after->processId, first->processId);
    EXPECT_TRUE(IsRunning(first->processId));
    struct stat unchanged {};
    ASSERT_EQ(stat(copy_.c_str(), &unchanged), 0);
    EXPECT_EQ(unchanged.st_ino, before.st_ino);
    EXPECT_EQ(unchanged.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(unchanged.st_mtim.tv_sec, before.st_mtim.tv_sec);
}

TEST_F(LauncherProcess, ACopyThatIsStillEndingIsWaitedForThenReplaced) {
    // An earlier copy without a window: it ends after two seconds.
    const pid_t ending = StartFakeCopy("2");
    const Outcome outcome = Run(Install(), {"-instantpatch"}, install_);
    EndFakeCopy(ending);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.errors, "");
    const std::optional<Report> report = AwaitReport();
    ASSERT_TRUE(report);
    EXPECT_EQ(report->arguments, std::vector<std::string>{"-instantpatch"});
    EXPECT_EQ(ReadFile(copy_), ReadFile(install_ / "Launcher"));
}

TEST_F(LauncherProcess, ACopyThatDoesNotEndStopsWithCode2) {
    const pid_t stuck = StartFakeCopy("60");
    const Outcome outcome = Run(Install(), {}, install_);
    const bool stillRunning = IsRunning(stuck);
    EndFakeCopy(stuck);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.errors, kCode2);
    EXPECT_TRUE(stillRunning);
    EXPECT_EQ(ReadFile(copy_), ReadFile("/bin/sleep"));
    EXPECT_FALSE(fs::exists(report_));
}

class RepairProcess : public LauncherProcess {
protected:
    RepairProcess() : settings_(documents_ / "Veldmoor" / "Einstellungen") {
        fs::create_directories(settings_);
        WriteFile(settings_ / "macros.txt", "Say hello");
        game_ = root_.Make("Veldmoor UO");
        WriteFile(game_ / "uo.cfg", "Resolution=800x600");
        WriteFile(game_ / "client.exe", "client");
    }

    std::vector<std::string> Backups() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(documents_ / "Veldmoor")) {
            if (entry.path() != settings_) {
                names.push_back(entry.path().filename().string());
            }
        }
        return names;
    }

    fs::path settings_;
    fs::path game_;
};

TEST_F(RepairProcess, ResetsTheSettingsWithoutAWindowOrACopy) {
    // The working-directory check does not apply to a repair run.
    const Outcome outcome =
        Run(Install(), {"-repair", game_.string(), "-rconfig"}, root_.Make("tmp/elsewhere"));
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.errors, "");
    EXPECT_FALSE(fs::exists(settings_));
    const std::vector<std::string> backups = Backups();
    ASSERT_EQ(backups.size(), 1U);
    EXPECT_EQ(backups[0].rfind("Einstellungen_", 0), 0U);
    EXPECT_EQ(ReadFile(documents_ / "Veldmoor" / backups[0] / "macros.txt"), "Say hello");
    EXPECT_FALSE(fs::exists(game_ / "uo.cfg"));
    EXPECT_TRUE(fs::exists(game_ / "client.exe"));
    EXPECT_FALSE(fs::exists(copyFolder_));
    EXPECT_FALSE(fs::exists(report_));
}

TEST_F(RepairProcess, AllThreeRepairsInOneRun) {
    const testing::FakeWine wine;
    chmod((game_ / "client.exe").c_str(), 0600);
    fs::create_directories(game_ / "data");
    chmod((game_ / "data").c_str(), 0700);
    const Outcome outcome =
        Run(Install(), {"-repair", game_.string(), "-rreg", "-rrights", "-rconfig"}, install_);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.errors, "");

    // The registry holds the client in the game's (Windows) form of the path.
    std::string windowsPath = "Z:" + (game_ / "client.exe").string();
    std::replace(windowsPath.begin(), windowsPath.end(), '/', '\\');
    EXPECT_EQ(wine.StoredExePath(), windowsPath);
    // The person may now change everything in the installation.
    struct stat status {};
    ASSERT_EQ(stat((game_ / "client.exe").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777U, 0664U);
    ASSERT_EQ(stat((game_ / "data").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777U, 0775U);
    EXPECT_FALSE(fs::exists(settings_));
    EXPECT_FALSE(fs::exists(game_ / "uo.cfg"));
}

TEST_F(RepairProcess, OnlyTheChosenRepairRuns) {
    const testing::FakeWine wine;
    chmod((game_ / "client.exe").c_str(), 0600);
    const Outcome outcome = Run(Install(), {"-repair", game_.string(), "-rreg"}, install_);
    EXPECT_EQ(outcome.errors, "");
    EXPECT_TRUE(wine.StoredExePath().has_value());
    struct stat status {};
    ASSERT_EQ(stat((game_ / "client.exe").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777U, 0600U);
    EXPECT_TRUE(fs::exists(settings_));
    EXPECT_TRUE(fs::exists(game_ / "uo.cfg"));
}

TEST_F(RepairProcess, AMissingFolderIsNotRepaired) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"-repair", (root_.path() / "missing").string(), "-rconfig"},
          std::vector<std::string>{"-repair", "-rconfig"},
          std::vector<std::string>{"-rconfig", "-repair"}}) {
        const Outcome outcome = Run(Install(), arguments, install_);
        EXPECT_EQ(outcome.exitCode, 0);
        EXPECT_EQ(outcome.errors, "");
    }
    EXPECT_TRUE(fs::exists(settings_ / "macros.txt"));
    EXPECT_TRUE(fs::exists(game_ / "uo.cfg"));
    EXPECT_TRUE(Backups().empty());
    EXPECT_FALSE(fs::exists(copyFolder_));
}

TEST_F(RepairProcess, WithoutTheSettingsOptionNothingIsReset) {
    const Outcome outcome = Run(Install(), {"-repair", game_.string()}, install_);
    EXPECT_EQ(outcome.errors, "");
    EXPECT_TRUE(fs::exists(settings_));
    EXPECT_TRUE(fs::exists(game_ / "uo.cfg"));
}

TEST_F(RepairProcess, AConfigFileThatCannotBeRemovedIsReportedOnStandardError) {
    fs::remove(game_ / "uo.cfg");
    fs::create_directories(game_ / "uo.cfg" / "held");
    const Outcome outcome = Run(Install(), {"-repair", game_.string(), "-rconfig"}, install_);
    EXPECT_EQ(outcome.exitCode, 0);
    // Without a display nobody can choose Retry: the repair gives up after saying why.
    EXPECT_EQ(outcome.errors,
              "Fehler: Die Datei 'uo.cfg' konnten nicht entfernt werden.\r\n\r\n"
              "Schließe den Client und alle Anwendungen die ggf. darauf zugreifen.\n");
    EXPECT_FALSE(fs::exists(settings_));
    EXPECT_TRUE(fs::exists(game_ / "uo.cfg" / "held"));
}

}  // namespace
}  // namespace veldmoor
