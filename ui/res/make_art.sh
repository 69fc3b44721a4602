#!/usr/bin/env bash
# Draws the program's pictures with ImageMagick: icon 128 (the program), icon 135 (the main
# window's corner icon) and animation 130 (the progress window's looping clip). The results
# are committed; run this again only to change them.
set -euo pipefail
cd "$(dirname "$0")"
IM=/usr/bin/convert

# Icon 128: an archive box with a zipper under a magnifying glass.
icon128() {  # size output
  local s=$1 out=$2
  $IM -size 64x64 xc:none \
    -fill '#e8912d' -stroke '#8a4b0c' -strokewidth 2 -draw 'roundrectangle 6,10 50,58 6,6' \
    -fill '#f6c177' -stroke none -draw 'rectangle 8,12 48,20' \
    -fill '#5a3208' -draw 'rectangle 26,12 30,56' \
    -fill '#fff3d6' -draw 'rectangle 26,16 30,18' -draw 'rectangle 26,24 30,26' \
    -draw 'rectangle 26,32 30,34' -draw 'rectangle 26,40 30,42' \
    -fill '#bfe3ff' -stroke '#1d3f73' -strokewidth 4 -draw 'circle 42,30 42,44' \
    -stroke '#1d3f73' -strokewidth 6 -draw 'line 51,40 60,50' \
    -resize "${s}x${s}" "PNG32:$out"
}
icon128 64 icon128.png
for s in 16 32 48 128; do icon128 "$s" "icon128-$s.png"; done

# Icon 135: a globe, the remote side of the archive.
$IM -size 32x32 xc:none \
  -fill '#3b7dd8' -stroke '#173c74' -strokewidth 1.5 -draw 'circle 16,16 16,2' \
  -fill none -stroke '#d9ecff' -strokewidth 1.2 -draw 'ellipse 16,16 6,14 0,360' \
  -draw 'line 2.5,16 29.5,16' -draw 'line 16,2.5 16,29.5' \
  -draw 'ellipse 16,9 11,2 0,360' -draw 'ellipse 16,23 11,2 0,360' \
  PNG32:icon135.png

# Animation 130: a page travels from a globe to a folder, eight frames, looping.
frames=()
for i in 0 1 2 3 4 5 6 7; do
  x=$((52 + i * 24))
  f=$(mktemp --suffix=.png)
  $IM -size 272x40 xc:none \
    -fill '#3b7dd8' -stroke '#173c74' -draw 'circle 24,20 24,4' \
    -fill none -stroke '#d9ecff' -draw 'ellipse 24,20 7,16 0,360' -draw 'line 8,20 40,20' \
    -fill '#f2c14e' -stroke '#9a6b0a' -draw 'rectangle 228,12 262,34' -draw 'rectangle 228,8 242,12' \
    -fill white -stroke '#555555' -draw "rectangle $x,$((10 + (i % 2))) $((x + 14)),$((28 + (i % 2)))" \
    -stroke '#9a9a9a' -draw "line $((x + 3)),$((15 + (i % 2))) $((x + 11)),$((15 + (i % 2)))" \
    -draw "line $((x + 3)),$((19 + (i % 2))) $((x + 11)),$((19 + (i % 2)))" \
    -draw "line $((x + 3)),$((23 + (i % 2))) $((x + 11)),$((23 + (i % 2)))" \
    "$f"
  frames+=("$f")
done
$IM -dispose Background -delay 12 -loop 0 "${frames[@]}" -colors 32 anim130.gif
rm -f "${frames[@]}"
