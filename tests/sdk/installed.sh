#!/usr/bin/env bash
# The kit as a third party gets it: cmake --install the build into a fresh folder, copy
# the sample plug-in and the client out of the source tree, build both against the
# installed tree alone, put the plug-in into its FIO\ folder and run the client there.
# installed.sh EMULATOR BUILD_FOLDER CLIENT_SOURCE SAMPLE_SOURCE TOOLCHAIN_FILE
set -euo pipefail
emulator=$1 build=$2 client=$3 sample=$4 toolchain=$5
work=$(mktemp -d /tmp/q32sdk.XXXXXX)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/q32file" >/dev/null
rm "$work/q32file/bin/FIO/pnm.fio"          # the one built below takes its place
cp -r "$sample" "$work/sample"
cp -r "$client" "$work/client"
cp "$toolchain" "$work/toolchain.cmake"
for project in sample client; do
  cmake -S "$work/$project" -B "$work/build-$project" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" -DCMAKE_PREFIX_PATH="$work/q32file" >/dev/null
  cmake --build "$work/build-$project" >/dev/null
done
# Nothing built may name the source or build tree of the project.
if grep -rlF -e "$(dirname "$sample")" -e "$build" "$work/build-sample" "$work/build-client" \
     --include='*.ninja' --include='*.cmake' --include='*.txt'; then
  echo "a path into the project's trees"; exit 1
fi
cp "$work/build-sample/pnm.fio" "$work/q32file/bin/FIO/"
win() { echo "Z:${1//\//\\}"; }
printf 'P6\n2 2\n255\n\1\2\3\4\5\6\7\10\11\12\13\14' > "$work/in.ppm"
export WINEPATH="$(win "$work/q32file/bin")"
export Q32_INI="$(win "$work")\\quill32.ini" Q32_APPDATA="$(win "$work")\\"
# Through a file: services that Wine starts would hold a pipe open.
"$emulator" "$work/build-client/client.exe" "$(win "$work/in.ppm")" "$(win "$work/out.ppm")" \
  >"$work/client.log" 2>&1 </dev/null || { cat "$work/client.log"; exit 1; }
output=$(cat "$work/client.log")
echo "$output"
grep -q 'PNM 2 x 2 from pnm.fio' <<< "$output"
grep -q 'same pixels' <<< "$output"
cmp "$work/in.ppm" "$work/out.ppm"
