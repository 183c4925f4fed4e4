#!/usr/bin/env bash
# The main job: installs what is missing, builds the command-line tools, generates a sample game
# folder, makes demo keys and a root of trust, publishes the folder as a signed repository,
# serves it on loopback (127.0.0.1 only), patches a fresh installation from it with the root as
# the trust anchor, patches again after a small change, and shows that a run over an up-to-date
# installation asks the server for nothing but the file list and the signed metadata. When a
# display is available (DISPLAY set; VELDMOOR_DEMO_WINDOW=0 turns it off) it then opens the
# launcher's window against the same repository, with the demo root as its built-in root, and
# lets it patch a second installation on its own.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

window=0
if [ -n "${DISPLAY:-}" ] && [ "${VELDMOOR_DEMO_WINDOW:-1}" != 0 ]; then window=1; fi
ui=OFF
targets=(veldmoor-publish veldmoor-serve veldmoor-sync)
if [ "$window" = 1 ]; then ui=ON; targets+=(Launcher); fi
build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELDMOOR_BUILD_TESTS=OFF \
  -DVELDMOOR_BUILD_BENCH=OFF -DVELDMOOR_BUILD_UI="$ui" >/dev/null
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"
tools="$build/tools"

demo=build/demo
rm -rf "$demo"
mkdir -p "$demo"
source_dir="$demo/Veldmoor"         # what the world's maintainers publish
web_root="$demo/www"                # what the web server serves
install_dir="$demo/installation"    # a player's installation, fresh

step() { printf '\n== %s\n' "$*"; }

# The keys live outside the demo's folders, as a world keeps its keys away from what it publishes
# (the publisher refuses a private key inside the source or the repository).
keys=$(mktemp -d "${TMPDIR:-/tmp}/veldmoor-demo-keys.XXXXXX")
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  rm -rf "$keys"
}
trap cleanup EXIT

step "A sample game folder"
mkdir -p "$source_dir/data/maps" "$source_dir/Musik und Klänge" "$source_dir/tools"
head -c 3000000 /dev/urandom >"$source_dir/client.exe"
head -c 9000000 /dev/urandom >"$source_dir/data/maps/map0.mul"
head -c 600000 /dev/urandom >"$source_dir/data/art.mul"
head -c 200000 /dev/urandom >"$source_dir/Musik und Klänge/Übergang.mp3"
printf 'Willkommen in Veldmoor!\n' >"$source_dir/Liesmich.txt"
head -c 50000 /dev/urandom >"$source_dir/tools/VeldmoorStatusMap.exe"
find "$source_dir" -type f | sort | sed "s|^$source_dir/|  |"

step "Make demo keys and a root of trust (veldmoor-publish keygen, root)"
"$tools/veldmoor-publish" keygen "$keys/root"
"$tools/veldmoor-publish" keygen "$keys/signing"
"$tools/veldmoor-publish" root --root-key "$keys/root.key" --signing-key "$keys/signing.pub" \
  "$keys/1.root"
root="$keys/1.root"
echo "Root of trust: $root (the keys are removed when the demo ends)"
publish() { "$tools/veldmoor-publish" --key "$keys/signing.key" --root "$root" "$@"; }

step "Publish it, signed (veldmoor-publish --key --root)"
publish "$source_dir" "$web_root/srv"

step "Serve it on loopback (veldmoor-serve)"
"$tools/veldmoor-serve" --log --port 0 --port-file "$demo/port" "$web_root" >"$demo/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 100); do [ -s "$demo/port" ] && break; sleep 0.05; done
[ -s "$demo/port" ] || { cat "$demo/server.log"; echo "demo: the server did not start" >&2; exit 1; }
address="http://127.0.0.1:$(cat "$demo/port")/srv/"
echo "Repository address: $address"

run_sync() {
  local before after
  before=$(wc -l <"$demo/server.log")
  "$tools/veldmoor-sync" --trust "$root" --state "$demo/sync-trust" "$install_dir" "$address" |
    grep -v '^Buckets: '
  sleep 0.2  # let the server print its last request
  after=$(wc -l <"$demo/server.log")
  echo "Requests the server answered in this run: $((after - before))"
  sed -n "$((before + 1)),${after}p" "$demo/server.log" | head -8 | sed 's/^/  /'
}

