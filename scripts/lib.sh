# Shared by the scripts: the project root, the build folders and the Wine prefix.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD64="$ROOT/build/win64"
BUILD32="$ROOT/build/win32"
export WINEPREFIX="$ROOT/build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=C.UTF-8 LC_ALL=C.UTF-8
WINE=/usr/lib/wine/wine64
[ -x "$WINE" ] || WINE=wine
export BUILD64 WINE
# Parallel jobs for builds and test runs: the machine's processors (Q32_JOBS overrides).
JOBS=${Q32_JOBS:-$(nproc)}

# The Debian packages of each job. The build needs Wine too: CMake names it as the
# emulator of the test programs. Never wine32: it cannot run here, and the wine wrapper
# would pick it.
declare -gA Q32_PACKAGES=(
  [build]="cmake ninja-build mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
           googletest wine wine64"
  [run]="wine wine64 xvfb xauth imagemagick xdotool"
  [fuzz]="clang libclang-rt-14-dev ninja-build imagemagick"
)
# Installs the packages of the named jobs that are missing (apt-get, through sudo when
# not root).
need_packages() { # JOB...
  local job p missing=()
  for job in "$@"; do
    for p in ${Q32_PACKAGES[$job]}; do
      dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
        [[ " ${missing[*]} " == *" $p "* ]] || missing+=("$p")
    done
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  echo "== installing: ${missing[*]}"
  local sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
    "${missing[@]}"
}

# Runs a Windows program of the win64 build; the module's sibling DLLs are on the path.
wine_run() {
  WINEPATH="$BUILD64/bin" "$WINE" "$@"
}
# wine_run within LIMIT seconds: a program still running then is killed (status 124).
wine_limit() { # LIMIT PROGRAM ARGS...
  local limit=$1; shift
  WINEPATH="$BUILD64/bin" timeout -k 10 "$limit" "$WINE" "$@"
}
export -f wine_run wine_limit

# Wine's desktop process binds the display of the program that started it and lives as
# long as its wineserver. A server still running after a command without a display (the
# prefix set-up, the demo) serves a following X run with that desktop, and every window
# of the run fails (CreateWindow answers NULL, DialogBoxParam -1); a server of an ended X
# run would serve its dead display. So every run owns its server: it starts with none
# running for the prefix and ends its own before it returns.
end_wineserver() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
}
export -f end_wineserver

# Runs a command under its own X server (Xvfb) and its own persistent wineserver, ended
# afterwards, also when the command fails or is interrupted. Its status is the command's.
with_display() { # COMMAND ARGS...
  end_wineserver
  # xvfb-run is a sh script: the functions come through lib.sh, the prefix as it is set.
  xvfb-run -a -s '-screen 0 1024x768x24' bash -c '
    prefix=$WINEPREFIX; source "$0"; export WINEPREFIX=$prefix
    trap end_wineserver EXIT
    wineserver -p
    "$@"' "${BASH_SOURCE[0]}" "$@"
}

# Creates the Wine prefix once (about 12 s, then reused by every run). A prefix whose
# set-up did not finish is made again. Its set-up server has ended when this returns.
ensure_prefix() {
  [ -f "$WINEPREFIX/.q32-ready" ] && return 0
  echo "== creating the Wine prefix $WINEPREFIX"
  end_wineserver
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  timeout 300 wineboot -i >/dev/null 2>&1 || { echo "wineboot failed" >&2; return 1; }
  # No window manager here: without this every window close waits 2 s.
  wine_limit 120 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 ||
    { echo "the prefix set-up failed" >&2; return 1; }
  wineserver -w
  touch "$WINEPREFIX/.q32-ready"
}
