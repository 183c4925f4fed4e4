#!/usr/bin/env bash
# End-to-end synchronisation benchmark: veldmoor-sync next to zsync (client-side block matching
# over HTTP ranges, the nearest peer) and rsync (for the tree, between two local folders), on
# the same data in the same run, served by nginx on loopback with docs/nginx-repository.conf.
#
# Corpus:
#   A  one 512 MiB file whose local copy is the old version: ~1% of its 4 KiB blocks changed
#      plus one 100-byte insertion in the middle (which shifts everything after it)
#   B  the same file when the local copy already has the new content but another time
#   C  the same file when the local copy is unrelated data of the same size (nothing matches)
#   D  a tree of 2000 files of 1-300 KB with 5% of them changed in place
#   E  the same tree unchanged
# For each run it prints wall time, the bytes nginx sent ($bytes_sent of the run's requests)
# and peak memory (maximum resident set size from /usr/bin/time).
#
# Settings (environment): BUILD_DIR (default build/release, configured Release when new),
# BENCH_DIR (default build/bench-data, removed at the end unless BENCH_KEEP=1),
# BENCH_SIZE_MIB (512), BENCH_TREE_FILES (2000). Needs ~4 GB of free disk.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

build=${BUILD_DIR:-build/release}
work=${BENCH_DIR:-build/bench-data}
size_mib=${BENCH_SIZE_MIB:-512}
tree_files=${BENCH_TREE_FILES:-2000}

if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELDMOOR_BUILD_TESTS=OFF \
    -DVELDMOOR_BUILD_UI=OFF -DVELDMOOR_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$build" -j 2 --target veldmoor-publish veldmoor-sync >/dev/null
publish="$PWD/$build/tools/veldmoor-publish"
vsync="$PWD/$build/tools/veldmoor-sync"

rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
www="$work/www"
mkdir -p "$www"
nginx_pid=""
cleanup() {
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null || true
  [ "${BENCH_KEEP:-0}" = 1 ] || rm -rf "$work"
}
trap cleanup EXIT
note() { printf '%s\n' "$*" >&2; }

# ---- corpus: the large file ----
note "bench: generating ${size_mib} MiB file and its changed version"
old="$work/old.bin"
new="$work/new.bin"
head -c $((size_mib << 20)) /dev/urandom >"$old"
cp "$old" "$work/changed.bin"
blocks=$((size_mib * 256))
shuf -i 0-$((blocks - 1)) -n $((blocks / 100)) | while read -r block; do
  head -c 4096 /dev/urandom | dd of="$work/changed.bin" bs=4096 seek="$block" conv=notrunc status=none
done
insert_at=$(((size_mib << 19) + 123))
{ head -c "$insert_at" "$work/changed.bin"; head -c 100 /dev/urandom
  tail -c +$((insert_at + 1)) "$work/changed.bin"; } >"$new"
rm "$work/changed.bin"
head -c $((size_mib << 20)) /dev/urandom >"$work/unrelated.bin"

