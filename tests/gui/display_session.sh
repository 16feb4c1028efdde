#!/bin/sh
# brin2 against the demo server on an X display without a notification area: the window
# stays up once connected; a screenshot with the session up; SIGTERM sends the LOGOUT.
# Arguments: brin2, brin-server, screenshot path.
set -u
BRIN2=$1 SERVER=$2 SHOT=$3
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
cd "$work" || exit 1
. "$here/display_lib.sh"
trap 'stop_all; rm -rf "$work"' EXIT

start_server
start_client
log_in
# The first poll reply brings the demo's welcome message: read it and press OK, as a user would.
wait_for "xdotool search --onlyvisible --name 'Internet access: Message'" 100 || fail "no message box"
BOX=$(xdotool search --onlyvisible --name 'Internet access: Message' | head -n 1)
xdotool windowfocus --sync "$BOX"
sleep 0.3
xdotool key Return
wait_for "! xdotool search --onlyvisible --name 'Internet access: Message'" 50 || fail "message box did not close"
[ -s history.ini ] || fail "history.ini not written"
sleep 1
xdotool search --onlyvisible --name 'ver 1.2' >/dev/null || fail "window hidden although there is no tray"
import -window root "$SHOT" || fail "no screenshot"
# The status lamp is the only pure green on the screen.
convert "$SHOT" -format %c histogram:info:- | grep -qi '#00FF00' || fail "no green lamp in $SHOT"

kill -TERM "$CLIENT_PID"
wait_for "! kill -0 $CLIENT_PID" 100 || fail "brin2 did not end"
wait "$CLIENT_PID"
rc=$?
CLIENT_PID=
[ "$rc" -eq 0 ] || fail "brin2 exited with $rc after SIGTERM"
wait_for "grep -q '^.*logout .demo' server.log" 30 || fail "no LOGOUT after SIGTERM"
echo "display_session: session up, screenshot $SHOT, SIGTERM logged out, exit 0"
