#!/usr/bin/env bash
# The long reliability runs, with binaries already built (it builds nothing):
#   scripts/soak.sh [BUILD_DIR] [MINUTES] [KILLS]   (defaults: build/default, 10, 300)
# 1. brin-cli --keep through the fault-injecting relay against brin-server for MINUTES
#    (30 % loss each way, copies, reordering, delays up to 4 s, garbage, 2 silent minutes;
#    the last 3 minutes clean), then the checks below.
# 2. 1000 clients with KeepConn through the relay against one brin-server for MINUTES, the
#    server's resident memory sampled every 10 s; then they vanish and every session must expire.
# 3. SIGKILL loops: brin-cli KILLS times, brin2 under Xvfb KILLS / 3 times, the in-process
#    saver 10 x KILLS times.
# Every step has its own time bound; the whole run takes about 2 x MINUTES + 10 minutes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build/default}")
minutes=${2:-10}
kills=${3:-300}
cli=$build/cli/brin-cli
server=$build/server/brin-server
faultnet=$build/tests/support/brin-faultnet
for f in "$cli" "$server" "$faultnet" "$build/tests/e2e/e2e_tests"; do
    [ -x "$f" ] || { echo "soak.sh: $f is missing; build $build first" >&2; exit 1; }
done
work=$(mktemp -d /tmp/brin-soak-XXXXXX)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
seconds=$((minutes * 60))

# Starts brin-server with accounts.ini and the options given: sets SERVER_PID and SERVER_PORT.
start_server() {
    "$server" --listen 127.0.0.1:0 --accounts accounts.ini "$@" >server.log 2>&1 &
    SERVER_PID=$!
    pids+=("$SERVER_PID")
    for _ in $(seq 50); do grep -q 'listening on' server.log && break; sleep 0.1; done
    SERVER_PORT=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' server.log | head -n 1)
}
# Starts the relay towards the server: RELAY_PID, RELAY_PORT. Arguments: the relay's options.
start_relay() {
    "$faultnet" relay --server "$SERVER_PORT" "$@" >relay.out 2>&1 &
    RELAY_PID=$!
    pids+=("$RELAY_PID")
    for _ in $(seq 50); do grep -q 'relaying on' relay.out && break; sleep 0.1; done
    RELAY_PORT=$(sed -n 's/relaying on 127\.0\.0\.1:\([0-9]*\)/\1/p' relay.out)
}
rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }

echo "== 1. brin-cli --keep through a bad network for $minutes min"
mkdir net && cd net
{
    printf '[alice]\npassword = secret7\nbalance = 1234.567\nremaining = 5368709120\n'
    printf 'counter 1 = 52428800 Internet\ncounter 2 = 1048576 Local\n'
    for i in $(seq 40); do printf 'message = message %d\n' "$i"; done
} >accounts.ini
start_server
start_relay --seed 1 --silent-at 180 --silent-for 120 --clean-after $((seconds - 180))
echo secret7 >password
start=$(date +%s)
"$cli" --server 127.0.0.1 --port "$RELAY_PORT" --login alice --password-stdin --keep --json \
    <password >cli.out 2>cli.err &
