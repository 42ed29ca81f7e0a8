# Shared by the scripts: the project root, the build folders and the Wine prefix.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD64="$ROOT/build/win64"
BUILD32="$ROOT/build/win32"
export WINEPREFIX="$ROOT/build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=C.UTF-8 LC_ALL=C.UTF-8

# Runs a Windows program of the win64 build; the module's sibling DLLs are on the path.
wine_run() {
  local wine=/usr/lib/wine/wine64
  [ -x "$wine" ] || wine=wine
  WINEPATH="$BUILD64/bin" "$wine" "$@"
}
export BUILD64
export -f wine_run

# Creates the Wine prefix once: about 12 s, then reused by every run.
ensure_prefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "== creating the Wine prefix"
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
    # No window manager here: without this every window close waits 2 s.
    wine_run reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
    wineserver -w
  fi
}
