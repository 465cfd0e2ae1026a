#!/usr/bin/env bash
# Runs a test program under Wine as on a high-DPI display: in a Wine prefix
# of its own whose display scale (LogPixels) is the given DPI, on a virtual
# display of its own. The scale holds for every program of a prefix, and the
# screen, its pixels and its mouse for every program on it; so the tests
# that run beside this one in the shared prefix see neither.
# Usage: at_scale.sh BUILD_DIR DPI PROGRAM [ARGUMENT...]
set -euo pipefail
KES_BUILD=$1
dpi=$2
shift 2
source "$(dirname "$0")/../../scripts/common.sh"
# Big enough for the window at 200 %.
desktop=1920x1200
export WINEPREFIX=$KES_BUILD/wineprefix-$dpi
# Nothing of it, not even the prefix being made, shows on the shared display.
unset DISPLAY
kes_prefix "$dpi" "$desktop"
trap kes_stop EXIT
kes_display "$desktop"
wine "$@"