cli_pid=$!
pids+=("$cli_pid")
sleep "$seconds"
kill -TERM "$cli_pid"
for _ in $(seq 50); do kill -0 "$cli_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$cli_pid" 2>/dev/null; then fail "brin-cli did not stop on SIGTERM"; fi
wait "$cli_pid" && code=0 || code=$?
kill -TERM "$RELAY_PID"; wait "$RELAY_PID" || true
[ "$code" -eq 0 ] || fail "brin-cli exited $code"
lost=$(grep -c '"event":"lost"' cli.out || true)
connected=$(grep -c '"event":"connected"' cli.out || true)
snapshots=$(grep -c '"event":"snapshot"' cli.out || true)
last=$(grep '"event":"snapshot"' cli.out | tail -n 1)
echo "   $(tail -n 1 relay.out)"
echo "   $(($(date +%s) - start)) s: $snapshots snapshots, $lost sessions lost, $connected connected"
[ "$lost" -ge 1 ] || fail "the silent spell lost no session"
[ "$connected" -eq $((lost + 1)) ] || fail "not every lost session came back ($lost lost, $connected connected)"
want='"balance_milli":1234567,"remaining_bytes":5368709120,"counters":[{"id":1,"name":"Internet","bytes":52428800},{"id":2,"name":"Local","bytes":1048576}]'
case "$last" in *"$want"*) ;; *) fail "the last snapshot is not the server's account: $last" ;; esac
texts=$(tr -d '\r' <history.ini | awk 'NR % 3 == 2')
written=$(printf '%s\n' "$texts" | grep -c . || true)
twice=$(printf '%s\n' "$texts" | sort | uniq -d | grep -c . || true)
odd=$(tr -d '\r' <history.ini | awk 'NR % 3 == 1 && !/^[0-9][0-9]:[0-9][0-9]:[0-9][0-9] [0-9][0-9]\/[0-9][0-9]\/[0-9][0-9][0-9][0-9]$/ || NR % 3 == 0 && $0 != ""' | grep -c . || true)
echo "   history.ini: $written messages of 40, $twice written twice, $odd lines out of form"
[ "$twice" -eq 0 ] || fail "a message was written twice"
[ "$odd" -eq 0 ] || fail "history.ini is not well formed"
[ "$(grep -c $'\r$' brin.ini)" -eq 7 ] && [ "$(wc -l <brin.ini)" -eq 7 ] || fail "brin.ini is not well formed"
kill -TERM "$SERVER_PID"; wait "$SERVER_PID" || true
cd ..

echo "== 2. 1000 clients through the relay for $minutes min"
mkdir crowd && cd crowd
printf '[crowd]\npassword = crowd\nbalance = 1\n' >accounts.ini
# The relay's one address carries all 1000 clients: no HELLO limit per address here.
start_server --hello-burst 0
start_relay --seed 2 --silent-at 120 --silent-for 120 --clean-after $((seconds - 180))
"$faultnet" crowd --port "$RELAY_PORT" --clients 1000 --seconds "$seconds" >crowd.out 2>&1 &
crowd_pid=$!
pids+=("$crowd_pid")
samples=()
while kill -0 "$crowd_pid" 2>/dev/null; do
    samples+=("$(rss_kb "$SERVER_PID")")
    sleep 10
done
wait "$crowd_pid" || fail "the crowd failed"
echo "   $(cat crowd.out)"
echo "   server resident memory every 10 s (KiB): ${samples[*]}"
# The clients vanished without a LOGOUT: every session must expire after 100 s (the relay may
# still hold a datagram for 4 s).
sleep 106
kill -TERM "$RELAY_PID"; wait "$RELAY_PID" || true
echo "   $(tail -n 1 relay.out)"
echo "   server resident memory after the expiry: $(rss_kb "$SERVER_PID") KiB"
expired=$(grep -c ' expired ' server.log || true)
kill -TERM "$SERVER_PID"; wait "$SERVER_PID" || true
summary=$(tail -n 1 server.log | sed 's/^[0-9-]* [0-9:]* //')  # after its time stamp
echo "   $expired sessions expired; $summary"
case "$summary" in "stopped: 0 session(s) open"*) ;; *) fail "sessions left open: $summary" ;; esac
grep -q '^1000 of 1000 clients connected' crowd.out || fail "not every client came back"
cd ..

echo "== 3. SIGKILL during saves"
timeout 3600 nice -n 10 sh "$root/tests/e2e/kill_saves.sh" "$cli" "$server" "$kills" ||
    fail "brin-cli kill loop"
if command -v xvfb-run >/dev/null && [ -x "$build/ui/brin2" ]; then
    timeout 3600 nice -n 10 xvfb-run -a -s "-screen 0 800x600x24" \
        sh "$root/tests/gui/display_kill_saves.sh" "$build/ui/brin2" "$server" "$cli" $((kills / 3)) ||
        fail "brin2 kill loop"
fi
BRIN_KILL_ROUNDS=$((kills * 10)) timeout 3600 nice -n 10 "$build/tests/e2e/e2e_tests" \
    --gtest_filter='*KillDuringSaves*' | grep -E 'kills|PASSED|FAILED' || fail "in-process kill loop"

if [ "$failures" -ne 0 ]; then echo "soak: $failures failure(s)"; exit 1; fi
echo "soak: all passed"
