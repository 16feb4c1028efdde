#!/bin/sh
# brin-cli killed with SIGKILL at random moments while it saves brin.ini (--save with a new
# server address each round) and appends to history.ini (one message each round): after every
# kill each file is exactly its old or its new content, and the next start works.
# Arguments: brin-cli, brin-server, rounds (default 20).
set -u
CLI=$(realpath "$1") SERVER=$(realpath "$2") ROUNDS=${3:-20}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
cd "$work" || exit 1
. "$here/../support/test_lib.sh"
. "$here/../support/kill_saves_lib.sh"
trap 'kill "$SERVER_PID" 2>/dev/null; cd /; rm -rf "$work"' EXIT
OLD_INI=0 NEW_INI=0 OLD_HISTORY=0 NEW_HISTORY=0

write_accounts $((ROUNDS + 10)) alice secret7
start_loop_server "$SERVER"
mkdir cfg
echo secret7 >password
run() {  # $1: the server address the run stores; more arguments follow it
    address=$1; shift
    "$CLI" --dir cfg --server "$address" --port "$PORT" --login alice \
        --password-stdin --save --once "$@" <password
}
run 127.0.0.1 >/dev/null || fail "the first run failed"
round=1
while [ "$round" -le "$ROUNDS" ]; do
    address=127.0.0.$((round % 250 + 1))
    cp cfg/brin.ini old.ini
    cp cfg/history.ini old.history
    sed "s/^IP = .*\r\$/IP = $address\r/" old.ini >new.ini
    # Started here rather than through run, so that $! is brin-cli itself.
    "$CLI" --dir cfg --server "$address" --port "$PORT" --login alice --password-stdin --save \
        --once <password >/dev/null 2>&1 &
    pid=$!
    # brin.ini is saved within some 50 ms of the start, the message a second or two later.
    if [ $((round % 2)) -eq 1 ]; then random_sleep 80; else random_sleep 2500; fi
    kill -9 "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    check_ini cfg/brin.ini old.ini new.ini
    check_history cfg/history.ini old.history
    # A save cut off leaves its temporary file until the next save removes it.
    (cd cfg && no_leftovers "brin.ini|history.ini|usage.csv|brin.lock|\\.(brin|history)\\.ini\\.$pid\\..*|\\.usage\\.csv\\.$pid\\..*") ||
        exit 1
    round=$((round + 1))
done
run 127.0.0.1 --json >last.out || fail "the start after the last kill failed"
grep -q '"event":"snapshot"' last.out || fail "no snapshot after the last kill"
(cd cfg && no_leftovers 'brin.ini|history.ini|usage.csv') || exit 1
echo "$ROUNDS kills: brin.ini old $OLD_INI, new $NEW_INI; history.ini old $OLD_HISTORY, new $NEW_HISTORY"
