#!/usr/bin/env bash
# ctest-longest-first.sh BUILD_DIR NAME CTEST_ARGS...: runs ctest in BUILD_DIR with the test
# times of the previous run on this machine, so that ctest starts the longest tests first and a
# long test no longer begins last, while the other core idles. The times are kept outside the
# clone (beside the compiler cache) under NAME; a fresh machine runs in the default order once.
set -uo pipefail
dir=$1
name=$2
shift 2
store="$(dirname "${CCACHE_DIR:-/var/cache/veldmoor-launcher/ccache}")/ctest-times"
costs="$dir/Testing/Temporary/CTestCostData.txt"
mkdir -p "$store" "$dir/Testing/Temporary"
[ -f "$costs" ] || [ ! -f "$store/$name.txt" ] || cp "$store/$name.txt" "$costs"
(cd "$dir" && ctest "$@")
status=$?
if [ -f "$costs" ]; then
  cp "$costs" "$store/$name.txt.new" && mv "$store/$name.txt.new" "$store/$name.txt"
fi
exit $status
