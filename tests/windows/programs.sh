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
needed=("$cli_exe" "$server_exe" "$cli" "$server")

. "$here/lib.sh"

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

case_cli_save() {
  # The serial brin-cli.exe keys Pass with is the one Wine's own "vol" reports.
  # Wine makes that number up for a Linux directory (there is no real volume),
  # so that a FAT or NTFS serial matches the Linux one cannot be tried here.
  run_in exe "" "$wine" "$cli_exe" --volume-serial
  expect_eq "$status" 0 "--volume-serial exit code"
  local serial
  serial=$(tr -d '\r\n' < exe/out)
  [[ $serial =~ ^[0-9A-F]{8}$ ]] || fail "--volume-serial printed [$serial]"
  [ ! -e exe/brin.ini ] || fail "--volume-serial wrote brin.ini"
  expect_eq "$serial" "$(wine_volume_serial exe)" "volume serial against Wine's vol"

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
