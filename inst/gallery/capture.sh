#!/bin/sh
# Screenshots of the gallery on a virtual X screen, one per theme.
# Usage: capture.sh <inst-gallery binary> <output dir>
set -eu
gallery=$1
out=$2
mkdir -p "$out"
for theme in light dark; do
    xvfb-run -a -s '-screen 0 1600x1000x24' sh -c '
        "$1" --theme "$2" > "$3/size.txt" 2>/dev/null &
        pid=$!
        i=0
        while [ ! -s "$3/size.txt" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
        sleep 1
        size=$(cat "$3/size.txt")
        import -window root -crop "${size}+0+0" +repage "$3/inst-gallery-$2.png"
        kill $pid
    ' sh "$gallery" "$theme" "$out"
done
rm -f "$out/size.txt"
