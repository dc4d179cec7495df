#!/bin/sh
# The launcher's main job, end to end, with the real pieces: builds the launcher and the sample
# game, publishes them with zvpublish, serves the tree with nginx over TLS on loopback, and runs
# the launcher under Wine against it twice, then says what happened. Does all of its own set-up
# on a fresh Debian 12 machine (as root).
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
echo "== building the launcher, the sample game and its stubs (Windows)"
cmake --preset windows >/dev/null
cmake --build --preset windows
echo "== building zvpublish (Linux)"
cmake --preset native >/dev/null
cmake --build --preset native --target zvpublish
exec /usr/bin/python3 scripts/demo.py "$@"
