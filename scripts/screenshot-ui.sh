#!/usr/bin/env bash
# Takes pictures of the launcher as a player sees it, on a private X display with a window
# manager (openbox): the main dialog in its idle layout (news page from a loopback server), its
# patching layout, a run held by the pause button and then stopped, its open tools menu, the
# profile editor and the repair dialog with their title bars and all their buttons, and a long
# message box wrapped to the launcher's width. Each set is taken in German at 100 %, at 200 %
# display scale (GDK_SCALE=2) and at 150 % text (GDK_DPI_SCALE=1.5), and in English at 100 % and
# 200 %, and kept as idle.png, patching.png, paused.png, stopped.png, menu.png, editor.png,
# repair.png and box.png in 100/, 200/, 150-text/, 100-en/ and 200-en/ of the given folder
# (default: build/ui/screenshots).
#
#   scripts/screenshot-ui.sh [output-folder]
#
# Builds the window's tests in build/ui first when needed (VELDMOOR_BUILD_DIR names another
# build folder that has the window on, e.g. build/dev).
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = "--help" ] || [ "${1:-}" = "-h" ]; then
  sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'
  exit 0
fi
for tool in xvfb-run openbox import; do
  command -v "$tool" >/dev/null || { echo "screenshot-ui: $tool is missing; run scripts/setup.sh" >&2; exit 1; }
done
out=${1:-build/ui/screenshots}
mkdir -p "$out"
out=$(cd "$out" && pwd)
build=${VELDMOOR_BUILD_DIR:-build/ui}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DVELDMOOR_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$build" --target ui_tests -j2 >/dev/null
# The test binary starts openbox on its display when the display has no window manager.
# folder:display scale:text scale:language
sets="100:1:1:de 200:2:1:de 150-text:1:1.5:de 100-en:1:1:en 200-en:2:1:en"
for set in $sets; do
  IFS=: read -r name display text language <<<"$set"
  mkdir -p "$out/$name"
  log="$out/$name/screenshot.log"
  if ! VELDMOOR_SCREENSHOT_DIR="$out/$name" VELDMOOR_LANGUAGE=$language GDK_SCALE=$display \
    GDK_DPI_SCALE=$text timeout 180 \
    xvfb-run -a -s "-screen 0 2048x1400x24" \
    "$build/tests/ui/ui_tests" --gtest_filter='Screenshot.*' >"$log" 2>&1; then
    grep -E 'Failure|FAILED|Expected|Actual|Which is' "$log" >&2 || tail -20 "$log" >&2
    echo "screenshot-ui: the window could not be photographed at $name (full log: $log)" >&2
    exit 1
  fi
done
for set in $sets; do
  name=${set%%:*}
  echo "screenshots at $name: $(cd "$out/$name" && ls ./*.png | sed "s|^\./|$out/$name/|" | tr '\n' ' ')"
done
