#!/usr/bin/env bash
# The Windows half: installs the cross toolchain and Wine (scripts/windows-toolchain.sh),
# builds the .exe files (preset mingw, build/mingw) and runs their tests under Wine,
# against the Linux brin-cli and brin-server of LINUX_BUILD (default build/default,
# brought up to date; a build of its own in build/wine-linux when that is not configured).
#   scripts/windows-test.sh [LINUX_BUILD]
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/windows-toolchain.sh

linux=${1:-build/default}
if [ ! -f "$linux/CMakeCache.txt" ]; then
  linux=build/wine-linux
  cmake -S . -B "$linux" -DBRIN_BUILD_GUI=OFF -DBRIN_BUILD_BENCH=OFF -DBRIN_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$linux" -j2 --target brin-cli brin-server
linux=$(cd "$linux" && pwd)

# Wine's prefix is made once, before the tests that run in parallel need it, and
# one Wine server with its services stays up for the whole run.
tests/windows/wine.sh --keep-server
trap 'tests/windows/wine.sh --stop-server 2>/dev/null || true' EXIT

cmake --preset mingw -DBRIN_LINUX_BUILD_DIR="$linux" >/dev/null
cmake --build --preset mingw -j2
ctest --preset mingw
