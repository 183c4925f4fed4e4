#!/usr/bin/env bash
# Reformats every tracked C++ file in place.
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -z '*.cpp' '*.h' | xargs -0 -r clang-format -i
