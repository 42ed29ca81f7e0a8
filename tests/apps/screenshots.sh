#!/usr/bin/env bash
# Screenshots of q32view with an image open: sample images made by mksamples, the viewer
# started on one under the test run's X server, its window found by title with xdotool
# and grabbed with import. screenshots.sh EMULATOR BIN_FOLDER OUTPUT_FOLDER
set -euo pipefail
emulator=$1 bin=$2 out=$3
work=$(mktemp -d /tmp/q32view.XXXXXX)
trap 'rm -rf "$work"' EXIT
win() { echo "Z:${1//\//\\}"; }
export Q32_INI="$(win "$work")\\quill32.ini" Q32_APPDATA="$(win "$work")\\"
"$emulator" "$bin/mksamples.exe" "$(win "$work/samples")" </dev/null >/dev/null 2>&1
mkdir -p "$out"
for shot in sunset.bmp:q32view-sunset rainbow.bmp:q32view-rainbow; do
  file=${shot%%:*} name=${shot#*:}
  "$emulator" "$bin/q32view.exe" "$(win "$work/samples/$file")" </dev/null >/dev/null 2>&1 &
  pid=$!
  id=$(timeout 20 xdotool search --sync --onlyvisible --name "^$file - BMP - " | tail -1)
  sleep 1
  import -window "$id" "$out/$name.png"
  size=$(identify -format '%w %h' "$out/$name.png")
  read -r width height <<< "$size"
  kill "$pid"; wait "$pid" 2>/dev/null || true
  if [ "$width" -lt 400 ] || [ "$height" -lt 300 ]; then echo "unexpected window size $size"; exit 1; fi
  echo "wrote $out/$name.png"
done
