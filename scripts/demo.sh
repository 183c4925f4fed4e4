#!/usr/bin/env bash
# The main job: installs what is missing, builds the command-line tools, generates a sample game
# folder, publishes it as a repository, serves it on loopback (127.0.0.1 only), patches a fresh
# installation from it, patches again after a small change, and shows that a run over an
# up-to-date installation asks the server for nothing but the file list.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELDMOOR_BUILD_TESTS=OFF \
  -DVELDMOOR_BUILD_BENCH=OFF -DVELDMOOR_BUILD_UI=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target veldmoor-publish veldmoor-serve veldmoor-sync
tools="$build/tools"

demo=build/demo
rm -rf "$demo"
mkdir -p "$demo"
source_dir="$demo/Veldmoor"         # what the world's maintainers publish
web_root="$demo/www"                # what the web server serves
install_dir="$demo/installation"    # a player's installation, fresh

step() { printf '\n== %s\n' "$*"; }

step "A sample game folder"
mkdir -p "$source_dir/data/maps" "$source_dir/Musik und Klänge" "$source_dir/tools"
head -c 3000000 /dev/urandom >"$source_dir/client.exe"
head -c 9000000 /dev/urandom >"$source_dir/data/maps/map0.mul"
head -c 600000 /dev/urandom >"$source_dir/data/art.mul"
head -c 200000 /dev/urandom >"$source_dir/Musik und Klänge/Übergang.mp3"
printf 'Willkommen in Veldmoor!\n' >"$source_dir/Liesmich.txt"
head -c 50000 /dev/urandom >"$source_dir/tools/VeldmoorStatusMap.exe"
find "$source_dir" -type f | sort | sed "s|^$source_dir/|  |"

step "Publish it (veldmoor-publish)"
"$tools/veldmoor-publish" "$source_dir" "$web_root/game"

step "Serve it on loopback (veldmoor-serve)"
"$tools/veldmoor-serve" --log --port 0 --port-file "$demo/port" "$web_root" >"$demo/server.log" 2>&1 &
server_pid=$!
trap 'kill "$server_pid" 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -s "$demo/port" ] && break; sleep 0.05; done
[ -s "$demo/port" ] || { cat "$demo/server.log"; echo "demo: the server did not start" >&2; exit 1; }
address="http://127.0.0.1:$(cat "$demo/port")/game/"
echo "Repository address: $address"

run_sync() {
  local before after
  before=$(wc -l <"$demo/server.log")
  "$tools/veldmoor-sync" "$install_dir" "$address" | grep -v '^Buckets: '
  sleep 0.2  # let the server print its last request
  after=$(wc -l <"$demo/server.log")
  echo "Requests the server answered in this run: $((after - before))"
  sed -n "$((before + 1)),${after}p" "$demo/server.log" | head -8 | sed 's/^/  /'
}

step "Patch a fresh installation (veldmoor-sync)"
run_sync
diff -r "$source_dir" "$install_dir" >/dev/null && echo "The installation equals the published folder."

step "Change a few bytes in the middle of map0.mul, publish again, patch again"
printf 'VELDMOOR' | dd of="$source_dir/data/maps/map0.mul" bs=1 seek=4500000 conv=notrunc status=none
"$tools/veldmoor-publish" "$source_dir" "$web_root/game"
run_sync
diff -r "$source_dir" "$install_dir" >/dev/null && echo "The installation equals the published folder."

step "Patch once more: nothing changed, so only the file list is fetched"
run_sync

echo
echo "demo: done. Files are under $demo; the server has been stopped."
