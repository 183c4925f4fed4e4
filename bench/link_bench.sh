#!/usr/bin/env bash
# Synchronisation over an emulated internet link: veldmoor-sync next to its peers, each behind
# the same link emulator (bench/link_emulator.py: one-way delay each way, downstream rate cap)
# in the same run.
#
# Cases:
#   T1 a tree of 2000 files of 1-20 KB, fresh installation   peer: rsync daemon (rsync://)
#   T2 the same tree with 5% of its files changed             peer: rsync daemon
#   (T1 and T2 each twice for veldmoor-sync: plain http (HTTP/1.1), and https with HTTP/2 from
#   the same nginx with a self-signed certificate made for the run, given as --ca-file)
#   Z  one 512 MiB file with 1% of its 4 KiB blocks changed   peer: zsync over the same nginx
# T1 also times the link's floor: curl fetching the tree's bytes as one file over one connection
# of the same emulated link (no other tool can bring them faster than the link carries them).
# nginx serves the repositories with docs/nginx-repository.conf; the rsync daemon runs with a
# private configuration; both on loopback ports, each behind its own emulator instance.
# Each figure is the median of BENCH_RUNS runs; bytes are what the emulator carried downstream.
#
# Settings (environment): BUILD_DIR (build/release), BENCH_DIR (build/link-bench-data, removed
# at the end unless BENCH_KEEP=1), BENCH_SIZE_MIB (512), BENCH_TREE_FILES (2000),
# BENCH_RUNS (3), LINK_DELAY_MS (15: one way, so 30 ms round trip), LINK_RATE_MBIT (100),
# BENCH_CASES ("T Z": the tree cases, the large file case), BENCH_CONNECTIONS (unset: the
# pool veldmoor-sync chooses itself; N caps it with --connections N), BENCH_PLAIN_HTTP (1; 0
# leaves out the tree cases' plain http runs), BENCH_SIGNED (0; 1 publishes the tree signed and
# runs veldmoor-sync on it with --trust: a fresh file then costs one request instead of two).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

build=${BUILD_DIR:-build/release}
work=${BENCH_DIR:-build/link-bench-data}
size_mib=${BENCH_SIZE_MIB:-512}
tree_files=${BENCH_TREE_FILES:-2000}
runs=${BENCH_RUNS:-3}
cases=${BENCH_CASES:-T Z}
delay_ms=${LINK_DELAY_MS:-15}
rate_mbit=${LINK_RATE_MBIT:-100}
connections=${BENCH_CONNECTIONS:-}
# --connections is a ceiling: given, it would also hold an HTTP/1.1 pool back from growing.
pool=()
[ -n "$connections" ] && pool=(--connections "$connections")
plain_http=${BENCH_PLAIN_HTTP:-1}
signed=${BENCH_SIGNED:-0}

if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELDMOOR_BUILD_TESTS=OFF \
    -DVELDMOOR_BUILD_UI=OFF -DVELDMOOR_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$build" -j 2 --target veldmoor-publish veldmoor-sync >/dev/null
publish="$PWD/$build/tools/veldmoor-publish"
vsync="$PWD/$build/tools/veldmoor-sync"
emulator="$PWD/bench/link_emulator.py"

rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
www="$work/www"
mkdir -p "$www"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  [ "${BENCH_KEEP:-0}" = 1 ] || rm -rf "$work"
}
trap cleanup EXIT
note() { printf '%s\n' "$*" >&2; }

# ---- corpus: the tree ----
note "bench: generating a tree of $tree_files files of 1-20 KB"
tree="$work/tree"
for i in $(seq 1 "$tree_files"); do
  dir="$tree/d$((i % 40))"
  mkdir -p "$dir"
  head -c $((1024 + (RANDOM * 32768 + RANDOM) % (19 * 1024))) /dev/urandom >"$dir/f$i.bin"
