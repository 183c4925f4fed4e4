#!/usr/bin/env bash
# Installs what is missing, then checks format, builds with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs every test, runs the threaded tests again under
# ThreadSanitizer, builds an optimised release (so an optimiser's warnings show here first) and
# the Debian packages from it, runs clang-tidy over the project's own code and every parser's fuzz
# target briefly while it cross-builds for Windows, then runs the Windows tests under Wine.
# Warnings are errors in all of these builds.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)
# Compiled objects are kept outside the clone, so a second run on this machine rebuilds only
# what changed; paths are taken relative to the clone, so any clone's folder shares the cache.
export CCACHE_DIR=${CCACHE_DIR:-/var/cache/veldmoor-launcher/ccache}
export CCACHE_BASEDIR=$PWD
# Debug builds would otherwise key every object by the clone's folder, and a clone in another
# folder would compile everything again.
export CCACHE_NOHASHDIR=1
export CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-5G}
mkdir -p "$CCACHE_DIR"
common=(-G Ninja -DVELDMOOR_WERROR=ON -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

echo "== format (at ${SECONDS} s)"
bash scripts/check-format.sh

echo "== build (address,undefined) (at ${SECONDS} s)"
cmake -S . -B build/asan "${common[@]}" -DVELDMOOR_SANITIZE=address,undefined \
  -DVELDMOOR_BUILD_BENCH=OFF >/dev/null
cmake --build build/asan -j "$jobs"

echo "== build (thread) (at ${SECONDS} s)"
cmake -S . -B build/tsan "${common[@]}" -DVELDMOOR_SANITIZE=thread -DVELDMOOR_BUILD_UI=OFF \
  -DVELDMOOR_BUILD_BENCH=OFF >/dev/null
cmake --build build/tsan -j "$jobs"

echo "== build (release, -O3) (at ${SECONDS} s)"
cmake -S . -B build/ci-release "${common[@]}" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/ci-release -j "$jobs"

# The Windows build needs nothing of the steps up to the tests: it runs beside the packages,
# clang-tidy and the fuzz targets, which run for a fixed time whatever else the cores do, and is
# waited for before the first tests, so that no test shares the cores with a compiler.
echo "== Windows build (mingw-w64; the libraries once, about 20 minutes) begins beside the next steps (at ${SECONDS} s)"
windows_log=build/windows-build.log
mkdir -p build
VELDMOOR_WERROR=ON bash scripts/build-windows.sh >"$windows_log" 2>&1 &
windows_build=$!
trap 'kill "$windows_build" 2>/dev/null || true' EXIT

echo "== Debian packages, checked by lintian, desktop-file-validate, appstreamcli (at ${SECONDS} s)"
bash scripts/package-deb.sh build/ci-release

echo "== clang-tidy (at ${SECONDS} s)"
bash scripts/run-tidy.sh build/asan

echo "== fuzzing (15 s per target; scripts/fuzz.sh runs them longer) (at ${SECONDS} s)"
bash scripts/fuzz.sh 15

echo "== Windows build: waited for (at ${SECONDS} s)"
windows_status=0
wait "$windows_build" || windows_status=$?
trap - EXIT
cat "$windows_log"
[ "$windows_status" = 0 ] || { echo "== Windows build failed" >&2; exit 1; }

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
echo "== tests under ThreadSanitizer (threaded code) (at ${SECONDS} s)"
TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/tsan.supp" \
  bash scripts/ctest-longest-first.sh build/tsan tsan --output-on-failure -j "$jobs" -L threaded \
  --no-tests=ignore

echo "== all tests under AddressSanitizer and UndefinedBehaviorSanitizer (at ${SECONDS} s)"
# The tests that start the launcher as a process need a display; xvfb-run gives them a private
# one (the window tests start one each).
xvfb-run -a -s "-screen 0 1280x1024x24" \
  bash scripts/ctest-longest-first.sh build/asan asan --output-on-failure -j "$jobs"

echo "== Windows tests under Wine (at ${SECONDS} s)"
bash scripts/test-windows.sh build/windows build/asan
echo "== done (at ${SECONDS} s)"
