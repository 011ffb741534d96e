#!/usr/bin/env bash
# Draws the program's emblem (a cloud of lobes holding a bracket pair) with ImageMagick and writes
# the title picture and the desktop icons from one large master, so they always match.
set -euo pipefail
cd "$(dirname "$0")/.."
master=$(mktemp --suffix=.png)
trap 'rm -f "$master"' EXIT

lobe() { # centre x, centre y, radius, colour
    printf " -fill '%s' -draw \"circle %d,%d %d,%d\"" "$4" "$1" "$2" "$1" $(($2 + $3))
}
draw="convert -size 740x740 xc:'#f6efe6'"
draw+=$(lobe 370 380 250 '#5b1a3f')
for circle in "250 250 130 #6d2350" "370 200 140 #7a1f3d" "500 250 130 #6d2350" \
            "200 390 120 #80284f" "540 390 120 #80284f" "270 520 125 #741d45" \
            "470 520 125 #741d45" "370 560 110 #5b1a3f"; do
    set -- $circle
    draw+=$(lobe "$1" "$2" "$3" "$4")
done
# The bracket pair around a short bar, "[-]", in the pale background colour and amber.
for box in "213,213 257,547" "213,213 320,257" "213,503 320,547" \
           "483,213 527,547" "420,213 527,257" "420,503 527,547"; do
    draw+=" -fill '#f6efe6' -draw \"rectangle $box\""
done
draw+=" -fill '#e0a458' -draw \"rectangle 330,365 410,395\""
eval "$draw" "$master"

convert "$master" -resize 185x185 -strip -quality 92 ui/resources/emblem.jpg
for size in 32 48 64 128 256; do
    convert "$master" -resize ${size}x${size} -strip data/icons/cerebrix-${size}.png
done
