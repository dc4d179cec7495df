#!/bin/sh
# Builds the libFuzzer targets (clang, ASan + UBSan) in build/fuzz and runs each for a bounded time,
# one after another, starting from its seeds in fuzz/corpus/<target>. Fails when any target finds
# a fault; what it found is kept in build/fuzz/artifacts/<target>/, never in the repository.
#
#   sh fuzz/run.sh              every target, ZV_FUZZ_SECONDS (default 8) seconds each
#   sh fuzz/run.sh quoting      only the named targets
#
# New inputs a run finds go to build/fuzz/corpus/<target>, which later runs start from too.
set -eu
cd "$(dirname "$0")/.."

seconds=${ZV_FUZZ_SECONDS:-8}
build=build/fuzz

if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZV_BUILD_FUZZERS=ON -DZV_BUILD_TESTS=OFF -DZV_WERROR=ON >/dev/null
fi
cmake --build "$build" -j2 >/dev/null

if [ $# -gt 0 ]; then
  targets="$*"
else
  targets=$(cat "$build/fuzzers.txt")
fi

# Leaks count as faults; UBSan stops at the first report (the code is built not to recover).
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

failed=""
for target in $targets; do
  program="$build/fuzz/zv_fuzz_$target"
  seeds="fuzz/corpus/$target"
  if [ ! -x "$program" ] || [ ! -d "$seeds" ]; then
    echo "fuzz/run.sh: no target or no seeds for '$target'" >&2
    exit 2
  fi
  work="$build/corpus/$target"
  artifacts="$build/artifacts/$target"
  log="$build/logs/$target.log"
  mkdir -p "$work" "$artifacts" "$build/logs"
  # The first corpus folder receives new inputs: the build's own, so the seeds stay as committed.
  if "$program" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
      -artifact_prefix="$artifacts/" "$work" "$seeds" >"$log" 2>&1; then
    status=ok
  else
    status=FAILED
    failed="$failed $target"
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  took=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log")
  units=$(ls "$work" | wc -l)
  printf '%-22s %-6s %10s runs in %3s s, corpus %s\n' "$target" "$status" "${runs:-?}" "${took:-?}" "$units"
  if [ "$status" = FAILED ]; then
    grep -E "^(==[0-9]+==ERROR|SUMMARY|invariant broken|.*runtime error)|Test unit written" "$log" | head -n 20 >&2 || true
    echo "  full log: $log" >&2
  fi
done

if [ -n "$failed" ]; then
  echo "fuzzing found faults in:$failed (inputs in $build/artifacts)" >&2
  exit 1
fi
