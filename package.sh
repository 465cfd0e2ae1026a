#!/usr/bin/env bash
# Installs what is missing, builds, and makes the release package
# build/kes_bat-<version>.zip: kes_bat.exe, the bundled plug-ins, readme.txt,
# SHA256SUMS.txt and the sdk folder for plug-in authors; and beside it
# build/kes_bat-<version>.zip.sha256, to be published with it.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/common.sh
"$KES_ROOT/scripts/install-deps.sh"
kes_build
cpack --config "$KES_BUILD/CPackConfig.cmake" -B "$KES_BUILD"
