#!/usr/bin/env bash
# The Windows programs under Wine against the Linux ones on loopback: brin-cli.exe
# against brin-server, brin-server.exe against brin-cli. What the .exe files print
# and write is held against what the Linux programs print and write for the same
# account, and the files against their byte rules.
#
#   programs.sh CASE WINDOWS_BUILD LINUX_BUILD      (the cases are at the end)
set -euo pipefail

case_name=$1
win_build=$(cd "$2" && pwd)
linux_build=$(cd "$3" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
wine=$here/wine.sh
cli_exe=$win_build/cli/brin-cli.exe
server_exe=$win_build/server/brin-server.exe
cli=$linux_build/cli/brin-cli
server=$linux_build/server/brin-server
for program in "$cli_exe" "$server_exe" "$cli" "$server"; do
  [ -x "$program" ] || { echo "missing $program (scripts/windows-test.sh builds both sides)" >&2; exit 1; }
done

# A fresh directory on Wine's Z: drive (the Unix root), so both sides reach it;
# kept when the case fails.
mkdir -p "$win_build/tests/windows/runs"
work=$(mktemp -d "$win_build/tests/windows/runs/$case_name.XXXXXX")
server_pid=
finish() {
  local status=$?
  if [ -n "$server_pid" ]; then kill -KILL "$server_pid" 2>/dev/null || true; fi
  if [ "$status" -eq 0 ]; then rm -rf "$work"; else echo "files kept in $work" >&2; fi
}
trap finish EXIT
cd "$work"
# The history's times are local times; Wine takes its zone from the same place.
export TZ=UTC

fail() {
  echo "FAIL ($case_name): $*" >&2
  exit 1
}
expect_eq() {  # ACTUAL EXPECTED WHAT
  [ "$1" = "$2" ] || fail "$3: got [$1], expected [$2]"
}
expect_line() {  # FILE TEXT: a whole line of FILE (CR ignored)
  tr -d '\r' < "$1" | grep -qxF -- "$2" || fail "$1 has no line [$2]: $(cat -A "$1")"
}
expect_crlf() {  # FILE: every line ends with CR LF, the last one too
  local lf crlf
  lf=$(tr -cd '\n' < "$1" | wc -c)
  crlf=$(grep -c $'\r$' "$1" || true)
  [ "$lf" -gt 0 ] && [ "$lf" = "$crlf" ] && [ "$(tail -c 1 "$1" | od -An -c | tr -d ' ')" = '\n' ] ||
    fail "$1 is not CR LF throughout: $(cat -A "$1")"
}

# The account of these tests: a Cyrillic login and password, money below zero,
# more traffic than 32 bits hold, a counter whose identifier needs 64 bits and has
# no name, and one queued message with quotes and a backslash. The file has a
# byte-order mark and CR LF line ends, as a Windows editor saves it.
login=абонент
password=пароль1
write_accounts() {
  printf '\xEF\xBB\xBF# the Wine tests\r\n[%s]\r\npassword = %s\r\nbalance = -12.345\r\n' "$login" "$password" > accounts.ini
  printf 'remaining = 5368709120\r\ncounter 7 = 1572864 Город\r\ncounter 4294967301 = 2048\r\n' >> accounts.ini
  printf 'message 1236420309 = Привет, "мир" \\ ok\r\n' >> accounts.ini
}

start_server() {  # PROGRAM...: serves accounts.ini on a free loopback port; sets $port, $target
  write_accounts
  : > server.log
  "$@" --listen 127.0.0.1:0 --accounts accounts.ini 2> server.log &
  server_pid=$!
  port=
  for _ in $(seq 300); do
    port=$(tr -d '\r' < server.log | sed -n 's/^.* listening on 127\.0\.0\.1:\([0-9]*\),.*/\1/p')
    if [ -n "$port" ]; then
      target=(--server 127.0.0.1 --port "$port" --login "$login")
      return 0
    fi
    kill -0 "$server_pid" 2>/dev/null || fail "server ended: $(cat server.log)"
    sleep 0.1
  done
  fail "server did not start: $(cat server.log)"
}
stop_server() {  # [SUMMARY]: stops it as an operator does (Ctrl+C in a console)
  local status=0
  kill -INT "$server_pid"
  wait "$server_pid" || status=$?
  server_pid=
  expect_eq "$status" 0 "server exit code after Ctrl+C"
  # (every line of the log starts with the time)
  [ $# -eq 0 ] || tr -d '\r' < server.log | sed 's/^[0-9-]* [0-9:]* //' | grep -qxF -- "stopped: $1" ||
    fail "server.log has no line [stopped: $1]: $(cat -A server.log)"
}

wait_for_log() {  # TEXT...: a line with each TEXT; the server logs a datagram's outcome after its batch
  local line
  for _ in $(seq 100); do
    while IFS= read -r line; do
      local word missing=0
      for word in "$@"; do [[ $line == *"$word"* ]] || missing=1; done
      [ "$missing" -eq 0 ] && return 0
    done < server.log
    sleep 0.1
  done
  fail "the server did not log a line with [$*]: $(cat server.log)"
}

run_in() {  # DIR INPUT PROGRAM...: DIR/out, DIR/err; the exit code in $status
  local dir=$1 input=$2
  shift 2
  mkdir -p "$dir"
  status=0
  (cd "$dir" && printf '%s' "$input" | timeout 60 "$@" > out 2> err) || status=$?
}
# Output lines without CR (a Windows program's text output has CR LF) and with the
# server's port, which differs from run to run, as PORT.
normalized() {
  tr -d '\r' < "$1" | sed "s/\"port\":$port}/\"port\":PORT}/"
}

# The Linux pair's --once --json run in ref/, the reference for the Windows side.
reference_run() {
  start_server "$server"
  run_in ref "$password"$'\n' "$cli" "${target[@]}" --once --json --password-stdin
  expect_eq "$status" 0 "Linux brin-cli exit code"
  normalized ref/out > ref/events
  stop_server "0 session(s) open, 1 handshake(s), 1 poll reply(ies), 0 HELLO(s) over the limit"
  [ "$(cut -d'"' -f4 ref/events | tr '\n' ' ')" = "connected snapshot message disconnected " ] ||
    fail "unexpected reference events: $(cat ref/events)"
}

case_cli_once_json() {
  reference_run
  start_server "$server"
  run_in exe "$password"$'\n' "$wine" "$cli_exe" "${target[@]}" --once --json --password-stdin
  expect_eq "$status" 0 "brin-cli.exe exit code"
  normalized exe/out > exe/events
  diff ref/events exe/events >&2 || fail "brin-cli.exe events differ from brin-cli's"
  stop_server "0 session(s) open, 1 handshake(s), 1 poll reply(ies), 0 HELLO(s) over the limit"
  grep -qF "confirmed login '$login'" server.log || fail "no confirmed login in $(cat server.log)"
  grep -qF "logout '$login'" server.log || fail "no logout in $(cat server.log)"

  # The files: history.ini byte for byte; brin.ini but for Pass, whose key is the
  # volume serial and so differs between the two (case cli_save checks it).
  cmp ref/history.ini exe/history.ini || fail "history.ini differs: $(cat -A exe/history.ini)"
  expect_crlf exe/history.ini
  diff <(grep -av '^Pass = ' ref/brin.ini) <(grep -av '^Pass = ' exe/brin.ini) >&2 ||
    fail "brin.ini differs from brin-cli's beyond Pass"
  expect_crlf exe/brin.ini
}

case_cli_wrong_password() {
  start_server "$server"
  run_in exe $'пароль2\n' "$wine" "$cli_exe" "${target[@]}" --once --json --password-stdin
  expect_eq "$status" 3 "brin-cli.exe exit code for a wrong password"
  expect_eq "$(normalized exe/out)" '{"event":"rejected"}' "events"
  wait_for_log "127.0.0.1:" "'$login'" refused
  stop_server
}

case_cli_no_server() {
  # A port that was just free: nothing answers there, and the ICMP refusal comes
  # back to the Winsock socket as a receive error the engine must ignore.
  start_server "$server"
  stop_server
  local started ended
  started=$(date +%s.%N)
  run_in exe $'x\n' "$wine" "$cli_exe" "${target[@]}" --once --json --password-stdin
  ended=$(date +%s.%N)
  expect_eq "$status" 2 "brin-cli.exe exit code without a server"
  expect_eq "$(normalized exe/out)" '{"event":"no_answer"}' "events"
  awk -v s="$started" -v e="$ended" 'BEGIN { exit !(e - s > 2.9 && e - s < 10) }' ||
    fail "no_answer after $(awk -v s="$started" -v e="$ended" 'BEGIN { print e - s }') s, not after the HELLO wait"
}

# The stored form from its definition, by the openssl command: the password's
# first 8 Windows-1251 bytes, zero-filled, under single DES keyed by the serial
# (little-endian, twice), in upper-case hex.
expected_pass() {  # SERIAL_HEX PASSWORD
  local s=$((16#$1)) byte key=
  for i in 0 1 2 3; do byte=$(printf '%02X' $(((s >> (8 * i)) & 255))); key+=$byte; done
  { printf '%s' "$2" | iconv -f UTF-8 -t CP1251; head -c 8 /dev/zero; } | head -c 8 |
    openssl enc -des-ecb -K "$key$key" -nopad -provider legacy -provider default |
    od -An -tx1 | tr -d ' \n' | tr a-f A-F
}

case_cli_save() {
  # The serial brin-cli.exe keys Pass with is the one Wine's own "vol" reports.
  # Wine makes that number up for a Linux directory (there is no real volume),
  # so that a FAT or NTFS serial matches the Linux one cannot be tried here.
  run_in exe "" "$wine" "$cli_exe" --volume-serial
  expect_eq "$status" 0 "--volume-serial exit code"
  local serial vol
  serial=$(tr -d '\r\n' < exe/out)
  [[ $serial =~ ^[0-9A-F]{8}$ ]] || fail "--volume-serial printed [$serial]"
  [ ! -e exe/brin.ini ] || fail "--volume-serial wrote brin.ini"
  vol=$(cd exe && "$wine" cmd /c vol 2>/dev/null | tr -d '\r' |
        sed -n 's/.*Serial Number is \([0-9A-Fa-f]\{4\}\)-\([0-9A-Fa-f]\{4\}\).*/\1\2/p' | tr a-f A-F)
  expect_eq "$serial" "$vol" "volume serial against Wine's vol"

  start_server "$server"
  local stored
  for stored in "$password" ""; do
    rm -f exe/brin.ini
    # With SavePassword = 0, --save stores the scrambled empty password.
    [ -n "$stored" ] || printf 'SavePassword = 0\r\n' > exe/brin.ini
      run_in exe "$password"$'\n' "$wine" "$cli_exe" "${target[@]}" --save --once --password-stdin
    expect_eq "$status" 0 "--save --once exit code"
    expect_crlf exe/brin.ini
    expect_line exe/brin.ini "Pass = $(expected_pass "$serial" "$stored")"
    expect_line exe/brin.ini "Login = $(printf '%s' "$login" | iconv -f UTF-8 -t CP1251)"
    expect_line exe/brin.ini "IP = 127.0.0.1"
    expect_line exe/brin.ini "Port = $port"
    # The stored values alone carry the next run: Pass unscrambles on this volume.
    run_in exe "" "$wine" "$cli_exe" --once --json
    if [ -n "$stored" ]; then
      expect_eq "$status" 0 "run on the stored settings"
    else
      expect_eq "$status" 3 "run on the stored empty password"
    fi
  done
  stop_server
}

case_cli_console_break() {
  # Ctrl+C in the console (Wine turns SIGINT into it) ends a running brin-cli.exe
  # through its console handler: it logs out first and exits 0. A console close
  # and Ctrl+Break, the handler's other events, are not something Wine can send.
  start_server "$server"
  mkdir -p exe
  printf '%s\n' "$password" > exe/input
  (cd exe && exec "$wine" "$cli_exe" "${target[@]}" --json --password-stdin < input > out 2> err) &
  local pid=$! status=0
  for _ in $(seq 300); do
    grep -q '"event":"snapshot"' exe/out 2>/dev/null && break
    sleep 0.1
  done
  grep -q '"event":"snapshot"' exe/out || fail "no snapshot: $(cat exe/out exe/err)"
  kill -INT "$pid"
  wait "$pid" || status=$?
  expect_eq "$status" 0 "brin-cli.exe exit code after Ctrl+C"
  expect_eq "$(normalized exe/out | tail -n 1)" '{"event":"disconnected"}' "last event"
  wait_for_log "logout '$login' from 127.0.0.1:"
  stop_server
}

case_cli_numbers() {
  # long has 32 bits here: a number past them must not wrap into range (4294972297
  # is 2^32 + 5001), and the largest ten-digit numbers are refused, not wrapped.
  local value
  for value in 4294972297 4294967296 9999999999; do
    run_in exe "" "$wine" "$cli_exe" --port "$value" --once
    expect_eq "$status" 64 "brin-cli.exe --port $value exit code"
    tr -d '\r' < exe/err | head -n 1 | grep -qF -- "--port wants a number from 1 to 65535" ||
      fail "--port $value: $(cat exe/err)"
    run_in exe "" "$wine" "$cli_exe" --polls "$value" --once
    expect_eq "$status" 64 "brin-cli.exe --polls $value exit code"
  done
}

case_server_answers_cli() {
  reference_run
  start_server "$wine" "$server_exe"
  run_in linux "$password"$'\n' "$cli" "${target[@]}" --once --json --password-stdin
  expect_eq "$status" 0 "brin-cli exit code against brin-server.exe"
  normalized linux/out > linux/events
  diff ref/events linux/events >&2 || fail "brin-server.exe answered other values than brin-server"
  cmp ref/history.ini linux/history.ini || fail "the message differs: $(cat -A linux/history.ini)"

  run_in wrong $'пароль2\n' "$cli" "${target[@]}" --once --json --password-stdin
  expect_eq "$status" 3 "brin-cli exit code for a wrong password"
  wait_for_log "confirmed login '$login' from 127.0.0.1:"
  wait_for_log "127.0.0.1:" "'$login'" refused
  stop_server "0 session(s) open, 2 handshake(s), 1 poll reply(ies), 0 HELLO(s) over the limit"
}

"case_$case_name"
