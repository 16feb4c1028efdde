#!/usr/bin/env bash
# Runs the load benchmark of brin-server with binaries already built (it builds nothing):
#   bench/run_load.sh [BUILD_DIR] [brin-loadgen options]   (BUILD_DIR default: build/default)
# Prints the table: handshakes and polls per second at 1, 100 and 10 000 sessions, the
# server's CPU time per handshake against its floor, polls per server CPU second, and
# the server's resident memory per session.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
[ $# -gt 0 ] && shift
loadgen=$build/bench/brin-loadgen
server=$build/server/brin-server
for f in "$loadgen" "$server"; do
  if [ ! -x "$f" ]; then
    echo "run_load.sh: $f is missing; build it first:" >&2
    echo "  cmake --build $build --target brin-loadgen brin-server" >&2
    exit 1
  fi
done
exec "$loadgen" --server "$server" "$@"
