#!/bin/sh
# brin2 on a directory given by --dir, started before any notification area exists:
# trayer comes later, and Escape then hides the window to the icon that docked there; a
# second brin2 on the same directory shows the running window and exits 0; brin-cli
# refuses the directory; trayer goes away and the hidden window comes back on its own.
# Arguments: brin2, brin-server, brin-cli.
set -u
BRIN2=$1 SERVER=$2 CLI=$3
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
cd "$work" || exit 1
. "$here/display_lib.sh"
trap 'stop_all; [ -n "${TRAYER_PID:-}" ] && kill "$TRAYER_PID" 2>/dev/null; rm -rf "$work"' EXIT

visible() { xdotool search --onlyvisible --name 'ver 1.2' >/dev/null 2>&1; }
hide_with_escape() {
    xdotool windowfocus --sync "$WID"
    sleep 0.3
    xdotool key Escape
    wait_for "! xdotool search --onlyvisible --name 'ver 1.2'" 50 || fail "$1"
}

start_server
mkdir cfg && mv brin.ini cfg/
"$BRIN2" --dir "$work/cfg" >client.log 2>&1 &
CLIENT_PID=$!
wait_for "xdotool search --name 'ver 1.2'" 100 || fail "no main window"
WID=$(xdotool search --name 'ver 1.2' | head -n 1)
[ -f cfg/brin.lock ] || fail "no brin.lock in the --dir directory"
sleep 1

start_trayer
sleep 3  # the window looks for a notification area every 2 s
hide_with_escape "Escape did not hide the window to the tray that came late"
xdotool mousemove 12 16
sleep 0.3
xdotool mousedown 1 mouseup 1 mousedown 1 mouseup 1
wait_for "xdotool search --onlyvisible --name 'ver 1.2'" 30 || fail "the icon did not dock in the late tray"

hide_with_escape "Escape did not hide the window again"
"$BRIN2" --dir "$work/cfg" >second.log 2>&1
rc=$?
[ "$rc" -eq 0 ] || fail "the second brin2 exited with $rc: $(cat second.log)"
wait_for "xdotool search --onlyvisible --name 'ver 1.2'" 50 || fail "the second start did not show the running window"
[ "$(xdotool search --name 'ver 1.2' | wc -l)" -eq 1 ] || fail "a second main window opened"

"$CLI" --dir "$work/cfg" --once >cli.out 2>cli.err
rc=$?
[ "$rc" -eq 5 ] || fail "brin-cli on the window's directory exited with $rc"
grep -q 'in use by brin2, process' cli.err || fail "brin-cli did not name the window: $(cat cli.err)"

hide_with_escape "Escape did not hide the window before the tray went"
kill "$TRAYER_PID"
wait "$TRAYER_PID" 2>/dev/null
TRAYER_PID=
wait_for "xdotool search --onlyvisible --name 'ver 1.2'" 80 || fail "the window stayed hidden after the tray went away"

kill -TERM "$CLIENT_PID"
wait "$CLIENT_PID"
rc=$?
CLIENT_PID=
[ "$rc" -eq 0 ] || fail "brin2 exited with $rc after SIGTERM"
[ ! -f cfg/brin.lock ] || fail "brin.lock left behind after a clean end"
echo "display_instance_tray: late tray docked, second start handed over, brin-cli refused, window back when the tray went, exit 0"
