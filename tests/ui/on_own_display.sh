#!/usr/bin/env bash
# on_own_display.sh COMMAND...: runs COMMAND on an X display of its own. Xvfb chooses a free
# display number and says which once it accepts clients, so window tests can run side by side
# without sharing a screen, a keyboard or a window manager (ctest runs each test through this).
set -u
scratch=$(mktemp -d)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$scratch/display" 2>"$scratch/log" &
server=$!
finish() {
  kill "$server" 2>/dev/null
  wait "$server" 2>/dev/null
  rm -rf "$scratch"
}
trap finish EXIT
# Xvfb writes the number when it is ready; give it up to 30 s on a loaded machine.
for _ in $(seq 600); do
  grep -q '[0-9]' "$scratch/display" && break
  if ! kill -0 "$server" 2>/dev/null; then
    echo "on_own_display.sh: Xvfb did not start:" >&2
    cat "$scratch/log" >&2
    exit 1
  fi
  sleep 0.05
done
grep -q '[0-9]' "$scratch/display" || { echo "on_own_display.sh: Xvfb gave no display" >&2; exit 1; }
export DISPLAY=":$(head -n 1 "$scratch/display")"
"$@"
