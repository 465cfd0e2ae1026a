#!/usr/bin/env bash
# Installs what is missing, builds, and starts kes_bat.exe with the plug-ins
# that ship beside it. Without a display it starts a virtual one, takes a
# screenshot of the window, prints where it is, and ends the program.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/common.sh
kes_prepare
cd "$KES_BUILD/bin"

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  exec wine kes_bat.exe
fi

trap kes_stop EXIT
kes_display
# A Wine virtual desktop gives the window its frame and title bar.
wine explorer /desktop=Default,1024x768 kes_bat.exe &
shot="$KES_BUILD/kes_bat.png"
raw="$KES_BUILD/screen.png"
# The desktop is one flat colour until the window has been drawn; wait for
# the picture to settle, then cut the window out of the desktop.
last=""
for _ in $(seq 60); do
  sleep 1
  /usr/bin/import -window root "$raw" 2>/dev/null || continue
  colours=$(/usr/bin/convert "$raw" -format %k info:)
  if [ "$colours" -gt 8 ] && [ "$colours" = "$last" ]; then break; fi
  last=$colours
done
/usr/bin/convert "$raw" -trim +repage "$shot"
rm -f "$raw"
echo "screenshot: $shot"
