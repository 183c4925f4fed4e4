#!/bin/sh
# The packaged start command (start_command_test.sh WRAPPER) in a package-shaped tree whose
# program is a stand-in that prints its name, folder and arguments: the first start seeds the
# player's folder and starts the copy there with the arguments; a launcher that updated itself
# in the folder is kept on later starts; a package that brings another program replaces it.
set -eu
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/usr/games" "$root/usr/lib/games/veldmoor-launcher" "$root/data"
cp "$1" "$root/usr/games/veldmoor-launcher"
packaged="$root/usr/lib/games/veldmoor-launcher/Launcher"
folder="$root/data/veldmoor-launcher/launcher"

stand_in() { # stand_in FILE NAME
  printf '#!/bin/sh\necho "%s $(pwd)${*:+ $*}"\n' "$2" >"$1"
  chmod +x "$1"
}
expect() { # expect WANTED [ARGS...]
  wanted=$1
  shift
  got=$(XDG_DATA_HOME="$root/data" "$root/usr/games/veldmoor-launcher" "$@")
  if [ "$got" != "$wanted" ]; then
    echo "FAILED: wanted '$wanted', got '$got'" >&2
    exit 1
  fi
}

stand_in "$packaged" packaged-1
touch -d @1600000000 "$packaged"
expect "packaged-1 $folder -noselfpatch -instantpatch" -noselfpatch -instantpatch
[ -x "$folder/Launcher" ] || { echo "FAILED: no program in the player's folder" >&2; exit 1; }

stand_in "$folder/Launcher" self-updated
touch -d @1500000000 "$folder/Launcher"  # the repository's time, older than the package's
expect "self-updated $folder"

stand_in "$packaged" packaged-2-with-a-longer-name
touch -d @1600000000 "$packaged"  # same time, another size
expect "packaged-2-with-a-longer-name $folder"
[ ! -e "$folder/Launcher.new" ] || { echo "FAILED: the copy's temporary file stayed" >&2; exit 1; }
echo "passed"
