#!/usr/bin/env bash
# Screenshots of the open dialog, its palette pick and the thumbnail chooser: runs one
# test of the open dialog's test program at a time with Q32_SHOT_FLAG set, waits until the
# test says its window is ready, grabs the window (found by title with xdotool) with
# import, then lets the test go on.
# screenshots.sh EMULATOR TEST_EXE OUTPUT_FOLDER
set -euo pipefail
emulator=$1 tests=$2 out=$3
mkdir -p "$out"
for shot in "OpenDialog.PanelControlsDoNotOverlap|Open a picture|open-dialog" \
            "OpenDialog.PalettePickShowsTheColoursAsAGrid|Choose a Palette|palette-pick" \
            "VisualOpen.ThumbnailChooserListsTheFolderImages|Choose a picture|visual-open"; do
  IFS='|' read -r filter title name <<< "$shot"
  flag=$(mktemp -u /tmp/q32shot.XXXXXX)
  log=$(mktemp)
  Q32_SHOT_FLAG="Z:${flag//\//\\}" "$emulator" "$tests" "--gtest_filter=$filter" </dev/null >"$log" 2>&1 &
  pid=$!
  for i in $(seq 300); do [ -e "$flag.ready" ] && break; sleep 0.1; done
  if [ ! -e "$flag.ready" ]; then cat "$log"; echo "$name: the window never got ready"; touch "$flag"; wait $pid || true; exit 1; fi
  id=$(timeout 20 xdotool search --onlyvisible --name "^$title\$" | tail -1)
  sleep 0.5
  import -window "$id" "$out/$name.png"
  touch "$flag"
  status=0; wait $pid || status=$?
  rm -f "$flag" "$flag.ready"
  if [ $status -ne 0 ]; then cat "$log"; rm -f "$log"; echo "$name: the test failed"; exit 1; fi
  rm -f "$log"
  # A window of the wrong size is not the dialog: fail rather than keep a bad picture.
  read -r width height <<< "$(identify -format '%w %h' "$out/$name.png")"
  if [ "$width" -lt 300 ] || [ "$height" -lt 200 ]; then echo "$name: unexpected window size ${width}x$height"; exit 1; fi
  echo "wrote $out/$name.png"
done
