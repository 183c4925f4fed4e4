#!/usr/bin/env bash
# The main job on its embedded default: installs what is missing, builds, publishes a sample
# game folder as a repository, serves it on loopback and patches a fresh installation from it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELDMOOR_BUILD_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc)"
echo "demo: the synchronisation tools are not built yet; the build above is what exists."
