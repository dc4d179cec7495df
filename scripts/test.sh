#!/bin/sh
# Runs every test: formatting, a reproducible launcher build, the launcher built by a second
# compiler, the one-way layers of the source folders, the native unit tests under ASan/UBSan, a
# bounded fuzzing run of the parsers and the quoting (about a minute), the Windows unit tests under
# Wine, the end-to-end scenarios with the real launcher under Wine, and publishing with zvpublish
# served by nginx.
# Does all of its own set-up on a fresh Debian 12 machine (as root).
set -eu
cd "$(dirname "$0")/.."

sh scripts/install-deps.sh

echo "== formatting"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

echo "== build"
sh scripts/build.sh

echo "== reproducible launcher (built again elsewhere, compared byte for byte)"
sh scripts/check_reproducible.sh

echo "== the launcher built by a second compiler (clang and lld, warnings as errors)"
cmake --preset windows-clang >/dev/null
cmake --build --preset windows-clang

echo "== layers (each folder uses only the folders below it)"
/usr/bin/python3 scripts/check_layers.py build/native build/windows

echo "== native unit tests (ASan + UBSan)"
ctest --preset native

echo "== fuzzing (libFuzzer, ASan + UBSan)"
sh fuzz/run.sh

echo "== Windows unit tests (Wine)"
ctest --preset windows

echo "== end-to-end scenarios (Wine)"
/usr/bin/python3 -m pytest -q -p no:cacheprovider tests/e2e

# Apart from the scenarios above: both serve on the port the launcher was built for.
echo "== publishing with zvpublish, serving with nginx (Wine)"
/usr/bin/python3 -m pytest -q -p no:cacheprovider tests/publish
