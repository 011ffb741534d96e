#!/usr/bin/env bash
# Draws the program's emblem (a cloud of lobes holding a bracket pair) as SVG and, with
# ImageMagick, writes the title picture and the desktop icons at every size desktops ask for,
# all from one list of shapes, so they always match.
set -euo pipefail
cd "$(dirname "$0")/.."
master=$(mktemp --suffix=.png)
trap 'rm -f "$master"' EXIT

background='#f6efe6'
# Lobes: centre x, centre y, radius, colour.
circles=("370 380 250 #5b1a3f" "250 250 130 #6d2350" "370 200 140 #7a1f3d"
    "500 250 130 #6d2350" "200 390 120 #80284f" "540 390 120 #80284f"
    "270 520 125 #741d45" "470 520 125 #741d45" "370 560 110 #5b1a3f")
# The bracket pair around a short bar, "[-]", in the background colour and amber:
# left, top, right, bottom, colour.
rectangles=("213 213 257 547 $background" "213 213 320 257 $background"
    "213 503 320 547 $background" "483 213 527 547 $background"
    "420 213 527 257 $background" "420 503 527 547 $background" "330 365 410 395 #e0a458")

draw="convert -size 740x740 xc:'$background'"
svg="<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"740\" height=\"740\" viewBox=\"0 0 740 740\">
<rect width=\"740\" height=\"740\" fill=\"$background\"/>"
for circle in "${circles[@]}"; do
    set -- $circle
    draw+=" -fill '$4' -draw \"circle $1,$2 $1,$(($2 + $3))\""
    svg+="
<circle cx=\"$1\" cy=\"$2\" r=\"$3\" fill=\"$4\"/>"
done
for rectangle in "${rectangles[@]}"; do
    set -- $rectangle
    # ImageMagick's rectangles include their last row and column.
    draw+=" -fill '$5' -draw \"rectangle $1,$2 $3,$4\""
    svg+="
<rect x=\"$1\" y=\"$2\" width=\"$(($3 - $1 + 1))\" height=\"$(($4 - $2 + 1))\" fill=\"$5\"/>"
done
eval "$draw" "$master"
printf '%s\n</svg>\n' "$svg" >data/icons/cerebrix.svg

convert "$master" -resize 185x185 -strip -quality 92 ui/resources/emblem.jpg
for size in 16 22 24 32 48 64 128 256 512; do
    convert "$master" -resize ${size}x${size} -strip data/icons/cerebrix-${size}.png
done
