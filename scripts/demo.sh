#!/bin/sh
# The launcher's main job, end to end, with the real pieces: builds the launcher and the sample
# game, makes the operator's signing key with zvpublish, builds the launcher that trusts it,
# publishes a signed tree, serves it with nginx over TLS on loopback, and runs the launcher under
# Wine against it, then says what happened. Does all of its own set-up on a fresh Debian 12
# machine (as root).
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
# Only what the demo runs is built: zvpublish, the sample game and its stubs, and zvwin (which trusts
# the demo's CA in the Wine prefix and reads the launcher's boxes); the launcher once, in the build
# that trusts the operator's key. The windows preset is configured for its update host
# (build/windows/update_host.txt), which that launcher is built for.
echo "== building zvpublish (Linux)"
cmake --preset native >/dev/null
cmake --build --preset native --target zvpublish
echo "== building the sample game, its stubs and the window reader (Windows)"
cmake --preset windows >/dev/null
cmake --build --preset windows --target zv_game_fixtures zvwin
echo "== the operator's signing key (zvpublish keygen; kept in build/demo-key for later demos)"
if [ ! -f build/demo-key/signing.pem ]; then
  mkdir -p build/demo-key
  build/native/tools/zvpublish/zvpublish keygen --out build/demo-key/signing.pem \
    --public-out build/demo-key/signing.pub.pem
fi
echo "== building the launcher that trusts it (ZV_UPDATE_PUBLIC_KEYS)"
cmake --preset launcher -B build/demo-signed -DZV_UPDATE_HOST="$(cat build/windows/update_host.txt)" \
  -DZV_UPDATE_PUBLIC_KEYS="$PWD/build/demo-key/signing.pub.pem" >/dev/null
cmake --build build/demo-signed -j2 --target ZVLauncher
exec /usr/bin/python3 scripts/demo.py "$@"
