#!/usr/bin/env bash
# Installs what is missing, then configures, builds and runs every test, in the
# default preset and under the sanitizers, then the Windows .exe files under Wine.
# `scripts/test.sh default` runs one preset (and no Windows step).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

presets=("$@")
[ ${#presets[@]} -eq 0 ] && presets=(default asan)
jobs=$(nproc 2>/dev/null || echo 2)

for preset in "${presets[@]}"; do
  echo "=== preset $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset"   # the preset carries the job count and the timeout
done

# Windows: the plain programs cross-built with MinGW-w64 and tested under Wine
# against the Linux ones; the script installs its toolchain first.
if [ $# -eq 0 ] && [ "${BRIN_NO_WINDOWS:-0}" != 1 ]; then
  echo "=== windows (mingw, under Wine) ==="
  scripts/windows-test.sh build/default
fi