step "Patch a fresh installation, verified against the root (veldmoor-sync --trust)"
run_sync
diff -r "$source_dir" "$install_dir" >/dev/null && echo "The installation equals the published folder."

step "Change a few bytes in the middle of map0.mul, publish again, patch again"
printf 'VELDMOOR' | dd of="$source_dir/data/maps/map0.mul" bs=1 seek=4500000 conv=notrunc status=none
publish "$source_dir" "$web_root/srv"
run_sync
diff -r "$source_dir" "$install_dir" >/dev/null && echo "The installation equals the published folder."

step "Patch once more: nothing changed, so only the file list and the signed metadata are fetched"
run_sync

if [ "$window" = 1 ]; then
  step "Open the launcher's window against the demo repository, with the demo root built in"
  here=$(pwd)
  launcher_dir="$here/$demo/launcher"
  mkdir -p "$launcher_dir" "$demo/tmp" "$demo/launcher-source" "$web_root/html" \
    "$demo/window-installation"
  cp "$build/app/Launcher" "$launcher_dir/Launcher"
  # The launcher repository (nothing to update) and the news page, at the built-in paths.
  publish --quiet "$demo/launcher-source" "$web_root/launcher"
  cat >"$web_root/html/launcher.php" <<'HTML'
<!DOCTYPE html><html><head><meta charset="utf-8"></head>
<body style="background:#1d241f;color:#e8dcc0;font-family:serif">
<h2 style="color:#e8b04a">Willkommen in Veldmoor</h2>
<p>Diese Seite kommt vom Demo-Server auf 127.0.0.1. Der Launcher zählt fünf Sekunden herunter,
bringt die Installation auf den Stand des Servers und startet danach das Spiel.</p>
</body></html>
HTML
  game_marker="$here/$demo/game-started"
  printf '#!/bin/sh\necho "Das Spiel wurde gestartet." >"%s"\n' "$game_marker" >"$demo/start-game.sh"
  chmod +x "$demo/start-game.sh"
  {
    printf '<LastSelected value="0" />\r\n<Profiles>\r\n\t<Profile>\r\n'
    printf '\t\t<Name value="Veldmoor (Demo)" />\r\n'
    printf '\t\t<PatchPath value="%s" />\r\n' "$here/$demo/window-installation"
    printf '\t\t<RepoPath value="%s" />\r\n' "$address"
    printf '\t\t<ExecuteAfterPatch value="%s" />\r\n' "$here/$demo/start-game.sh"
    printf '\t\t<AutoPatch enabled="true" />\r\n\t\t<SetRegistryPath enabled="false" />\r\n'
    printf '\t</Profile>\r\n</Profiles>\r\n'
  } >"$launcher_dir/profiles.xml"
  echo "The window counts down, patches $demo/window-installation, starts the stand-in game and closes."
  server="http://127.0.0.1:$(cat "$demo/port")"
  # The run-time override stands in for a root built in with -DVELDMOOR_TRUST_ROOT=<root file>.
  (cd "$launcher_dir" && TMPDIR="$here/$demo/tmp" VELDMOOR_SERVER_OVERRIDE="$server" \
    VELDMOOR_TRUST_ROOT_OVERRIDE="$root" ./Launcher)
  # The program started from its folder hands over to its copy in the temporary folder.
  copy="$here/$demo/tmp/VeldmoorLauncher/Launcher"
  sleep 1
  while pgrep -f "^$copy" >/dev/null; do sleep 1; done
  if diff -r "$source_dir" "$demo/window-installation" >/dev/null; then
    echo "The window's installation equals the published folder."
  else
    echo "The window's installation differs from the published folder (closed early?)."
  fi
  [ -f "$game_marker" ] && cat "$game_marker"
  # A verified run keeps what it trusts beside profiles.xml; an unverified one writes nothing there.
  trusted=$(find "$launcher_dir/trust" -type f 2>/dev/null | wc -l)
  echo "Repositories the launcher verified and keeps a trusted state for: $trusted"
fi

echo
echo "demo: done. Files are under $demo; the server has been stopped."
