#!/usr/bin/env bash
# Installs what the Windows build needs, from Debian packages only: the MinGW-w64
# cross compiler, Wine to run the .exe files, and libcrypto for Windows, built
# from Debian's openssl source into a build-local prefix (default build/mingw-deps).
# A prefix that already holds the library is reused as it is.
set -euo pipefail
cd "$(dirname "$0")/.."

prefix=${BRIN_MINGW_DEPS:-$PWD/build/mingw-deps}
host=x86_64-w64-mingw32
jobs=$(nproc 2>/dev/null || echo 2)
[ "$jobs" -gt 2 ] && jobs=2
if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi

scripts/install-deps.sh g++-mingw-w64-x86-64-posix wine64 dpkg-dev perl make

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

# The source comes from the Debian archive this machine already installs from:
# its deb entries of this release, repeated as deb-src.
codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
if ! apt-cache showsrc openssl 2>/dev/null | grep -q '^Package: openssl'; then
  entries=$(
    for f in /etc/apt/sources.list.d/*.sources; do
      [ -f "$f" ] || continue
      awk -v rel="$codename" '
        function flush() {
          if (types ~ /(^| )deb( |$)/ && (" " suites " ") ~ (" " rel "[ -]")) {
            print "Types: deb-src"; print "URIs: " uris; print "Suites: " suites
            print "Components: " comps; if (key != "") print "Signed-By: " key; print ""
          }
          types = uris = suites = comps = key = ""
        }
        /^[ \t]*#/ { next }
        /^[ \t]*$/ { flush(); next }
        { field = tolower($1); sub(/^[^:]*:[ \t]*/, "") }
        field == "types:" { types = $0 } field == "uris:" { uris = $0 }
        field == "suites:" { suites = $0 } field == "components:" { comps = $0 }
        field == "signed-by:" { key = $0 }
        END { flush() }' "$f"
    done
  )
  lines=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
          awk -v rel="$codename" '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i ~ ("^" rel "(-|$)")) { $1 = "deb-src"; print; break } }' |
          sort -u || true)
  if [ -n "$entries" ]; then
    printf '%s\n' "$entries" | "${sudo[@]}" tee /etc/apt/sources.list.d/sorvel-deb-src.sources >/dev/null
  elif [ -n "$lines" ]; then
    printf '%s\n' "$lines" | "${sudo[@]}" tee /etc/apt/sources.list.d/sorvel-deb-src.list >/dev/null
  else
    echo "windows-toolchain: no deb entry for $codename to repeat as deb-src" >&2
    exit 1
  fi
  "${sudo[@]}" apt-get update -qq
fi

work="$prefix/src"
rm -rf "$work"
mkdir -p "$work"
# The newest source first; a suite whose sources the archive does not serve
# (security updates, on some mirrors) leaves the release's own.
(cd "$work" && { apt-get source -qq openssl >/dev/null 2>&1 ||
                 apt-get source -qq "openssl/$codename" >/dev/null; })
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
