#!/usr/bin/env bash
# Cross-builds the Windows build's libraries (curl with Schannel, Crypto++, libpng, wxMSW,
# GoogleTest) from Debian's own source packages with mingw-w64, statically, into a prefix kept
# outside the clone and keyed by the packages' versions, so a second build reuses it.
# Prints the prefix on its last line of standard output; everything else goes to standard error.
#
# VELDMOOR_WINDOWS_DEPS_CACHE  where the prefixes live (default /var/cache/veldmoor-launcher/windows-deps)
# VELDMOOR_WINDOWS_DEPS_JOBS   parallel compile jobs (default 2)
set -euo pipefail

# Raise when a recipe below changes, so an old prefix is not reused for a new recipe.
recipe=1
cache=${VELDMOOR_WINDOWS_DEPS_CACHE:-/var/cache/veldmoor-launcher/windows-deps}
jobs=${VELDMOOR_WINDOWS_DEPS_JOBS:-2}
host=x86_64-w64-mingw32
sysroot=/usr/$host

say() { echo "windows-deps: $*" >&2; }
fail() {
  say "$*"
  exit 1
}

for tool in $host-gcc-posix $host-g++-posix $host-windres dpkg-source; do
  command -v "$tool" >/dev/null ||
    fail "$tool is missing; run scripts/setup.sh (it installs the mingw-w64 compilers and dpkg-dev)"
done
[ -f $sysroot/include/zlib.h ] || fail "$sysroot/include/zlib.h is missing; install libz-mingw-w64-dev"
[ -f /usr/src/googletest/CMakeLists.txt ] || fail "/usr/src/googletest is missing; install googletest"

# A private apt configuration: the machine's own mirrors with deb-src entries, its own lists
# and cache. The machine's apt configuration is only read, never changed.
aptdir=$cache/apt
mkdir -p "$aptdir/etc/sources.list.d" "$aptdir/etc/preferences.d" "$aptdir/etc/apt.conf.d" \
  "$aptdir/state/lists/partial" "$aptdir/cache/archives/partial"
sources=$aptdir/etc/sources.list.d/source-packages.sources
{
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && sed -e 's/^Types:.*/Types: deb-src/' "$f" && echo
  done
} >"$sources.new"
# One-line sources go into a .list file of their own.
list=$aptdir/etc/sources.list.d/source-packages.list
: >"$list"
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
  [ -f "$f" ] && sed -n -e 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$f" >>"$list"
done
if ! grep -q '^URIs:' "$sources.new" && ! [ -s "$list" ]; then
  printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: bookworm\nComponents: main\n' \
    >"$sources.new"
fi
mv "$sources.new" "$sources"
cat >"$aptdir/apt.conf" <<EOF
Dir::Etc "$aptdir/etc";
Dir::Etc::sourcelist "/dev/null";
Dir::Etc::sourceparts "sources.list.d";
Dir::Etc::preferencesparts "preferences.d";
Dir::Etc::parts "apt.conf.d";
Dir::State "$aptdir/state";
Dir::State::status "/var/lib/dpkg/status";
Dir::Cache "$aptdir/cache";
Acquire::Languages "none";
APT::Sandbox::User "root";
EOF
export APT_CONFIG=$aptdir/apt.conf

packages=(curl libcrypto++ libpng1.6 wxwidgets3.2 cpp-httplib)
t0=$SECONDS
if ! apt-get update -qq >&2; then
  # Offline: reuse the newest prefix of this recipe, if any.
  newest=$(ls -1dt "$cache"/r$recipe-*/.complete 2>/dev/null | head -n1 || true)
  newest=${newest%/.complete}
  [ -n "$newest" ] || fail "apt-get update failed with $sources and no prefix is cached in $cache"
  say "apt-get update failed; reusing $newest"
  echo "$newest"
  exit 0
fi
declare -A version
# The newest version the mirror actually serves: an index can name a version whose files a
# mirror does not hold (yet).
for p in "${packages[@]}"; do
  for v in $(apt-cache showsrc "$p" | sed -n 's/^Version: //p' | sort -rV); do
    served=yes
    for uri in $(apt-get source --print-uris -qq "$p=$v" | grep -o "'[^']*'" | tr -d "'"); do
      curl -sfI -o /dev/null --max-time 30 "$uri" || served=no
    done
    if [ $served = yes ]; then
      version[$p]=$v
      break
    fi
    say "$p $v is listed but not served; trying an older version"
  done
  [ -n "${version[$p]:-}" ] || fail "no source package $p can be fetched with $sources"
