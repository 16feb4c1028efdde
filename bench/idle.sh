#!/usr/bin/env bash
# The idle cost of the three programs against their floors, all in one run (it builds nothing):
#   bench/idle.sh [--minutes N] [--build DIR] [--compare DIR]
# Under Xvfb with a tray (trayer): brin-server --demo on a free port, brin-cli --keep and brin2
# (AutoConnect, hidden to the tray at its first connection) connected to it, and the floors
# floor-wait (brin-cli's libraries, waiting in the same call) and floor-dialog (a minimal Qt
# dialog with a 1-second QTimer and a tray icon). --compare DIR runs the server, brin-cli and
# brin2 of another build beside them, against a server of their own.
# After a settling minute it reads, for N minutes (default 10): CPU per hour (the time on the
# CPU of all threads, from /proc/PID/task/*/schedstat; /proc/PID/stat counts in 10 ms ticks,
# too coarse here), wake-ups per minute (voluntary and involuntary context switches of all
# threads, /proc/PID/task/*/status) and the resident size at the end (VmRSS). Before that,
# start to window of brin2 and floor-dialog: the wall time until the window is on the screen
# and the CPU time used by then. The machine is shared and noisy: read the ratios.
set -euo pipefail
cd "$(dirname "$0")/.."
minutes=10
build=build/default
compare=
while [ $# -gt 0 ]; do
  case $1 in
    --minutes) minutes=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --compare) compare=$2; shift 2 ;;
    *) echo "usage: bench/idle.sh [--minutes N] [--build DIR] [--compare DIR]" >&2; exit 64 ;;
  esac
done
build=$(cd "$build" && pwd)
[ -n "$compare" ] && compare=$(cd "$compare" && pwd)
need=("$build/server/brin-server" "$build/cli/brin-cli" "$build/ui/brin2"
      "$build/bench/floor-wait" "$build/bench/floor-dialog")
[ -n "$compare" ] && need+=("$compare/server/brin-server" "$compare/cli/brin-cli" "$compare/ui/brin2")
for f in "${need[@]}"; do
  if [ ! -x "$f" ]; then
    echo "idle.sh: $f is missing; build it first:" >&2
    echo "  cmake --build $build --target brin-server brin-cli brin2 floor-wait floor-dialog" >&2
    exit 1
  fi