done
sign=()
trust=()
if [ "$signed" = 1 ]; then
  mkdir -p "$work/keys"
  "$publish" keygen "$work/keys/root" >/dev/null
  "$publish" keygen "$work/keys/signing" >/dev/null
  "$publish" root --root-key "$work/keys/root.key" --signing-key "$work/keys/signing.pub" \
    "$work/root" >/dev/null
  sign=(--key "$work/keys/signing.key" --root "$work/root")
  trust=(--trust "$work/root" --state "$work/trust-state")
fi
"$publish" --quiet "${sign[@]}" "$tree" "$www/tree"

# ---- corpus: the large file ----
note "bench: generating a ${size_mib} MiB file and its changed version"
old="$work/old.bin"
mkdir -p "$work/src-big"
new="$work/src-big/big.bin"
head -c $((size_mib << 20)) /dev/urandom >"$old"
cp "$old" "$new"
blocks=$((size_mib * 256))
shuf -i 0-$((blocks - 1)) -n $((blocks / 100)) | sort -n | while read -r block; do
  head -c 4096 /dev/urandom | dd of="$new" bs=4096 seek="$block" conv=notrunc status=none
done
"$publish" --quiet "$work/src-big" "$www/big"
mkdir -p "$www/zs"
ln "$www/big/transfer/big.bin" "$www/zs/big.bin"
(cd "$www/zs" && zsyncmake -b 4096 -u big.bin -o big.bin.zsync big.bin)

# ---- servers on loopback ----
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
conf="$work/nginx"
mkdir -p "$conf"
chmod 755 "$work" "$conf"
nginx_port=$(free_port)
tls_port=$(free_port)
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 \
  -keyout "$conf/key.pem" -out "$conf/cert.pem" -subj /CN=127.0.0.1 \
  -addext subjectAltName=IP:127.0.0.1 2>/dev/null
tls="listen 127.0.0.1:$tls_port ssl http2; ssl_certificate $conf/cert.pem; ssl_certificate_key $conf/key.pem;"
block=$(sed -e "s|listen [^;]*;|listen 127.0.0.1:$nginx_port; $tls|" -e "s|root [^;]*;|root $www;|" \
  docs/nginx-repository.conf)
cat >"$conf/nginx.conf" <<CONF
worker_processes 1;
user root root;
pid $conf/nginx.pid;
error_log $conf/error.log warn;
events { worker_connections 256; }
http {
  access_log off;
  client_body_temp_path $conf/body; proxy_temp_path $conf/proxy; fastcgi_temp_path $conf/fcgi;
  uwsgi_temp_path $conf/uwsgi; scgi_temp_path $conf/scgi;
  sendfile on;
$block
}
CONF
/usr/sbin/nginx -p "$conf/" -c "$conf/nginx.conf" -e "$conf/error.log" -g 'daemon off;' &
pids+=($!)

rsync_port=$(free_port)
cat >"$work/rsyncd.conf" <<CONF
pid file = $work/rsyncd.pid
use chroot = no
log file = $work/rsyncd.log
[tree]
  path = $tree
  read only = yes
CONF
rsync --daemon --no-detach --address=127.0.0.1 --port="$rsync_port" --config="$work/rsyncd.conf" &
pids+=($!)

# emulate NAME PORT: a link emulator in front of PORT; sets NAME_link to its port.
emulate() {
  local out="$work/$1.emulator"
  python3 "$emulator" --target "127.0.0.1:$2" --delay-ms "$delay_ms" --rate-mbit "$rate_mbit" \
    --stats "$work/$1.bytes" >"$out" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do
    grep -q '^listening on' "$out" 2>/dev/null && break
    sleep 0.05
  done
  printf -v "$1_link" '%s' "$(awk '/^listening on/ { print $3 }' "$out")"
  echo 0 >"$work/$1.bytes"
}
emulate http "$nginx_port"
emulate https "$tls_port"
emulate rsync "$rsync_port"
for _ in $(seq 100); do
  curl -s -o /dev/null "http://127.0.0.1:$nginx_port/tree/filelist.php" && break
  sleep 0.1
