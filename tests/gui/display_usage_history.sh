#!/bin/sh
# brin2 on a real display with a notification service (dunst on its own D-Bus session) and
# trayer as the notification area, usage.csv holding 30 days: the first poll reply brings the
# balance below LowBalance and the service shows one notification with the balance and the
# forecast; the tray menu's last item opens «История баланса», which is photographed.
# Run inside dbus-run-session under xvfb-run. Arguments: brin2, brin-server, screenshot path,
# and the language to run in (LANG), default ru_RU.UTF-8.
set -u
BRIN2=$1 SERVER=$2 SHOT=$3 LANGUAGE_RUN=${4:-ru_RU.UTF-8}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
cd "$work" || exit 1
. "$here/display_lib.sh"
trap 'stop_all; for p in ${TRAYER_PID:-} ${DUNST_PID:-}; do kill "$p" 2>/dev/null; done; rm -rf "$work"' EXIT

case $LANGUAGE_RUN in
    en*) TITLE='Balance history' NOTICE='Low balance' ;;
    *) TITLE='История баланса' NOTICE='Мало денег на счету' ;;
esac

command -v dunst >/dev/null || { echo "dunst is not installed" >&2; exit 77; }
[ -n "${DBUS_SESSION_BUS_ADDRESS:-}" ] || fail "no D-Bus session: run under dbus-run-session"
wait_for "xdpyinfo" 100 || fail "the display $DISPLAY does not answer"
dunst -print >dunst.log 2>&1 &
DUNST_PID=$!
start_trayer
sleep 0.5

start_server
# 30 days of a balance that falls about 6 a day, a top-up twelve days ago, the traffic with
# it; the last line is above LowBalance, so the demo's first reply (150.000 - 0.250) crosses it.
now=$(date +%s)
{
    echo "time,balance_milli,remaining_bytes"
    i=0 b=338000 r=$((3600 * 1048576))
    while [ $i -le 240 ]; do
        [ $i -eq 144 ] && { b=$((b + 100000)); r=$((r + 1024 * 1048576)); }
        h=$(((i * 7) % 8))
        [ $i -eq 240 ] && b=150000 r=2147483648
        echo "$(date -u -d "@$((now - (240 - i) * 10800))" +%Y-%m-%dT%H:%M:%SZ),$b,$r"
        b=$((b - 500 - h * 150)) r=$((r - (3 + h * 2) * 1048576)) i=$((i + 1))
    done
} >usage.csv
printf 'LowBalance = 149.900\r\n' >>brin.ini

# The language for brin2 alone: xdotool's name search stays in the test's own locale.
env -u LANGUAGE -u LC_ALL -u LC_MESSAGES LANG="$LANGUAGE_RUN" "$BRIN2" >client.log 2>&1 &
CLIENT_PID=$!
wait_for "xdotool search --name 'ver 1.2'" 100 || fail "no main window"
WID=$(xdotool search --name 'ver 1.2' | head -n 1)
sleep 1
log_in
wait_for "! xdotool search --onlyvisible --name 'ver 1.2'" 50 || fail "window not hidden after connecting"
wait_for "grep -q '$NOTICE' dunst.log" 100 || fail "no low-balance notification: $(cat dunst.log)"
sleep 1
count=$(grep -c "summary: '$NOTICE'" dunst.log)
[ "$count" -eq 1 ] || fail "$count notifications instead of one: $(cat dunst.log)"
grep -q "149.750" dunst.log || fail "the notification does not say the balance: $(cat dunst.log)"

# The tray menu's last item.
xdotool mousemove 12 16
sleep 0.3
xdotool click 3
sleep 1
# The menu opens at the pointer; its fourth item is about 76 pixels below.
xdotool mousemove 60 92 sleep 0.3 click 1
# xdotool's name search misses this title (its bytes are matched as another text); the names
# it reports are compared instead.
shown() {
    for w in $(xdotool search --onlyvisible --name '.'); do
        [ "$(xdotool getwindowname "$w")" = "$1" ] && return 0
    done
    return 1
}
n=0
until shown "$TITLE"; do
    n=$((n + 1))
    [ "$n" -ge 50 ] && fail "no «$TITLE» window"
    sleep 0.1
done
sleep 1.5
import -window root "$SHOT"
# Later replies stay below LowBalance: no second notification.
wait_for "[ \$(wc -l <usage.csv) -ge 244 ]" 400 ||
    fail "no second reply in usage.csv"
[ "$(grep -c "summary: '$NOTICE'" dunst.log)" -eq 1 ] || fail "a second notification: $(cat dunst.log)"
echo "display_usage_history ($LANGUAGE_RUN): one notification, «$TITLE» shown: $SHOT"
