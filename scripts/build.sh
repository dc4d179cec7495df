#!/bin/sh
# Configures and builds both presets: the Windows launcher and its tests, and the native logic
# under the sanitizers. Extra arguments go to both configure steps (e.g. -DZV_UPDATE_HOST=...).
set -eu
cd "$(dirname "$0")/.."
cmake --preset windows -DZV_WERROR=ON "$@" >/dev/null
cmake --build --preset windows
cmake --preset native -DZV_WERROR=ON "$@" >/dev/null
cmake --build --preset native
