#!/usr/bin/env bash
# brin-server under HELLOs as an attacker sends them, with binaries already built (it builds
# nothing), on loopback only, each phase bounded in time:
#   bench/run_flood.sh [BUILD_DIR] [SERVER] [RATE]
#     BUILD_DIR default build/default; SERVER default its brin-server (an older one to
#     compare); RATE the flood's HELLOs per second in all, default 0: as fast as it goes
# 1. guess: one address through 50 ports for GUESS_SECONDS (default 45): KEY_REPLYs per second, each one password
#    guess tested; and the log's size.
# 2. flood: 20 000 addresses for 30 s at RATE: the server's CPU share,
#    its resident memory every 5 s, the log's size, and a subscriber's brin-cli --once (its
#    own address, 127.0.0.1) timed from start to exit, one after another, all through it.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
server=${2:-$build/server/brin-server}
rate=${3:-0}
flood=$build/bench/brin-hello-flood
cli=$build/cli/brin-cli
for f in "$flood" "$server" "$cli"; do
  [ -x "$f" ] || { echo "run_flood.sh: $f is missing; build it first" >&2; exit 1; }
done
server=$(cd "$(dirname "$server")" && pwd)/$(basename "$server")
flood=$(cd "$(dirname "$flood")" && pwd)/$(basename "$flood")
cli=$(cd "$(dirname "$cli")" && pwd)/$(basename "$cli")
work=$(mktemp -d)
server_pid=
cleanup() {
  [ -z "$server_pid" ] || kill -KILL "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"

start_server() {
  rm -f server.log  # a line of the last server's would pass for this one's
  "$server" --listen 127.0.0.1:0 --demo 2>server.log &
  server_pid=$!
  port=
  for _ in $(seq 100); do
    port=$(sed -n 's/^.*listening on 127\.0\.0\.1:\([0-9]*\),.*/\1/p' server.log)
    [ -n "$port" ] && { sleep 0.2; return 0; }
    sleep 0.05
  done
  echo "run_flood.sh: the server did not start: $(cat server.log)" >&2
  exit 1
}
stop_server() {
  kill -TERM "$server_pid"
  wait "$server_pid" || true
  server_pid=
}
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }

echo "server: $server"
start_server
"$flood" guess "$port" "${GUESS_SECONDS:-45}" 50
echo "log: $(wc -c < server.log) bytes, $(wc -l < server.log) lines after ${GUESS_SECONDS:-45} s"
stop_server

start_server
ticks=$(getconf CLK_TCK)
rss_start=$(rss_kb "$server_pid")
# The server's CPU time is read when the flood starts and when it ends.
( cpu_ticks "$server_pid" > cpu.start; date +%s.%N >> cpu.start
  "$flood" flood "$port" 30 20000 "$rate" > flood.out
  cpu_ticks "$server_pid" > cpu.end; date +%s.%N >> cpu.end ) &
flood_pid=$!
logins=()
samples=()
started=$(date +%s.%N)
last_sample=0
while kill -0 "$flood_pid" 2>/dev/null; do
  t0=$(date +%s.%N)
  status=0
  printf 'demo\n' | timeout 60 "$cli" --server 127.0.0.1 --port "$port" --login demo \
    --password-stdin --once --dir "$work/subscriber" > cli.out 2> cli.err || status=$?
  t1=$(date +%s.%N)
  logins+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.1f", b - a }'):$status")
  now=$(awk -v a="$started" -v b="$t1" 'BEGIN { printf "%d", b - a }')
  if [ $((now - last_sample)) -ge 5 ]; then
    samples+=("$(rss_kb "$server_pid")")
    last_sample=$now
  fi
done
wait "$flood_pid"
cat flood.out
{ cat cpu.start; cat cpu.end; } | tr '\n' ' ' | awk -v t="$ticks" \
  '{ printf "server CPU during the flood: %.1f s in %.1f s (%.0f%% of one core)\n", ($3 - $1) / t, $4 - $2, 100 * ($3 - $1) / t / ($4 - $2) }'
echo "server resident memory (KiB): $rss_start at the start, every 5 s: ${samples[*]}, $(rss_kb "$server_pid") at the end"
echo "subscriber logins (seconds:exit status): ${logins[*]}"
echo "log: $(wc -c < server.log) bytes, $(wc -l < server.log) lines"
stop_server
tail -n 1 server.log
