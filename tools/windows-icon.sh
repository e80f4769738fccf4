#!/bin/sh
# Draws app/share/tavrin-pellum.svg again with ImageMagick's own vector
# language (Debian's ImageMagick reads no SVG) and writes the Windows icon
# with the sizes the shell asks for. Run after changing the SVG.
set -e
cd "$(dirname "$0")/.."
mvg=$(mktemp --suffix=.mvg)
trap 'rm -f "$mvg"' EXIT
cat >"$mvg" <<'MVG'
viewbox 0 0 256 256
fill #3b4048 roundrectangle 16,16 239,239 44,44
fill #101215 roundrectangle 30,30 225,225 34,34
fill none stroke #3a3f47 stroke-width 10 circle 128,128 128,50
stroke #9aa3ad stroke-width 6 stroke-linecap round
line 128,56 128,70
line 200,128 186,128
line 128,200 128,186
line 56,128 70,128
stroke #e8ecef stroke-width 9
line 128,128 128,84
line 128,128 160,146
stroke none fill #e8ecef circle 128,128 128,137
fill #38e07a stroke #0a0b0d stroke-width 4 circle 196,60 196,80
stroke none fill-opacity 0.8 fill #b9f7d2 circle 190,54 190,61
MVG
convert -size 256x256 -background none "mvg:$mvg" -define icon:auto-resize=256,48,32,24,16 app/win/tavrin-pellum.ico
