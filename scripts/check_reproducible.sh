#!/bin/sh
# Shows that the launcher builds reproducibly: builds ZVLauncher.exe a second time, from a copy of
# the sources in another folder into another build folder, with the options build/windows was
# configured with (update host, version, keys), and compares the two programs byte for byte. A
# difference is printed with the offsets where the programs differ.
set -eu
cd "$(dirname "$0")/.."

first=build/windows/ZVLauncher.exe
[ -f "$first" ] || { echo "build the windows preset first: $first is missing" >&2; exit 2; }
cache="$PWD/build/windows/CMakeCache.txt"
setting() { sed -n "s/^$1:[A-Z]*=//p" "$cache"; }

work=$(mktemp -d /tmp/zv-reproducible-XXXXXX)
trap 'rm -rf "$work"' EXIT
# The same sources (what git knows of, committed or not), in another folder.
source="$work/other place"
mkdir -p "$source"
git ls-files -z --cached --others --exclude-standard | xargs -0 cp --parents -t "$source"

(cd "$source" && cmake --preset launcher -B "$work/build" -DZV_UPDATE_HOST="$(setting ZV_UPDATE_HOST)" \
    -DZV_VERSION="$(setting ZV_VERSION)" -DZV_UPDATE_PUBLIC_KEYS="$(setting ZV_UPDATE_PUBLIC_KEYS)" >/dev/null 2>&1)
cmake --build "$work/build" -j2 --target ZVLauncher >/dev/null
second="$work/build/ZVLauncher.exe"

a=$(sha256sum "$first" | cut -d' ' -f1)
b=$(sha256sum "$second" | cut -d' ' -f1)
echo "$a  $first"
echo "$b  ZVLauncher.exe built again in another source and build folder"
if [ "$a" != "$b" ]; then
    echo "the two builds differ (offset, then the byte of each in octal):" >&2
    cmp -l "$first" "$second" | head -20 >&2
    exit 1
fi
