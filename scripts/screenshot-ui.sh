#!/usr/bin/env bash
# Takes pictures of the launcher's main dialog in its idle layout (news page from a loopback
# server) and its patching layout, and of the profile editor and the repair dialog, on a private
# X display, and keeps them as idle.png, patching.png, menu.png, editor.png and repair.png in the
# given folder (default: build/ui/screenshots).
#
#   scripts/screenshot-ui.sh [output-folder]
#
# Builds the window's tests in build/ui first when needed.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = "--help" ] || [ "${1:-}" = "-h" ]; then
  sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'
  exit 0
fi
out=${1:-build/ui/screenshots}
mkdir -p "$out"
out=$(cd "$out" && pwd)
if [ ! -f build/ui/build.ninja ]; then
  cmake -S . -B build/ui -G Ninja -DVELDMOOR_BUILD_BENCH=OFF >/dev/null
fi
cmake --build build/ui --target ui_tests -j2 >/dev/null
log="$out/screenshot.log"
if ! VELDMOOR_SCREENSHOT_DIR="$out" timeout 120 xvfb-run -a -s "-screen 0 1024x640x24" \
  build/ui/tests/ui/ui_tests --gtest_filter='Screenshot.*' >"$log" 2>&1; then
  grep -E 'Failure|FAILED|Expected|Actual|Which is' "$log" >&2 || tail -20 "$log" >&2
  echo "screenshot-ui: the window could not be photographed (full log: $log)" >&2
  exit 1
fi
echo "screenshots: $out/idle.png $out/patching.png $out/menu.png $out/editor.png $out/repair.png"
