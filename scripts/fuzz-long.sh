#!/usr/bin/env bash
# The long fuzz runs: every libFuzzer target under ASan and UBSan, one at a time,
# until it has made its number of executions or its time bound runs out.
#
#   scripts/fuzz-long.sh [target...]       (default: all seven)
#
# FUZZ_SECONDS  time bound of each target (default 1800)
# FUZZ_WORK     scratch folder: each target's working corpus, log and findings
#               (default /tmp/brin-fuzz); the tree's seed corpora are only read
# FUZZ_BUILD    the clang build folder (default build-fuzz)
# FUZZ_NICE     niceness of the fuzzers (default 15: the machine is shared)
#
# Prints one line per target: executions, coverage (edges), features, seconds, and
# whether it found anything. The exit status is 1 when any target found a fault.
# After a run, `scripts/fuzz-long.sh --merge target` puts the new inputs that add
# edges over the seeds into FUZZ_WORK/target/new (to pick corpus entries from).
set -euo pipefail
cd "$(dirname "$0")/.."

work=${FUZZ_WORK:-/tmp/brin-fuzz}
build=${FUZZ_BUILD:-build-fuzz}
seconds=${FUZZ_SECONDS:-1800}
niceness=${FUZZ_NICE:-15}

all=(payload_walk keyreply brin_ini history_ini hex_decoder accounts server_datagrams)
# Executions each target must reach: each server input is a script of several
# handshakes, the others are one parse each.
runs_of() {
  case $1 in
    server_datagrams) echo 1000000 ;;
    *) echo 10000000 ;;
  esac
}

merge=0
if [ "${1:-}" = --merge ]; then
  merge=1
  shift
fi
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all[@]}")

if [ ! -f "$build/CMakeCache.txt" ]; then
  scripts/install-deps.sh clang libclang-rt-14-dev
  CC=clang CXX=clang++ cmake -S . -B "$build" -DBRIN_FUZZ=ON -DBRIN_BUILD_GUI=OFF \
    -DBRIN_BUILD_BENCH=OFF >/dev/null
fi
nice -n "$niceness" cmake --build "$build" -j2 --target "${targets[@]/%/_fuzzer}" >/dev/null

# A UBSan report stops the run like an ASan one, so that libFuzzer keeps the input.
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}

if [ $merge = 1 ]; then
  for t in "${targets[@]}"; do
    dir=$work/$t
    rm -rf "$dir/new" "$dir/merged"
    mkdir -p "$dir/new"
    cp -r "tests/fuzz/corpus/$t" "$dir/merged"
    # Into a copy of the seeds: only the inputs that reach edges the seeds miss go in
    # (without hit counts, which would keep hundreds).
    nice -n "$niceness" "$build/tests/fuzz/${t}_fuzzer" -merge=1 -use_counters=0 "$dir/merged" "$dir/corpus" \
      >"$dir/merge.log" 2>&1
    for f in "$dir/merged"/*; do
      [ -e "tests/fuzz/corpus/$t/$(basename "$f")" ] || cp "$f" "$dir/new/"
    done
    echo "$t: $(ls "$dir/new" | wc -l) new inputs in $dir/new"
  done
  exit 0
fi

found=0
printf '%-17s %12s %7s %8s %8s  %s\n' target executions edges features seconds result
for t in "${targets[@]}"; do
  dir=$work/$t
  rm -rf "$dir"
  mkdir -p "$dir/findings"
  cp -r "tests/fuzz/corpus/$t" "$dir/corpus"
  start=$(date +%s)
  status=0
  nice -n "$niceness" "$build/tests/fuzz/${t}_fuzzer" -runs="$(runs_of "$t")" \
    -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$dir/findings/" "$dir/corpus" >"$dir/log" 2>&1 || status=$?
  elapsed=$(($(date +%s) - start))
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log")
  last=$(grep -E '^#[0-9]+[[:space:]].*cov: ' "$dir/log" | tail -n 1 || true)
  edges=$(sed -n 's/.* cov: \([0-9]*\) .*/\1/p' <<<"$last")
  features=$(sed -n 's/.* ft: \([0-9]*\) .*/\1/p' <<<"$last")
  result="no fault"
  if [ $status -ne 0 ] || grep -q 'runtime error' "$dir/log" || [ -n "$(ls "$dir/findings")" ]; then
    result="FAULT: see $dir/log and $dir/findings"
    found=1
  fi
  printf '%-17s %12s %7s %8s %8s  %s\n' "$t" "${execs:-?}" "${edges:-?}" "${features:-?}" \
    "$elapsed" "$result"
done
exit $found
