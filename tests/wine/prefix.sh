#!/bin/sh
# Creates or ends a private, headless Wine prefix for one test run.
#   prefix.sh up DIR     a new prefix in DIR (an old one there is removed first)
#   prefix.sh down DIR   ends the prefix's wineserver and removes DIR
# Hooks: every executable file in tests/wine/prefix.d is run as HOOK DIR after the prefix exists
# (trusting the test CA, stand-in system commands, ...).
set -eu
action=$1
dir=$2
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX="$dir"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

case "$action" in
  up)
    if [ -d "$dir" ]; then
      wineserver -k 2>/dev/null || true
      rm -rf "$dir"
    fi
    mkdir -p "$dir"
    wineboot -i >/dev/null 2>&1
    # Wine's null graphics driver: real windows and message boxes without any X server.
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    # No sound driver: a message box beeps, and on a machine without sound hardware the first beep
    # of a prefix can stall the process that shows the box while Wine probes for a device.
    wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /d '' /f >/dev/null 2>&1
    if [ -d "$here/prefix.d" ]; then
      for hook in "$here"/prefix.d/*; do
        [ -x "$hook" ] && "$hook" "$dir"
      done
    fi
    wineserver -w
    echo "wine prefix ready: $dir"
    ;;
  down)
    if [ -d "$dir" ]; then
      wineserver -k 2>/dev/null || true
      rm -rf "$dir"
    fi
    ;;
  *)
    echo "usage: prefix.sh up|down DIR" >&2
    exit 2
    ;;
esac
