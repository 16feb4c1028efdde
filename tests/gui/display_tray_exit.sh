#!/bin/sh
# brin2 against the demo server with trayer as the notification area: it connects and
# hides to the tray; a double click on the tray icon shows it again; a right click on the
# tray icon and "Выход", with the settings dialog open, send the LOGOUT, exit 0.
# Arguments: brin2, brin-server, screenshot path.
set -u
BRIN2=$1 SERVER=$2 SHOT=$3
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
cd "$work" || exit 1
. "$here/display_lib.sh"
trap 'stop_all; [ -n "${TRAYER_PID:-}" ] && kill "$TRAYER_PID" 2>/dev/null; rm -rf "$work"' EXIT

start_trayer
sleep 0.5

start_server
start_client
log_in
wait_for "! xdotool search --onlyvisible --name 'ver 1.2'" 50 || fail "window not hidden after connecting"

# The demo server's welcome message comes with the first poll reply; its box blocks
# nothing, so the tray menu is used with the box still open.
wait_for "xdotool search --onlyvisible --name 'Internet access: Message'" 100 || fail "no message box"
sleep 0.5
# The tray icon is the only thing in trayer's panel: a double click on it brings the window back.
xdotool mousemove 12 16
sleep 0.3
xdotool mousedown 1 mouseup 1 mousedown 1 mouseup 1
wait_for "xdotool search --onlyvisible --name 'ver 1.2'" 30 || fail "double click on the tray icon did not show the window"
sleep 0.5
# The settings dialog is modal to the window, not to the tray icon: "Выход" stays in reach.
# The focus came back to "Подключить", pressed at the login; two tabs on is "Установки".
xdotool windowfocus --sync "$WID"
sleep 0.3
xdotool key Tab Tab space
wait_for "xdotool search --onlyvisible --name 'Установки'" 50 || fail "no settings dialog"
sleep 0.5
xdotool mousemove 12 16
sleep 0.3
xdotool click 3
sleep 1
import -window root "$SHOT"
xdotool key Down Return  # the first item, "Выход"
wait_for "! kill -0 $CLIENT_PID" 100 || fail "brin2 did not end"
wait "$CLIENT_PID"
rc=$?
CLIENT_PID=
[ "$rc" -eq 0 ] || fail "brin2 exited with $rc"
wait_for "grep -q '^.*logout .demo' server.log" 30 || fail "no LOGOUT after Выход"
echo "display_tray_exit: hidden to the tray, Выход from the tray menu with the settings dialog open logged out, exit 0"
