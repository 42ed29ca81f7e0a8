#!/usr/bin/env bash
# The kit as a third party gets it: installed into a fresh folder, its sample plug-in and
# the client built against the installed tree alone (a toolchain that finds packages only
# below its root, so q32File_DIR names the package), the plug-in put into FIO\ and the
# client run there: a read, a write and a read back.
# installed.sh EMULATOR BUILD_FOLDER CLIENT_SOURCE PROJECT_SOURCE
set -euo pipefail
emulator=$1 build=$2 client=$3 project=$4
work=$(mktemp -d /tmp/q32sdk.XXXXXX)
trap 'rm -rf "$work"' EXIT
kit=$work/q32file
cmake --install "$build" --prefix "$kit" >/dev/null
for document in plugins.md api.md; do
  [ -s "$kit/share/q32File/doc/$document" ] || { echo "no $document in the kit"; exit 1; }
done
rm "$kit/bin/FIO/pnm.fio"          # the one built below takes its place
cp -r "$kit/share/q32File/sample" "$work/sample"
cp -r "$client" "$work/client"
cat > "$work/mingw64.cmake" <<'TOOLCHAIN'
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
TOOLCHAIN
for part in sample client; do
  cmake -S "$work/$part" -B "$work/build-$part" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$work/mingw64.cmake" -Dq32File_DIR="$kit/lib/cmake/q32File" >/dev/null
  cmake --build "$work/build-$part" >/dev/null
done
# Nothing built names the project's source or build tree.
if grep -rlF -e "$project" -e "$build" "$work/build-sample" "$work/build-client" \
     --include='*.ninja' --include='*.cmake' --include='*.txt'; then
  echo "a path into the project's trees"; exit 1
fi
cp "$work/build-sample/pnm.fio" "$kit/bin/FIO/"
win() { echo "Z:${1//\//\\}"; }
printf 'P6\n2 2\n255\n\1\2\3\4\5\6\7\10\11\12\13\14' > "$work/in.ppm"
export WINEPATH="$(win "$kit/bin")"
export Q32_INI="$(win "$work")\\quill32.ini" Q32_APPDATA="$(win "$work")\\"
# Through a file: services that Wine starts would hold a pipe open.
"$emulator" "$work/build-client/client.exe" "$(win "$work/in.ppm")" "$(win "$work/out.ppm")" \
  >"$work/client.log" 2>&1 </dev/null || { cat "$work/client.log"; exit 1; }
output=$(cat "$work/client.log")
echo "$output"
grep -q 'PNM 2 x 2 from pnm.fio' <<< "$output"
grep -q 'same pixels' <<< "$output"
cmp "$work/in.ppm" "$work/out.ppm"
