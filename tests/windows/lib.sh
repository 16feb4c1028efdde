# The Wine tests' shared part, sourced with case_name, win_build, here, wine, the
# Linux programs (cli, server) and the programs the script needs (needed) set: a
# work directory, the account the Linux brin-server serves, the reference run of
# the Linux pair, and the checks. A script's own finish_case, when defined, runs
# when the case ends.

for program in "${needed[@]}"; do
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
  if declare -F finish_case >/dev/null; then finish_case || true; fi
  if [ "$status" -eq 0 ]; then rm -rf "$work"; else echo "files kept in $work" >&2; fi
}
trap finish EXIT
. "$here/../support/test_lib.sh"
FAIL_CONTEXT=$case_name
cd "$work"
# The history's times are local times; Wine takes its zone from the same place.
export TZ=UTC

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
  serve_on_free_port 127.0.0.1 "$@" --accounts accounts.ini
  server_pid=$SERVER_PID port=$PORT
  target=(--server 127.0.0.1 --port "$port" --login "$login")
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

# The serial Wine reports for DIR's volume, as "vol" shows it (8 hex digits).
wine_volume_serial() {  # DIR
  (cd "$1" && "$wine" cmd /c vol 2>/dev/null | tr -d '\r' |
   sed -n 's/.*Serial Number is \([0-9A-Fa-f]\{4\}\)-\([0-9A-Fa-f]\{4\}\).*/\1\2/p' | tr a-f A-F)
}
