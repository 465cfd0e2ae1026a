#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under Wine.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/common.sh
kes_prepare
trap kes_stop EXIT
kes_display
# Two jobs: the machines have two cores, and most test programs spend their
# time waiting on Wine.
ctest --test-dir "$KES_BUILD" --output-on-failure --parallel 2 "$@"
