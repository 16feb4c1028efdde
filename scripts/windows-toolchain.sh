#!/usr/bin/env bash
# Installs what the Windows build needs, from Debian packages only: the MinGW-w64
# cross compiler, Wine and an X server with a notification area to run the .exe
# files, NSIS and zip for the installer and the archive; libcrypto for Windows,
# built from Debian's openssl source into a build-local prefix (default
# build/mingw-deps), and Qt for Windows (scripts/windows-qt.sh, in the user's
# cache), whose place it records in that prefix for the mingw preset.
# What is built already is reused as it is.
set -euo pipefail
cd "$(dirname "$0")/.."

prefix=${BRIN_MINGW_DEPS:-$PWD/build/mingw-deps}
host=x86_64-w64-mingw32
jobs=$(nproc 2>/dev/null || echo 2)
[ "$jobs" -gt 2 ] && jobs=2
if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi

scripts/install-deps.sh g++-mingw-w64-x86-64-posix wine64 dpkg-dev perl make cmake ninja-build \
  nsis zip unzip xvfb xauth xdotool trayer x11-utils imagemagick qt6-base-dev-tools

# Qt first: with a cold cache it is the long step, and says so.
mkdir -p "$prefix"
qt=$(scripts/windows-qt.sh | tail -n 1)  # its last line is the prefix
printf '%s\n' "$qt" > "$prefix/qt6-prefix"

# What the build below makes; a change here rebuilds the prefix.
# Only DES and the big numbers are called; the random generator behind
# BN_priv_rand needs AES (its CTR generator) and SHA (its seeding), so those stay.
options=(
  no-shared no-tests no-asm no-module no-autoload-config no-engine no-dso
  no-ui-console no-async no-comp no-dgram no-sock no-ocsp no-ct no-cms no-cmp no-ts
  no-srp no-rfc3779 no-psk no-sctp no-legacy no-capieng no-padlockeng no-loadereng no-uplink
  no-dh no-dsa no-ec no-ec2m no-sm2
  no-aria no-bf no-blake2 no-camellia no-cast no-chacha no-poly1305 no-idea no-md4 no-mdc2
  no-rc2 no-rc4 no-rc5 no-rmd160 no-seed no-siphash no-siv no-sm3 no-sm4 no-whirlpool
  no-scrypt no-ocb no-cmac no-gost
)
stamp="$prefix/openssl-build-options"
if [ -f "$prefix/lib/libcrypto.a" ] && [ -f "$prefix/include/openssl/des.h" ] &&
   [ "$(cat "$stamp" 2>/dev/null)" = "${options[*]}" ]; then
  exit 0
fi

work="$prefix/src"
rm -rf "$work"
scripts/deb-src.sh "$work" openssl
src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'openssl-*' | head -n 1)
[ -n "$src" ] || { echo "windows-toolchain: apt-get source openssl unpacked nothing" >&2; exit 1; }

echo "building libcrypto for $host (${options[*]})" >&2
(
  cd "$src"
  ./Configure mingw64 "${options[@]}" --prefix="$prefix" --libdir=lib \
    CC="$host-gcc-posix" AR="$host-ar" RANLIB="$host-ranlib" RC="$host-windres" >/dev/null
  make -j"$jobs" build_generated >/dev/null
  make -j"$jobs" libcrypto.a >/dev/null
)
rm -rf "$prefix/include/openssl" "$prefix/lib"
mkdir -p "$prefix/include" "$prefix/lib"
cp -r "$src/include/openssl" "$prefix/include/"
cp "$src/libcrypto.a" "$prefix/lib/"
printf '%s\n' "${options[*]}" > "$stamp"
rm -rf "$work"
