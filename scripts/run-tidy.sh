#!/usr/bin/env bash
# Runs clang-tidy with .clang-tidy over the project's own sources (not the window, whose
# wx headers make it slow and noisy, but the run's texts beside it, which include no wx header)
# using the compile commands of the given build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/asan}
# The Windows implementation (system/win32/) is not in a Linux build's compile commands.
mapfile -t files < <(git ls-files 'system/*.cpp' 'profiles/*.cpp' 'sync/*.cpp' 'patch/*.cpp' \
  'app/*.cpp' 'tools/*.cpp' ':!:system/win32/*' \
  ui/translate_identity.cpp ui/fill_in.cpp ui/byte_size.cpp ui/progress_texts.cpp \
  ui/report_texts.cpp ui/profile_questions.cpp ui/repair_questions.cpp ui/run_texts.cpp \
  ui/run_presenter.cpp)
[ ${#files[@]} -eq 0 ] && exit 0
# A file whose inputs are exactly those of a run that passed is not checked again: the verdicts
# are kept outside the clone, beside the compiler cache, so every clone on the machine shares them.
cache=${VELDMOOR_TIDY_CACHE:-$(dirname "${CCACHE_DIR:-/var/cache/veldmoor-launcher/ccache}")/tidy}
mkdir -p "$cache"
declare -A keyOf
while read -r key file; do
  keyOf[$file]=$key
done < <(/usr/bin/python3 scripts/tidy-keys.py "$build" "${files[@]}")
todo=()
for file in "${files[@]}"; do
  key=${keyOf[$file]:-}
  [[ -n $key && -e $cache/$key ]] || todo+=("$file" "${key:-none}")
done
echo "clang-tidy: $((${#todo[@]} / 2)) of ${#files[@]} files changed since they last passed"
((${#todo[@]} == 0)) && exit 0
export build cache
printf '%s\n' "${todo[@]}" | xargs -P "$(nproc)" -n 2 sh -c '
  clang-tidy -p "$build" --quiet --extra-arg=-Wno-unknown-warning-option "$0" 2>/dev/null || exit 1
  [ "$1" = none ] || touch "$cache/$1"'
