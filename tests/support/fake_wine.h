// A stand-in for Wine's `reg` and `winepath` tools, so registry code runs for real against a
// temporary "prefix" and never against a real Wine registry. It puts a `wine` script first on
// PATH and points WINEPREFIX at a temporary folder; both are restored when it goes.
//
// The stand-in keeps each value of kGameRegistryKey as a file under <prefix>/fake-registry/,
// maps Z:\ to / and C:\ to <prefix>/drive_c/, refuses any other key, and logs every call to
// <prefix>/calls (one line per call, arguments separated by '|').
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "system/registry.h"
#include "tests/support/scoped_env.h"

namespace veldmoor::testing {

class FakeWine {
public:
    // initialised: whether the prefix looks set up (has system.reg).
    explicit FakeWine(bool initialised = true) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "veldmoor-fake-wine-XXXXXX").string();
        root_ = mkdtemp(pattern.data());
        std::filesystem::create_directories(bin());
        std::filesystem::create_directories(prefix() / "fake-registry");
        std::filesystem::create_directories(prefix() / "drive_c");
        if (initialised) {
            std::ofstream(prefix() / "system.reg") << "WINE REGISTRY Version 2\n";
        }
        WriteScript();
        const char* path = std::getenv("PATH");
        path_.emplace("PATH", bin().string() + ":" + (path != nullptr ? path : "/usr/bin:/bin"));
        prefixEnv_.emplace("WINEPREFIX", prefix().string());
    }
    ~FakeWine() {
        prefixEnv_.reset();
        path_.reset();
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    FakeWine(const FakeWine&) = delete;
    FakeWine& operator=(const FakeWine&) = delete;

    std::filesystem::path prefix() const { return root_ / "prefix"; }
    std::filesystem::path bin() const { return root_ / "bin"; }

    // Sets the ExePath value as the game's installer would (a Windows path).
    void SetExePath(const std::string& windowsPath) const {
        std::ofstream(prefix() / "fake-registry" / kExePathValueName) << windowsPath;
    }
    std::optional<std::string> StoredExePath() const {
        std::ifstream file(prefix() / "fake-registry" / kExePathValueName);
        if (!file) {
            return std::nullopt;
        }
        return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    // Makes every later `reg add` fail.
    void FailWrites() const { std::ofstream(prefix() / "fail-writes") << "1"; }
    std::string Calls() const {
        std::ifstream file(prefix() / "calls");
        return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    }

private:
    void WriteScript() const {
        const std::filesystem::path script = bin() / "wine";
        std::ofstream(script) << R"SH(#!/bin/bash
reg_dir="$WINEPREFIX/fake-registry"
( IFS='|'; echo "$*|WINEDEBUG=$WINEDEBUG" ) >> "$WINEPREFIX/calls"
expected_key='HKEY_LOCAL_MACHINE\Software\Origin Worlds Online\Ultima Online\1.0'
case "$1" in
  reg)
    op="$2"; key="$3"
    [ "$key" = "$expected_key" ] || { echo "ERROR: unexpected key" >&2; exit 1; }
    [ "$4" = "/v" ] || exit 1
    name="$5"
    if [ "$op" = "query" ]; then
      [ -f "$reg_dir/$name" ] || { echo "ERROR: not found" >&2; exit 1; }
      printf '\r\n%s\r\n    %s    REG_SZ    %s\r\n\r\n' "$key" "$name" "$(cat "$reg_dir/$name")"
      exit 0
    elif [ "$op" = "add" ]; then
      [ -f "$WINEPREFIX/fail-writes" ] && exit 1
      [ "$6" = "/t" ] && [ "$7" = "REG_SZ" ] && [ "$8" = "/d" ] || exit 1
      printf '%s' "$9" > "$reg_dir/$name"
      echo "The operation completed successfully."
      exit 0
    fi
    exit 1 ;;
  winepath)
    p="$3"
    if [ "$2" = "-u" ]; then
      case "$p" in
        [Zz]:\\*) rest="${p:2}"; printf '%s\n' "${rest//\\//}" ;;
        [Cc]:\\*) rest="${p:2}"; printf '%s\n' "$WINEPREFIX/drive_c${rest//\\//}" ;;
        *) exit 1 ;;
      esac
    elif [ "$2" = "-w" ]; then
      case "$p" in
        "$WINEPREFIX/drive_c/"*) rest="${p#"$WINEPREFIX/drive_c"}"; printf 'C:%s\r\n' "${rest//\//\\}" ;;
        /*) printf 'Z:%s\r\n' "${p//\//\\}" ;;
        *) exit 1 ;;
      esac
    else
      exit 1
    fi
    exit 0 ;;
esac
exit 1
)SH";
        chmod(script.c_str(), 0755);
    }

    std::filesystem::path root_;
    std::optional<ScopedEnv> path_;
    std::optional<ScopedEnv> prefixEnv_;
};

}  // namespace veldmoor::testing
