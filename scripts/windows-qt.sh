#!/usr/bin/env bash
# Builds Qt for 64-bit Windows (static, Release, MinGW-w64) from Debian's qt6-base
# source, the same version as the host's Qt tools, which it uses as QT_HOST_PATH.
# Only what brin2.exe needs: Core, Gui, Widgets, Network (the local socket of the
# single-instance handover), the windows platform plugin and the windowsvista style.
#
# The result lives outside the checkout, in
#   ${XDG_CACHE_HOME:-~/.cache}/brin/qt6-mingw-<version>-<key>
# where <key> is a hash of everything below that shapes it (flags, toolchain,
# patches), so a later run, CI included, reuses it, and a change builds it anew.
# Prints the prefix on standard output. A cold build takes 20 to 35 minutes of
# two cores; the 2.6 GB build folder is removed once the prefix is installed.
#   scripts/windows-qt.sh [--print-prefix]   (--print-prefix: no build, the path only)
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

host=x86_64-w64-mingw32
jobs=$(nproc 2>/dev/null || echo 2)
[ "$jobs" -gt 2 ] && jobs=2
version=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools 2>/dev/null || true)
if [ -z "$version" ]; then
  scripts/install-deps.sh qt6-base-dev-tools
  version=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools)
fi
upstream=${version#*:}; upstream=${upstream%%[+-]*}

toolchain="set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER $host-gcc-posix)
set(CMAKE_CXX_COMPILER $host-g++-posix)
set(CMAKE_RC_COMPILER $host-windres)
set(CMAKE_FIND_ROOT_PATH /usr/$host)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
"
flags=(
  -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF
  -DFEATURE_pkg_config=OFF
  -DFEATURE_system_zlib=OFF -DFEATURE_system_png=OFF -DFEATURE_system_freetype=OFF
  -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_doubleconversion=OFF
  -DFEATURE_icu=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_testlib=OFF
  -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF
  -DFEATURE_vulkan=OFF -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF
  # Without Direct2D, Gui has no DirectWrite font database, which the windows
  # plugin would still name: both off (the plugin uses GDI's fonts).
  -DFEATURE_direct2d=OFF -DFEATURE_directwrite3=OFF
  # FEATURE_opengl=OFF alone leaves dynamicgl on, which the windows plugin
  # cannot build without OpenGL; the input turns both off.
  -DINPUT_opengl=no
  # No TLS: turning off ssl leaves the Schannel backend on.
  -DFEATURE_ssl=OFF -DFEATURE_schannel=OFF
  # Tablets need <wintab.h>, which Debian's source does not ship.
  -DFEATURE_tabletevent=OFF
)
patches=(packaging/windows/qt-*.patch)
[ -e "${patches[0]}" ] || patches=()

key=$( { printf '%s\n' "$version" "$toolchain" "${flags[@]}"; for p in "${patches[@]}"; do cat "$p"; done; } |
       sha256sum | cut -c1-12)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/brin
prefix=$cache/qt6-mingw-$upstream-$key
if [ "${1:-}" = --print-prefix ]; then
  echo "$prefix"
  exit 0
fi
if [ -f "$prefix/.brin-qt-complete" ]; then
  echo "$prefix"
  exit 0
fi
# One build of a key at a time: a second run (another checkout's tests) waits for it.
mkdir -p "$cache"
exec 9>"$prefix.lock"
if ! flock -n 9; then
  echo "windows-qt: waiting for another build of $prefix" >&2
  flock 9
fi
if [ -f "$prefix/.brin-qt-complete" ]; then
  echo "$prefix"
  exit 0
fi

scripts/install-deps.sh g++-mingw-w64-x86-64-posix cmake ninja-build dpkg-dev qt6-base-dev-tools

echo "windows-qt: building Qt $upstream for $host into $prefix (20 to 35 minutes on two cores; once, then cached)" >&2
work=$prefix.build
rm -rf "$work" "$prefix"
mkdir -p "$work"
started=$(date +%s)
scripts/deb-src.sh "$work/src" qt6-base
src=$(find "$work/src" -mindepth 1 -maxdepth 1 -type d -name 'qt6-base-*' | head -n 1)
[ -n "$src" ] || { echo "windows-qt: apt-get source qt6-base unpacked nothing" >&2; exit 1; }
for p in "${patches[@]}"; do
  patch -d "$src" -p1 --forward --quiet < "$p"
done
# The toolchain file is kept beside the prefix: Qt's own toolchain file names it.
mkdir -p "$prefix"
printf '%s' "$toolchain" > "$prefix/mingw-w64.cmake"

cmake -G Ninja -S "$src" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$prefix/mingw-w64.cmake" \
  -DCMAKE_INSTALL_PREFIX="$prefix" "${flags[@]}" > "$work/configure.log" 2>&1 ||
  { tail -n 40 "$work/configure.log" >&2; echo "windows-qt: configure failed, log in $work/configure.log" >&2; exit 1; }
echo "windows-qt: configured in $(( $(date +%s) - started )) s; building" >&2
ninja -C "$work/build" -j"$jobs" > "$work/build.log" 2>&1 ||
  { grep -B2 -A20 -m3 'FAILED:' "$work/build.log" >&2 || tail -n 40 "$work/build.log" >&2
    echo "windows-qt: build failed, log in $work/build.log" >&2; exit 1; }
cmake --install "$work/build" > "$work/install.log" 2>&1 ||
  { tail -n 20 "$work/install.log" >&2; exit 1; }
touch "$prefix/.brin-qt-complete"
echo "windows-qt: Qt built in $(( $(date +%s) - started )) s, $(du -sh "$prefix" | cut -f1) installed" >&2
rm -rf "$work"
echo "$prefix"