done
base="http://127.0.0.1:$http_link"
tls_base="https://127.0.0.1:$https_link"
rsync_base="rsync://127.0.0.1:$rsync_link/tree"

# ---- measuring ----
results=()
# measure LABEL TOOL LINK SETUP COMMAND...: runs SETUP (untimed) and then COMMAND, $runs times,
# and records the median run's wall time with the bytes the emulator LINK carried in that run.
measure() {
  local label=$1 tool=$2 link=$3 setup=$4
  shift 4
  local run before after startedAt endedAt wall rows=()
  for run in $(seq "$runs"); do
    eval "$setup"
    sync
    sleep 0.3
    before=$(cat "$work/$link.bytes")
    startedAt=$(date +%s.%N)
    "$@" >"$work/run.out" 2>&1 ||
      { cat "$work/run.out" >&2; note "bench: $tool failed in case $label"; exit 1; }
    endedAt=$(date +%s.%N)
    sleep 0.5  # the emulator writes its count once the connections have closed
    after=$(cat "$work/$link.bytes")
    wall=$(awk -v s="$startedAt" -v e="$endedAt" 'BEGIN { printf "%.3f", e - s }')
    rows+=("$wall $((after - before))")
    note "bench: $label / $tool, run $run: ${wall} s, $((after - before)) bytes over the link"
  done
  read -r wall bytes < <(printf '%s\n' "${rows[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p")
  results+=("$label|$tool|$wall|$bytes")
}
fresh() { rm -rf "$1"; mkdir -p "$1"; }

if [[ " $cases " == *" T "* ]]; then
  note "bench: case T1 (fresh tree)"
  if [ "$plain_http" = 1 ]; then
    measure "T1 tree, fresh" veldmoor-sync http "fresh '$work/t-v'" "$vsync" --quiet "${trust[@]}" "${pool[@]}" "$work/t-v" "$base/tree/"
    diff -r "$tree" "$work/t-v" >/dev/null || { note "bench: tree differs after sync"; exit 1; }
  else
    cp -a "$tree" "$work/t-v"
  fi
  measure "T1 tree, fresh" "veldmoor h2" https "fresh '$work/t-h'" "$vsync" --quiet "${trust[@]}" "${pool[@]}" --ca-file "$conf/cert.pem" "$work/t-h" "$tls_base/tree/"
  diff -r "$tree" "$work/t-h" >/dev/null || { note "bench: tree differs after sync over https"; exit 1; }
  measure "T1 tree, fresh" "rsync daemon" rsync "fresh '$work/t-r'" rsync -rt "$rsync_base/" "$work/t-r/"
  diff -r "$tree" "$work/t-r" >/dev/null || { note "bench: rsync tree differs"; exit 1; }
  # The floor: the tree's bytes as one file over one connection of the same link, nothing else.
  find "$tree" -type f -print0 | sort -z | xargs -0 cat >"$www/tree-bytes.bin"
  measure "T1 tree, fresh" "link floor" http ":" curl -sf -o /dev/null "$base/tree-bytes.bin"

  note "bench: case T2 (5% of the tree changed)"
  cp -a "$work/t-v" "$work/t-v-before"
  cp -a "$work/t-h" "$work/t-h-before"
  cp -a "$work/t-r" "$work/t-r-before"
  shuf -i 1-"$tree_files" -n $((tree_files / 20)) | while read -r i; do
    file="$tree/d$((i % 40))/f$i.bin"
    size=$(stat -c %s "$file")
    head -c 100 /dev/urandom | dd of="$file" bs=1 seek=$((RANDOM % (size - 100))) conv=notrunc status=none
  done
  "$publish" --quiet "${sign[@]}" "$tree" "$www/tree"
  if [ "$plain_http" = 1 ]; then
    measure "T2 tree, 5% changed" veldmoor-sync http \
      "rm -rf '$work/t-v' && cp -a '$work/t-v-before' '$work/t-v'" \
      "$vsync" --quiet "${trust[@]}" "${pool[@]}" "$work/t-v" "$base/tree/"
    diff -r "$tree" "$work/t-v" >/dev/null || { note "bench: tree differs after sync"; exit 1; }
  fi
  measure "T2 tree, 5% changed" "veldmoor h2" https \
    "rm -rf '$work/t-h' && cp -a '$work/t-h-before' '$work/t-h'" \
    "$vsync" --quiet "${trust[@]}" "${pool[@]}" --ca-file "$conf/cert.pem" "$work/t-h" "$tls_base/tree/"
  diff -r "$tree" "$work/t-h" >/dev/null || { note "bench: tree differs after sync over https"; exit 1; }
  measure "T2 tree, 5% changed" "rsync daemon" rsync \
    "rm -rf '$work/t-r' && cp -a '$work/t-r-before' '$work/t-r'" \
    rsync -rt "$rsync_base/" "$work/t-r/"
  diff -r "$tree" "$work/t-r" >/dev/null || { note "bench: rsync tree differs"; exit 1; }

