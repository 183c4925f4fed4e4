#!/usr/bin/env bash
# Runs clang-tidy with .clang-tidy over the project's own sources (not the window, whose
# wx headers make it slow and noisy) using the compile commands of the given build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/asan}
# The Windows implementation (system/win32/) is not in a Linux build's compile commands.
mapfile -t files < <(git ls-files 'system/*.cpp' 'profiles/*.cpp' 'sync/*.cpp' 'patch/*.cpp' \
  'app/*.cpp' 'tools/*.cpp' ':!:system/win32/*')
[ ${#files[@]} -eq 0 ] && exit 0
printf '%s\n' "${files[@]}" | xargs -P "$(nproc)" -n 4 clang-tidy -p "$build" --quiet \
  --extra-arg=-Wno-unknown-warning-option 2>/dev/null
