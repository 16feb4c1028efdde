#!/usr/bin/env bash
# brin2.exe under Wine as a user meets it: on an X display of its own (Xvfb) with
# a notification area (trayer), against the Linux brin-server, typed at and
# clicked with xdotool. Each case has its own display and Wine server, in a
# prefix of the window tests' own (the cases run one at a time); every Wine
# program runs under a time limit and a memory limit.
#
#   window.sh CASE WINDOWS_BUILD LINUX_BUILD      (the cases are at the end)
set -euo pipefail

case_name=$1
win_build=$(cd "$2" && pwd)
linux_build=$(cd "$3" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
wine=$here/wine.sh
brin2_exe=$win_build/ui/brin2.exe
cli_exe=$win_build/cli/brin-cli.exe
cli=$linux_build/cli/brin-cli
server=$linux_build/server/brin-server
needed=("$brin2_exe" "$cli_exe" "$cli" "$server")
for tool in Xvfb xdpyinfo trayer xdotool import convert unzip; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/windows-toolchain.sh installs it)" >&2; exit 1; }
done
# The window's own texts (the Russian ones) whatever the caller's language: an
# English LANG or LANGUAGE chooses the English translation.
export LANG=C.UTF-8
unset LANGUAGE LC_ALL
export BRIN_WINEPREFIX=$win_build/wine-window
export WINEPREFIX=$BRIN_WINEPREFIX
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)

. "$here/lib.sh"

# A Wine program gets this much writable memory (brin2.exe needs about 60 MB)...
memory_kb=1048576
# ... and this many seconds, unless a case says less.
limit_s=90

xvfb_pid= trayer_pid= brin2_pid=
finish_case() {
  if [ -n "$brin2_pid" ]; then kill -KILL "$brin2_pid" 2>/dev/null || true; fi
  # Every Wine process of this case (the desktop and tray of its display among them).
  "$wineserver" -k 2>/dev/null || true
  if [ -n "$trayer_pid" ]; then kill "$trayer_pid" 2>/dev/null || true; fi
  # Gone before the next case looks for a free display.
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null || true; fi
}

# Runs a Wine program within the limits: `bounded SECONDS PROGRAM ARGS...`.
bounded() {
  local seconds=$1
  shift
  (ulimit -d "$memory_kb" && exec timeout -k 5 "$seconds" "$wine" "$@")
}

# Waits up to $2 tenths of a second for the command $1 to succeed.
wait_until() {
  local n=0
  while ! eval "$1" >/dev/null 2>&1; do
    n=$((n + 1))
    [ "$n" -ge "$2" ] && return 1
    sleep 0.1
  done
}

start_display() {  # with the notification area at the top left, its first icon at 12,16
  # A display number of its own, clear of those xvfb-run and desktops take; a
  # server that loses the number to another starting at the same time exits.
  local n
  for n in $(seq 200 299); do
    [ -e "/tmp/.X$n-lock" ] && continue
    # -noreset: else the server resets when the probe below disconnects, its last
    # client, and the next one to connect (trayer) may meet the reset.
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp -noreset 2>xvfb.log &
    xvfb_pid=$!
    if wait_until "! kill -0 $xvfb_pid || xdpyinfo -display :$n" 100 && kill -0 "$xvfb_pid" 2>/dev/null; then
      export DISPLAY=:$n
      break
    fi
    kill "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=
  done
  [ -n "$xvfb_pid" ] || fail "no X display could be started: $(cat xvfb.log)"
  export BRIN_WINE_DISPLAY=$DISPLAY
  trayer --edge top --align left --widthtype pixel --width 120 --heighttype pixel --height 32 \
    --SetDockType false --transparent false >trayer.log 2>&1 &
  trayer_pid=$!
  wait_until "xdotool search --class trayer" 50 ||
    fail "trayer did not start on $DISPLAY: $(cat trayer.log) (Xvfb $(kill -0 "$xvfb_pid" 2>/dev/null && echo runs || echo ended): $(cat xvfb.log))"
}

