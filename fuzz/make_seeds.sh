#!/bin/sh
# Rewrites the seed corpora in fuzz/corpus: the made-up inputs of zv_fuzz_seeds (make_seeds.cpp),
# and, when mingw-w64 is installed, a few real programs built from the unit tests' fixture sources.
# The seeds are committed; run this only to change them.
set -eu
cd "$(dirname "$0")/.."

build=build/fuzz
if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZV_BUILD_FUZZERS=ON -DZV_BUILD_TESTS=OFF -DZV_WERROR=ON >/dev/null
fi
cmake --build "$build" -j2 --target zv_fuzz_seeds >/dev/null
"$build/fuzz/zv_fuzz_seeds" fuzz/corpus

if command -v x86_64-w64-mingw32-gcc >/dev/null && command -v i686-w64-mingw32-gcc >/dev/null; then
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  fixtures=tests/fixtures/discovery
  x86_64-w64-mingw32-dlltool -d $fixtures/zvclient.def -l "$tmp/libzvclient.a"
  i686-w64-mingw32-dlltool -d $fixtures/zvclient.def -l "$tmp/libzvclient32.a"
  x86_64-w64-mingw32-gcc -nostdlib -e entry -L"$tmp" -o "$tmp/game_x64.exe" $fixtures/game.c -lzvclient
  i686-w64-mingw32-gcc -nostdlib -e _entry -L"$tmp" -o "$tmp/game_x86.exe" $fixtures/game.c -lzvclient32
  x86_64-w64-mingw32-gcc -O1 -nostdlib -e entry -o "$tmp/tiny_game.exe" tests/fixtures/integrity/tiny_game.c
  cp "$tmp/game_x64.exe" "$tmp/game_x86.exe" fuzz/corpus/client_target/
  cp "$tmp/game_x64.exe" "$tmp/tiny_game.exe" fuzz/corpus/code_section_digest/
  chmod 644 fuzz/corpus/client_target/*.exe fuzz/corpus/code_section_digest/*.exe
fi
