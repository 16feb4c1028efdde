#!/usr/bin/env bash
# Builds the .deb packages of a build tree, unpacks each into a scratch root
# and checks them as a user's system would see them: the files in place,
# lintian, the desktop entry, the AppStream metadata, the service units, the
# manual pages and the shell completion.
#   check-packages.sh BUILD_DIR SCRATCH_DIR
set -uo pipefail

build=$(cd "$1" && pwd)
source=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$build/CMakeCache.txt")
mkdir -p "$2" && scratch=$(cd "$2" && pwd) || exit 1
. "$(dirname "${BASH_SOURCE[0]}")/../tests/support/test_lib.sh"
section() { echo "--- $*"; }

# The packages this build makes, and the tools that check them.
built=(brin-cli brin-server)
tools=(cpack dpkg-deb readelf lintian systemd-analyze man bash)
if grep -q '^BRIN_BUILD_GUI:BOOL=ON' "$build/CMakeCache.txt"; then
  built+=(brin2)
  tools+=(desktop-file-validate appstreamcli)
fi
for tool in "${tools[@]}"; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
done
[ -f /usr/share/bash-completion/bash_completion ] ||
  { echo "FAIL: bash-completion is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }

rm -rf "$scratch/debs" "$scratch/root"
mkdir -p "$scratch/debs" "$scratch/root"

section "cpack"
if ! (cd "$scratch" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/debs") >"$scratch/cpack.log" 2>&1; then
  cat "$scratch/cpack.log" >&2
  echo "FAIL: cpack" >&2
  exit 1
fi
shopt -s nullglob
debs=("$scratch"/debs/*.deb)
[ ${#debs[@]} -gt 0 ] || { echo "FAIL: cpack made no .deb" >&2; exit 1; }

# The packages this build must make, and the files each must hold.
declare -A expected
expected[brin-cli]="usr/bin/brin-cli
usr/share/man/man1/brin-cli.1.gz
usr/share/bash-completion/completions/brin-cli
usr/lib/systemd/user/brin-cli.service
usr/share/doc/brin-cli/copyright
usr/share/doc/brin-cli/changelog.gz
usr/share/doc/brin-cli/README.md.gz"
expected[brin-server]="usr/bin/brin-server
usr/share/man/man1/brin-server.1.gz
usr/share/bash-completion/completions/brin-server
usr/lib/systemd/system/brin-server.service
usr/share/doc/brin-server/copyright
usr/share/doc/brin-server/changelog.gz
usr/share/doc/brin-server/README.md.gz
usr/share/doc/brin-server/protocol.md.gz
usr/share/doc/brin-server/examples/accounts.ini"
expected[brin2]="usr/bin/brin2
usr/share/man/man1/brin2.1.gz
usr/share/bash-completion/completions/brin2
usr/share/applications/brin2.desktop
usr/share/brin2/ping.sh
usr/share/metainfo/net.sorvel.Brin2.metainfo.xml
usr/share/icons/hicolor/48x48/apps/net.sorvel.Brin2.png
usr/share/icons/hicolor/scalable/apps/net.sorvel.Brin2.svg
usr/share/doc/brin2/copyright
usr/share/doc/brin2/changelog.gz
usr/share/doc/brin2/README.md.gz
usr/share/brin2/ping.sh"

section "contents"
declare -A version
for package in "${built[@]}"; do
  deb=$(printf '%s\n' "${debs[@]}" | grep "/${package}_[^/]*\.deb$")
  if [ -z "$deb" ]; then
    check_failed "no package $package"
    continue
  fi
  root="$scratch/root/$package"
  dpkg-deb -x "$deb" "$root" || check_failed "dpkg-deb -x $deb"
  version[$package]=$(dpkg-deb -f "$deb" Version)
  while read -r file; do
    [ -e "$root/$file" ] || check_failed "$package lacks /$file"
  done <<<"${expected[$package]}"
  # Every library the program links comes from a package it depends on.
  depends=" $(dpkg-deb -f "$deb" Depends | sed 's/([^)]*)//g; s/[,|]/ /g') "
  for lib in $(readelf -d "$root/usr/bin/$package" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
    owners=$(dpkg -S "*/$lib" 2>/dev/null | sed 's/:.*//; s/,/ /g' | tr '\n' ' ')
    found=
    for owner in $owners; do
      [[ $depends == *" $owner "* ]] && found=1
    done
    [ -n "$found" ] || check_failed "$package links $lib (from: ${owners:-no package}) but depends on:$depends"
  done
  # The user's guide is the README of this tree, whole.
  zcat "$root/usr/share/doc/$package/README.md.gz" 2>/dev/null | cmp -s - "$source/README.md" ||
    check_failed "$package: /usr/share/doc/$package/README.md.gz is not the README"
  # The topmost changelog entry is the version being packaged.
  top=$(zcat "$root/usr/share/doc/$package/changelog.gz" | sed -n '1s/^[^ ]* (\([^)]*\)).*/\1/p')
  [ "$top" = "${version[$package]}" ] ||
    check_failed "$package: changelog starts at '$top', the package is ${version[$package]}"
  # The installed program runs and reports the packaged version.
  reported=$("$root/usr/bin/$package" --version)
  [ "$reported" = "$package ${version[$package]}" ] || check_failed "$package --version says '$reported'"
done

section "lintian"
# Errors fail the check; warnings are shown.
lintian --fail-on error --tag-display-limit 0 "${debs[@]}" || check_failed "lintian reports errors"

if [ -d "$scratch/root/brin2" ]; then
  section "desktop entry and AppStream metadata"
  desktop-file-validate "$scratch/root/brin2/usr/share/applications/brin2.desktop" || check_failed "desktop-file-validate"
  appstreamcli validate --no-net --explain "$scratch/root/brin2/usr/share/metainfo/net.sorvel.Brin2.metainfo.xml" ||
    check_failed "appstreamcli validate"
fi

section "units"
# Every package's manual pages, so that the units' Documentation= is checked too.
manpath=$(printf '%s:' "$scratch"/root/*/usr/share/man)
runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT
server_unit="$scratch/root/brin-server/usr/lib/systemd/system/brin-server.service"
cli_unit="$scratch/root/brin-cli/usr/lib/systemd/user/brin-cli.service"
# The units name /usr/bin, where the packages put the programs; verify checks
# that they are there, so it runs on copies that name the unpacked ones.
for unit in "$server_unit" "$cli_unit"; do
  package=$(basename "$unit" .service)
  sed "s|/usr/bin/|$scratch/root/$package/usr/bin/|" "$unit" >"$runtime/$package.service"
  grep -q "^ExecStart=/usr/bin/$package " "$unit" || check_failed "$package.service does not start /usr/bin/$package"
done
# verify only warns about an unknown key or a value it cannot parse, and
# exits 0: anything it says is a failure.
verify() { # UNIT [OPTION]
  local said
  said=$(MANPATH=$manpath XDG_RUNTIME_DIR=$runtime systemd-analyze ${2:-} verify "$1" 2>&1) && [ -z "$said" ] ||
    check_failed "systemd-analyze ${2:-} verify $(basename "$1"): $said"
}
verify "$runtime/brin-server.service"
# (The user manager wants a runtime directory of its own.)
verify "$runtime/brin-cli.service" --user
# The hardening, as systemd rates it: 0 is the most confined, 10 not at all
# (the threshold counts tenths).
systemd-analyze security --offline=true --threshold=20 --no-pager "$runtime/brin-server.service" >"$scratch/security.txt" ||
  { cat "$scratch/security.txt" >&2; check_failed "brin-server.service is exposed more than 2 of 10"; }
grep "Overall exposure" "$scratch/security.txt"
for setting in DynamicUser=yes NoNewPrivileges=yes ProtectSystem=strict PrivateTmp=yes ProtectHome=yes \
  "RestrictAddressFamilies=AF_INET AF_UNIX" "LoadCredential=accounts.ini:/etc/brin-server/accounts.ini"; do
  grep -qx "$setting" "$server_unit" || check_failed "brin-server.service lacks $setting"
done
for setting in "WorkingDirectory=%E/brin2" ConfigurationDirectory=brin2 KillSignal=SIGTERM Restart=on-failure; do
  grep -qx "$setting" "$cli_unit" || check_failed "brin-cli.service lacks $setting"
done
echo "(the units are verified, not started: starting them needs systemd as PID 1 and a user manager)"

# The server unit's command line, run as systemd would run it: the credential
# directory holds the example accounts file, and the server must take it.
section "brin-server as the unit starts it"
mkdir -p "$runtime/credentials"
cp "$scratch/root/brin-server/usr/share/doc/brin-server/examples/accounts.ini" "$runtime/credentials/"
command=$(sed -n 's/^ExecStart=//p' "$runtime/brin-server.service")
command=${command//%d/$runtime/credentials}
command=${command//\$\{BRIN_LISTEN\}/127.0.0.1:0}
$command 2>"$runtime/server.log" &
server=$!
for _ in $(seq 50); do
  grep -q "listening on" "$runtime/server.log" && break
  sleep 0.1
done
kill -TERM "$server" 2>/dev/null
wait "$server"
status=$?
if ! grep -q "listening on" "$runtime/server.log" || [ $status -ne 0 ]; then
  cat "$runtime/server.log" >&2
  check_failed "brin-server from the unit's command line: no 'listening on', or exit $status after SIGTERM"
fi

if [[ " ${built[*]} " == *" brin2 "* ]]; then
  section "brin2's first start in its directory"
  # As the menu entry starts it: the directory is made owner-only, the installed example
  # ping.sh is put there, the lock is held while it runs and gone after SIGTERM.
  home="$runtime/home"
  mkdir -p "$home"
  HOME="$home" XDG_CONFIG_HOME= QT_QPA_PLATFORM=offscreen \
    "$scratch/root/brin2/usr/bin/brin2" --user-dir >"$runtime/brin2.log" 2>&1 &
  client=$!
  dir="$home/.config/brin2"
  for _ in $(seq 100); do
    [ -f "$dir/brin.lock" ] && [ -f "$dir/brin.ini" ] && break
    sleep 0.1
  done
  [ "$(stat -c %a "$dir" 2>/dev/null)" = 700 ] || check_failed "brin2 --user-dir: $dir is not mode 700"
  [ -x "$dir/ping.sh" ] || check_failed "brin2 --user-dir: no example ping.sh in $dir"
  cmp -s "$dir/ping.sh" "$scratch/root/brin2/usr/share/brin2/ping.sh" ||
    check_failed "brin2 --user-dir: ping.sh is not the installed example"
  [ -f "$dir/brin.lock" ] || check_failed "brin2 --user-dir: no brin.lock while it runs"
  kill -TERM "$client" 2>/dev/null
  wait "$client"
  status=$?
  [ $status -eq 0 ] || { cat "$runtime/brin2.log" >&2; check_failed "brin2 exited $status after SIGTERM"; }
  [ ! -e "$dir/brin.lock" ] || check_failed "brin2 left brin.lock behind"
fi

section "manual pages"
# Each page renders without warnings and lists every option of --help.
for package in "${built[@]}"; do
  page="$scratch/root/$package/usr/share/man/man1/$package.1.gz"
  [ -f "$page" ] || continue
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >"$runtime/page.txt")
  [ -z "$warnings" ] || check_failed "$package.1: $warnings"
  for heading in NAME SYNOPSIS OPTIONS FILES "EXIT STATUS" "SEE ALSO"; do
    grep -q "^$heading" "$runtime/page.txt" || check_failed "$package.1 has no $heading section"
  done
  # Every exit code the program's --help names has its entry.
  codes=$("$scratch/root/$package/usr/bin/$package" --help | sed -n '/^exit codes:/,/^$/p' | grep -o '\b[0-9]\+ [a-z]' | cut -d' ' -f1)
  [ -n "$codes" ] || check_failed "$package --help names no exit codes"
  for code in $codes; do
    sed -n '/^EXIT STATUS/,/^[A-Z]/p' "$runtime/page.txt" | grep -qE "^ +$code( |$)" ||
      check_failed "$package.1: EXIT STATUS has no entry for $code"
  done
  # The guide it points at is the installed one, not a README beside the sources.
  guide=/usr/share/doc/$package/README.md.gz
  sed -n '/^SEE ALSO/,$p' "$runtime/page.txt" | grep -qF "$guide" || check_failed "$package.1 does not point at $guide"
  others=$(zcat "$page" | sed 's/\\%//g; s/\\-/-/g' | grep -o '[^ ]*README[^ ]*' | grep -vxF "$guide")
  [ -z "$others" ] || check_failed "$package.1 names a README other than the installed guide: $others"
  for option in $("$scratch/root/$package/usr/bin/$package" --help | grep -o '^ *--[a-z-]*'); do
    zcat "$page" | grep -qF "\\fB${option//-/\\-}\\fR" || check_failed "$package.1 lacks $option"
  done
done

section "bash completion"
# What bash-completion offers at the end of a command line, with the line
# split into words as bash splits it for completion ('=' is a word of its own).
cat >"$runtime/complete.bash" <<'EOF'
source /usr/share/bash-completion/bash_completion
source "$COMPLETION"
complete_line() {
  COMP_LINE=$1
  COMP_POINT=${#COMP_LINE}
  read -ra COMP_WORDS <<<"${COMP_LINE//=/ = }"
  [[ $COMP_LINE == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _brin_complete "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  [ ${#COMPREPLY[@]} -eq 0 ] || printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' '
}
EOF
expect_completion() { # LINE WANTED
  local package=${1%% *} got
  got=$(cd "$runtime" && PATH="$scratch/root/$package/usr/bin:$PATH" \
    COMPLETION="$scratch/root/$package/usr/share/bash-completion/completions/$package" \
    bash -c 'source ./complete.bash; complete_line "$1"' bash "$1")
  [ "$got" = "$2" ] || check_failed "completion of '$1' gave '$got', not '$2'"
}
expect_completion "brin-cli --p" "--password-stdin --polls --port "
expect_completion "brin-server --dr" "--drop-polls "
# A value that is not a file name has nothing to offer; a FILE completes
# file names, also after '='.
expect_completion "brin-cli --port " ""
expect_completion "brin-server --listen " ""
expect_completion "brin-server --accounts c" "complete.bash credentials "
expect_completion "brin-server --accounts=c" "complete.bash credentials "
# A DIR completes directories only.
expect_completion "brin-cli --dir c" "credentials "
if [[ " ${built[*]} " == *" brin2 "* ]]; then
  expect_completion "brin2 --a" "--autostart "
  expect_completion "brin2 --autostart " "off on "
  expect_completion "brin2 --dir c" "credentials "
fi

echo
if [ $failures -eq 0 ]; then
  echo "packages: ${built[*]}: all checks passed"
else
  echo "$failures check(s) failed" >&2
  exit 1
fi
