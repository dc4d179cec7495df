#!/bin/sh
# Configures and builds the presets: the Windows launcher and its tests, the native logic under
# the sanitizers, and the launchers of the signed-build tests (built with the test keys, which are
# made first in build/test-keys): the one that trusts both keys, and those of a key rotation's
# first and last step. Extra arguments go to every configure step (e.g. -DZV_UPDATE_HOST=...).
set -eu
cd "$(dirname "$0")/.."
cmake --preset windows -DZV_WERROR=ON "$@" >/dev/null
cmake --build --preset windows
cmake --preset native -DZV_WERROR=ON "$@" >/dev/null
cmake --build --preset native
sh tests/keys/make_test_keys.sh build/test-keys
# The signed launchers take the Windows build's host, which the end-to-end server listens on, also
# when their own folders are configured for the first time without arguments.
host=$(cat build/windows/update_host.txt)
for preset in windows-signed windows-signed-key1 windows-signed-key2; do
  cmake --preset $preset -DZV_WERROR=ON -DZV_UPDATE_HOST="$host" "$@" >/dev/null
  cmake --build --preset $preset
done
