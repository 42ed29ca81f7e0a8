#!/bin/sh
# Runs the corpus test: the program names the files (--corpus-commands), ImageMagick makes
# them and its own decode of each in a fresh folder here on the Linux side, then the
# program reads them through the module under Wine. Output goes through files, as in
# run-test.sh.
# Usage: run-corpus.sh WINE PROGRAM [ARGS...]
wine="$1"; prog="$2"; shift 2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
log="$dir/log"
if ! "$wine" "$prog" --corpus-commands >"$dir/make.sh" 2>"$log" </dev/null; then
  cat "$log"; exit 1
fi
if ! (cd "$dir" && sh ./make.sh) >"$log" 2>&1; then
  echo "making the corpus failed:"; cat "$log"; exit 1
fi
windows() { echo "Z:$1" | tr / '\\'; }
mkdir "$dir/appdata"
export Q32_CORPUS="$dir" Q32_INI="$(windows "$dir/suite.ini")" Q32_APPDATA="$(windows "$dir/appdata")\\"
export Q32COMM_MB_LOG="$(windows "$dir/boxes.log")"
"$wine" "$prog" "$@" >"$log" 2>&1 </dev/null
rc=$?
cat "$log"
exit $rc