done
gtest_version=$(dpkg-query -W -f='${Version}' googletest)
# The XML parser is headers only, the same on every platform: Debian's installed copy is used.
rapidxml_version=$(dpkg-query -W -f='${Version}' librapidxml-dev) ||
  fail "librapidxml-dev is missing; run scripts/setup.sh"
gcc_version=$(dpkg-query -W -f='${Version}' g++-mingw-w64-x86-64-posix)
versions="recipe $recipe; curl ${version[curl]}; libcrypto++ ${version[libcrypto++]}"
versions+="; libpng1.6 ${version[libpng1.6]}; wxwidgets3.2 ${version[wxwidgets3.2]}"
versions+="; cpp-httplib ${version[cpp-httplib]}; librapidxml-dev $rapidxml_version"
versions+="; googletest $gtest_version; g++-mingw-w64-x86-64-posix $gcc_version"
# The folder's name stands for all of these (listed in its versions.txt).
key=r$recipe-$(echo "$versions" | sha256sum | cut -c1-16)
prefix=$cache/$key
say "apt indexes in $((SECONDS - t0)) s"

if [ -f "$prefix/.complete" ]; then
  say "reusing $prefix"
  echo "$prefix"
  exit 0
fi

say "building $versions into $prefix (about 20 minutes on two cores)"
work=$(mktemp -d "$cache/$key.tmp.XXXXXX")
trap 'rm -rf "$work"' EXIT
# Everything installs with the final prefix compiled in (wx-config, .pc files) into a staging
# copy; the staging copy is renamed into place only once every library is built.
stage=$work/stage
staged=$stage$prefix
mkdir -p "$work/src" "$staged"

cc="$host-gcc-posix"
cxx="$host-g++-posix"
if command -v ccache >/dev/null; then
  # Paths inside the temporary folder count relative to it, so a rebuild finds its objects.
  export CCACHE_BASEDIR=$work
  cc="ccache $cc"
  cxx="ccache $cxx"
fi
export CC=$cc CXX=$cxx AR=$host-ar RANLIB=$host-ranlib RC=$host-windres WINDRES=$host-windres
export STRIP=$host-strip
export PKG_CONFIG_LIBDIR=$staged/lib/pkgconfig:$sysroot/lib/pkgconfig
export PKG_CONFIG_SYSROOT_DIR=
unset PKG_CONFIG_PATH
common_cflags="-O2 -D_WIN32_WINNT=0x0601"

step() {
  local name=$1
  shift
  local start=$SECONDS
  say "== $name"
  # In the background, so that set -e stops the step at its first failing command.
  "$@" >"$work/$name.log" 2>&1 &
  wait $! || {
    cp "$work/$name.log" "$cache/failed-$name.log"
    tail -n 40 "$work/$name.log" >&2
    fail "$name failed; its whole log is $cache/failed-$name.log"
  }
  say "   $name: $((SECONDS - start)) s"
}

fetch() {
  cd "$work/src"
  for p in "${packages[@]}"; do
    apt-get source -qq "$p=${version[$p]}"
  done
}

build_curl() {
  cd "$work/src"/curl-*/
  ./configure --host=$host --prefix="$prefix" --disable-shared --enable-static \
    CFLAGS="$common_cflags" CPPFLAGS="-I$sysroot/include" LDFLAGS="-L$sysroot/lib" \
    --with-schannel --with-zlib="$sysroot" --without-libpsl --without-brotli \
    --without-zstd --without-libidn2 --without-nghttp2 --without-nghttp3 --without-ngtcp2 \
    --without-libssh2 --without-libssh --without-librtmp --without-libgsasl \
    --disable-ldap --disable-ldaps --disable-rtsp --disable-dict --disable-telnet \
    --disable-tftp --disable-pop3 --disable-imap --disable-smb --disable-smtp --disable-gopher \
    --disable-mqtt --disable-ftp --disable-manual --disable-docs --enable-ipv6
  make -j"$jobs" -C lib
  make -C lib install DESTDIR="$stage"
  make -C include install DESTDIR="$stage"
  make install-pkgconfigDATA install-binSCRIPTS DESTDIR="$stage"
}

