# Shared steps of the real-display runs: a demo server, brin.ini for it, the client, typing as a user does.
# Sourced by display_*.sh with BRIN2, SERVER, here and the work directory set; needs xdotool.

. "$here/../support/test_lib.sh"
FAIL_LOGS="server.log client.log"

# Waits up to $2 tenths of a second for the command $1 to succeed.
wait_for() {
    n=0
    while ! sh -c "$1" >/dev/null 2>&1; do
        n=$((n + 1))
        [ "$n" -ge "$2" ] && return 1
        sleep 0.1
    done
}

# trayer as the notification area, a strip at the top left; its process in TRAYER_PID.
start_trayer() {
    trayer --edge top --align left --widthtype pixel --width 120 --heighttype pixel --height 32 \
        --SetDockType false --transparent false >trayer.log 2>&1 &
    TRAYER_PID=$!
    wait_for "xdotool search --class trayer" 50 || fail "trayer did not start: $(cat trayer.log)"
}

start_server() {
    serve_on_free_port 127.0.0.1 "$SERVER" --demo
    # The demo account's login; the password is typed into the window below.
    printf 'SavePassword = 1\r\nAutoConnect = 0\r\nKeepConn = 0\r\nIP = 127.0.0.1\r\nPort = %s\r\nLogin = demo\r\n' \
        "$PORT" >brin.ini
}

start_client() {
    "$BRIN2" >client.log 2>&1 &
    CLIENT_PID=$!
    wait_for "xdotool search --name 'ver 1.2'" 100 || fail "no main window"
    WID=$(xdotool search --name 'ver 1.2' | head -n 1)
    sleep 1
}

# Password into its field, then the focus on "Подключить" and a press of Space.
log_in() {
    xdotool windowfocus --sync "$WID"
    sleep 0.3
    xdotool key Tab
    xdotool type --delay 50 demo
    xdotool key Tab space
    wait_for "grep -q '^.*confirmed login .demo' server.log" 100 || fail "no session came up"
}

stop_all() {
    for pid in ${CLIENT_PID:-} ${SERVER_PID:-}; do
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    return 0
}
