#!/bin/sh
# brin2 on a real display killed with SIGKILL at random moments while it starts: it rewrites
# brin.ini (a key missing from it is added) and, connecting at start, appends a message to
# history.ini. After every kill each file is exactly its old or its new content, and the
# next start works. Arguments: brin2, brin-server, brin-cli, rounds (default 10).
set -u
BRIN2=$(realpath "$1") SERVER=$(realpath "$2") CLI=$(realpath "$3") ROUNDS=${4:-10}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
cd "$work" || exit 1
. "$here/../support/test_lib.sh"
. "$here/../support/kill_saves_lib.sh"
trap 'kill "$SERVER_PID" 2>/dev/null; cd /; rm -rf "$work"' EXIT
OLD_INI=0 NEW_INI=0 OLD_HISTORY=0 NEW_HISTORY=0

write_accounts $((ROUNDS + 10)) demo demo
start_loop_server "$SERVER"
mkdir cfg
# The stored password and AutoConnect 1, written by brin-cli's --save in the same directory.
echo demo | "$CLI" --dir cfg --server 127.0.0.1 --port "$PORT" --login demo --password-stdin \
    --save --once >/dev/null || fail "brin-cli could not store the login"
sed 's/^AutoConnect = 0\r$/AutoConnect = 1\r/' cfg/brin.ini >complete.ini
grep -v '^KeepConn = ' complete.ini >incomplete.ini  # the start adds it after the others
{ cat incomplete.ini; printf 'KeepConn = 0\r\n'; } >new.ini
round=1
while [ "$round" -le "$ROUNDS" ]; do
    cp incomplete.ini cfg/brin.ini
    cp cfg/history.ini old.history
    "$BRIN2" --dir cfg >/dev/null 2>&1 &
    pid=$!
    random_sleep 5000  # the message comes some 3 s after the start
    kill -9 "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    check_ini cfg/brin.ini incomplete.ini new.ini
    check_history cfg/history.ini old.history
    round=$((round + 1))
done
# The next start works: the window comes up with the session.
cp complete.ini cfg/brin.ini
lines=$(grep -c 'confirmed login' server.log)
"$BRIN2" --dir cfg >/dev/null 2>&1 &
pid=$!
n=0
until [ "$(grep -c 'confirmed login' server.log)" -gt "$lines" ]; do
    n=$((n + 1)); [ "$n" -gt 100 ] && { kill "$pid"; fail "no session after the last kill"; }
    sleep 0.1
done
kill "$pid"
wait "$pid" 2>/dev/null
echo "$ROUNDS kills: brin.ini old $OLD_INI, new $NEW_INI; history.ini old $OLD_HISTORY, new $NEW_HISTORY"
