#!/usr/bin/env bash
# Builds the Debian packages of the Linux launcher (veldmoor-launcher) and of the maintainers'
# tools (veldmoor-tools) and checks them as Debian would:
#   bash scripts/package-deb.sh [BUILD_DIR]     (default build/release)
# then install with: sudo apt install ./BUILD_DIR/veldmoor-launcher_<version>_amd64.deb
# A BUILD_DIR that is not configured yet is configured as an optimised build without tests.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
if [ ! -f "$build/CMakeCache.txt" ]; then
  bash scripts/setup.sh
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELDMOOR_BUILD_TESTS=OFF \
    -DVELDMOOR_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$build" -j "$(nproc)"
cmake --build "$build" --target veldmoor_package_files
rm -f "$build"/veldmoor-*.deb
(cd "$build" && cpack -G DEB >/dev/null)
launcher=$(echo "$build"/veldmoor-launcher_*.deb)

# Warnings count as failures; the informational tags (spelling guesses at German words and at
# pieces of merged strings) are shown but pass.
lintian --fail-on error,warning --info "$build"/veldmoor-*.deb
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$launcher" "$unpacked"
desktop-file-validate "$unpacked"/usr/share/applications/*.desktop
appstreamcli validate --no-net --pedantic "$unpacked"/usr/share/metainfo/*.metainfo.xml
echo "packages:" "$build"/veldmoor-*.deb
