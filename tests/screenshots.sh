#!/usr/bin/env bash
# The documentation's pictures, taken under the current X server and wineserver (run it
# through scripts/screenshots, or CTest's entry "screenshots" that writes them into the
# build folder). One protocol for every picture: the program is given two file names,
# Q32_SHOT_READY and Q32_SHOT_DONE; it creates the first once its window shows what is
# to be captured and holds it until the second exists. The window is found by its title
# and grabbed; a window far too small is not the one wanted. Any failure ends the program
# under capture and the script with a non-zero status.
# screenshots.sh EMULATOR BUILD_FOLDER OUTPUT_FOLDER
set -euo pipefail
emulator=$1 build=$2 out=$3
mkdir -p "$out"
work=$(mktemp -d /tmp/q32shots.XXXXXX)
pid=""
trap 'touch "$work/done"; [ -z "$pid" ] || kill "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT
win() { echo "Z:${1//\//\\}"; }
export Q32_SHOT_READY="$(win "$work/ready")" Q32_SHOT_DONE="$(win "$work/done")"

shot() { # NAME TITLE MIN_WIDTH MIN_HEIGHT PROGRAM ARGS...
  local name=$1 title=$2 minw=$3 minh=$4 status=0 id width height
  shift 4
  rm -f "$work/ready" "$work/done"
  timeout -k 10 120 "$emulator" "$@" </dev/null >"$work/log" 2>&1 &
  pid=$!
  while [ ! -e "$work/ready" ]; do
    kill -0 "$pid" 2>/dev/null || { cat "$work/log"; echo "$name: the program ended before its window was ready"; exit 1; }
    sleep 0.1
  done
  id=$(timeout 30 xdotool search --sync --onlyvisible --name "^$title" | tail -1) || true
  [ -n "$id" ] || { echo "$name: no visible window titled $title"; exit 1; }
  import -window "$id" "$out/$name.png"
  read -r width height <<< "$(identify -format '%w %h' "$out/$name.png")"
  touch "$work/done"
  wait "$pid" || status=$?
  pid=""
  if [ $status -ne 0 ]; then cat "$work/log"; echo "$name: the program failed (exit $status)"; exit 1; fi
  if [ "$width" -lt "$minw" ] || [ "$height" -lt "$minh" ]; then
    echo "$name: unexpected window size ${width}x$height"; exit 1
  fi
  echo "wrote $out/$name.png"
}

tests="$build/tests"
# The suite ini file of the association pictures: user extension lists to show.
printf '[FIO_EXT]\r\nJPG_USER=JFIF;JPX;\r\nPNG_USER=APNG;\r\n' > "$work/suite.ini"
export Q32_INI="$(win "$work")\\suite.ini" Q32CFG_NAME="Image Editor"
for s in 0:prefs-memory:Preferences 1:prefs-display:Preferences \
         info0:sysinfo-system:"System Information" info1:sysinfo-drives:"System Information" \
         tree1:prefs-tree-memory:Preferences tree2:prefs-tree-display:Preferences \
         tree3:prefs-tree-files:Preferences page:assoc-page:Preferences \
         list:assoc-extensions:"File Extensions" entry:assoc-entry:"Edit Extension"; do
  IFS=: read -r arg name title <<< "$s"
  shot "$name" "$title\$" 300 100 "$tests/prefshots.exe" "$arg"
done
for s in "OpenDialog.PanelDescribesTheSelectionAndOkGivesTheFullName|Open a picture|open-dialog" \
         "OpenDialog.PalettePickShowsTheColoursAsAGrid|Choose a Palette|palette-pick" \
         "VisualOpen.ThumbnailChooserListsTheFolderImages|Choose a picture|visual-open"; do
  IFS='|' read -r filter title name <<< "$s"
  shot "$name" "$title\$" 300 200 "$tests/test_opendlg.exe" "--gtest_filter=$filter"
done
shot save-dialog "Save a picture\$" 400 250 "$tests/test_savedlg.exe" \
     --gtest_filter=SaveDialog.ListsTheFormatsThatStoreTheImageFromItsOwn
# The viewer on two of the samples that mksamples draws.
export Q32_INI="$(win "$work")\\quill32.ini" Q32_APPDATA="$(win "$work")\\"
timeout 120 "$emulator" "$build/bin/mksamples.exe" "$(win "$work/samples")" </dev/null >/dev/null 2>&1
for s in sunset.bmp:q32view-sunset rainbow.bmp:q32view-rainbow; do
  file=${s%%:*} name=${s#*:}
  shot "$name" "$file - BMP - " 400 300 "$tests/viewshots.exe" "$(win "$work/samples/$file")"
done
