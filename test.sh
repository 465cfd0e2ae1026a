#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under Wine.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/common.sh
kes_prepare
trap kes_stop EXIT
kes_display
ctest --test-dir "$KES_BUILD" --output-on-failure "$@"
