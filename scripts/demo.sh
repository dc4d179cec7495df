#!/bin/sh
# The launcher's main job, end to end: builds it and runs it under Wine in a sample game folder,
# then says what happened. Does all of its own set-up on a fresh Debian 12 machine (as root).
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows
exec /usr/bin/python3 scripts/demo.py "$@"