mkdir -p "$work/src-big"
ln "$new" "$work/src-big/big.bin"
start=$(date +%s.%N)
"$publish" --quiet "$work/src-big" "$www/big"
publish_big=$(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN { printf "%.2f", e - s }')
mkdir -p "$www/zs"
ln "$www/big/transfer/big.bin" "$www/zs/big.bin"
start=$(date +%s.%N)
(cd "$www/zs" && zsyncmake -b 4096 -u big.bin -o big.bin.zsync big.bin)
zsyncmake_big=$(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN { printf "%.2f", e - s }')

# ---- corpus: the tree ----
note "bench: generating a tree of $tree_files files"
tree="$work/tree"
for i in $(seq 1 "$tree_files"); do
  dir="$tree/d$((i % 40))"
  mkdir -p "$dir"
  head -c $((1024 + (RANDOM * 32768 + RANDOM) % (299 * 1024))) /dev/urandom >"$dir/f$i.bin"
done
"$publish" --quiet "$tree" "$www/tree"

# ---- nginx on loopback ----
conf="$work/nginx"
mkdir -p "$conf"
chmod 755 "$work" "$conf"
port=""
for candidate in $(shuf -i 20000-60000 -n 10); do
  block=$(sed -e "s|listen [^;]*;|listen 127.0.0.1:$candidate;|" -e "s|root [^;]*;|root $www;|" \
    docs/nginx-repository.conf)
  cat >"$conf/nginx.conf" <<CONF
worker_processes 1;
user root root;
pid $conf/nginx.pid;
error_log $conf/error.log warn;
events { worker_connections 256; }
http {
  log_format bench '\$request_uri \$status \$bytes_sent';
  access_log $conf/access.log bench;
  client_body_temp_path $conf/body; proxy_temp_path $conf/proxy; fastcgi_temp_path $conf/fcgi;
  uwsgi_temp_path $conf/uwsgi; scgi_temp_path $conf/scgi;
  sendfile on;
$block
}
CONF
  : >"$conf/access.log"
  /usr/sbin/nginx -p "$conf/" -c "$conf/nginx.conf" -e "$conf/error.log" -g 'daemon off;' &
  nginx_pid=$!
  for _ in $(seq 50); do
    curl -s -o /dev/null "http://127.0.0.1:$candidate/big/filelist.php" && { port=$candidate; break; }
    kill -0 "$nginx_pid" 2>/dev/null || break
    sleep 0.1
  done
  [ -n "$port" ] && break
  kill "$nginx_pid" 2>/dev/null || true
  nginx_pid=""
done
[ -n "$port" ] || { cat "$conf/error.log" >&2; note "bench: nginx did not start"; exit 1; }
base="http://127.0.0.1:$port"

# ---- measuring ----
results=()
# measure LABEL TOOL COMMAND...: runs the command once, records wall, bytes sent, peak RSS.
measure() {
  local label=$1 tool=$2
  shift 2
  local before after startedAt endedAt wall rss bytes
  sleep 0.2
  before=$(wc -l <"$conf/access.log")
  startedAt=$(date +%s.%N)
  /usr/bin/time -f '%M' -o "$work/time.out" "$@" >"$work/run.out" 2>&1 ||
    { cat "$work/run.out" >&2; note "bench: $tool failed in case $label"; exit 1; }
  endedAt=$(date +%s.%N)
  sleep 0.3  # nginx logs a request after answering it
  after=$(wc -l <"$conf/access.log")
  bytes=$(sed -n "$((before + 1)),${after}p" "$conf/access.log" | awk '{ s += $3 } END { print s + 0 }')
  wall=$(awk -v s="$startedAt" -v e="$endedAt" 'BEGIN { printf "%.3f", e - s }')
  rss=$(awk '{ printf "%.1f", $1 / 1024 }' "$work/time.out")
  results+=("$label|$tool|$wall|$bytes|$rss|$((after - before))")
  note "bench: $label / $tool: ${wall} s, $bytes bytes sent, ${rss} MiB peak"
}
expect_same() { cmp -s "$1" "$2" || { note "bench: $1 differs from $2"; exit 1; }; }

note "bench: case A (changed blocks and an insertion)"
mkdir -p "$work/a-v" "$work/a-z"
cp "$old" "$work/a-v/big.bin"
measure "A 1% changed + insertion" veldmoor-sync "$vsync" "$work/a-v" "$base/big/"
expect_same "$work/a-v/big.bin" "$new"
measure "A 1% changed + insertion" zsync \
  sh -c "cd '$work/a-z' && zsync -q -i '$old' -o big.bin '$base/zs/big.bin.zsync'"
expect_same "$work/a-z/big.bin" "$new"
rm -rf "$work/a-v" "$work/a-z"

note "bench: case B (content current, time differs)"
mkdir -p "$work/b-v" "$work/b-z"
cp "$new" "$work/b-v/big.bin"
measure "B content current" veldmoor-sync "$vsync" "$work/b-v" "$base/big/"
expect_same "$work/b-v/big.bin" "$new"
measure "B content current" zsync \
  sh -c "cd '$work/b-z' && zsync -q -i '$new' -o big.bin '$base/zs/big.bin.zsync'"
rm -rf "$work/b-v" "$work/b-z"

note "bench: case C (unrelated local data)"
mkdir -p "$work/c-v" "$work/c-z"
cp "$work/unrelated.bin" "$work/c-v/big.bin"
measure "C unrelated local data" veldmoor-sync "$vsync" "$work/c-v" "$base/big/"
expect_same "$work/c-v/big.bin" "$new"
measure "C unrelated local data" zsync \
  sh -c "cd '$work/c-z' && zsync -q -i '$work/unrelated.bin' -o big.bin '$base/zs/big.bin.zsync'"
measure "C unrelated local data" "curl (whole file)" curl -s -o "$work/c-z/curl.bin" "$base/zs/big.bin"
rm -rf "$work/c-v" "$work/c-z"

note "bench: cases D and E (tree)"
"$vsync" "$work/t-v" "$base/tree/" >/dev/null  # the installation before the change
cp -a "$tree" "$work/t-r"                         # rsync's copy before the change
shuf -i 1-"$tree_files" -n $((tree_files / 20)) | while read -r i; do
  file="$tree/d$((i % 40))/f$i.bin"
  size=$(stat -c %s "$file")
  head -c 100 /dev/urandom | dd of="$file" bs=1 seek=$((RANDOM % (size - 100))) conv=notrunc status=none
done
"$publish" --quiet "$tree" "$www/tree"
measure "D tree, 5% changed" veldmoor-sync "$vsync" "$work/t-v" "$base/tree/"
measure "D tree, 5% changed" "rsync (local)" rsync -r --no-whole-file "$tree/" "$work/t-r/"
diff -r "$tree" "$work/t-v" >/dev/null || { note "bench: tree differs after sync"; exit 1; }
measure "E tree unchanged" veldmoor-sync "$vsync" "$work/t-v" "$base/tree/"
measure "E tree unchanged" "rsync (local)" rsync -r --no-whole-file "$tree/" "$work/t-r/"

# ---- report ----
echo
echo "Synchronisation benchmark: ${size_mib} MiB file, tree of $tree_files files, nginx on loopback"
echo "(publish of the large file: ${publish_big} s; zsyncmake of it: ${zsyncmake_big} s)"
printf '%-26s %-18s %9s %14s %10s %9s\n' case tool "wall s" "server bytes" "peak MiB" requests
for row in "${results[@]}"; do
  IFS='|' read -r label tool wall bytes rss count <<<"$row"
  printf '%-26s %-18s %9s %14s %10s %9s\n' "$label" "$tool" "$wall" "$bytes" "$rss" "$count"
done
echo
echo "Ratios veldmoor-sync / peer (wall, bytes):"
for label in "A 1% changed + insertion" "B content current" "C unrelated local data" \
  "D tree, 5% changed" "E tree unchanged"; do
  ours="" theirs=""
  for row in "${results[@]}"; do
    IFS='|' read -r l tool wall bytes _ _ <<<"$row"
    [ "$l" = "$label" ] || continue
    if [ "$tool" = veldmoor-sync ]; then ours="$wall $bytes"
    elif [ -z "$theirs" ]; then theirs="$wall $bytes $tool"; fi
  done
  echo "$ours $theirs" | awk -v l="$label" '{ printf "  %-26s wall %.2fx %s", l, $1 / $3, $5; if ($4 > 0) printf ", bytes %.2fx", $2 / $4; printf "\n" }'
done
