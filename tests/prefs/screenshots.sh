#!/usr/bin/env bash
# Screenshots of the preference dialogs, one a page: runs the shots program under the test
# run's X server, finds the window with xdotool and grabs it with import.
# screenshots.sh EMULATOR SHOTS_EXE OUTPUT_FOLDER
set -euo pipefail
emulator=$1 shots=$2 out=$3
mkdir -p "$out"
for shot in 0:prefs-memory 1:prefs-display info0:sysinfo-system info1:sysinfo-drives \
            tree1:prefs-tree-memory tree2:prefs-tree-display tree3:prefs-tree-files; do
  tab=${shot%%:*} name=${shot#*:}
  done_file=$(mktemp -u /tmp/q32shot.XXXXXX) ready_file=$(mktemp -u /tmp/q32ready.XXXXXX)
  "$emulator" "$shots" "$tab" "Z:${ready_file//\//\\}" "Z:${done_file//\//\\}" </dev/null >/dev/null 2>&1 &
  pid=$!
  # The dialog opens twice: the program says when the second one is up.
  for i in $(seq 200); do [ -e "$ready_file" ] && break; sleep 0.1; done
  id=$(timeout 20 xdotool search --sync --onlyvisible --name '^(Preferences|System Information)$' | tail -1)
  sleep 1
  import -window "$id" "$out/$name.png"
  # A window of the wrong size is not the dialog: fail rather than keep a bad picture.
  size=$(identify -format '%w %h' "$out/$name.png")
  read -r width height <<< "$size"
  if [ "$width" -lt 400 ] || [ "$height" -lt 300 ]; then echo "unexpected window size $size"; exit 1; fi
  touch "$done_file"
  wait $pid
  rm -f "$done_file" "$ready_file"
  echo "wrote $out/$name.png"
done
