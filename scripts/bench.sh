#!/bin/sh
# The speed and memory report: builds what the comparisons need and runs them all side by side in
# one run, then writes docs/benchmarks/README.md. Takes several minutes; not part of the tests.
#
#   sh scripts/bench.sh [--rounds N] [--only sha1,hashfile,discovery,launch,signed,memory,baseline]
#
# With ZV_BENCH_BASELINE=COMMIT set, the launcher is also compared with the one built from that
# commit (its sources from git archive, in build/bench-baseline, the same toolchain, options and
# port), current runs side by side, and their peak memory.
#
# Builds a native Release tree (build/bench-native, Google Benchmark and OpenSSL) and the windows
# preset's tree (build/windows) with the benchmark programs added. An existing build/windows keeps
# the update server port it was configured with (build/windows/update_host.txt); the launch
# benchmark serves on that port. A new one is configured with ZV_UPDATE_HOST from the environment
# when set, else with the preset's default.
set -eu
cd "$(dirname "$0")/.."

cmake -S . -B build/bench-native -DCMAKE_BUILD_TYPE=Release -DZV_BUILD_BENCHMARKS=ON >/dev/null
cmake --build build/bench-native -j2 --target zv_sha1_bench zv_discovery_benchmark zv_hash_file

if [ ! -f build/windows/CMakeCache.txt ]; then
    cmake --preset windows ${ZV_UPDATE_HOST:+-DZV_UPDATE_HOST=$ZV_UPDATE_HOST} >/dev/null
fi
cmake -S . -B build/windows -DZV_BUILD_BENCHMARKS=ON >/dev/null
cmake --build build/windows -j2
# The launcher built with the test signing keys, on the same port, for the signed-against-unsigned
# comparison.
sh tests/keys/make_test_keys.sh build/test-keys
cmake --preset windows-signed -DZV_UPDATE_HOST="$(cat build/windows/update_host.txt)" >/dev/null
cmake --build --preset windows-signed

baseline=""
if [ -n "${ZV_BENCH_BASELINE:-}" ]; then
    commit=$(git rev-parse --short "$ZV_BENCH_BASELINE")
    rm -rf build/bench-baseline
    mkdir -p build/bench-baseline/src
    git archive "$commit" | tar -x -C build/bench-baseline/src
    cmake -S build/bench-baseline/src -B build/bench-baseline/build \
        -DCMAKE_TOOLCHAIN_FILE="$PWD/build/bench-baseline/src/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DZV_BUILD_TESTS=OFF -DZV_UPDATE_HOST="$(cat build/windows/update_host.txt)" >/dev/null
    cmake --build build/bench-baseline/build -j2 --target ZVLauncher
    echo "$commit $(git log -1 --format=%s "$commit")" > build/bench-baseline/build/baseline.txt
    baseline="--baseline-dir build/bench-baseline/build"
fi

# shellcheck disable=SC2086
exec python3 bench/run_bench.py --command "${ZV_BENCH_BASELINE:+ZV_BENCH_BASELINE=$ZV_BENCH_BASELINE }sh scripts/bench.sh $*" $baseline "$@"
