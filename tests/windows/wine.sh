#!/usr/bin/env bash
# Runs a Windows program under Wine: no display (but BRIN_WINE_DISPLAY), no Wine
# diagnostics, and a prefix of the build's own (BRIN_WINEPREFIX, default
# build/mingw/wine) made on first use.
#   wine.sh PROGRAM ARGS...
#   wine.sh --keep-server | --stop-server   one Wine server, and so one set of its
#                                           services, for a whole test run
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX=${BRIN_WINEPREFIX:-$here/../../build/mingw/wine}
export WINEDEBUG=-all
# No menu entries of installed programs in the user's desktop.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-winemenubuilder.exe=d}
# The window tests give their own X display; everything else runs on none.
unset WAYLAND_DISPLAY
if [ -n "${BRIN_WINE_DISPLAY:-}" ]; then export DISPLAY=$BRIN_WINE_DISPLAY; else unset DISPLAY; fi
wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)

# On a busy machine wineboot may give up on starting a service and leave a prefix
# whose device services never run; there no volume can tell its serial. Such a
# prefix is made again.
make_prefix() {
  for _ in 1 2 3; do
    mkdir -p "$WINEPREFIX"
    env -u DISPLAY "$wine" wineboot --init >/dev/null 2>&1 || true
    # A program that crashes ends with its report on standard error, no dialog
    # waiting for a click.
    env -u DISPLAY "$wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog \
      /t REG_DWORD /d 0 /f >/dev/null 2>&1 || true
    "$wineserver" -w
    if (cd "$WINEPREFIX/drive_c" && "$wine" cmd /c vol 2>/dev/null | grep -q 'Serial Number is'); then
      "$wineserver" -w
      touch "$WINEPREFIX/.brin-prefix-ready"
      return 0
    fi
    "$wineserver" -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
  done
  echo "wine.sh: could not make a working Wine prefix in $WINEPREFIX" >&2
  return 1
}

if [ ! -f "$WINEPREFIX/.brin-prefix-ready" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  # One start-up at a time: parallel tests must not both make the prefix.
  (
    flock 9
    [ -f "$WINEPREFIX/.brin-prefix-ready" ] || make_prefix
  ) 9>"$WINEPREFIX.lock"
fi
case ${1:-} in
  --keep-server)
    "$wineserver" -p 2>/dev/null || true  # one may be up already
    # The first program of a server starts Wine's services, which keep the
    # standard output they inherit open: a caller reading a pipe to its end (test
    # discovery) would wait for them. They start here, on no pipe of anyone's.
    "$wine" cmd /c exit 0 </dev/null >/dev/null 2>&1
    exit 0
    ;;
  --stop-server) exec "$wineserver" -k ;;
esac
exec "$wine" "$@"
