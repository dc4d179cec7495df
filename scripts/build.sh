#!/bin/sh
# Configures and builds the presets: the Windows launcher and its tests, the native logic under
# the sanitizers, and the launcher of the signed-build tests (built with the test keys, which are
# made first in build/test-keys). Extra arguments go to every configure step (e.g.
# -DZV_UPDATE_HOST=...).
set -eu
cd "$(dirname "$0")/.."
cmake --preset windows -DZV_WERROR=ON "$@" >/dev/null
cmake --build --preset windows
cmake --preset native -DZV_WERROR=ON "$@" >/dev/null
cmake --build --preset native
sh tests/keys/make_test_keys.sh build/test-keys
cmake --preset windows-signed -DZV_WERROR=ON "$@" >/dev/null
cmake --build --preset windows-signed
