#!/usr/bin/env bash
# Runs a Windows console program under Wine: no display, no Wine diagnostics, and
# a prefix of the build's own (WINEPREFIX, default build/mingw/wine) made on first use.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX=${WINEPREFIX:-$here/../../build/mingw/wine}
export WINEDEBUG=-all
unset DISPLAY WAYLAND_DISPLAY
wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  # One start-up at a time: parallel tests must not both build the prefix.
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      "$wine" wineboot --init >/dev/null 2>&1 || true
      "$(command -v wineserver || echo /usr/lib/wine/wineserver)" -w
    fi
  ) 9>"$WINEPREFIX.lock"
fi
exec "$wine" "$@"
