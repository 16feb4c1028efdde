#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (or those named); nothing when all are there.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  libssl-dev openssl
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools
  # lupdate and lrelease: the window's English translation is compiled at build time
  qt6-l10n-tools
  xvfb xauth xdotool trayer x11-utils imagemagick fonts-dejavu-core
  # the .deb packages and the validators of the packaging check
  help2man dpkg-dev file lintian man-db bash-completion systemd desktop-file-utils appstream
  # a clock that runs fast, for the usage.csv forecast test
  faketime
  # a notification service on its own session bus, for the low-balance notification test
  dunst dbus-daemon
)
if [ "${BRIN_NO_GUI:-0}" = 1 ]; then
  packages=(cmake g++ make pkg-config libssl-dev openssl libgtest-dev libgmock-dev googletest libbenchmark-dev
    help2man dpkg-dev file lintian man-db bash-completion systemd faketime)
fi
# Named packages instead of the list: the optional toolchains' scripts use the same install.
if [ $# -gt 0 ]; then
  packages=("$@")
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}" >&2
if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