visible() {  # TITLE
  xdotool search --onlyvisible --name "$1" >/dev/null 2>&1
}
main_title='ver 1.2'
message_title='Internet access: Message'

start_brin2() {  # DIR [ARGS]: the build's brin2.exe working in DIR, in the background
  start_copy "$brin2_exe" "$@"
}
start_copy() {  # EXE DIR [ARGS]: that brin2.exe, the same way
  local exe=$1 dir=$2
  shift 2
  (cd "$dir" && exec bash -c 'ulimit -d "$1" && shift && exec timeout -k 5 "$@"' _ \
     "$memory_kb" "$limit_s" "$wine" "$exe" "$@" > brin2.out 2> brin2.err) &
  brin2_pid=$!
}
wait_window() {  # TITLE WHAT
  wait_until "visible '$1'" 300 || fail "$2: no visible window [$1]$(brin2_report)"
}
# What brin2.exe said, for a failure message.
brin2_report() {
  local f
  for f in */brin2.err brin2.err; do
    [ -s "$f" ] && printf '\n--- %s\n%s' "$f" "$(head -c 4000 "$f")"
  done
  return 0
}
main_window() {
  xdotool search --onlyvisible --name "$main_title" | head -n 1
}
keys_to() {  # WINDOW KEY...: focus WINDOW, then the keys
  local window=$1
  shift
  xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
  sleep 0.3
  xdotool key --delay 80 "$@"
}
tray_double_click() {
  xdotool mousemove 12 16
  sleep 0.3
  xdotool mousedown 1 mouseup 1 mousedown 1 mouseup 1
}
# «Выход», the tray menu's first item; brin2.exe then ends, its exit code checked.
tray_exit() {
  xdotool mousemove 12 16
  sleep 0.3
  # Wine takes a press and release in the same instant for no click at all.
  xdotool mousedown 3
  sleep 0.2
  xdotool mouseup 3
  sleep 1
  xdotool key Down Return
  wait_exit 0 "brin2.exe after «Выход»"
}
wait_exit() {  # CODE WHAT
  local status=0
  wait_until "! kill -0 $brin2_pid" 300 || fail "$2: still running"
  wait "$brin2_pid" || status=$?
  brin2_pid=
  expect_eq "$status" "$1" "$2: exit code$(brin2_report)"
}
shot() {  # NAME: a screenshot kept in the case's folder
  import -window root "$work/$1.png" 2>/dev/null || fail "no screenshot"
}

