#!/usr/bin/env bash
# Builds the launcher, its companion programs and the tests for 64-bit Windows into
# build/windows/, statically linked, then the installer build/windows/VeldmoorLauncher-Setup.exe.
# The libraries come from scripts/windows-deps.sh (built once, about 20 minutes, then reused).
#
# VELDMOOR_WERROR=ON   warnings are errors (CI sets it)
# VELDMOOR_WINDOWS_BUILD_UI=OFF   leave out the window, Launcher.exe and the installer
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/windows
started=$SECONDS

# The compiled objects, the libraries' too, are kept outside the clone (as scripts/test.sh does).
export CCACHE_DIR=${CCACHE_DIR:-/var/cache/veldmoor-launcher/ccache}
mkdir -p "$CCACHE_DIR"
t=$SECONDS
prefix=$(bash scripts/windows-deps.sh | tail -n1)
echo "== windows: libraries in $prefix ($((SECONDS - t)) s)"

export CCACHE_BASEDIR=$PWD
ui=${VELDMOOR_WINDOWS_BUILD_UI:-ON}
t=$SECONDS
cmake -S . -B $out -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
  -DVELDMOOR_WINDOWS_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DVELDMOOR_BUILD_BENCH=OFF -DVELDMOOR_BUILD_UI="$ui" \
  -DVELDMOOR_WERROR="${VELDMOOR_WERROR:-OFF}" >/dev/null
cmake --build $out -j "${VELDMOOR_JOBS:-2}"
echo "== windows: build ($((SECONDS - t)) s)"

# Every program must run from its folder alone: the DLLs it imports are the system's, that is
# ones Windows (and so Wine) provides, never a compiler's or a library's own.
system_dlls=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
bad=""
for exe in $(find $out -name '*.exe' -not -name '*Setup.exe' -not -path '*/CMakeFiles/*'); do
  for dll in $(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p'); do
    name=$(echo "$dll" | tr '[:upper:]' '[:lower:]')
    if [[ $name == lib* ]] || ! [ -e "$system_dlls/$name" ]; then
      bad+="  $exe needs $dll"$'\n'
    fi
  done
done
if [ -n "$bad" ]; then
  printf 'windows: programs need DLLs that are not part of Windows:\n%s' "$bad" >&2
  echo "link them statically (the toolchain file links with -static)" >&2
  exit 1
fi

if [ "$ui" = ON ]; then
  t=$SECONDS
  makensis -V2 -DLAUNCHER_EXE="$PWD/$out/app/Launcher.exe" -DICON="$PWD/$out/windows/veldmoor.ico" \
    -DVERSION="$(sed -n 's/^project(VeldmoorLauncher VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt).0.0" \
    -DOUTFILE="$PWD/$out/VeldmoorLauncher-Setup.exe" res/windows/installer.nsi
  echo "== windows: installer $out/VeldmoorLauncher-Setup.exe ($((SECONDS - t)) s)"
fi
echo "== windows: done in $((SECONDS - started)) s"
