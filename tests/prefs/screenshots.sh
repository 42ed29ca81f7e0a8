#!/usr/bin/env bash
# Screenshots of dialogs, one a run of the shots program under the test run's X server:
# finds the window by its title with xdotool and grabs it with import.
# screenshots.sh EMULATOR SHOTS_EXE OUTPUT_FOLDER [ARG:NAME:TITLE...]
# Each shot runs SHOTS_EXE ARG and writes NAME.png of the window titled TITLE (a regular
# expression); without shots, the preference and system information dialogs.
set -euo pipefail
emulator=$1 shots=$2 out=$3
shift 3
if [ $# -eq 0 ]; then
  set -- "0:prefs-memory:Preferences" "1:prefs-display:Preferences" \
         "info0:sysinfo-system:System Information" "info1:sysinfo-drives:System Information" \
         "tree1:prefs-tree-memory:Preferences" "tree2:prefs-tree-display:Preferences" \
         "tree3:prefs-tree-files:Preferences"
fi
mkdir -p "$out"
for shot in "$@"; do
  IFS=: read -r arg name title <<< "$shot"
  done_file=$(mktemp -u /tmp/q32shot.XXXXXX) ready_file=$(mktemp -u /tmp/q32ready.XXXXXX)
  "$emulator" "$shots" "$arg" "Z:${ready_file//\//\\}" "Z:${done_file//\//\\}" </dev/null >/dev/null 2>&1 &
  pid=$!
  # The program says when its dialog is up (it may open others on the way).
  for i in $(seq 200); do [ -e "$ready_file" ] && break; sleep 0.1; done
  id=$(timeout 20 xdotool search --sync --onlyvisible --name "^$title\$" | tail -1)
  sleep 1
  import -window "$id" "$out/$name.png"
  # A window far too small is not the dialog: fail rather than keep a bad picture.
  read -r width height <<< "$(identify -format '%w %h' "$out/$name.png")"
  if [ "$width" -lt 300 ] || [ "$height" -lt 100 ]; then echo "unexpected window size $width x $height"; exit 1; fi
  touch "$done_file"
  wait $pid
  rm -f "$done_file" "$ready_file"
  echo "wrote $out/$name.png"
done