# brin.ini for the test account on this server; Pass scrambled for DIR's volume.
write_ini() {  # DIR AUTOCONNECT [PASSWORD]
  local serial
  serial=$(wine_volume_serial "$1")
  [[ $serial =~ ^[0-9A-F]{8}$ ]] || fail "Wine reports no volume serial for $1"
  {
    printf 'SavePassword = 1\r\nAutoConnect = %s\r\nKeepConn = 0\r\nIP = 127.0.0.1\r\nPort = %s\r\n' "$2" "$port"
    printf 'Login = %s\r\n' "$(printf '%s' "$login" | iconv -f UTF-8 -t CP1251)"
    [ $# -lt 3 ] || printf 'Pass = %s\r\n' "$(expected_pass "$serial" "$3")"
  } > "$1/brin.ini"
}

# The session as a user sees it: the window comes up and logs in by itself, hides
# to the tray, the provider's message arrives in a box and in history.ini byte for
# byte as the Linux client writes it, a double click on the tray icon brings the
# window back with the session's green lamp, «Выход» logs out and exits 0.
case_window_session() {
  reference_run
  start_display
  start_server "$server"
  mkdir -p exe
  write_ini exe 1 "$password"
  start_brin2 exe
  wait_window "$main_title" "start"
  shot started
  wait_for_log "confirmed login '$login'"
  wait_window "$message_title" "the provider's message"
  wait_until "! visible '$main_title'" 100 || fail "the window did not hide to the tray once connected"
  keys_to "$(xdotool search --onlyvisible --name "$message_title" | head -n 1)" Return
  wait_until "! visible '$message_title'" 50 || fail "the message box did not close"
  cmp ref/history.ini exe/history.ini || fail "history.ini differs from brin-cli's: $(cat -A exe/history.ini)"
  tray_double_click
  wait_until "visible '$main_title'" 50 || fail "a double click on the tray icon did not show the window"
  sleep 1
  shot connected
  # The status lamp is the only pure green on the screen.
  local colours
  colours=$(convert "$work/connected.png" -format %c histogram:info:-)
  [[ $colours == *'#00FF00'* ]] || fail "no green lamp in the window"
  tray_exit
  wait_for_log "logout '$login' from 127.0.0.1:"
  stop_server
  rm -f "$work"/*.png
}

# The values the window shows are the server's: the main window of brin2.exe, made
# by window_values.exe on the same brin.ini, holds the account's balance, the
# megabytes left, a row per counter (the unnamed one by the low half of its
# identifier) and the queued message with its time as history.ini has it, in the
# forms the Linux window shows.
case_window_values() {
  start_display
  start_server "$server"
  mkdir -p exe
  write_ini exe 1 "$password"
  local status=0
  (cd exe && bounded 60 "$win_build/tests/windows/window_values.exe" > values.out 2> values.err) || status=$?
  expect_eq "$status" 0 "window_values.exe's exit code: $(cat exe/values.err)"
  cat > expected.txt <<'TEXT'
balance -12.345
remaining 5120.00 (M)
status 
counter Город|1.50
counter traffic 5|0.00
box Internet access: Message: 09:05:10 07/03/2009
Привет, "мир" \ ok

TEXT
  diff expected.txt <(tr -d '\r' < exe/values.out) >&2 || fail "the window's values differ from the account's"
  wait_for_log "logout '$login' from 127.0.0.1:"
  stop_server
}

# The settings dialog's OK writes brin.ini: every line as the window had it, the
# two changed in the dialog, and Pass the password typed into the window under
# single DES keyed by the serial Wine reports.
case_window_settings() {
  start_display
  mkdir -p exe
  port=5001
  write_ini exe 0
  local serial typed=tajna77
  serial=$(wine_volume_serial exe)
  start_brin2 exe
  wait_window "$main_title" "start"
  # The focus starts in «Логин»: on to «Пароль», then «Подключить», «Отключить», «Установки».
  keys_to "$(main_window)" Tab
  xdotool type --delay 80 "$typed"
  xdotool key --delay 80 Tab Tab Tab space
  wait_window 'Установки' "the settings dialog"
  # OK has the focus; five tabs on is «Порт», one more «Автоподключение при обрыве».
  keys_to "$(xdotool search --onlyvisible --name 'Установки' | head -n 1)" Tab Tab Tab Tab Tab ctrl+a
  xdotool type --delay 80 6001
  xdotool key --delay 80 Tab space Return
  wait_until "! visible 'Установки'" 50 || fail "the settings dialog did not close on Return"
  {
    printf 'SavePassword = 1\r\nAutoConnect = 0\r\nKeepConn = 1\r\nIP = 127.0.0.1\r\nPort = 6001\r\n'
    printf 'Login = %s\r\n' "$(printf '%s' "$login" | iconv -f UTF-8 -t CP1251)"
    printf 'Pass = %s\r\n' "$(expected_pass "$serial" "$typed")"
  } > expected.ini
  wait_until "cmp -s expected.ini exe/brin.ini" 50 ||
    fail "brin.ini after OK: $(diff <(cat -A expected.ini) <(cat -A exe/brin.ini))"
  tray_exit
  cmp expected.ini exe/brin.ini || fail "brin.ini changed on exit: $(cat -A exe/brin.ini)"
}

# One client per folder: a second brin2.exe shows the hidden window and exits 0;
# brin-cli.exe is refused while brin2.exe holds the folder, and brin2.exe while
# brin-cli.exe does (its box names the holder, then it exits 1).
case_window_instances() {
  start_display
  start_server "$server"
  mkdir -p exe
  write_ini exe 0 "$password"
  start_brin2 exe
  wait_window "$main_title" "start"
  keys_to "$(main_window)" Escape
  wait_until "! visible '$main_title'" 50 || fail "Escape did not hide the window to the tray"
  local status=0
  (cd exe && bounded 60 "$brin2_exe" > second.out 2> second.err) || status=$?
  expect_eq "$status" 0 "the second brin2.exe's exit code"
  wait_until "visible '$main_title'" 50 || fail "the second start did not show the running window"
  expect_eq "$(xdotool search --name "$main_title" | wc -l)" 1 "main windows"

  status=0
  (cd exe && bounded 60 "$cli_exe" --once > cli.out 2> cli.err) || status=$?
  expect_eq "$status" 5 "brin-cli.exe's exit code on brin2.exe's folder"
  grep -q 'in use by brin2.exe, process [0-9]' exe/cli.err || fail "brin-cli.exe did not name the window: $(cat exe/cli.err)"
  tray_exit
  [ ! -e exe/brin.lock ] || fail "brin.lock left behind by a clean exit"

  mkdir -p cli
  write_ini cli 0 "$password"
  (cd cli && exec bash -c 'ulimit -d "$1" && shift && exec timeout -k 5 "$@"' _ "$memory_kb" "$limit_s" \
     "$wine" "$cli_exe" --json > cli.out 2> cli.err) &
  local cli_pid=$!
  wait_until "grep -q '\"event\":\"snapshot\"' cli/cli.out" 300 || fail "brin-cli.exe did not connect: $(cat cli/cli.err)"
  start_brin2 cli
  wait_window '^brin2$' "brin2.exe on brin-cli.exe's folder"
  keys_to "$(xdotool search --onlyvisible --name '^brin2$' | head -n 1)" Return
  wait_exit 1 "brin2.exe on brin-cli.exe's folder"
  kill -INT "$cli_pid"
  status=0
  wait "$cli_pid" || status=$?
  expect_eq "$status" 0 "brin-cli.exe after Ctrl+C"
  stop_server
}

# The two buttons that leave the window: «Проверка связи с сервером» has the shell
# open ping.bat of the working folder (a console runs it there), «Статистика
# подробнее...» has the shell take its default action on the address (Wine hands
# it to the browser its registry names, here a script that notes it). The example
# ping.bat pings the address brin.ini holds.
case_window_shell() {
  start_display
  mkdir -p exe
  port=5001
  write_ini exe 0
  printf '@echo off\r\necho %%CD%%> ran.txt\r\n' > exe/ping.bat
  printf '#!/bin/sh\nprintf "%%s\\n" "$@" > "%s/opened.txt"\n' "$work" > browser.sh
  chmod +x browser.sh
  bounded 60 reg add 'HKCU\Software\Wine\WineBrowser' /v Browsers /d "$work/browser.sh" /f >/dev/null 2>&1 ||
    fail "could not name the browser in Wine's registry"
  start_brin2 exe
  wait_window "$main_title" "start"
  # From «Логин»: seven tabs to «Статистика подробнее...», one more to «Проверка связи с сервером».
  keys_to "$(main_window)" Tab Tab Tab Tab Tab Tab Tab space
  wait_until "[ -s opened.txt ]" 300 || fail "the statistics page was not opened"
  expect_eq "$(cat opened.txt)" "https://stat.example.net/" "the page opened"
  keys_to "$(main_window)" Tab space
  wait_until "[ -s exe/ran.txt ]" 300 || fail "ping.bat did not run"
  expect_eq "$(tr -d '\r\n' < exe/ran.txt)" "$("$wine" winepath -w "$work/exe" 2>/dev/null | tr -d '\r')" \
    "the folder ping.bat ran in"
  tray_exit

  # The example, run as the shell runs it, beside a brin.ini and without one.
  cp "$source_dir/res/ping.bat" exe/ping.bat
  (cd exe && bounded 60 cmd /c ping.bat < /dev/null > example.out 2>&1) || true
  tr -d '\r' < exe/example.out | grep -qx 'ping 127.0.0.1' || fail "ping.bat: $(cat exe/example.out)"
  mkdir -p bare
  cp "$source_dir/res/ping.bat" bare/
  status=0
  (cd bare && bounded 60 cmd /c ping.bat < /dev/null > example.out 2>&1) || status=$?
  grep -q 'holds no server address' bare/example.out || fail "ping.bat without brin.ini: $(cat bare/example.out)"
}

# Windows path (as Wine shows it) -> Unix path.
unix_path() {
  "$wine" winepath -u "$1" 2>/dev/null | tr -d '\r'
}
windows_env() {  # NAME: a variable of Wine's environment
  "$wine" cmd /c "echo %$1%" 2>/dev/null | tr -d '\r'
}

# The installer, silent (/S, with /AUTOSTART): the programs in
# %LOCALAPPDATA%\Programs\brin2, the Start-menu entry on --user-dir, the login
# start and the uninstall entry; the installed copy's first start puts the example
# ping.bat into %APPDATA%\brin2. The silent uninstaller then takes all of that
# away but the user's files there and in the program's folder. The archive holds
# the five files in one folder, and brin2.exe runs from it unpacked.
case_window_packages() {
  local setup archive version
  setup=$(ls "$win_build"/brin-setup-*.exe)
  archive=$(ls "$win_build"/brin2-*-windows.zip)
  version=${setup##*/brin-setup-}
  version=${version%.exe}
  start_display
  local local_app app_data programs user_dir menu
  local_app=$(windows_env LOCALAPPDATA)
  app_data=$(windows_env APPDATA)
  programs=$(unix_path "$local_app\\Programs\\brin2")
  user_dir=$(unix_path "$app_data\\brin2")
  menu=$(unix_path "$app_data\\Microsoft\\Windows\\Start Menu\\Programs")/Сорвель-А.lnk
  # What a failed run of this case left in the prefix.
  rm -rf "$programs" "$user_dir" "$menu"
  "$wine" reg delete 'HKCU\Software\Microsoft\Windows\CurrentVersion\Run' /v brin2 /f >/dev/null 2>&1 || true
  "$wine" reg delete 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\brin2' /f >/dev/null 2>&1 || true

  local status=0
  bounded 120 "$setup" /S /AUTOSTART > setup.out 2>&1 || status=$?
  expect_eq "$status" 0 "the silent installer's exit code"
  local f
  for f in brin2.exe brin-cli.exe brin-server.exe ping.bat README.txt uninstall.exe; do
    [ -f "$programs/$f" ] || fail "not installed: $programs/$f"
  done
  cmp "$source_dir/res/ping.bat" "$programs/ping.bat" || fail "the installed ping.bat differs"
  # A window program (no console window of its own) that says what it is.
  # (Whole outputs first: a grep that stops early would break the pipe.)
  local headers texts
  headers=$(x86_64-w64-mingw32-objdump -p "$programs/brin2.exe")
  grep -q 'Subsystem.*(Windows GUI)' <<< "$headers" || fail "brin2.exe is not a GUI-subsystem program"
  texts=$(strings -el "$programs/brin2.exe")
  grep -qx 'brin2.exe' <<< "$texts" && grep -qx "$version" <<< "$texts" ||
    fail "brin2.exe has no version resource of $version"
  [ -f "$menu" ] || fail "no Start-menu entry $menu"
  # The shortcut's strings are UTF-16: without their zero bytes they read as text.
  tr -d '\0' < "$menu" | grep -aq -- '--user-dir' || fail "the Start-menu entry does not pass --user-dir"
  tr -d '\0' < "$menu" | grep -aqi 'Programs\\brin2\\brin2.exe' || fail "the Start-menu entry does not start brin2.exe"
  local run
  run=$("$wine" reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Run' /v brin2 2>/dev/null | tr -d '\r')
  [[ $run == *"Programs\\brin2\\brin2.exe\" \"--dir\" \"$app_data\\brin2\" \"--hidden\""* ]] ||
    fail "the login start: [$run]"
  "$wine" reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\brin2' /v UninstallString \
    >/dev/null 2>&1 || fail "no uninstall entry"

  # The Start-menu entry's start: in the program's folder, with --user-dir.
  [ ! -e "$user_dir" ] || fail "$user_dir exists before the first start"
  start_copy "$programs/brin2.exe" "$programs" --user-dir
  wait_window "$main_title" "the installed copy's first start"
  wait_until "[ -f '$user_dir/brin.ini' ]" 50 || fail "no brin.ini in $user_dir"
  cmp "$source_dir/res/ping.bat" "$user_dir/ping.bat" || fail "the example ping.bat was not put into $user_dir"
  tray_exit
  printf 'the user'"'"'s own\r\n' > "$user_dir/history.ini"
  printf 'Port = 5002\r\n' > "$programs/brin.ini"  # a portable use of the program's folder
  local kept
  kept=$(cat "$user_dir/brin.ini")

  status=0
  bounded 60 "$(windows_env LOCALAPPDATA)\\Programs\\brin2\\uninstall.exe" /S > uninstall.out 2>&1 || status=$?
  expect_eq "$status" 0 "the silent uninstaller's exit code"
  # It goes on from a copy of itself in the temporary folder.
  wait_until "[ ! -e '$programs/uninstall.exe' ] && [ ! -e '$programs/brin2.exe' ]" 600 ||
    fail "the uninstaller did not finish: $(ls "$programs")"
  sleep 1
  for f in brin2.exe brin-cli.exe brin-server.exe ping.bat README.txt uninstall.exe; do
    [ ! -e "$programs/$f" ] || fail "left by the uninstaller: $programs/$f"
  done
  [ ! -e "$menu" ] || fail "the Start-menu entry is left"
  ! "$wine" reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Run' /v brin2 >/dev/null 2>&1 ||
    fail "the login start is left"
  ! "$wine" reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\brin2' >/dev/null 2>&1 ||
    fail "the uninstall entry is left"
  expect_eq "$(cat "$user_dir/brin.ini")" "$kept" "the user's brin.ini after uninstalling"
  expect_eq "$(cat "$user_dir/history.ini")" "the user's own"$'\r' "the user's history.ini after uninstalling"
  [ -f "$user_dir/ping.bat" ] || fail "the user's ping.bat went with the program"
  [ -f "$programs/brin.ini" ] || fail "a brin.ini of the user's in the program's folder went with it"
  rm -rf "$programs" "$user_dir"

  # The portable archive.
  expect_eq "$(unzip -Z1 "$archive" | sort | tr '\n' ' ')" \
    "brin2-$version/ brin2-$version/README.txt brin2-$version/brin-cli.exe brin2-$version/brin-server.exe brin2-$version/brin2.exe brin2-$version/ping.bat " \
    "the archive's files"
  unzip -q "$archive" -d portable
  start_copy "$work/portable/brin2-$version/brin2.exe" "portable/brin2-$version"
  wait_window "$main_title" "the unpacked brin2.exe"
  wait_until "[ -f 'portable/brin2-$version/brin.ini' ]" 50 || fail "the unpacked copy did not work in its folder"
  tray_exit
}

"case_$case_name"
