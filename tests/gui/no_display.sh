#!/bin/sh
# brin2 where no window can be shown: one line saying so on standard error, exit 1,
# and nothing written: no brin.ini, no directory of --dir or --user-dir.
# Argument: brin2.
set -u
BRIN2=$(realpath "$1")
. "$(cd "$(dirname "$0")" && pwd)/../support/test_lib.sh"
work=$(mktemp -d)
trap 'cd /; rm -rf "$work"' EXIT
cd "$work" || exit 1

# A display number no X server uses here.
n=90
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done

# case: environment | options | the line wanted
while IFS='|' read -r environment options wanted; do
  rm -rf home run && mkdir home run
  (cd run && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME="$work/home" XDG_CONFIG_HOME= \
    $environment "$BRIN2" $options >../out 2>../err)
  status=$?
  [ $status -eq 1 ] || check_failed "[$environment $options] exit $status, not 1: $(cat err)"
  [ "$(cat err)" = "$wanted" ] || check_failed "[$environment $options] said [$(cat err)], not [$wanted]"
  [ ! -s out ] || check_failed "[$environment $options] wrote to standard output: $(cat out)"
  left=$(find run home -mindepth 1)
  [ -z "$left" ] || check_failed "[$environment $options] left files: $left"
done <<CASES
|  |brin2: no display: DISPLAY is not set (brin-cli needs none)
| --dir sub |brin2: no display: DISPLAY is not set (brin-cli needs none)
| --user-dir --hidden |brin2: no display: DISPLAY is not set (brin-cli needs none)
DISPLAY=:$n| --dir sub |brin2: cannot open the display (DISPLAY=:$n; brin-cli needs none)
QT_QPA_PLATFORM=xcb DISPLAY=:$n|  |brin2: cannot open the display (QT_QPA_PLATFORM=xcb, DISPLAY=:$n; brin-cli needs none)
CASES

# What needs no display still works without one.
env -u DISPLAY "$BRIN2" --help >out 2>err || check_failed "--help without a display: $(cat err)"
grep -q '^usage: brin2' out || check_failed "--help printed no usage"
env -u DISPLAY "$BRIN2" --bogus >out 2>err
status=$?
[ $status -eq 64 ] || check_failed "--bogus: exit $status, not 64"
[ "$(cat err)" = "brin2: unknown option '--bogus'
try 'brin2 --help' for the options" ] || check_failed "--bogus said [$(cat err)]"

end_checks
echo "ok"
