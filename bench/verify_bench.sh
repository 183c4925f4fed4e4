#!/usr/bin/env bash
# Verify by content: `veldmoor-sync --trust ROOT --verify` over an unchanged installation next
# to `sha256sum` over the same files, in the same run, from the page cache (the files were just
# written, as they are right after an update; the machine's memory holds them both times).
#
# Corpus, published signed with veldmoor-publish and served by veldmoor-serve on loopback:
#   V1  one file of BENCH_SIZE_MIB MiB (512)
#   V2  a tree of BENCH_TREE_FILES files (2000) of 1-300 KB
# Each figure is the median of BENCH_RUNS runs (3). veldmoor-sync's time includes its requests
# (the file list, the manifest) and reading every file once; sha256sum's only the reading.
#
# Settings (environment): BUILD_DIR (default build/release, configured Release when new),
# BENCH_DIR (default build/verify-bench-data, removed at the end unless BENCH_KEEP=1).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD_DIR:-build/release}
work=${BENCH_DIR:-build/verify-bench-data}
size_mib=${BENCH_SIZE_MIB:-512}
tree_files=${BENCH_TREE_FILES:-2000}
runs=${BENCH_RUNS:-3}

if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELDMOOR_BUILD_TESTS=OFF \
    -DVELDMOOR_BUILD_UI=OFF -DVELDMOOR_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$build" -j 2 --target veldmoor-publish veldmoor-sync veldmoor-serve >/dev/null
publish="$PWD/$build/tools/veldmoor-publish"
vsync="$PWD/$build/tools/veldmoor-sync"
serve="$PWD/$build/tools/veldmoor-serve"

rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
serve_pid=""
cleanup() {
  [ -n "$serve_pid" ] && kill "$serve_pid" 2>/dev/null || true
  [ "${BENCH_KEEP:-0}" = 1 ] || rm -rf "$work"
}
trap cleanup EXIT
note() { printf '%s\n' "$*" >&2; }

note "bench: generating the corpus"
mkdir -p "$work/src/big" "$work/src/tree" "$work/www" "$work/keys"
head -c $((size_mib << 20)) /dev/urandom >"$work/src/big/big.bin"
for i in $(seq "$tree_files"); do
  head -c $((1024 + (RANDOM * 9) % (300 * 1024))) /dev/urandom >"$work/src/tree/f$i.bin"
done

"$publish" keygen "$work/keys/root" >/dev/null
"$publish" keygen "$work/keys/signing" >/dev/null
"$publish" root --root-key "$work/keys/root.key" --signing-key "$work/keys/signing.pub" \
  "$work/root" >/dev/null
for corpus in big tree; do
  "$publish" --quiet --key "$work/keys/signing.key" --root "$work/root" "$work/src/$corpus" \
    "$work/www/$corpus"
done

"$serve" --port 0 --port-file "$work/port" "$work/www" >"$work/serve.log" 2>&1 &
serve_pid=$!
for _ in $(seq 100); do
  [ -s "$work/port" ] && break
  sleep 0.05
done
base="http://127.0.0.1:$(cat "$work/port")"

# median_of COMMAND...: the median wall time of $runs runs, in seconds.
median_of() {
  local run startedAt endedAt times=()
  for run in $(seq "$runs"); do
    startedAt=$(date +%s.%N)
    "$@" >"$work/run.out" 2>&1 || { cat "$work/run.out" >&2; note "bench: $1 failed"; exit 1; }
    endedAt=$(date +%s.%N)
    times+=("$(awk -v s="$startedAt" -v e="$endedAt" 'BEGIN { printf "%.3f", e - s }')")
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p"
}

hash_all() { find "$1" -type f -print0 | xargs -0 sha256sum >/dev/null; }

echo "| case | veldmoor-sync --trust --verify | sha256sum over the same files | ratio |"
echo "|---|---|---|---|"
for corpus in big tree; do
  install="$work/install-$corpus"
  "$vsync" --quiet --trust "$work/root" --state "$work/state" "$install" "$base/$corpus/"
  sync
  verify=$(median_of "$vsync" --quiet --trust "$work/root" --state "$work/state" --verify \
    "$install" "$base/$corpus/")
  grep -q . "$work/run.out" && { cat "$work/run.out" >&2; note "bench: verify printed"; }
  hashed=$(median_of hash_all "$install")
  label=$([ "$corpus" = big ] && echo "V1 ${size_mib} MiB, unchanged" ||
    echo "V2 $tree_files files of 1-300 KB, unchanged")
  echo "| $label | $verify s | $hashed s | $(awk -v a="$verify" -v b="$hashed" 'BEGIN { printf "%.2fx", a / b }') |"
done
