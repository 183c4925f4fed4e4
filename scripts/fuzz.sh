#!/usr/bin/env bash
# Builds the fuzz targets (fuzz/) with clang into build/fuzz and runs them, one per core, each
# starting from its seed corpus in fuzz/corpus/<target>/. Inputs that reach new code are kept in
# build/fuzz/corpus/<target>/ for the next run; the repository's seeds stay as they are.
#
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]
#
# Default 600 s per target, every target. Fails when any target finds a crash, a leak, a
# timeout or a broken property, printing the path of the input that reproduces it; run the
# target with that path as its only argument to see it again.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-600}
shift || true
build=build/fuzz

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR="$PWD"
fi
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DVELDMOOR_FUZZ=ON -DVELDMOOR_BUILD_UI=OFF \
  -DVELDMOOR_BUILD_TESTS=OFF -DVELDMOOR_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
nice -n 19 ninja -C "$build" -j 2 fuzzers

if (($# > 0)); then
  targets=("$@")
else
  targets=()
  for seeds in fuzz/corpus/*/; do
    targets+=("$(basename "$seeds")")
  done
fi

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# One target a core at once (each fuzzes on one thread); each target's summary is printed in
# order once all have ended.
fuzz_target() {
  local target=$1 binary="$build/fuzz/$1" corpus="$build/corpus/$1"
  local artifacts="$build/artifacts/$1/" log="$build/logs/$1.log" summary="$build/logs/$1.summary"
  mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
  local options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
    -artifact_prefix="$artifacts")
  if [[ -f fuzz/$target.dict ]]; then
    options+=(-dict="fuzz/$target.dict")
  fi
  local started status=0 elapsed runs reproducer
  started=$(date +%s)
  nice -n 19 "$binary" "${options[@]}" "$corpus" "fuzz/corpus/$target" >"$log" 2>&1 || status=$?
  elapsed=$(($(date +%s) - started))
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  {
    echo "== $target ($seconds s)"
    echo "   ${runs:-?} executions in $elapsed s"
    if ((status != 0)); then
      reproducer=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -n 1)
      grep -m 1 -E 'ERROR: |property broken|runtime error' "$log" || true
      echo "   FOUND A FAULT: reproducer ${reproducer:-(none written)}, log $log"
      echo "   reproduce: $binary ${reproducer:-}"
    fi
  } >"$summary"
  return "$status"
}

jobs=$(nproc)
running=0
for target in "${targets[@]}"; do
  rm -f "$build/logs/$target.summary"
  fuzz_target "$target" &
  if ((++running >= jobs)); then
    wait -n || true
    running=$((running - 1))
  fi
done
wait || true
failed=()
for target in "${targets[@]}"; do
  cat "$build/logs/$target.summary"
  if grep -q "FOUND A FAULT" "$build/logs/$target.summary"; then
    failed+=("$target")
  fi
done

if ((${#failed[@]} > 0)); then
  echo "Fuzzing found faults in: ${failed[*]}"
  exit 1
fi
echo "Fuzzing found no fault."
