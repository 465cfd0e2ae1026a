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

# zstd for MinGW is built once into the build folder (scripts/build-zstd.sh)
# before the project is configured, since the journal links it.
kes_build() {
  "$KES_ROOT/scripts/build-zstd.sh" "$KES_BUILD"
  cmake -S "$KES_ROOT" -B "$KES_BUILD" -DCMAKE_TOOLCHAIN_FILE="$KES_ROOT/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$KES_BUILD" -j"$(nproc)" "$@"
}

# Creates the prefix once (again when the settings below change). Windows
# open inside a Wine virtual desktop: they get their frames, and hiding a
# top-level window does not stall as it does on a bare X server with no
# window manager. The Japanese Gothic faces that the window asks for are
# served by the IPA fonts.
KES_PREFIX_VERSION=3
kes_prefix() {
  mkdir -p "$KES_BUILD"
  if [ "$(cat "$WINEPREFIX/.kes-ready" 2>/dev/null)" != "$KES_PREFIX_VERSION" ]; then
    rm -rf "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'ＭＳ Ｐゴシック' /d IPAPGothic /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'ＭＳ ゴシック' /d IPAGothic /f >/dev/null 2>&1
    # A crash prints its trace and ends, instead of waiting on a dialog.
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    wineserver -w
    echo "$KES_PREFIX_VERSION" > "$WINEPREFIX/.kes-ready"
  fi
}

# Starts Xvfb on a free display unless one is given; sets DISPLAY and
# KES_XVFB_PID. The caller stops it with kes_stop.
kes_display() {
  KES_XVFB_PID=
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return; fi
  local n=91
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  KES_XVFB_PID=$!
  export DISPLAY=":$n"
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && return; sleep 0.1; done
  echo "Xvfb did not start on $DISPLAY" >&2
  return 1
}

kes_stop() {
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "${KES_XVFB_PID:-}" ]; then kill "$KES_XVFB_PID" 2>/dev/null || true; fi
}