done
for tool in xvfb-run trayer xdotool; do
  command -v $tool >/dev/null || { echo "idle.sh: $tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done

# Everything below runs on a display of its own.
if [ -z "${BRIN_IDLE_INNER:-}" ]; then
  BRIN_IDLE_INNER=1 exec xvfb-run -a -s "-screen 0 1280x800x24" "$0" --minutes "$minutes" \
    --build "$build" ${compare:+--compare "$compare"}
fi

work=$(mktemp -d)
pids=()
finish() {
  for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null || true; done
  sleep 1
  for p in "${pids[@]}"; do kill -KILL "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap finish EXIT
export QT_QPA_PLATFORM=xcb

trayer --edge bottom --align right --widthtype request --height 24 >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  xdotool search --class trayer >/dev/null 2>&1 && break
  sleep 0.1
done

# The CPU nanoseconds of all threads, and their context switches.
cpu_ns() {
  local sum=0 t v
  for t in /proc/$1/task/*/schedstat; do
    read -r v _ < "$t" 2>/dev/null && sum=$((sum + v))
  done
  echo $sum
}
switches() {
  local sum=0 t
  for t in /proc/$1/task/*/status; do
    sum=$((sum + $(awk '/^(voluntary|nonvoluntary)_ctxt_switches/ {s += $2} END {print s + 0}' "$t" 2>/dev/null || echo 0)))
  done
  echo $sum
}
rss_kb() { awk '/^VmRSS/ {print $2}' /proc/$1/status; }
now_ns() { date +%s%N; }

# A demo server on a free port; prints the port.
start_server() {  # BUILD NAME
  local log=$work/$2.log
  "$1/server/brin-server" --demo --listen 127.0.0.1:0 2> "$log" &
  pids+=($!)
  eval "pid_$2=$!"
  for _ in $(seq 100); do
    port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\),.*/\1/p' "$log")
    [ -n "$port" ] && return 0
    sleep 0.05
  done
  echo "idle.sh: $2 did not start: $(cat "$log")" >&2
  exit 1
}

# brin-cli connected with --keep.
start_cli() {  # BUILD NAME PORT
  mkdir -p "$work/$2"
  (cd "$work/$2" && exec "$1/cli/brin-cli" --server 127.0.0.1 --port "$3" \
    --login demo --password-stdin --keep <<< demo > out 2> err) &
  pids+=($!)
  eval "pid_$2=$!"
}

# Waits until a window of process PID is on the screen; prints the wall milliseconds from
# START_NS and the process's CPU milliseconds.
window_shown() {  # PID START_NS
  for _ in $(seq 1000); do
    if xdotool search --onlyvisible --pid "$1" >/dev/null 2>&1; then
      echo "$((($(now_ns) - $2) / 1000000)) $(($(cpu_ns "$1") / 1000000))"
      return 0
    fi
    sleep 0.01
  done
  echo "idle.sh: no window of process $1" >&2
  exit 1
}

# brin2 with a brin.ini that connects at start (the password stored by brin-cli --save).
start_brin2() {  # BUILD NAME PORT
  local dir=$work/$2
  mkdir -p "$dir"
  (cd "$dir" && echo demo | "$1/cli/brin-cli" --server 127.0.0.1 --port "$3" --login demo \
    --password-stdin --save --once > /dev/null)
  sed -i 's/^AutoConnect = .*/AutoConnect = 1\r/' "$dir/brin.ini"
  local start
  start=$(now_ns)
  (cd "$dir" && exec "$1/ui/brin2" > out 2> err) &
  pids+=($!)
  eval "pid_$2=$!"
  eval "shown_$2=\"$(window_shown $! "$start")\""
}

start_floor_dialog() {
  local start
  start=$(now_ns)
  "$build/bench/floor-dialog" > /dev/null 2>&1 &
  pids+=($!)
  pid_floor_dialog=$!
  shown_floor_dialog=$(window_shown $! "$start")
}

start_server "$build" server
start_cli "$build" cli "$port"
# The windows one after the other, each alone on the screen while it starts.
start_floor_dialog
sleep 2
start_brin2 "$build" brin2 "$port"
"$build/bench/floor-wait" > /dev/null &
pids+=($!)
pid_floor_wait=$!
names=(server cli brin2 floor_wait floor_dialog)
if [ -n "$compare" ]; then
  sleep 2
  start_server "$compare" old_server
  start_cli "$compare" old_cli "$port"
  start_brin2 "$compare" old_brin2 "$port"
  names+=(old_server old_cli old_brin2)
fi

sleep 60  # connected, brin2 in the tray
for n in "${names[@]}"; do
  p=$(eval echo "\$pid_$n")
  kill -0 "$p" 2>/dev/null || { echo "idle.sh: $n ended early" >&2; exit 1; }
  eval "cpu0_$n=$(cpu_ns "$p") sw0_$n=$(switches "$p")"
done
t0=$(now_ns)
sleep $((minutes * 60))
t1=$(now_ns)
seconds=$(awk -v a="$t0" -v b="$t1" 'BEGIN {print (b - a) / 1e9}')

declare -A cpu wake rss
for n in "${names[@]}"; do
  p=$(eval echo "\$pid_$n")
  kill -0 "$p" 2>/dev/null || { echo "idle.sh: $n ended early" >&2; exit 1; }
  c0=$(eval echo "\$cpu0_$n")
  s0=$(eval echo "\$sw0_$n")
  cpu[$n]=$(awk -v d="$(($(cpu_ns "$p") - c0))" -v s="$seconds" 'BEGIN {printf "%.1f", d / 1e6 * 3600 / s}')
  wake[$n]=$(awk -v d="$(($(switches "$p") - s0))" -v s="$seconds" 'BEGIN {printf "%.2f", d * 60 / s}')
  rss[$n]=$(rss_kb "$p")
done
grep -q '"\?connected' "$work/cli/out" || { echo "idle.sh: brin-cli did not connect: $(cat "$work/cli/err")" >&2; exit 1; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN {if (b > 0) printf "%.2f×", a / b; else print "-"}'; }
row() {  # LABEL NAME FLOOR
  local n=$2 f=$3
  printf '| %s | %s ms | %s | %s | %.1f MB | %s |\n' "$1" "${cpu[$n]}" \
    "$([ -n "$f" ] && ratio "${cpu[$n]}" "${cpu[$f]}" || echo)" "${wake[$n]}" \
    "$(awk -v k="${rss[$n]}" 'BEGIN {print k / 1024}')" \
    "$([ -n "$f" ] && ratio "${rss[$n]}" "${rss[$f]}" || echo)"
}
echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg), $minutes min"
echo
echo "| program | CPU per hour | to its floor | wake-ups per minute | RSS | to its floor |"
echo "|---|---|---|---|---|---|"
row "brin-cli (connected, --keep)" cli floor_wait
row "floor-wait (same libraries, same wait)" floor_wait ""
row "brin2 (connected, in the tray)" brin2 floor_dialog
row "floor-dialog (1 s QTimer, tray icon)" floor_dialog ""
row "brin-server (2 clients)" server ""
if [ -n "$compare" ]; then
  row "compared brin-cli" old_cli floor_wait
  row "compared brin2" old_brin2 floor_dialog
  row "compared brin-server (2 clients)" old_server ""
fi
echo
echo "| start to window | wall | CPU |"
echo "|---|---|---|"
read -r fw fc <<< "$shown_floor_dialog"
read -r bw bc <<< "$shown_brin2"
echo "| floor-dialog | $fw ms | $fc ms |"
echo "| brin2 | $bw ms ($(ratio "$bw" "$fw")) | $bc ms ($(ratio "$bc" "$fc")) |"
if [ -n "$compare" ]; then
  read -r ow oc <<< "$shown_old_brin2"
  echo "| compared brin2 | $ow ms ($(ratio "$ow" "$fw")) | $oc ms ($(ratio "$oc" "$fc")) |"
fi
