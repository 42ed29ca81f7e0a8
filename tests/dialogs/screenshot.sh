#!/usr/bin/env bash
# A screenshot of a file dialog that a test program shows: runs the one test (it creates
# the ready file once the dialog is up and keeps it until the done file exists), finds
# the window by its title with xdotool and grabs it with import.
# screenshot.sh EMULATOR TEST_EXE GTEST_FILTER TITLE OUTPUT_PNG
set -euo pipefail
emulator=$1 program=$2 filter=$3 title=$4 out=$5
mkdir -p "$(dirname "$out")"
ready=$(mktemp -u /tmp/q32ready.XXXXXX) done_file=$(mktemp -u /tmp/q32shot.XXXXXX)
trap 'touch "$done_file"; rm -f "$ready"' EXIT
Q32_SHOT_READY="Z:${ready//\//\\}" Q32_SHOT_FLAG="Z:${done_file//\//\\}" \
  "$emulator" "$program" --gtest_filter="$filter" </dev/null >/dev/null 2>&1 &
pid=$!
for i in $(seq 300); do [ -e "$ready" ] && break; sleep 0.1; done
[ -e "$ready" ] || { echo "the dialog did not come up"; exit 1; }
id=$(timeout 20 xdotool search --sync --onlyvisible --name "^$title\$" | tail -1)
sleep 1
import -window "$id" "$out"
size=$(identify -format '%w %h' "$out")
read -r width height <<< "$size"
touch "$done_file"
wait $pid
# A window of the wrong size is not the dialog: fail rather than keep a bad picture.
if [ "$width" -lt 400 ] || [ "$height" -lt 250 ]; then echo "unexpected window size $size"; exit 1; fi
echo "wrote $out"
