#!/bin/sh
# Runs a Windows program under Wine in the given private prefix: run.sh PREFIX PROGRAM [ARGS...]
# Used by ctest as the cross-compiling emulator and by the end-to-end tests.
set -e
prefix=$1
shift
export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installers: the prefix must never try to fetch anything.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
exec wine "$@"
