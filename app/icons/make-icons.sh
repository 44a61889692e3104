#!/usr/bin/env bash
# Draws the program icon MAINICON at each of its sizes from one vector
# drawing, so that small sizes are rendered crisply instead of scaled down.
# The PNGs are committed; run this only after changing the drawing.
# Needs ImageMagick.
set -euo pipefail
cd "$(dirname "$0")"

design=256
sizes=(16 24 32 48 64 72 96 128 256)

# Two devices linked through a third: a "V" of three nodes on a blue tile.
drawing="
  fill '#1d5c8c' stroke '#0f3b5e' stroke-width 8
  roundrectangle 8,8 247,247 44,44
  fill none stroke white stroke-width 20 stroke-linecap round
  line 70,78 128,190
  line 186,78 128,190
  stroke none fill white
  circle 70,78 70,104
  circle 186,78 186,104
  circle 128,190 128,218
  fill '#f0a030'
  circle 128,190 128,204
"

for size in "${sizes[@]}"; do
    scale=$(awk -v s="$size" -v d="$design" 'BEGIN { printf "%.6f", s / d }')
    convert -size "${size}x${size}" xc:none \
        -draw "push graphic-context scale ${scale},${scale} ${drawing} pop graphic-context" \
        -define png:color-type=6 "PNG32:mainicon-${size}.png"
done
