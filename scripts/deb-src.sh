#!/usr/bin/env bash
# Fetches and unpacks Debian source packages into a folder, from the archive this
# machine already installs from. When apt knows no sources, the release's deb
# entries are repeated as deb-src in one file of the project's own
# (/etc/apt/sources.list.d/brin-deb-src.sources), used for this fetch and removed
# afterwards, so apt's configuration is left as it was found.
#   scripts/deb-src.sh DIR PACKAGE...
set -euo pipefail
dir=$1; shift
if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
entry=/etc/apt/sources.list.d/brin-deb-src.sources
codename=$(. /etc/os-release && echo "$VERSION_CODENAME")

# Two builds fetching at once must not add and remove the entry under each other.
exec 8>"${TMPDIR:-/tmp}/brin-deb-src.lock"
flock 8

added=0
cleanup() {
  if [ "$added" = 1 ]; then "${sudo[@]}" rm -f "$entry"; fi
  return 0
}
trap cleanup EXIT

# An entry an interrupted run left behind, or one an earlier version of this
# script kept for good (sorvel-deb-src.*), goes first: it is never repeated.
for old in "$entry" "${entry%.sources}.list" /etc/apt/sources.list.d/sorvel-deb-src.sources \
           /etc/apt/sources.list.d/sorvel-deb-src.list; do
  if [ -e "$old" ]; then "${sudo[@]}" rm -f "$old"; fi
done
if ! apt-cache showsrc "$1" 2>/dev/null | grep -q "^Package: $1\$"; then
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
  # A machine with only one-line entries gets one-line deb-src entries.
  if [ -z "$entries" ]; then
    entry=${entry%.sources}.list
    entries=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
              awk -v rel="$codename" '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i ~ ("^" rel "(-|$)")) { $1 = "deb-src"; print; break } }' |
              sort -u || true)
  fi
  if [ -z "$entries" ]; then
    echo "deb-src: no deb entry for $codename to repeat as deb-src" >&2
    exit 1
  fi
  echo "deb-src: adding $entry for this fetch (removed afterwards)" >&2
  added=1
  printf '%s\n' "$entries" | "${sudo[@]}" tee "$entry" >/dev/null
  "${sudo[@]}" apt-get update -qq
fi

mkdir -p "$dir"
# As root, apt's download user could not write into the folder, and would say so.
sandbox=()
if [ "$(id -u)" -eq 0 ]; then sandbox=(-o APT::Sandbox::User=root); fi
for p in "$@"; do
  # The newest source first; a suite whose sources the archive does not serve
  # (security updates, on some mirrors) leaves the release's own.
  (cd "$dir" && { apt-get source -qq "${sandbox[@]}" "$p" >/dev/null 2>&1 ||
                  apt-get source -qq "${sandbox[@]}" "$p/$codename" >/dev/null; })
done
