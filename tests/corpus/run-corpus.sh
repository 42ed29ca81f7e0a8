#!/bin/sh
# run-corpus.sh WINE PROGRAM [ARGS...]: ImageMagick makes the files the program names
# (--corpus-commands) in a fresh folder, then the program reads them under Wine. Output
# goes through files, as in run-test.sh.
wine="$1"; prog="$2"; shift 2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "$1"; cat "$dir/log"; exit 1; }
"$wine" "$prog" --corpus-commands >"$dir/make.sh" 2>"$dir/log" </dev/null || fail "no commands:"
(cd "$dir" && sh ./make.sh) >"$dir/log" 2>&1 || fail "ImageMagick failed:"
win() { echo "Z:$1" | tr / '\\'; }
mkdir "$dir/appdata"
export Q32_CORPUS="$dir" Q32_INI="$(win "$dir/suite.ini")" Q32_APPDATA="$(win "$dir/appdata")\\"
export Q32COMM_MB_LOG="$(win "$dir/boxes.log")"
"$wine" "$prog" "$@" >"$dir/log" 2>&1 </dev/null
rc=$?
cat "$dir/log"
exit $rc
