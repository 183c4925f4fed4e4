#!/usr/bin/env bash
# Installs every Debian package the launcher needs to build, test and run its demo.
# Idempotent: when everything is present it prints nothing and touches nothing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  libcurl4-openssl-dev zlib1g-dev libcrypto++-dev librapidxml-dev
  libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev
  libwxgtk3.2-dev libwxgtk-webview3.2-dev libgtk-3-dev
  clang-format clang-tidy
  nginx-light lighttpd apache2 varnish zsync time curl rsync
  clang libclang-rt-14-dev ccache
  xvfb xauth x11-utils openbox xdotool imagemagick fonts-dejavu-core
  python3-pil python3-fonttools fonts-goudybookletter fonts-rampart
  g++-mingw-w64-x86-64-posix libz-mingw-w64-dev googletest dpkg-dev wine64 wine nsis
  lintian desktop-file-utils appstream help2man gettext
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "setup: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
# The web servers' packages start system-wide servers on port 80 and 6081; the tests start
# their own on free loopback ports.
for service in nginx lighttpd apache2 varnish; do
  if command -v systemctl >/dev/null 2>&1; then
    $SUDO systemctl disable --now "$service" >/dev/null 2>&1 || true
  fi
  $SUDO service "$service" stop >/dev/null 2>&1 || true
done
