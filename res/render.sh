#!/bin/sh
# Renders the drawings in res/src/ into the PNG and ICO files the build embeds (needs rsvg-convert and ImageMagick).
set -eu
cd "$(dirname "$0")"

# ImageMagick 7 calls itself magick; version 6 convert. Anything else named convert is skipped.
IM=""
for c in magick convert-im6.q16 convert; do
    if command -v "$c" >/dev/null 2>&1 && "$c" -version 2>/dev/null | grep -q ImageMagick; then
        IM=$c
        break
    fi
done
[ -n "$IM" ] || { echo "render.sh: ImageMagick not found" >&2; exit 1; }

mkdir -p png
for id in 129 130 133; do
    for size in 16 32 48 64 128 256; do
        rsvg-convert -w "$size" -h "$size" "src/icon$id.svg" -o "png/icon${id}_$size.png"
    done
done
rsvg-convert -w 220 -h 56 src/logo139.svg -o png/logo139.png
rsvg-convert -w 440 -h 112 src/logo139.svg -o png/logo139@2x.png

# The program icon of a Windows build: the sun, every size in one file.
"$IM" png/icon133_16.png png/icon133_32.png png/icon133_48.png png/icon133_64.png \
      png/icon133_128.png png/icon133_256.png brin.ico
