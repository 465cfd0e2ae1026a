# Shared by run.sh, test.sh and bench.sh: where things are built, the Wine
# prefix they run in, and a virtual display. Sourcing it sets the
# environment below (locale, Wine prefix and settings) in the calling shell;
# installing, building and starting a display wait for a function call.

KES_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
KES_BUILD=${KES_BUILD:-$KES_ROOT/build}

# The tool's texts are Shift_JIS: Wine takes its ANSI code page (932) from
# the locale. Wine's own chatter is silenced, and its prefix lives in the
# build folder so that runs stay apart from anything else on the machine.
export LC_ALL=ja_JP.UTF-8
export WINEDEBUG=${WINEDEBUG:--all}
export WINEPREFIX=$KES_BUILD/wineprefix
export WINEARCH=win32
# No Mono or Gecko download prompts: nothing here needs them.
export WINEDLLOVERRIDES="mscoree,mshtml="

# Installs what is missing, builds, and makes the Wine prefix: what every
# command of the project needs first.
kes_prepare() {
  "$KES_ROOT/scripts/install-deps.sh"
  kes_build
  kes_prefix
}

# zstd and libcrypto for MinGW are built once into the build folder
# (scripts/build-zstd.sh, scripts/build-openssl.sh) before the project is
# configured, since the journal links them.
kes_build() {
  "$KES_ROOT/scripts/build-zstd.sh" "$KES_BUILD"
  "$KES_ROOT/scripts/build-openssl.sh" "$KES_BUILD"
  cmake -S "$KES_ROOT" -B "$KES_BUILD" -DCMAKE_TOOLCHAIN_FILE="$KES_ROOT/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$KES_BUILD" -j"$(nproc)" "$@"
}

# Creates the prefix once (again when the settings below change). Windows
# open inside a Wine virtual desktop: they get their frames, and hiding a
# top-level window does not stall as it does on a bare X server with no
# window manager. The Japanese Gothic faces that the window asks for are
# served by the IPA fonts. Optional: the display scale in DPI (the prefix's
# LogPixels; 96 is 100 %, 144 is 150 %) and the size of the desktop, for a
# prefix of its own that shows the program as on a high-DPI display.
KES_PREFIX_VERSION=4
kes_prefix() {
  local dpi=${1:-96} desktop=${2:-1024x768}
  local ready="$KES_PREFIX_VERSION $dpi $desktop"
  mkdir -p "$KES_BUILD"
  if [ "$(cat "$WINEPREFIX/.kes-ready" 2>/dev/null)" != "$ready" ]; then
    rm -rf "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d "$desktop" /f >/dev/null 2>&1
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'ＭＳ Ｐゴシック' /d IPAPGothic /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'ＭＳ ゴシック' /d IPAGothic /f >/dev/null 2>&1
    # A crash prints its trace and ends, instead of waiting on a dialog.
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    wineserver -w
    echo "$ready" > "$WINEPREFIX/.kes-ready"
  fi
}

# Starts Xvfb on a free display unless one is given, with an optional
# screen size; sets DISPLAY and KES_XVFB_PID. The caller stops it with
# kes_stop. Xvfb picks the number itself and says which once it is ready,
# so that displays started at the same moment never share one.
kes_display() {
  KES_XVFB_PID=
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return; fi
  local said n
  said=$(mktemp)
  Xvfb -displayfd 3 -screen 0 "${1:-1024x768}x24" -nolisten tcp 3>"$said" >/dev/null 2>&1 &
  KES_XVFB_PID=$!
  for _ in $(seq 50); do
    n=$(cat "$said")
    if [ -n "$n" ]; then
      rm -f "$said"
      export DISPLAY=":$n"
      return
    fi
    sleep 0.1
  done
  rm -f "$said"
  echo "Xvfb did not start" >&2
  return 1
}

kes_stop() {
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "${KES_XVFB_PID:-}" ]; then kill "$KES_XVFB_PID" 2>/dev/null || true; fi
}
