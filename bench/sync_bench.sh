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
# For each case it prints wall time, the bytes nginx sent ($bytes_sent of the run's requests)
# and peak memory (maximum resident set size from /usr/bin/time). Case A also times the
# durable-write floor: `dd conv=fsync` of the new file's bytes to a new file on the same drive,
# what any updater that survives a power cut must at least spend writing it. Case A's tools
# take turns, one run each per round, as their ratios are its targets.
#
# Settings (environment): BUILD_DIR (default build/release, configured Release when new),
# BENCH_DIR (default build/bench-data, removed at the end unless BENCH_KEEP=1),
# BENCH_SIZE_MIB (512), BENCH_TREE_FILES (2000), BENCH_RUNS (3: each figure is the median
# run's, peak memory the largest), BENCH_CASES ("A B C D E": the cases to run; D and E run
# together). Needs ~4 GB of free disk.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

build=${BUILD_DIR:-build/release}
work=${BENCH_DIR:-build/bench-data}
size_mib=${BENCH_SIZE_MIB:-512}
tree_files=${BENCH_TREE_FILES:-2000}
runs=${BENCH_RUNS:-3}
cases=${BENCH_CASES:-A B C D E}
wants() { case " $cases " in *" $1 "*) return 0 ;; esac; return 1; }

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
! wants C || head -c $((size_mib << 20)) /dev/urandom >"$work/unrelated.bin"

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
wants D || wants E || tree_files=0
note "bench: generating a tree of $tree_files files"
tree="$work/tree"
for i in $(seq 1 "$tree_files"); do
  dir="$tree/d$((i % 40))"
  mkdir -p "$dir"
  head -c $((1024 + (RANDOM * 32768 + RANDOM) % (299 * 1024))) /dev/urandom >"$dir/f$i.bin"