build_cryptopp() {
  cd "$work/src"/libcrypto++-*/
  # The makefile's own default flags add -g2, which makes an 80 MB library.
  make -f GNUmakefile -j"$jobs" static CXX="$cxx" AR="$host-ar" RANLIB="$host-ranlib" \
    CXXFLAGS="-DNDEBUG -g0 $common_cflags"
  make -f GNUmakefile install-lib PREFIX="$prefix" DESTDIR="$stage" CXX="$cxx"
  # Debian names the library libcrypto++ and its headers crypto++/; the upstream name of the
  # headers' folder is what the code includes.
  ln -s crypto++ "$staged/include/cryptopp"
  mkdir -p "$staged/lib/pkgconfig"
  cat >"$staged/lib/pkgconfig/libcrypto++.pc" <<PC
prefix=$prefix
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: libcrypto++
Description: Crypto++ (static, mingw-w64)
Version: ${version[libcrypto++]%%-*}
Libs: -L\${libdir} -lcrypto++
Cflags: -I\${includedir}
PC
}

build_png() {
  cd "$work/src"/libpng1.6-*/
  ./configure --host=$host --prefix="$prefix" --disable-shared --enable-static \
    CFLAGS="$common_cflags" CPPFLAGS="-I$sysroot/include" LDFLAGS="-L$sysroot/lib"
  make -j"$jobs"
  make install DESTDIR="$stage"
}

# Header-only: the single-header form of the HTTP server and the XML parser.
install_headers() {
  cd "$work/src"/cpp-httplib-*/
  install -m 644 -D httplib.h "$staged/include/httplib.h"
  cat >"$staged/lib/pkgconfig/cpp-httplib.pc" <<PC
prefix=$prefix
includedir=\${prefix}/include

Name: cpp-httplib
Description: A C++ HTTP/HTTPS server and client library (header only)
Version: ${version[cpp-httplib]%%[+-]*}
Libs: -lws2_32 -lcrypt32
Cflags: -I\${includedir}
PC
  mkdir -p "$staged/include/rapidxml"
  install -m 644 /usr/include/rapidxml/*.hpp "$staged/include/rapidxml/"
}

build_wx() {
  cd "$work/src"/wxwidgets3.2-*/
  mkdir -p build-msw
  cd build-msw
  # Only what the launcher's window uses: core, base and the web view (IE backend; the Edge
  # backend needs an SDK Debian does not ship).
  ../configure --host=$host --prefix="$prefix" --disable-shared --with-msw \
    CFLAGS="$common_cflags" CXXFLAGS="$common_cflags" \
    CPPFLAGS="-I$staged/include -I$sysroot/include" LDFLAGS="-L$staged/lib -L$sysroot/lib" \
    --with-libpng=sys --with-zlib=sys --without-libjpeg --without-libtiff \
    --without-expat --without-regex --without-opengl --without-liblzma --without-nanosvg \
    --enable-webview --enable-webviewie --disable-webviewedge \
    --disable-html --disable-htmlhelp --disable-xrc --disable-stc --disable-aui \
    --disable-propgrid --disable-ribbon --disable-richtext --disable-mediactrl --disable-sound \
    --disable-debugreport --disable-svg --disable-printarch --disable-postscript \
    --disable-gif --disable-pcx --disable-iff --disable-pnm --disable-xpm --disable-tga \
    --disable-precomp-headers --disable-tests --disable-dependency-tracking
  make -j"$jobs"
  make install DESTDIR="$stage"
  # wx-config refers to the final prefix; keep a working copy for the next steps' pkg lookups.
}

build_gtest() {
  cmake -S /usr/src/googletest -B "$work/gtest" -G Ninja -DCMAKE_SYSTEM_NAME=Windows \
    -DCMAKE_C_COMPILER=$host-gcc-posix -DCMAKE_CXX_COMPILER=$host-g++-posix \
    -DCMAKE_RC_COMPILER=$host-windres -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_GMOCK=ON
  cmake --build "$work/gtest" -j "$jobs"
  DESTDIR="$stage" cmake --install "$work/gtest"
}

total=$SECONDS
step fetch fetch
step curl build_curl
step cryptopp build_cryptopp
step png build_png
step headers install_headers
step gtest build_gtest
step wxwidgets build_wx
# The staging folder's path, where a build step wrote it into wx-config or a .pc or .la file,
# becomes the final prefix's.
grep -rlIF "$stage" "$staged" | while read -r file; do sed -i "s|$stage||g" "$file"; done
echo "$versions" | tr ';' '\n' | sed 's/^ //' >"$staged/versions.txt"
echo "$key" >"$staged/.complete"
mv "$staged" "$prefix"
say "built $prefix in $((SECONDS - total)) s ($(du -sh "$prefix" | cut -f1))"
echo "$prefix"
