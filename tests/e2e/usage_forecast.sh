#!/bin/sh
# brin-cli against brin-server --demo under a clock that runs thousands of times fast (libfaketime):
# eight days of polls build usage.csv, and `brin-cli --usage` forecasts what the file says, worked
# out here on its own: the balance fallen over the last seven days, the rate and the last day.
# Arguments: brin-cli, brin-server. Exit 77 (skipped) without faketime.
set -u
CLI=$(realpath "$1") SERVER=$(realpath "$2")
command -v faketime >/dev/null || { echo "faketime is not installed" >&2; exit 77; }
# The library itself for the long run, so that the process to stop is brin-cli, not a wrapper.
LIBFAKETIME=$(ls /usr/lib/*/faketime/libfaketime.so.1 /usr/lib/faketime/libfaketime.so.1 2>/dev/null | head -n 1)
[ -n "$LIBFAKETIME" ] || { echo "libfaketime.so.1 not found" >&2; exit 77; }
# A sanitizer build wants its runtime first among the libraries; the preloaded clock is harmless
# to it.
ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
export ASAN_OPTIONS
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/test_lib.sh"
work=$(mktemp -d)
cd "$work" || exit 1
trap 'kill $SERVER_PID $CLIENT_PID 2>/dev/null; wait 2>/dev/null; cd /; rm -rf "$work"' EXIT
SERVER_PID= CLIENT_PID=

# The demo lowers every balance by 0.250 a poll. 10000.000 lasts past the eight days and ends
# well within a century, whether the fast clock gives a poll every few hours or every 31 s.
cat >accounts.ini <<EOF
[rich]
password = pw
address = 127.0.0.1
balance = 10000.000
remaining = 53687091200
counter 1 = 1048576 Internet
EOF
serve_on_free_port 127.0.0.1 "$SERVER" --demo --accounts accounts.ini

# The client's clock starts on 1 December and runs 20000 times fast; the server's is the real one.
echo pw | LD_PRELOAD=$LIBFAKETIME FAKETIME='@2026-12-01 00:00:00 x20000' \
    "$CLI" --server 127.0.0.1 --port "$PORT" --login rich --password-stdin --keep \
    >client.log 2>client.err &
CLIENT_PID=$!
until_iso=2026-12-09T00:00:00Z
for _ in $(seq 1500); do
    last=$(tail -n 1 usage.csv 2>/dev/null | cut -d, -f1)
    case $last in 20*) [ "$last" \> "$until_iso" ] && break ;; esac
    kill -0 "$CLIENT_PID" 2>/dev/null || fail "brin-cli ended: $(cat client.err)"
    sleep 0.1
done
kill -TERM "$CLIENT_PID"
wait "$CLIENT_PID"
CLIENT_PID=
[ "$last" \> "$until_iso" ] || fail "usage.csv did not reach 9 December: $(tail -n 3 usage.csv)"
# A fast clock leaves the client a millisecond or two for each reply: a session may be lost
# now and then, and --keep brings it back. The forecast does not depend on it.
lost=$(grep -c '^lost' client.log)

[ "$(head -n 1 usage.csv)" = "time,balance_milli,remaining_bytes" ] || fail "no header"
lines=$(($(wc -l <usage.csv) - 1))
tail -n +2 usage.csv | cut -d, -f1 | sort -c || fail "usage.csv is not in time order"
bad=$(tail -n +2 usage.csv | grep -Evc '^20[0-9]{2}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z,[0-9]+,[0-9]+$')
[ "$bad" -eq 0 ] || fail "$bad lines of usage.csv are not time,balance,bytes"
polls=$(grep -c '^balance:' client.log)
[ "$polls" -eq "$lines" ] || fail "$polls replies but $lines lines"

# What the file says, worked out without brin-cli.
end_iso=$(tail -n 1 usage.csv | cut -d, -f1)
end=$(date -u -d "$end_iso" +%s)
start_iso=$(date -u -d "@$((end - 604800))" +%Y-%m-%dT%H:%M:%SZ)
balance_end=$(tail -n 1 usage.csv | cut -d, -f2)
balance_start=$(tail -n +2 usage.csv | awk -F, -v s="$start_iso" '$1 <= s { b = $2 } END { print b }')
spent=$((balance_start - balance_end))
# The demo charges 0.250 a poll and never tops up: the falls of the week sum to the difference
# of its two ends, each a whole number of polls.
falls=$(tail -n +2 usage.csv | awk -F, -v s="$start_iso" '
    NR > 1 && $1 > s { d = b - $2; if (d < 0 || d % 250) bad++; sum += d }
    { b = $2 } END { print (bad ? -1 : sum) }')
[ "$falls" -eq "$spent" ] || fail "the falls of the week ($falls) are not its spending ($spent)"
per_day=$(awk -v s="$spent" 'BEGIN { m = int(s / 7 + 0.5); printf "%d.%03d", m / 1000, m % 1000 }')
seconds=$(awk -v b="$balance_end" -v s="$spent" 'BEGIN { printf "%d", b * 604800 / s }')
until=$(TZ=UTC-10 date -d "@$((end + seconds))" +%F)
expected="forecast: balance lasts until $until (spending $per_day a day)"

# --usage at the moment of the last line (a frozen clock), with local days ten hours ahead.
frozen=$(date -u -d "@$end" '+%Y-%m-%d %H:%M:%S')
report=$(TZ=UTC-10 faketime -f "$frozen" "$CLI" --usage) || fail "--usage failed"
got=$(echo "$report" | tail -n 1)
[ "$got" = "$expected" ] || fail "brin-cli says '$got', the file says '$expected'"
today=$(TZ=UTC-10 date -d "@$end" +%F)
echo "$report" | grep -q "^$today  *$(awk -v b="$balance_end" 'BEGIN { printf "%d.%03d", b / 1000, b % 1000 }') " ||
    fail "today's row does not show the last balance: $(echo "$report" | grep "^$today")"
json=$(TZ=UTC-10 faketime -f "$frozen" "$CLI" --usage --json | tail -n 1)
[ "$json" = "{\"event\":\"forecast\",\"until\":\"$until\",\"per_day\":\"$per_day\"}" ] ||
    fail "JSON forecast: $json"
echo "ok: $lines lines ($lost sessions lost and resumed) from $(sed -n 2p usage.csv | cut -d, -f1) to $end_iso; $expected"
