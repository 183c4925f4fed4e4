#!/usr/bin/env bash
# Fails when a tracked C++ file does not follow .clang-format (fix with scripts/format.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h' 2>/dev/null)
[ ${#files[@]} -eq 0 ] && exit 0
clang-format --dry-run --Werror "${files[@]}"