fi

if [[ " $cases " == *" Z "* ]]; then
  note "bench: case Z (${size_mib} MiB file, 1% of blocks changed)"
  # The old copy gets an old time, as a player's previous version has.
  seed() { fresh "$1"; cp "$old" "$1/big.bin"; touch -d @1000000000 "$1/big.bin"; }
  measure "Z ${size_mib} MiB, 1% changed" veldmoor-sync http "seed '$work/z-v'" \
    "$vsync" --quiet "${pool[@]}" "$work/z-v" "$base/big/"
  cmp -s "$work/z-v/big.bin" "$new" || { note "bench: large file differs after sync"; exit 1; }
  measure "Z ${size_mib} MiB, 1% changed" zsync http "fresh '$work/z-z'" \
    sh -c "cd '$work/z-z' && zsync -q -i '$old' -o big.bin '$base/zs/big.bin.zsync'"
  cmp -s "$work/z-z/big.bin" "$new" || { note "bench: zsync's file differs"; exit 1; }
fi

# ---- report ----
echo
echo "Synchronisation over an emulated link: ${delay_ms} ms each way, ${rate_mbit} Mbit/s down;"
echo "tree of $tree_files files of 1-20 KB, ${size_mib} MiB file; median of $runs runs;"
echo "veldmoor-sync with ${connections:-its own choice of} connections"
printf '%-24s %-15s %9s %14s\n' case tool "wall s" "link bytes"
for row in "${results[@]}"; do
  IFS='|' read -r label tool wall bytes <<<"$row"
  printf '%-24s %-15s %9s %14s\n' "$label" "$tool" "$wall" "$bytes"
done
echo
echo "Ratios veldmoor-sync / peer (wall, bytes):"
for label in "T1 tree, fresh" "T2 tree, 5% changed" "Z ${size_mib} MiB, 1% changed"; do
  theirs=""
  floor=""
  for row in "${results[@]}"; do
    IFS='|' read -r l tool wall bytes <<<"$row"
    [ "$l" = "$label" ] || continue
    case $tool in veldmoor*) ;; "link floor") floor=$wall ;; *) theirs="$wall $bytes $tool" ;; esac
  done
  [ -n "$theirs" ] || continue
  for row in "${results[@]}"; do
    IFS='|' read -r l tool wall bytes <<<"$row"
    [ "$l" = "$label" ] || continue
    case $tool in veldmoor*) ;; *) continue ;; esac
    echo "$wall $bytes $theirs" | awk -v l="$label" -v t="$tool" -v f="$floor" '{ printf "  %-24s %-14s wall %.2fx %s", l, t, $1 / $3, $5; if ($4 > 0) printf ", bytes %.2fx", $2 / $4; if (f > 0) printf "; wall %.2fx the link floor", $1 / f; printf "\n" }'
  done
done