done
[ "$tree_files" = 0 ] || "$publish" --quiet "$tree" "$www/tree"

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
# fresh FOLDER [SEED]: FOLDER made empty again, holding a copy of SEED as big.bin when given.
# The copy gets an old time, as a player's previous version has: a copy made within the second
# the corpus was published in would carry the listed time and not be examined at all.
fresh() {
  rm -rf "$1"
  mkdir -p "$1"
  [ -z "${2:-}" ] || { cp "$2" "$1/big.bin" && touch -d @1000000000 "$1/big.bin"; }
}
# measure LABEL TOOL SETUP COMMAND...: runs SETUP (untimed, a command line in one string) and
# then COMMAND, $runs times. Records the median wall time with that run's bytes sent and
# request count, and the largest peak memory of all runs.
measure() {
  local label=$1 tool=$2 setup=$3
  shift 3
  local run before after startedAt endedAt wall rss bytes peak=0 rows=()
  for run in $(seq "$runs"); do
    eval "$setup"
    # Write back what earlier steps left in the page cache first, or the disk's catch-up would
    # land on whichever run comes next (several hundred MiB after each copy of the large file).
    sync
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
    peak=$(awk -v a="$peak" -v b="$rss" 'BEGIN { print (b > a ? b : a) }')
    rows+=("$wall $bytes $((after - before))")
    note "bench: $label / $tool, run ${turn:-$run}: ${wall} s, $bytes bytes sent, ${rss} MiB peak"
  done
  read -r wall bytes count < <(printf '%s\n' "${rows[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p")
  results+=("$label|$tool|$wall|$bytes|$peak|$count")
}
# measure_in_turns LABEL TOOL SETUP COMMAND [TOOL SETUP COMMAND ...]: as measure for each tool
# (COMMAND a command line in one string), but the tools take turns, one run each per round, so
# that a drift of the machine's speed falls on all of them alike and their ratios hold still.
measure_in_turns() {
  local label=$1 turn i r l t wall bytes rss count
  shift
  local tools=() setups=() commands=()
  while [ $# -gt 0 ]; do
    tools+=("$1") setups+=("$2") commands+=("$3")
    shift 3
  done
  for turn in $(seq "$runs"); do
    for i in "${!tools[@]}"; do
      eval "set -- ${commands[$i]}"
      runs=1 measure "$label" "${tools[$i]}" "${setups[$i]}" "$@"
    done
  done
  # Each tool's single runs become one entry, as measure makes it.
  for t in "${tools[@]}"; do
    local kept=() rows=() peak=0
    for r in "${results[@]}"; do
      IFS='|' read -r l tool wall bytes rss count <<<"$r"
      if [ "$l|$tool" = "$label|$t" ]; then
        rows+=("$wall $bytes $count")
        peak=$(awk -v a="$peak" -v b="$rss" 'BEGIN { print (b > a ? b : a) }')
      else
        kept+=("$r")
      fi
    done
    read -r wall bytes count < <(printf '%s\n' "${rows[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p")
    results=("${kept[@]}" "$label|$t|$wall|$bytes|$peak|$count")
  done
}
expect_same() { cmp -s "$1" "$2" || { note "bench: $1 differs from $2"; exit 1; }; }

if wants A; then
note "bench: case A (changed blocks and an insertion)"
# The floor: the new file's bytes written to the same drive and forced to it, nothing else. The
# three take turns: the ratios to the floor are this case's targets.
measure_in_turns "A 1% changed + insertion" \
  veldmoor-sync "fresh '$work/a-v' '$old'" "'$vsync' '$work/a-v' '$base/big/'" \
  zsync "fresh '$work/a-z'" \
  "sh -c \"cd '$work/a-z' && zsync -q -i '$old' -o big.bin '$base/zs/big.bin.zsync'\"" \
  "floor (dd fsync)" "rm -f '$work/a-floor.bin'" \
  "dd if='$new' of='$work/a-floor.bin' bs=1M conv=fsync status=none"
expect_same "$work/a-v/big.bin" "$new"
expect_same "$work/a-z/big.bin" "$new"
rm -rf "$work/a-v" "$work/a-z" "$work/a-floor.bin"
fi

if wants B; then
note "bench: case B (content current, time differs)"
measure "B content current" veldmoor-sync "fresh '$work/b-v' '$new'" \
  "$vsync" "$work/b-v" "$base/big/"
expect_same "$work/b-v/big.bin" "$new"
measure "B content current" zsync "fresh '$work/b-z'" \
  sh -c "cd '$work/b-z' && zsync -q -i '$new' -o big.bin '$base/zs/big.bin.zsync'"
rm -rf "$work/b-v" "$work/b-z"
fi

if wants C; then
note "bench: case C (unrelated local data)"
measure "C unrelated local data" veldmoor-sync "fresh '$work/c-v' '$work/unrelated.bin'" \
  "$vsync" "$work/c-v" "$base/big/"
expect_same "$work/c-v/big.bin" "$new"
measure "C unrelated local data" zsync "fresh '$work/c-z'" \
  sh -c "cd '$work/c-z' && zsync -q -i '$work/unrelated.bin' -o big.bin '$base/zs/big.bin.zsync'"
measure "C unrelated local data" "curl (whole file)" "fresh '$work/c-z'" \
  curl -s -o "$work/c-z/curl.bin" "$base/zs/big.bin"
rm -rf "$work/c-v" "$work/c-z"
fi

if [ "$tree_files" != 0 ]; then
note "bench: cases D and E (tree)"
# The installations before the change, kept so that every run of case D starts from them.
"$vsync" "$work/t-v-before" "$base/tree/" >/dev/null
cp -a "$tree" "$work/t-r-before"
shuf -i 1-"$tree_files" -n $((tree_files / 20)) | while read -r i; do
  file="$tree/d$((i % 40))/f$i.bin"
  size=$(stat -c %s "$file")
  head -c 100 /dev/urandom | dd of="$file" bs=1 seek=$((RANDOM % (size - 100))) conv=notrunc status=none
done
"$publish" --quiet "$tree" "$www/tree"
measure "D tree, 5% changed" veldmoor-sync \
  "rm -rf '$work/t-v' && cp -a '$work/t-v-before' '$work/t-v'" \
  "$vsync" "$work/t-v" "$base/tree/"
measure "D tree, 5% changed" "rsync (local)" \
  "rm -rf '$work/t-r' && cp -a '$work/t-r-before' '$work/t-r'" \
  rsync -r --no-whole-file "$tree/" "$work/t-r/"
diff -r "$tree" "$work/t-v" >/dev/null || { note "bench: tree differs after sync"; exit 1; }
measure "E tree unchanged" veldmoor-sync : "$vsync" "$work/t-v" "$base/tree/"
measure "E tree unchanged" "rsync (local)" : rsync -r --no-whole-file "$tree/" "$work/t-r/"
fi

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
  ours="" theirs="" floor=""
  for row in "${results[@]}"; do
    IFS='|' read -r l tool wall bytes _ _ <<<"$row"
    [ "$l" = "$label" ] || continue
    if [ "$tool" = veldmoor-sync ]; then ours="$wall $bytes"
    elif [ "$tool" = "floor (dd fsync)" ]; then floor=$wall
    elif [ -z "$theirs" ]; then theirs="$wall $bytes $tool"; fi
  done
  [ -n "$ours" ] || continue
  echo "$ours $theirs" | awk -v l="$label" -v f="$floor" '{ printf "  %-26s wall %.2fx %s", l, $1 / $3, $5; if ($4 > 0) printf ", bytes %.2fx", $2 / $4; if (f > 0) printf "; wall %.2fx the durable-write floor", $1 / f; printf "\n" }'
done
