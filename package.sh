#!/usr/bin/env bash
# Installs what is missing, builds, and makes the release package
# build/kes_bat-<version>.zip: kes_bat.exe, the bundled plug-ins, readme.txt
# and the sdk folder for plug-in authors.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/common.sh
"$KES_ROOT/scripts/install-deps.sh"
kes_build
cpack --config "$KES_BUILD/CPackConfig.cmake" -B "$KES_BUILD"
